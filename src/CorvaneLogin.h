// corvane: one call that turns an IdP's SAML Response into a verified
// login, checked against the Web Browser SSO profile.
//
// verifyLoginResponse sits beside CorvaneBase::verifySamlResponse, which
// keeps its own narrow behaviour. It needs what every library call needs:
// the helper from CorvaneBase::getHelper (its callbacks) and initHelper
// run once before. Every failure is described once through the error
// callback; *login is written only on success.
//
// Status codes:
//    0  success: *login holds the verified login
//   -7  not authentic: no signature, a signature that does not verify
//       with any of the IdP certificates, a signature that does not cover
//       the assertion, or IDs that are not unique
//   -8  not a usable document: not well-formed, not one plain UTF-8
//       document (DTD, processing instructions, trailing content, NUL,
//       other encodings), nested too deeply
//   -9  the expectations are incomplete (no IdP entity ID, certificate,
//       SP entity ID or assertion consumer service URL) or the clock skew
//       is outside 0 to 86400 seconds
//   -10 authentic, but the profile refuses it: version, status, issuer,
//       destination, number of assertions, subject confirmation,
//       conditions, audience, authentication statement; the message names
//       the rule and the values
//
// Threads: the expectations and their Keys are read only; any number of
// verifications may run at once.
#ifndef CORVANE_CORVANE_LOGIN_H
#define CORVANE_CORVANE_LOGIN_H

#include <map>
#include <string>
#include <vector>

#include <boost/shared_ptr.hpp>

#include "CorvaneStandard.h"

namespace corvane {

// What the host expects of the response. Strict by default.
struct LoginExpectations {
    // The IdP's entity ID: the Issuer of the assertion (and of the
    // response, when it names one).
    std::string idpEntityId;
    // The IdP's certificates, loaded once with Key::loadCertificate. A
    // signature made with any one of them is accepted (key rollover).
    std::vector<boost::shared_ptr<const Key>> idpCertificates;
    // The SP's entity ID, which every AudienceRestriction must name.
    std::string spEntityId;
    // The assertion consumer service URL: the bearer confirmation's
    // Recipient and, when present, the response's Destination.
    std::string acsUrl;
    // The ID of the AuthnRequest this response answers. When set, the
    // response and its bearer confirmation must name it in InResponseTo.
    // When empty, a response naming a request is refused unless
    // allowUnsolicited is set.
    std::string requestId;
    bool allowUnsolicited = false;
    // Tolerated clock difference, in seconds (0 to 86400), on every time
    // check.
    long clockSkewSeconds = 180;
    // The current time in seconds since the epoch; negative: the clock.
    long long now = -1;
    // The largest response accepted, in bytes (default 2 MB, the limit of
    // verifySamlResponse); a larger one is refused with -11
    // (Status::TooLarge) before anything reads it.
    std::size_t maxMessageBytes = 2 * 1024 * 1024;
};

// One SAML attribute: every AttributeValue's text, in document order.
struct LoginAttribute {
    std::string friendlyName;
    std::string nameFormat;
    std::vector<std::string> values;
};

// A login verified by verifyLoginResponse. Empty strings stand for what
// the response does not say.
struct VerifiedLogin {
    std::string idpEntityId;
    std::string nameId;  // exactly the signed text
    std::string nameIdFormat;
    std::string nameQualifier;
    std::string spNameQualifier;
    std::string sessionIndex;
    std::string authnInstant;
    std::string sessionNotOnOrAfter;
    std::string authnContextClassRef;
    // By attribute Name; several Attribute elements of one Name merge.
    std::map<std::string, LoginAttribute> attributes;
    // For a one-time-use cache: the assertion's ID and the instant (seconds
    // since the epoch) after which the assertion is refused anyway, the
    // earlier of the Conditions' and the bearer confirmation's NotOnOrAfter.
    std::string assertionId;
    long long assertionExpiry = 0;
};

// Verifies a SAML 2.0 Response (the XML text, as decoded from the
// SAMLResponse form value) against the expectations: the response is
// Version 2.0 with a Success status; it holds exactly one saml:Assertion
// (an EncryptedAssertion is refused) of Version 2.0; the Response signed over its root,
// or the Assertion signed over its own ID, or both, verify with one of the
// certificates (every signature present must verify); each signature
// carries one same-document Reference and only allowed algorithms; IDs are
// unique; issuers, destination, recipient, InResponseTo, time windows
// (with skew) and audience match; an AuthnStatement is present. Elements
// are matched by namespace, whatever their prefixes. login must not be
// null. Returns a status above.
int verifyLoginResponse(VerifiedLogin* login, const std::string& responseXml,
                        const LoginExpectations& expectations);

}  // namespace corvane

#endif
