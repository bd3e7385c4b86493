// Reading SAML elements from a libxml2 tree by namespace URI and local
// name, whatever prefixes the IdP chose.
#ifndef CORVANE_SAML_TREE_H
#define CORVANE_SAML_TREE_H

#include <string>
#include <vector>

#include <libxml/tree.h>

#include "xml/namespaces.h"

namespace corvane {
namespace internal {

// An element in namespace ns (null: no namespace) with this local name.
bool isElement(const xmlNode* node, const char* ns, const char* localName);

// The first direct child element ns:localName, or null (also for a null
// parent).
xmlNode* firstChildElement(xmlNode* parent, const char* ns, const char* localName);

// Every direct child element ns:localName, in document order.
std::vector<xmlNode*> childElements(xmlNode* parent, const char* ns, const char* localName);

// The value of the element's attribute without namespace; false when the
// attribute is absent.
bool attributeValue(const xmlNode* element, const char* name, std::string* value);

// All the character data of the element, text and CDATA alike, comments
// skipped as canonicalization skips them. False when any other node (an
// element, a processing instruction) sits inside.
bool fullCharacterContent(const xmlNode* element, std::string* content);

// The element after node in document order within root's subtree, or
// null: a walk over every element without recursion.
xmlNode* nextElementInDocumentOrder(xmlNode* root, xmlNode* node);

// An attribute that names its element's ID: ID without namespace, or
// xml:id.
bool isIdAttribute(const xmlAttr* attr);

// Makes the element's ID attribute (ID, without namespace) resolvable for
// a signature's Reference; nothing when it has none or the value is taken.
void registerIdAttribute(xmlDoc* doc, xmlNode* element);

}  // namespace internal
}  // namespace corvane

#endif
