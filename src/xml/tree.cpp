#include "xml/tree.h"

#include "Corvane.h"
#include "frame/handles.h"

namespace corvane {
namespace internal {

bool isElement(const xmlNode* node, const char* ns, const char* localName) {
    if (node == nullptr || node->type != XML_ELEMENT_NODE) return false;
    if (!xmlStrEqual(node->name, BAD_CAST localName)) return false;
    const xmlChar* href = node->ns ? node->ns->href : nullptr;
    if (ns == nullptr) return href == nullptr;
    return href != nullptr && xmlStrEqual(href, BAD_CAST ns);
}

xmlNode* firstChildElement(xmlNode* parent, const char* ns, const char* localName) {
    if (parent == nullptr) return nullptr;
    for (xmlNode* child = parent->children; child != nullptr; child = child->next) {
        if (isElement(child, ns, localName)) return child;
    }
    return nullptr;
}

std::vector<xmlNode*> childElements(xmlNode* parent, const char* ns, const char* localName) {
    std::vector<xmlNode*> found;
    if (parent == nullptr) return found;
    for (xmlNode* child = parent->children; child != nullptr; child = child->next) {
        if (isElement(child, ns, localName)) found.push_back(child);
    }
    return found;
}

bool attributeValue(const xmlNode* element, const char* name, std::string* value) {
    if (element == nullptr) return false;
    XmlCharPtr text(xmlGetNoNsProp(element, BAD_CAST name));
    if (!text) return false;
    value->assign(reinterpret_cast<const char*>(text.get()));
    return true;
}

bool fullCharacterContent(const xmlNode* element, std::string* content) {
    for (const xmlNode* child = element->children; child != nullptr; child = child->next) {
        if (child->type == XML_TEXT_NODE || child->type == XML_CDATA_SECTION_NODE) {
            if (child->content) content->append(reinterpret_cast<const char*>(child->content));
        } else if (child->type != XML_COMMENT_NODE) {
            return false;
        }
    }
    return true;
}

xmlNode* nextElementInDocumentOrder(xmlNode* root, xmlNode* node) {
    for (xmlNode* child = node->children; child != nullptr; child = child->next) {
        if (child->type == XML_ELEMENT_NODE) return child;
    }
    while (node != nullptr && node != root) {
        for (xmlNode* sibling = node->next; sibling != nullptr; sibling = sibling->next) {
            if (sibling->type == XML_ELEMENT_NODE) return sibling;
        }
        node = node->parent;
    }
    return nullptr;
}

bool isIdAttribute(const xmlAttr* attr) {
    if (attr->ns == nullptr) return xmlStrEqual(attr->name, BAD_CAST "ID");
    return xmlStrEqual(attr->name, BAD_CAST "id") && xmlStrEqual(attr->ns->href, XML_XML_NAMESPACE);
}

void registerIdAttribute(xmlDoc* doc, xmlNode* element) {
    xmlAttr* attr = xmlHasNsProp(element, BAD_CAST "ID", nullptr);
    if (attr == nullptr) return;
    XmlCharPtr value(xmlNodeListGetString(doc, attr->children, 1));
    if (value && xmlGetID(doc, value.get()) == nullptr) xmlAddID(nullptr, doc, value.get(), attr);
}

}  // namespace internal
}  // namespace corvane
