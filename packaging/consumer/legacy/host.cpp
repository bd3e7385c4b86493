// A host of the documented interface (Corvane.h) built against the
// installed corvane packages only (scripts/consumer-test), once with
// pkg-config corvane-legacy and once with the CMake package's
// corvane::legacy: it signs an AuthnRequest with the SP key, checks that
// signature with the SP certificate, signs a response with the IdP key and
// has it verified with the IdP certificate, and prints the NameID.
//
//   host SP-KEY-AND-CERT.pem SP-CERT.pem IDP-KEY.pem IDP-CERT.pem RESPONSE-TEMPLATE.xml
//
// The response template holds "{{NAMEID}}" where the user's name goes.
// Exits 0 when every step gave the expected result.
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "Corvane.h"

namespace {

// Errors and warnings only: level 3 repeats the key text.
void onLog(int level, const std::string& message) {
    if (level <= 2) std::cerr << "log " << level << ": " << message << '\n';
}
void onError(const std::string& message) { std::cerr << "error: " << message << '\n'; }
void onId(std::string& id) { id = "_0123456789abcdef0123456789abcdef"; }

std::string readFile(const char* path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    if (!file) std::cerr << "cannot read " << path << '\n';
    return text.str();
}

bool check(bool ok, const char* step) {
    std::cout << (ok ? "ok:     " : "FAILED: ") << step << '\n';
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 6) {
        std::cerr << "usage: host SP-KEY-AND-CERT SP-CERT IDP-KEY IDP-CERT RESPONSE-TEMPLATE\n";
        return 2;
    }
    const std::string spKey = readFile(argv[1]), spCert = readFile(argv[2]);
    const std::string idpKey = readFile(argv[3]), idpCert = readFile(argv[4]);
    std::string response = readFile(argv[5]);
    const std::string user = "consumer.user@example.test";
    response.replace(response.find("{{NAMEID}}"), 10, user);

    auto saml = corvane::CorvaneBase::getHelper(onLog, onError, onId);
    bool ok = check(saml->initHelper() == 0, "initHelper");

    std::string request;
    ok &= check(saml->createAuthnRequest(&request, "https://idp.example.test/sso",
                                         "https://sp.example.test/metadata", spKey) == 0,
                "createAuthnRequest");
    ok &= check(corvane::verifySignature(request, spCert) == 0, "request signature verifies");

    ok &= check(corvane::signDocument(&response, idpKey) == 0, "response signed");
    std::string nameId;
    ok &= check(saml->verifySamlResponse(nameId, response, idpCert) == 0 && nameId == user,
                "verifySamlResponse gives the NameID");
    std::cout << "NameID: " << nameId << '\n';

    saml->finiHelper();
    return ok ? 0 : 1;
}
