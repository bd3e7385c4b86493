// What the profile-checked verification shares between its files.
#ifndef CORVANE_LOGIN_INTERNAL_H
#define CORVANE_LOGIN_INTERNAL_H

#include <libxml/tree.h>

#include "corvane/login.h"

namespace corvane {
namespace internal {

// 0 when the assertion is covered by verified signatures: the Response's
// (a ds:Signature directly under the root, Reference to the root) or the
// Assertion's (directly under it, Reference to its own ID), or both, each
// present one verifying with one of the keys. IDs must be unique in the
// document. Otherwise -7 after one message.
// A signature using SHA-1 is refused (-7) unless allowSha1.
int verifyAssertionSignatures(xmlDoc* doc, xmlNode* assertion,
                              const std::vector<KeyPtr>& keys, bool allowSha1);

// Response-level profile rules, each 0 or -10 after one message: Version
// and a Success status; Destination, Issuer and InResponseTo.
int checkResponseStatus(xmlNode* response);
int checkResponseAddressing(xmlNode* response, const LoginExpectations& expected);

// Assertion-level profile rules, filling *login from the assertion: Issuer,
// Subject with a bearer confirmation, Conditions with audience, an
// AuthnStatement, attributes. 0, or -10 after one message.
int readCheckedAssertion(xmlNode* assertion, const LoginExpectations& expected, long long now,
                         VerifiedLogin* login);

// The request the response answers: expected.requestId when the response
// or a bearer confirmation of the assertion names one in InResponseTo
// (after the checks, any such name is requestId), else empty.
std::string answeredRequest(const xmlNode* response, xmlNode* assertion,
                            const LoginExpectations& expected);

// Records the login's assertion, and the request it answers, in the
// expectations' replay cache (the process's own when none is named),
// unless skipReplayCheck. 0 on first use; ProfileRefused after a message
// naming the ID for a replay, or for an assertion valid too long to
// record; ReplayCacheFailed after the cache's message.
int recordFirstUse(const VerifiedLogin& login, const LoginExpectations& expected, long long now);

// Records the message ID id of kind ("LogoutRequest", "LogoutResponse")
// from idp in cache (the process's own when null) until expiresAt. 0 on
// first use; ProfileRefused after "SAML <kind> "<id>" was accepted before:
// a replay is refused"; ReplayCacheFailed after the cache's message (no
// relaxation: a message whose one-time use is not assured is refused).
int recordMessageFirstUse(const std::shared_ptr<ReplayCache>& cache, const char* kind,
                          const std::string& idp, const std::string& id, long long expiresAt,
                          long long now);

}  // namespace internal
}  // namespace corvane

#endif
