// What the standard request and its bindings share inside the saml room:
// the request built with a status (messages through the frame), so the
// Redirect binding can build and encode within one call.
#ifndef CORVANE_SAML_STANDARD_H
#define CORVANE_SAML_STANDARD_H

#include <string>

#include <libxml/tree.h>

#include "corvane/request.h"

namespace corvane {
namespace internal {

// Checks, builds, signs (when signer is not null) and serializes the
// request: 0 with *request and *id set, or -8 or -9 after one message
// with neither changed.
int createRequest(AuthnRequest* request, const StandardRequestOptions& options, const Key* signer);

// The enveloped signature template (exclusive c14n, Reference "#" + id,
// RSA-SHA256 or with useSha1 RSA-SHA1, a ds:KeyInfo with key's certificate
// when includeKeyInfo) appended to root, which must end with saml:Issuer
// when it is called; false when libxml2 or xmlsec1 could not build it.
bool addSignatureTemplate(xmlNode* root, const std::string& id, bool useSha1, bool includeKeyInfo,
                          const Key& key);

// The IssueInstant (the clock, read once, before the ID is drawn or taken)
// and the ID of a message named what ("AuthnRequest", "LogoutRequest",
// ...): givenId, or a fresh one when it is empty; it must be an xs:ID (an
// NCName) for the Reference "#" + ID to name it. 0, or -8 / -9 after one
// message.
int issueInstantAndId(const char* what, const std::string& givenId, std::string* instant,
                      std::string* id);

// A request ID: "_" and 32 hex digits from OpenSSL's random generator, or
// empty when no random bytes could be had.
std::string freshRequestId();

}  // namespace internal
}  // namespace corvane

#endif
