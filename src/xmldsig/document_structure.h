// What a signed SAML document must look like before any signature in it is
// believed: IDs that name one element each, and ds:Signature elements only
// where the protocol puts them. Wrapping attacks break one or the other.
#ifndef CORVANE_XMLDSIG_DOCUMENT_STRUCTURE_H
#define CORVANE_XMLDSIG_DOCUMENT_STRUCTURE_H

#include <string>

#include <libxml/tree.h>

namespace corvane {
namespace internal {

// Where a ds:Signature may stand, decided by its parent.
typedef bool (*SignaturePlacement)(const xmlNode* signature);

// One walk over root's subtree, without recursion: every ID (an attribute
// ID without namespace, or xml:id) is unique, and every ds:Signature is
// placed as wellPlaced says. Otherwise false with the problem in *problem,
// worded for what ("SAML response", "SAML LogoutRequest", ...).
bool signedDocumentSound(xmlNode* root, SignaturePlacement wellPlaced, const char* what,
                         std::string* problem);

}  // namespace internal
}  // namespace corvane

#endif
