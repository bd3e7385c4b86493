// Reading the NameID back from the document whose signature was verified.
#ifndef CORVANE_SAML_SIGNED_NAME_ID_H
#define CORVANE_SAML_SIGNED_NAME_ID_H

#include <string>

#include <libxml/tree.h>

namespace corvane {
namespace internal {

// The verified signature is a direct child of the root, and the NameID at
// root/saml:Assertion/saml:Subject/saml:NameID of the verified document,
// all its character data with white space condensed as TinyXML condenses
// it, equals nameId.
bool nameIdMatchesSignedTree(xmlDoc* doc, const xmlNode* signature, const std::string& nameId);

}  // namespace internal
}  // namespace corvane

#endif
