// Reading the NameID back from the document whose signature was verified,
// so that the value handed out is the value that was signed.
#include "saml/signed_name_id.h"

#include "Corvane.h"
#include "xml/tree.h"

namespace corvane {
namespace internal {

namespace {

bool hasQualifiedName(const xmlNode* node, const char* prefix, const char* localName) {
    if (node->type != XML_ELEMENT_NODE || !xmlStrEqual(node->name, BAD_CAST localName)) {
        return false;
    }
    const xmlChar* actualPrefix = node->ns ? node->ns->prefix : nullptr;
    return actualPrefix != nullptr && xmlStrEqual(actualPrefix, BAD_CAST prefix);
}

// The first direct child element called prefix:localName, or null.
xmlNode* firstChildNamed(xmlNode* parent, const char* prefix, const char* localName) {
    if (parent == nullptr) return nullptr;
    for (xmlNode* child = parent->children; child != nullptr; child = child->next) {
        if (hasQualifiedName(child, prefix, localName)) return child;
    }
    return nullptr;
}

bool isCondensedSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// White space handled as TinyXML handles text: leading and trailing runs
// dropped, inner runs turned into one space.
std::string condenseWhiteSpace(const std::string& text) {
    std::string condensed;
    bool pendingSpace = false;
    for (char c : text) {
        if (isCondensedSpace(c)) {
            pendingSpace = !condensed.empty();
            continue;
        }
        if (pendingSpace) condensed += ' ';
        pendingSpace = false;
        condensed += c;
    }
    return condensed;
}

}  // namespace

bool nameIdMatchesSignedTree(xmlDoc* doc, const xmlNode* signature, const std::string& nameId) {
    xmlNode* root = xmlDocGetRootElement(doc);
    if (root == nullptr || signature == nullptr || signature->parent != root) return false;
    xmlNode* assertion = firstChildNamed(root, "saml", "Assertion");
    xmlNode* subject = firstChildNamed(assertion, "saml", "Subject");
    xmlNode* nameIdElement = firstChildNamed(subject, "saml", "NameID");
    std::string content;
    if (nameIdElement == nullptr || !fullCharacterContent(nameIdElement, &content)) return false;
    return condenseWhiteSpace(content) == nameId;
}

}  // namespace internal
}  // namespace corvane
