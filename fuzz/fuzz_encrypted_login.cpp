// verifyLoginResponse on encrypted logins, with the SP's decryption key of
// the test data (data/idp-encrypted) and CBC allowed without a Response
// signature, so that unsigned inputs reach decryption. An input starting
// with '<' is a whole response (the real IdP responses seed it); any other
// input is, after its first byte, the plaintext of an EncryptedAssertion:
// it is encrypted here under AES-128-GCM with a fresh data key wrapped for
// the SP's key, which takes the input through key transport, decryption
// and the hardened parse of the plaintext. Whatever the input:
// - the call ends with one of the login's statuses, and a message exactly
//   when it failed;
// - a plaintext input never logs in: nothing signed it.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include <corvane/corvane.h>

#include "encryption.h"

namespace {

using corvane::Status;

void require(bool condition, const char* what, const std::string& message = std::string()) {
    if (condition) return;
    std::fprintf(stderr, "corvane fuzz check failed: %s (message: %s)\n", what, message.c_str());
    std::abort();
}

std::string dataFile(const char* name) {
    std::ifstream in(std::string(CORVANE_IDP_ENCRYPTED_DIR) + "/" + name, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    require(!text.str().empty(), "test data missing", name);
    return text.str();
}

// The plaintext encrypted for the SP's key in an otherwise fixed, unsigned
// response that meets the expectations below.
std::string responseAround(const std::string& spCertificate, const std::string& plaintext) {
    corvane_test::Encryption how;
    how.dataAlgorithm = corvane_test::kAes128Gcm;
    return "<samlp:Response xmlns:samlp=\"urn:oasis:names:tc:SAML:2.0:protocol\" "
           "xmlns:saml=\"urn:oasis:names:tc:SAML:2.0:assertion\" ID=\"_fuzz-response\" "
           "Version=\"2.0\" IssueInstant=\"2026-12-09T12:00:00Z\" "
           "Destination=\"https://sp.example.test/acs\" "
           "InResponseTo=\"_request-0123456789abcdef\"><saml:Issuer>"
           "https://idp.example.test/metadata</saml:Issuer><samlp:Status><samlp:StatusCode "
           "Value=\"urn:oasis:names:tc:SAML:2.0:status:Success\"/></samlp:Status>" +
           corvane_test::encryptedElement(plaintext, spCertificate, how) + "</samlp:Response>";
}

struct Setup {
    corvane::Library library;
    std::string spCertificate = dataFile("test-only-sp-encryption.crt.pem");
    corvane::LoginExpectations expectations;
    Setup() : library(corvane::Library::start().value()) {
        expectations.idpEntityId = "https://idp.example.test/metadata";
        expectations.idpCertificates = {
            corvane::Key::loadCertificate(dataFile("test-only-idp-signing.crt.pem")).value()};
        expectations.spEntityId = "https://sp.example.test/metadata";
        expectations.acsUrl = "https://sp.example.test/acs";
        expectations.requestId = "_request-0123456789abcdef";
        expectations.now = 1796817600;  // 2026-12-09T12:00:00Z
        expectations.skipReplayCheck = true;
        expectations.allowCbcWithoutResponseSignature = true;
        expectations.spDecryptionKeys = {
            corvane::Key::loadPrivateKey(dataFile("test-only-sp-encryption.key.pem")).value()};
    }
};

Setup& setup() {
    static Setup* made = new Setup();  // kept until exit, after the last input
    return *made;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Setup& s = setup();
    const std::string input(reinterpret_cast<const char*>(data), size);
    const bool wholeResponse = !input.empty() && input[0] == '<';
    const std::string response =
        wholeResponse ? input
                      : responseAround(s.spCertificate, input.empty() ? input : input.substr(1));
    const corvane::Result<corvane::VerifiedLogin> login =
        corvane::verifyLoginResponse(response, s.expectations);
    const Status status = login.status();
    require(status == Status::Ok || status == Status::NotAuthentic || status == Status::Unusable ||
                status == Status::ProfileRefused || status == Status::TooLarge ||
                status == Status::BadOptions,
            "a login status", login.message());
    require(login.ok() == login.message().empty(), "a message exactly when it failed",
            login.message());
    require(wholeResponse || !login.ok(), "an unsigned plaintext logged in", login.message());
    return 0;
}
