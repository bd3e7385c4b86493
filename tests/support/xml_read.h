// Reading a produced document back in tests: parsed from memory with
// libxml2, elements found by local name, absent values shown as "<absent>".
#ifndef CORVANE_TEST_XML_READ_H
#define CORVANE_TEST_XML_READ_H

#include <string>

#include <libxml/parser.h>
#include <libxml/tree.h>

namespace corvane_test {

struct Doc {
    explicit Doc(const std::string& xml)
        : doc(xmlReadMemory(xml.data(), static_cast<int>(xml.size()), "produced.xml", nullptr,
                            XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING)) {}
    ~Doc() { xmlFreeDoc(doc); }
    Doc(const Doc&) = delete;
    Doc& operator=(const Doc&) = delete;
    xmlNode* root() const { return doc ? xmlDocGetRootElement(doc) : nullptr; }
    xmlDoc* doc;
};

inline std::string str(const xmlChar* s) { return s ? reinterpret_cast<const char*>(s) : ""; }

// The first descendant element with this local name, or null.
inline const xmlNode* find(const xmlNode* node, const std::string& localName) {
    for (const xmlNode* c = node ? node->children : nullptr; c; c = c->next) {
        if (c->type != XML_ELEMENT_NODE) continue;
        if (str(c->name) == localName) return c;
        if (const xmlNode* found = find(c, localName)) return found;
    }
    return nullptr;
}

// The attribute's value, or "<absent>".
inline std::string attr(const xmlNode* node, const char* name) {
    if (node == nullptr || !xmlHasProp(node, BAD_CAST name)) return "<absent>";
    xmlChar* value = xmlGetProp(node, BAD_CAST name);
    const std::string text = str(value);
    xmlFree(value);
    return text;
}

// All the text below the element, or "<absent>".
inline std::string text(const xmlNode* node) {
    if (node == nullptr) return "<absent>";
    xmlChar* content = xmlNodeGetContent(node);
    const std::string t = str(content);
    xmlFree(content);
    return t;
}

}  // namespace corvane_test

#endif
