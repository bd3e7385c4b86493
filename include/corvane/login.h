// corvane: one call that turns an IdP's SAML Response into a verified
// login, checked against the Web Browser SSO profile.
//
// Statuses of verifyLoginResponse and verifyPostedLoginResponse:
//   Ok             success: the value is the verified login
//   StartupFailed  no Library (or initHelper) holds the libraries started
//   NotAuthentic   no signature, a signature that does not verify with any
//                  of the IdP certificates, a signature that does not cover
//                  the assertion, or IDs that are not unique; encrypted
//                  content that is refused (an algorithm not allowed, a
//                  CipherReference, a key not found) or does not decrypt
//                  ("SAML EncryptedAssertion could not be decrypted with
//                  the SP decryption keys", whatever the reason), or
//                  AES-CBC without a Response signature
//   Unusable       not a usable document: not well-formed, not one plain
//                  UTF-8 document (DTD, processing instructions, trailing
//                  content, NUL, other encodings), nested too deeply; for
//                  the posted form, a value that is not strict base64 or
//                  holds a bad percent-escape
//   BadOptions     the expectations are incomplete: no IdP entity ID,
//                  certificate, SP entity ID or ACS URL, neither a request
//                  ID nor allowUnsolicited, or a clock skew outside 0 to
//                  86400 seconds, an SP decryption key that is null or
//                  not private; also a response with encrypted content
//                  when no SP decryption key is given
//   ProfileRefused authentic, but the profile refuses it: version, status,
//                  issuer, destination, InResponseTo, number of assertions,
//                  subject confirmation, conditions, audience,
//                  authentication statement; the message names the rule
//                  and the values
//   TooLarge       the message is larger than maxMessageBytes; nothing was
//                  parsed
//   ProfileRefused also for a replay: an assertion, or an answer to a
//                  request, that the replay cache recorded before
//   ReplayCacheFailed the replay cache could not record the login
//                  (unavailable, or full of live entries)
//
// Threads: expectations and their Keys are read only; any number of
// verifications may run at once. Includes only the standard library.
#ifndef CORVANE_LOGIN_H
#define CORVANE_LOGIN_H

#include <cstddef>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "corvane/key.h"
#include "corvane/replay.h"
#include "corvane/status.h"

