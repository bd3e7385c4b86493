// The profile-checked verification of a login response: one libxml2
// parse, the screening of the hardened verification, the signatures that
// cover the assertion, then the profile's rules.
#include <ctime>

#include "corvane/status.h"

#include "Corvane.h"
#include "frame/assertions.h"
#include "frame/messages.h"
#include "frame/handles.h"
#include "frame/call_scope.h"
#include "xml/parse.h"
#include "login/login_internal.h"
#include "xml/limits.h"
#include "xml/screening.h"
#include "xml/time.h"
#include "xml/tree.h"

namespace corvane {

namespace {

const char kIncomplete[] = "Login expectations are incomplete: %s is missing";
const char kNoRequestRule[] =
    "Login expectations are incomplete: set the request ID the response answers, "
    "or allow unsolicited responses";
const char kBadSkew[] =
    "Login expectations are not usable: the clock skew must be 0 to %ld seconds";
const long kMaxClockSkewSeconds = 86400;
const char kNotResponse[] = "SAML token is not a SAML 2.0 protocol Response";
const char kUnusableDecryptionKey[] =
    "Login expectations are not usable: an SP decryption key is null or holds no private key";

int checkExpectations(const LoginExpectations& expected) {
    const char* missing = nullptr;
    if (expected.idpEntityId.empty())
        missing = "the IdP entity ID";
    else if (expected.idpCertificates.empty())
        missing = "an IdP certificate";
    else if (expected.spEntityId.empty())
        missing = "the SP entity ID";
    else if (expected.acsUrl.empty())
        missing = "the ACS URL";
    for (const KeyPtr& key : expected.idpCertificates) {
        if (!missing && !key) missing = "an IdP certificate (null key)";
    }
    if (missing != nullptr) {
        CorvaneBase::setErrorMessage(kIncomplete, missing);
        return -9;
    }
    for (const KeyPtr& key : expected.spDecryptionKeys) {
        if (!key || !key->hasPrivateKey()) {
            CorvaneBase::setErrorMessage(kUnusableDecryptionKey);
            return -9;
        }
    }
    if (expected.requestId.empty() && !expected.allowUnsolicited) {
        CorvaneBase::setErrorMessage(kNoRequestRule);
        return -9;
    }
    if (expected.clockSkewSeconds < 0 || expected.clockSkewSeconds > kMaxClockSkewSeconds) {
        CorvaneBase::setErrorMessage(kBadSkew, kMaxClockSkewSeconds);
        return -9;
    }
    return 0;
}

// The whole verification, with a status; *login written only on success.
int verifyLogin(VerifiedLogin* login, const std::string& responseXml,
                const LoginExpectations& expected) {
    CORVANE_ASSERT(login);
    int status = checkExpectations(expected);
    if (status != 0) return status;
    if (!internal::messageWithinSizeLimit(responseXml, expected.maxMessageBytes)) {
        return toInt(Status::TooLarge);
    }
    internal::ScreenedText screened;
    if (!internal::screenResponseText(responseXml, &screened)) return -8;
    internal::XmlDocPtr doc(internal::parseScreenedXml(screened));
    xmlNode* response = doc ? xmlDocGetRootElement(doc.get()) : nullptr;
    if (response == nullptr) {
        CorvaneBase::setErrorMessage(internal::kMessageNotWellFormed);
        return -8;
    }
    if (!internal::isElement(response, internal::kSamlProtocolNs, "Response")) {
        CorvaneBase::setErrorMessage(kNotResponse);
        return -10;
    }
    // An IdP's error response is often unsigned: its status is reported as
    // it stands. Everything else is read only once the signatures hold.
    status = internal::checkResponseStatus(response);
    if (status != 0) return status;
    internal::AuthenticAssertion authentic;
    status = internal::authenticAssertion(doc.get(), expected, &authentic);
    if (status == 0) status = internal::checkResponseAddressing(response, expected);
    if (status == 0) status = internal::decryptIdentifiersInPlace(authentic.assertion, expected);
    if (status != 0) return status;
    const long long now = internal::clampToReadableInstants(
        expected.now >= 0 ? expected.now : static_cast<long long>(std::time(nullptr)));
    VerifiedLogin verified;
    status = internal::readCheckedAssertion(authentic.assertion, expected, now, &verified);
    if (status != 0) return status;
    verified.inResponseTo = internal::answeredRequest(response, authentic.assertion, expected);
    verified.assertionEncrypted = authentic.encrypted;
    status = internal::recordFirstUse(verified, expected, now);
    if (status != 0) return status;
    *login = std::move(verified);
    return 0;
}

}  // namespace

Result<VerifiedLogin> verifyLoginResponse(const std::string& responseXml,
                                          const LoginExpectations& expectations) {
    return internal::runCall<VerifiedLogin>(
        [&](VerifiedLogin* login) { return verifyLogin(login, responseXml, expectations); });
}

}  // namespace corvane
