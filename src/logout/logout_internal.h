// What the logout room shares between its files: the two kinds of
// message, and the profile rules applied once a message is authentic.
#ifndef CORVANE_LOGOUT_INTERNAL_H
#define CORVANE_LOGOUT_INTERNAL_H

#include <libxml/tree.h>

#include "corvane/logout.h"

namespace corvane {
namespace internal {

// A logout message's kind: its element and the binding's parameter (and
// form field) that carries it.
struct LogoutKind {
    const char* element;    // "LogoutRequest", "LogoutResponse"
    const char* parameter;  // "SAMLRequest", "SAMLResponse"
};
extern const LogoutKind kLogoutRequestKind;
extern const LogoutKind kLogoutResponseKind;

// The rules for an authentic LogoutResponse (root, already known to be
// one): Version, ID, Issuer, Destination, IssueInstant within the skew of
// now, InResponseTo the expected request, a StatusCode; then its ID
// recorded in the replay cache. 0 with *response filled (relayState and
// signedByIdp are the caller's), or -10 / -12 after one message.
int checkLogoutResponse(xmlNode* root, const LogoutExpectations& expected, long long now,
                        VerifiedLogoutResponse* response);

// The same for an authentic LogoutRequest: Version, ID, Issuer,
// Destination, IssueInstant, NotOnOrAfter (with the skew), exactly one
// usable saml:NameID, the session indexes; then the replay cache.
int checkLogoutRequest(xmlNode* root, const LogoutExpectations& expected, long long now,
                       VerifiedLogoutRequest* request);

}  // namespace internal
}  // namespace corvane

#endif
