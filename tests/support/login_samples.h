// The login fixture (tests/fixtures/login-response-template.xml) signed over
// the Response's ID with the test IdP key, and the expectations it meets, for
// the binaries that verify logins without the xmlsec1 tool. Signing uses
// corvane_samples::signWithRootIdReference, so the libraries must be started
// (by a Library or initHelper) while a response is signed.
#ifndef CORVANE_TEST_LOGIN_SAMPLES_H
#define CORVANE_TEST_LOGIN_SAMPLES_H

#include <string>

#include <corvane/corvane.h>

namespace corvane_test {

extern const char kLoginIdp[];
extern const char kLoginSp[];
extern const char kLoginAcs[];
extern const char kLoginRequestId[];
extern const char kLoginNameId[];
// The fixture's IssueInstant, 2024-03-01T12:00:00Z, in seconds since the epoch.
extern const long long kLoginNow;

// The fixture signed over its root (RSA-SHA256, exclusive c14n); the test
// fails and the text is empty when signing failed.
std::string signedLoginResponse();

// What the signed fixture meets: its IdP, SP, ACS URL and request, checked
// at its IssueInstant with idpCertificate.
corvane::LoginExpectations loginExpectations(const corvane::KeyPtr& idpCertificate);

}  // namespace corvane_test

#endif
