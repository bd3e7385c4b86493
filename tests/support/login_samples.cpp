#include "login_samples.h"

#include <gtest/gtest.h>

#include "corvane_test_support.h"
#include "idp_samples.h"

namespace corvane_test {

const char kLoginIdp[] = "https://idp.example.test/login-test-only";
const char kLoginSp[] = "https://sp.example.test/metadata";
const char kLoginAcs[] = "https://sp.example.test/acs";
const char kLoginRequestId[] = "_login-request-1";
const char kLoginNameId[] = "alice-7f3a@example.test";
const long long kLoginNow = 1709294400;

std::string signedLoginResponse() {
    std::string text = readFixture("login-response-template.xml");
    text = replaceAll(text, "{{ASSERTION_SIGNATURE}}", "");
    text = replaceAll(text, "{{RESPONSE_SIGNATURE}}",
                      signatureTemplate("#_login-response-1", SigAlg::RsaSha256));
    std::string signedText;
    EXPECT_TRUE(corvane_samples::signWithRootIdReference(text, idpKey(), &signedText))
        << "the login fixture could not be signed";
    return signedText;
}

corvane::LoginExpectations loginExpectations(const corvane::KeyPtr& idpCertificate) {
    corvane::LoginExpectations e;
    e.idpEntityId = kLoginIdp;
    e.idpCertificates = {idpCertificate};
    e.spEntityId = kLoginSp;
    e.acsUrl = kLoginAcs;
    e.requestId = kLoginRequestId;
    e.now = kLoginNow;
    // These tests verify one signed response over and over for what each
    // call reports; one-time use has its own tests (test_login_replay).
    e.skipReplayCheck = true;
    return e;
}

}  // namespace corvane_test
