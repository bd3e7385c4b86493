// What the standard request and its bindings share inside the saml room:
// the request built with a status (messages through the frame), so the
// Redirect binding can build and encode within one call.
#ifndef CORVANE_SAML_STANDARD_H
#define CORVANE_SAML_STANDARD_H

#include <string>

#include "corvane/request.h"

namespace corvane {
namespace internal {

// Checks, builds, signs (when signer is not null) and serializes the
// request: 0 with *request and *id set, or -8 or -9 after one message
// with neither changed.
int createRequest(AuthnRequest* request, const StandardRequestOptions& options, const Key* signer);

// A request ID: "_" and 32 hex digits from OpenSSL's random generator, or
// empty when no random bytes could be had.
std::string freshRequestId();

}  // namespace internal
}  // namespace corvane

#endif
