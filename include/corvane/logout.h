// corvane: single logout, started by the SP or by the IdP, over the
// HTTP-Redirect and HTTP-POST bindings.
//
// SP-initiated: createLogoutRequest for a verified login, then the IdP's
// answer checked with verifyLogoutResponseQuery (Redirect) or
// verifyPostedLogoutResponse (POST). IdP-initiated: the IdP's request
// checked with verifyLogoutRequestQuery or verifyPostedLogoutRequest,
// matched against the host's sessions with logoutRequestCoversLogin, and
// answered with createLogoutResponse.
//
// A Redirect message is checked from the raw query string exactly as the
// browser sent it (everything after '?', nothing decoded by the host):
// the signature covers the octets as received, so a query re-encoded by a
// framework no longer verifies.
//
// RelayState: whatever comes back with a message is handed to the host as
// text and never used by the library. It is the IdP's or an attacker's
// choice: never redirect the browser to it; map it to a page the host
// chose itself, or ignore it.
//
// Statuses:
//   Ok             success
//   StartupFailed  no Library (or initHelper) holds the libraries started
//   NotAuthentic   no signature, or one that does not verify with any IdP
//                  certificate or does not cover the message: Signature or
//                  SigAlg missing, a SigAlg outside the allowlist, SHA-1
//                  without allowSha1, a signature outside the root or
//                  wrapped content, IDs that are not unique
//   Unusable       not a usable query or document: a parameter named more
//                  than once, a bad percent-escape, not strict base64, not
//                  raw DEFLATE, not one plain UTF-8 document, not the
//                  message expected; an over-long RelayState
//   BadOptions     the options or expectations are incomplete or not usable
//   ProfileRefused authentic, but the logout profile refuses it: issuer,
//                  destination, InResponseTo, times, NameID; and a replay of
//                  a message accepted before
//   TooLarge       the query, or the message it inflates to, is larger than
//                  maxMessageBytes (a compression bomb stops there)
//   ReplayCacheFailed the replay cache could not record the message
//
// Threads: options, expectations and keys are read only; any number of
// calls may run at once. Includes only the standard library.
#ifndef CORVANE_LOGOUT_H
#define CORVANE_LOGOUT_H

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "corvane/key.h"
#include "corvane/login.h"
#include "corvane/replay.h"
#include "corvane/status.h"

