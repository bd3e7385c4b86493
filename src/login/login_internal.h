// What the profile-checked verification shares between its files.
#ifndef CORVANE_LOGIN_INTERNAL_H
#define CORVANE_LOGIN_INTERNAL_H

#include <libxml/tree.h>

#include "corvane/login.h"
#include "frame/handles.h"
#include "xmldsig/verifier.h"

namespace corvane {
namespace internal {

// Every ID (an ID attribute without namespace, or xml:id) of the document
// is unique and every ds:Signature stands directly under the root or an
// Assertion; otherwise -7 after one message.
int checkDocumentStructure(xmlDoc* doc);

// The signature directly under element, when there is one: it refers to
// element alone (Reference "" or "#" + its ID) and verifies with one of
// the keys; SHA-1 is refused unless allowSha1. 0 when there is none or it
// verifies, else -7 after one message.
int verifyOwnSignature(xmlDoc* doc, xmlNode* element, const KeySet& keys, bool allowSha1);
bool carriesOwnSignature(xmlNode* element);
// -7 after the message that neither the Response nor the Assertion is signed.
int refuseUnsigned();

// 0 when the assertion is covered by verified signatures: the Response's
// or the Assertion's own, or both, each present one verifying (see
// verifyOwnSignature), in a document that passes checkDocumentStructure.
// Otherwise -7 after one message.
int verifyAssertionSignatures(xmlDoc* doc, xmlNode* assertion, const KeySet& keys, bool allowSha1);

// The assertion a login reads, authenticated: the one in the response
// document, or the decrypted one in a document of its own.
struct AuthenticAssertion {
    xmlNode* assertion = nullptr;
    XmlDocPtr decryptedDocument;  // owns the assertion when it came encrypted
    bool encrypted = false;
};

// The response's one saml:Assertion or saml:EncryptedAssertion (exactly
// one of the two, directly under the response), with the signatures that
// make it authentic verified; an encrypted one is decrypted only after
// the Response signature, when present, verified. 0, or -7 (NotAuthentic,
// one message for every decryption failure), -9 (no SP decryption key) or
// -10 (not exactly one assertion) after one message.
int authenticAssertion(xmlDoc* doc, const LoginExpectations& expected, AuthenticAssertion* out);

// Replaces the authenticated assertion's saml:EncryptedID and
// saml:EncryptedAttribute elements by what they decrypt to (a saml:NameID,
// a saml:Attribute); their cipher text was covered by the signature
// already verified. 0, or -7 / -9 as authenticAssertion says.
int decryptIdentifiersInPlace(xmlNode* assertion, const LoginExpectations& expected);

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