namespace corvane {

// What the host expects of the response. Strict by default; every
// relaxation is a named field, off by default.
struct LoginExpectations {
    // The IdP's entity ID: the Issuer of the assertion (and of the
    // response, when it names one).
    std::string idpEntityId;
    // The IdP's certificates, loaded once with Key::loadCertificate. A
    // signature made with any one of them is accepted (key rollover).
    std::vector<KeyPtr> idpCertificates;
    // The SP's entity ID, which every AudienceRestriction must name.
    std::string spEntityId;
    // The assertion consumer service URL: the bearer confirmation's
    // Recipient and, when present, the response's Destination.
    std::string acsUrl;
    // The ID of the AuthnRequest this response answers (AuthnRequest::id).
    // When set, the response (if it names a request) and its bearer
    // confirmation must name exactly it in InResponseTo, and a response
    // naming no request is refused.
    std::string requestId;
    // Relaxation: accept an IdP-initiated (unsolicited) login, one whose
    // response and bearer confirmation name no request. With requestId set
    // as well, both kinds are accepted: an answer must then name requestId.
    // Without requestId, a response that answers some request is refused
    // (it answers a request this call cannot check).
    // WARNING: unsolicited logins cannot be tied to the browser that
    // started them (login CSRF); allow them only when the IdP requires it.
    // Expectations with neither requestId nor allowUnsolicited are
    // incomplete (BadOptions).
    bool allowUnsolicited = false;
    // Relaxation: accept signatures made with SHA-1 (RSA-SHA1, ECDSA-SHA1,
    // or a SHA-1 digest), for IdPs that sign with nothing newer.
    // WARNING: SHA-1 is broken for collisions; refused by default
    // (NotAuthentic).
    bool allowSha1 = false;
    // The SP's private keys (Key::loadPrivateKey) for encrypted content:
    // an EncryptedAssertion, and EncryptedID and EncryptedAttribute inside
    // the assertion. Several keys serve a rollover: the key whose
    // certificate the EncryptedKey names is used, else each in turn. With
    // none, a response with encrypted content is refused (BadOptions).
    // Accepted: AES-GCM always; AES-CBC under a signed Response (or see
    // below); the key transported by RSA-OAEP (rsa-oaep-mgf1p or XML
    // Encryption 1.1 rsa-oaep). RSA-1.5, 3DES and every other algorithm
    // are refused. Every decryption failure (wrong key, padding, GCM tag,
    // a plaintext that is not one saml:Assertion) gives one status and one
    // message, so no answer tells an attacker which it was.
    std::vector<KeyPtr> spDecryptionKeys;
    // Relaxation: accept an assertion encrypted with AES-CBC in a response
    // that carries no Response signature (its own assertion signature is
    // still required), for IdPs that sign only the assertion.
    // WARNING: without a signature over the cipher text, an attacker can
    // change it at will and learn the plaintext from the answers (the 2011
    // attack on XML Encryption with CBC). Prefer asking the IdP to sign the
    // Response or to use AES-GCM.
    bool allowCbcWithoutResponseSignature = false;
    // Tolerated clock difference, in seconds (0 to 86400), on every time
    // check.
    long clockSkewSeconds = 180;
    // The current time in seconds since the epoch; negative: the clock.
    long long now = -1;
    // The largest response accepted, in bytes of XML (TooLarge beyond);
    // for the posted form, its base64 text may be up to 4/3 of this plus
    // line breaks.
    std::size_t maxMessageBytes = 2u << 20;
    // Where accepted logins are recorded for one-time use (replay.h): the
    // assertion's ID, and the request ID it answers, each until the
    // assertion expires (plus the clock skew, at most a day from now). Null: one cache in this
    // process, shared by every verification that names none; SPs on
    // several nodes share a Redis cache instead.
    std::shared_ptr<ReplayCache> replayCache;
    // Relaxation: accept the login, after a level-1 log line, when the
    // replay cache is unavailable (it stays refused when the cache is full).
    // WARNING: a replayed assertion is then accepted while the cache is
    // down.
    bool allowLoginWhileReplayCacheUnavailable = false;
    // Relaxation: no replay check at all, for hosts that keep assertionId
    // themselves until assertionExpiry.
    // WARNING: without a check, a captured response logs in again.
    bool skipReplayCheck = false;
};

// One SAML attribute: every AttributeValue's text, in document order.
struct LoginAttribute {
    std::string friendlyName;
    std::string nameFormat;
    std::vector<std::string> values;
};

// A verified login. Empty strings stand for what the response does not
// say. Every text is exactly as signed: it may hold any character XML can
// carry (line breaks, control characters of XML 1.0's range, markup
// characters).
// WARNING: escape these values for wherever they are shown or logged.
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
    // The request this login answers (LoginExpectations::requestId); empty
    // for an unsolicited login.
    std::string inResponseTo;
    // True when the assertion came as an EncryptedAssertion.
    bool assertionEncrypted = false;
};

// Verifies a SAML 2.0 Response (the XML text) against the expectations:
// the response is Version 2.0 with a Success status; it holds exactly one
// saml:Assertion or saml:EncryptedAssertion (decrypted with
// spDecryptionKeys into a document of its own, only after the Response
// signature, when present, verified) of Version 2.0; the
// Response signed over its root, or the Assertion signed over its own ID,
// or both, verify with one of the certificates (every signature present
// must verify); each signature carries one same-document Reference and
// only allowed algorithms; IDs are unique; issuers, destination,
// recipient, InResponseTo (see LoginExpectations::requestId), time windows
// (with skew) and audience match; an AuthnStatement is present. Elements
// are matched by namespace, whatever their prefixes. Last, the login is
// recorded in the replay cache: an assertion, or an answer to a request,
// is accepted once while it is valid (plus the clock skew).
// WARNING: entries are kept for at most one day from the login, which
// bounds what a login costs the cache; an assertion that the IdP made
// valid for longer could be accepted again after that day. Real IdPs give
// bearer confirmations minutes.
Result<VerifiedLogin> verifyLoginResponse(const std::string& responseXml,
                                          const LoginExpectations& expectations);

// The XML in the SAMLResponse value of an HTTP-POST form: strict base64
// (see base64Decode). With formEncoded, the value is still as the
// application/x-www-form-urlencoded body carries it: '+' stands for a
// space (skipped like other white space) and %XX escapes are undone
// first; a '%' not followed by two hex digits is refused. Unusable for
// bad encoding, TooLarge above maxBytes of decoded XML.
Result<std::string> decodePostedResponse(const std::string& formValue, bool formEncoded,
                                         std::size_t maxBytes = 2u << 20);

// decodePostedResponse (with expectations.maxMessageBytes) followed by
// verifyLoginResponse: the call for the ACS endpoint's form value.
Result<VerifiedLogin> verifyPostedLoginResponse(const std::string& formValue,
                                                const LoginExpectations& expectations,
                                                bool formEncoded = false);

}  // namespace corvane

#endif
