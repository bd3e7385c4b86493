// A host of the extended interface built against the installed corvane
// packages only (scripts/consumer-test), with exactly
//
//   g++ -std=c++17 host.cpp -lcorvane -o host
//
// and again with the CMake package's corvane::corvane. It starts the
// library, loads the SP key and the IdP certificate, creates a signed
// AuthnRequest and keeps its ID as a session would, prints that ID as the
// line "request ID: <ID>", and then reads one line from standard input: the
// path of the IdP's response to that request (the test signs it
// meanwhile). It verifies the login against the profile and prints the
// NameID; the same response must be refused, as authentic but not for this
// login, for another audience and for another request ID.
//
//   host SP-KEY-AND-CERT.pem IDP-CERT.pem
//
// Exits 0 only when every step gave the expected status.
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include <corvane/corvane.h>

namespace {

using corvane::Status;

const char kIdpEntityId[] = "https://idp.example.test/login-test-only";
const char kIdpSsoUrl[] = "https://idp.example.test/sso";
const char kSpEntityId[] = "https://sp.example.test/metadata";
const char kAcsUrl[] = "https://sp.example.test/acs";
const char kExpectedNameId[] = "alice-7f3a@example.test";
// The test response's IssueInstant, 2024-03-01T12:00:00Z: the verification's
// fixed "now", so the committed response times stay valid.
const long long kResponseIssueInstant = 1709294400;

// Errors and warnings of the library's calls.
void onLog(int level, const std::string& message) {
    if (level <= 2) std::cerr << "log " << level << ": " << message << '\n';
}

std::string readFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    if (!file) std::cerr << "cannot read " << path << '\n';
    return text.str();
}

// One line per step: its status in words, and the library's message.
template <typename T>
bool expect(const char* step, const corvane::Result<T>& result, Status expected) {
    const bool ok = result.status() == expected;
    std::cout << (ok ? "ok:     " : "FAILED: ") << step << ": "
              << corvane::describeStatus(result.status()) << " ("
              << corvane::toInt(result.status()) << ")";
    if (!result.message().empty()) std::cout << ": " << result.message();
    std::cout << '\n';
    return ok;
}

// What the host keeps for one browser between sending the request and
// receiving the response.
struct LoginSession {
    std::string requestId;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: host SP-KEY-AND-CERT IDP-CERT  (response path on standard input)\n";
        return 2;
    }
    // Declared first, so it outlives every key below.
    const auto library = corvane::Library::start(onLog);
    if (!expect("Library::start", library, Status::Ok)) return 1;

    const auto spKey = corvane::Key::loadPrivateKey(readFile(argv[1]));
    const auto idpCertificate = corvane::Key::loadCertificate(readFile(argv[2]));
    if (!expect("Key::loadPrivateKey (SP)", spKey, Status::Ok) ||
        !expect("Key::loadCertificate (IdP)", idpCertificate, Status::Ok))
        return 1;

    corvane::StandardRequestOptions options;
    options.destination = kIdpSsoUrl;
    options.issuer = kSpEntityId;
    options.acsUrl = kAcsUrl;
    const auto request = corvane::createSignedAuthnRequest(options, *spKey.value());
    if (!expect("createSignedAuthnRequest", request, Status::Ok)) return 1;
    LoginSession session{request.value().id};
    std::cout << "request ID: " << session.requestId << std::endl;

    std::string responsePath;
    if (!std::getline(std::cin, responsePath)) {
        std::cerr << "no response path on standard input\n";
        return 1;
    }
    const std::string response = readFile(responsePath);

    corvane::LoginExpectations expected;
    expected.idpEntityId = kIdpEntityId;
    expected.idpCertificates = {idpCertificate.value()};
    expected.spEntityId = kSpEntityId;
    expected.acsUrl = kAcsUrl;
    expected.requestId = session.requestId;
    expected.now = kResponseIssueInstant;
    const auto login = corvane::verifyLoginResponse(response, expected);
    bool ok = expect("verifyLoginResponse (this request)", login, Status::Ok);
    if (login.ok()) {
        std::cout << "NameID: " << login.value().nameId << '\n';
        ok = ok && login.value().nameId == kExpectedNameId;
    }

    corvane::LoginExpectations otherAudience = expected;
    otherAudience.spEntityId = "https://other-sp.example.test/metadata";
    ok &= expect("verifyLoginResponse (another SP)",
                 corvane::verifyLoginResponse(response, otherAudience), Status::ProfileRefused);

    corvane::LoginExpectations otherRequest = expected;
    otherRequest.requestId = "_another-request-of-this-sp";
    ok &= expect("verifyLoginResponse (another request)",
                 corvane::verifyLoginResponse(response, otherRequest), Status::ProfileRefused);
    return ok ? 0 : 1;
}