namespace corvane {

// The binding a logout message travels by.
enum class LogoutBinding { HttpRedirect, HttpPost };

// A logout message made by the SP, ready for the browser.
struct OutgoingLogoutMessage {
    // The message's ID. For a LogoutRequest: keep it with the user's
    // session; the IdP's LogoutResponse must answer exactly it
    // (LogoutExpectations::requestId).
    std::string id;
    // The serialized message: signed (enveloped) for HTTP-POST, unsigned
    // for HTTP-Redirect, whose query carries the signature.
    std::string xml;
    // HTTP-Redirect: the signed query, and the destination with it ("302
    // Found" to url). Empty for HTTP-POST.
    std::string query;
    std::string url;
    // HTTP-POST: the auto-submitting HTML page ("200 OK", text/html).
    // Empty for HTTP-Redirect.
    std::string formPage;
};

// What an SP-initiated LogoutRequest says. The subject comes from the
// VerifiedLogin of the session that ends.
struct LogoutRequestOptions {
    // The IdP's single logout URL for the chosen binding (Destination).
    // Required.
    std::string destination;
    // The SP's entity ID (saml:Issuer). Required.
    std::string issuer;
    // The request's ID (an xs:ID). Empty, the default: "_" and 32 hex
    // digits from OpenSSL's random generator.
    // WARNING: a fixed ID lets one LogoutResponse answer many requests.
    std::string requestId;
    // Relaxation: RSA-SHA1 instead of RSA-SHA256, for IdPs that know
    // nothing newer. Off by default.
    bool useSha1 = false;
    // HTTP-POST only: a ds:KeyInfo with the SP certificate.
    bool includeKeyInfo = false;
};

// A LogoutRequest for the session of login: its saml:NameID with the
// login's Format, NameQualifier and SPNameQualifier, and its
// samlp:SessionIndex (left out when the login has none), signed with
// spKey for binding. relayState (at most 80 bytes, empty: none) comes back
// with the IdP's answer. BadOptions for empty required options, an empty
// NameID, a RelayState over 80 bytes, text XML can not carry; Unusable for
// a key without a private key.
Result<OutgoingLogoutMessage> createLogoutRequest(const LogoutRequestOptions& options,
                                                  const VerifiedLogin& login, LogoutBinding binding,
                                                  const std::string& relayState, const Key& spKey);

// The status the SP answers an IdP's LogoutRequest with.
enum class LogoutAnswer {
    Success,    // the session named was ended (or there was none)
    Requester,  // the request was not acceptable
    Responder,  // the SP could not end the session
};

struct LogoutResponseOptions {
    // The IdP's single logout (response) URL for the chosen binding.
    // Required.
    std::string destination;
    // The SP's entity ID (saml:Issuer). Required.
    std::string issuer;
    // The ID of the IdP's request (VerifiedLogoutRequest::id). Required.
    std::string inResponseTo;
    LogoutAnswer answer = LogoutAnswer::Success;
    // A samlp:StatusMessage for a failure; omitted when empty.
    std::string statusMessage;
    // The response's ID; empty, the default: a fresh random one.
    std::string responseId;
    // Relaxation: RSA-SHA1 instead of RSA-SHA256. Off by default.
    bool useSha1 = false;
    // HTTP-POST only: a ds:KeyInfo with the SP certificate.
    bool includeKeyInfo = false;
};

// The LogoutResponse to an IdP-initiated LogoutRequest, signed with spKey
// for binding; relayState is the request's (VerifiedLogoutRequest::
// relayState), at most 80 bytes. The statuses of createLogoutRequest.
Result<OutgoingLogoutMessage> createLogoutResponse(const LogoutResponseOptions& options,
                                                   LogoutBinding binding,
                                                   const std::string& relayState, const Key& spKey);

// What the host expects of a logout message from the IdP. Strict by
// default; every relaxation is a named field, off by default.
struct LogoutExpectations {
    // The IdP's entity ID: the message's saml:Issuer. Required.
    std::string idpEntityId;
    // The IdP's certificates; a signature by any of them is accepted.
    // Required.
    std::vector<KeyPtr> idpCertificates;
    // The SP's single logout URL where the message arrives: its
    // Destination. Required.
    std::string spLogoutUrl;
    // For a LogoutResponse: the ID of the LogoutRequest it must answer
    // (OutgoingLogoutMessage::id). Required there, unused for requests.
    std::string requestId;
    // Relaxation: accept RSA-SHA1 and ECDSA-SHA1 signatures (and SHA-1
    // digests), for IdPs that sign with nothing newer.
    // WARNING: SHA-1 is broken for collisions; refused by default.
    bool allowSha1 = false;
    // Relaxation, for a LogoutResponse only (a LogoutRequest must always
    // be signed): accept one without any signature, for an IdP that does
    // not sign its answers. A signature present must still verify.
    // WARNING: anyone can then forge "logout succeeded" for a request
    // whose ID they learned; the host's own session ends either way.
    bool allowUnsignedLogoutResponse = false;
    // Tolerated clock difference in seconds (0 to 86400): IssueInstant
    // must lie within it of now, and NotOnOrAfter must not have passed by
    // more.
    long clockSkewSeconds = 180;
    // The current time in seconds since the epoch; negative: the clock.
    long long now = -1;
    // The largest message, in bytes of XML (TooLarge beyond): the
    // inflated Redirect message stops there, and the query or the posted
    // value may be at most 4 times it. Logout messages are a few kB.
    std::size_t maxMessageBytes = 64u << 10;
    // Where accepted messages are recorded by ID (per IdP) for one-time
    // use, until IssueInstant plus twice the skew; null: one cache in this
    // process. A message seen before is refused (ProfileRefused).
    std::shared_ptr<ReplayCache> replayCache;
    // Relaxation: no replay check.
    // WARNING: a captured logout message is then accepted again.
    bool skipReplayCheck = false;
};

// The IdP's verdict in a LogoutResponse.
enum class LogoutOutcome {
    Success,        // top-level Success, no PartialLogout
    PartialLogout,  // Success with the second-level PartialLogout code
    Failure,        // any other top-level code: the IdP's error
};

// An authentic LogoutResponse that answers the host's request.
struct VerifiedLogoutResponse {
    std::string id;
    std::string inResponseTo;
    LogoutOutcome outcome = LogoutOutcome::Failure;
    // The top-level and (when present) second-level StatusCode values, and
    // the StatusMessage, exactly as sent.
    // WARNING: escape them for wherever they are shown or logged.
    std::string statusCode;
    std::string secondStatusCode;
    std::string statusMessage;
    // False only for an unsigned response accepted through
    // allowUnsignedLogoutResponse.
    bool signedByIdp = false;
    // The Redirect query's RelayState, decoded; empty when absent (POST:
    // the host reads its own form field). Never a redirect target.
    std::string relayState;
};

// An authentic LogoutRequest from the IdP. The host ends the sessions it
// names: logoutRequestCoversLogin matches one.
struct VerifiedLogoutRequest {
    // The request's ID: LogoutResponseOptions::inResponseTo.
    std::string id;
    std::string idpEntityId;
    std::string nameId;  // exactly the signed text
    std::string nameIdFormat;
    std::string nameQualifier;
    std::string spNameQualifier;
    // Every samlp:SessionIndex; empty: every session of the subject.
    std::vector<std::string> sessionIndexes;
    std::string reason;
    std::string notOnOrAfter;
    std::string relayState;  // as VerifiedLogoutResponse::relayState
};

// The IdP's LogoutResponse from the raw query string of the HTTP-Redirect
// binding: SAMLResponse, RelayState (optional), SigAlg and Signature, each
// by exact name and at most once; the signature over
// "SAMLResponse=v[&RelayState=v]&SigAlg=v" rebuilt from the received
// encodings, whatever the order in the URL; then the message inflated (at
// most maxMessageBytes) and checked: Issuer, Destination, InResponseTo,
// IssueInstant, status; last the replay cache.
Result<VerifiedLogoutResponse> verifyLogoutResponseQuery(const std::string& rawQuery,
                                                         const LogoutExpectations& expectations);

// The same for the HTTP-POST binding: the SAMLResponse form value (base64;
// with formEncoded, as the raw x-www-form-urlencoded body gives it), whose
// enveloped ds:Signature directly under the root must cover the root.
Result<VerifiedLogoutResponse> verifyPostedLogoutResponse(const std::string& samlResponse,
                                                          const LogoutExpectations& expectations,
                                                          bool formEncoded = false);

// The IdP's LogoutRequest from the raw Redirect query (SAMLRequest, ...)
// or the posted SAMLRequest value: always signed; Issuer, Destination,
// IssueInstant and NotOnOrAfter (with the skew), one NameID; last the
// replay cache.
Result<VerifiedLogoutRequest> verifyLogoutRequestQuery(const std::string& rawQuery,
                                                       const LogoutExpectations& expectations);
Result<VerifiedLogoutRequest> verifyPostedLogoutRequest(const std::string& samlRequest,
                                                        const LogoutExpectations& expectations,
                                                        bool formEncoded = false);

// True when request names the session of login: the same IdP, NameID
// value, Format, NameQualifier and SPNameQualifier (never the value
// alone), and, when the request lists session indexes, login's among them.
bool logoutRequestCoversLogin(const VerifiedLogoutRequest& request, const VerifiedLogin& login);

}  // namespace corvane

#endif
