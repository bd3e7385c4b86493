// The one verifier: an embedded XML Signature over the element it must
// cover, and the signature of an HTTP-Redirect query over its octets,
// each checked against a set of loaded keys. Every path that verifies a
// signature (the documented response, the login, logout and metadata as
// they come) goes through these functions.
#ifndef CORVANE_XMLDSIG_VERIFIER_H
#define CORVANE_XMLDSIG_VERIFIER_H

#include <cstddef>
#include <string>
#include <vector>

#include <libxml/tree.h>
#include <xmlsec/keys.h>
#include <xmlsec/xmldsig.h>

#include "corvane/key.h"
#include "frame/handles.h"

namespace corvane {

namespace internal {

enum class Verdict {
    Verified,     // the References and the signature value hold with one key
    Invalid,      // processed; a digest, or the signature value with every key, does not match
    Failed,       // xmlsec1 could not process it (an algorithm not allowed, no suitable key)
    NotCovering,  // the signature does not consist of one Reference to the element (no message)
    Refused,      // refused before any digest was computed; the reason has been reported
};

// Verification keys: per-use copies of key values, owned here.
typedef std::vector<UniquePtr<xmlSecKey>> KeySet;

// Copies of the keys' values, in order; null keys and keys below the
// absolute floor (RSA under 1024 bits, EC under 256) are left out, so they
// are never used whatever their loading allowed.
KeySet verificationKeys(const std::vector<KeyPtr>& keys);

// Checks signature against element and keys. In order: the signature has
// one Reference whose URI is empty or "#" + element's own ID
// (NotCovering); no Reference canonicalizes inclusively over a document
// whose inclusive canonical form could exceed kInclusiveCanonicalBound
// (Refused, after a message); then the References are digested once, with
// the first key that suits the SignatureMethod, and when only the
// signature value failed, the stored canonical SignedInfo is checked
// against the signature value with each further key. The cost of the
// digests does not grow with the number of keys.
Verdict verifyEmbeddedSignature(xmlDoc* doc, const xmlNode* element, xmlNode* signature,
                                const KeySet& keys);

// The same with a context made by the caller, which holds the key to use
// and the allowlists (restrictToAllowedAlgorithms); no further keys. For
// the documented verification, whose context is part of its interface.
Verdict verifyEmbeddedSignatureInContext(xmlSecDSigCtx* ctx, xmlDoc* doc, const xmlNode* element,
                                         xmlNode* signature);

// The signature of an HTTP-Redirect message: signatureBase64 (the decoded
// value of the Signature parameter) over exactly signedOctets as received
// ("SAMLRequest=...&RelayState=...&SigAlg=...", nothing re-encoded), with
// the method that sigAlg (the decoded SigAlg value) names. Refused, after
// a message, when sigAlg is not an allowed signature method; Verified when
// one key verifies; otherwise Invalid.
Verdict verifyRedirectSignature(const std::string& signedOctets, const std::string& sigAlg,
                                const std::string& signatureBase64, const KeySet& keys);

// The bound on the estimated inclusive canonical form, in bytes, and the
// estimate itself: one walk over the document in which every element
// re-emits the namespace declarations in scope (what libxml2 examines for
// each element under inclusive c14n), plus names, attributes and text. The
// walk stops as soon as the sum passes stopAbove.
extern const std::size_t kInclusiveCanonicalBound;
std::size_t inclusiveCanonicalEstimate(const xmlDoc* doc, std::size_t stopAbove);
// No Reference of signature canonicalizes inclusively (an inclusive c14n
// transform, 1.0 or 1.1, with or without comments, or none at all) while
// the document's estimate passes the bound.
bool inclusiveCanonicalFormBounded(xmlDoc* doc, xmlNode* signature);

// How many times xmlsec1 has run the transforms of a Reference, in this
// process (xmlsec1's reference pre-execute hook). Read by tests that
// assert how much digest work a verification does.
unsigned long referencePassesSoFar();
// How many of those passes read a reference to the document's root as the
// whole document (the XPointer transform left out where it changes
// nothing; see verifier.cpp), in this process. Read by tests.
unsigned long rootReferencesReadAsWholeDocumentSoFar();

}  // namespace internal
}  // namespace corvane

#endif
