#include "xmldsig/document_structure.h"

#include <set>

#include "frame/handles.h"
#include "xml/namespaces.h"
#include "xml/tree.h"

namespace corvane {
namespace internal {

namespace {

std::string describeMisplacedSignature(const xmlNode* signature, const char* what) {
    const xmlNode* parent = signature->parent;
    const char* name = parent && parent->name ? reinterpret_cast<const char*>(parent->name) : "?";
    return std::string(what) + " carries a signature inside " + name +
           ", where no signature belongs";
}

}  // namespace

bool signedDocumentSound(xmlNode* root, SignaturePlacement wellPlaced, const char* what,
                         std::string* problem) {
    std::set<std::string> seen;
    for (xmlNode* node = root; node != nullptr; node = nextElementInDocumentOrder(root, node)) {
        if (isElement(node, kDsigNs, "Signature") && !wellPlaced(node)) {
            *problem = describeMisplacedSignature(node, what);
            return false;
        }
        for (xmlAttr* attr = node->properties; attr != nullptr; attr = attr->next) {
            if (!isIdAttribute(attr)) continue;
            XmlCharPtr value(xmlNodeListGetString(node->doc, attr->children, 1));
            const std::string text = value ? reinterpret_cast<const char*>(value.get()) : "";
            if (!seen.insert(text).second) {
                *problem = std::string(what) + " contains the ID \"" + text + "\" more than once";
                return false;
            }
        }
    }
    return true;
}
}  // namespace internal
}  // namespace corvane
