// Building XML documents with libxml2's tree, checking text that goes
// into them, and serializing them; base64 for what they carry.
#include <climits>
#include <cstring>

#include <libxml/chvalid.h>
#include <libxml/xmlstring.h>
#include <openssl/evp.h>

#include "xml/build.h"
#include "xml/tree.h"

#include "Corvane.h"
#include "frame/handles.h"
#include "xml/diagnostics.h"

namespace corvane {
namespace internal {

xmlNode* addElement(xmlNode* parent, xmlNs* ns, const char* name) {
    if (parent == nullptr) return nullptr;
    // Without content xmlNewChild interprets nothing.
    return xmlNewChild(parent, ns, BAD_CAST name, nullptr);
}

xmlNode* addTextElement(xmlNode* parent, xmlNs* ns, const char* name, const std::string& text) {
    if (parent == nullptr) return nullptr;
    // xmlNewTextChild stores the text as it is; '&' and '<' are escaped
    // when the document is serialized.
    return xmlNewTextChild(parent, ns, BAD_CAST name, BAD_CAST text.c_str());
}

bool addAttribute(xmlNode* node, const char* name, const std::string& value) {
    if (node == nullptr) return false;
    // xmlNewProp keeps the value as raw text (xmlNewDocProp would read
    // entity references in it).
    return xmlNewProp(node, BAD_CAST name, BAD_CAST value.c_str()) != nullptr;
}

namespace {

// The reference libxml2's serializer leaves for namespace names to write,
// or null for a character it writes right.
const char* namespaceNameReference(char c) {
    switch (c) {
        case '&':
            return "&amp;";
        case '<':
            return "&lt;";
        case '\t':
            return "&#9;";
        case '\n':
            return "&#10;";
        case '\r':
            return "&#13;";
        default:
            return nullptr;
    }
}

// The characters namespaceNameReference writes as references.
const char kUnescapedByTheSerializer[] = "&<\t\n\r";

// href with each such character written as its reference; false when it
// holds none (nothing to replace, and nothing built: the common case).
bool escapedNamespaceName(const xmlChar* href, std::string* escaped) {
    const char* name = reinterpret_cast<const char*>(href);
    if (name == nullptr || std::strpbrk(name, kUnescapedByTheSerializer) == nullptr) return false;
    for (const char* p = name; *p != 0; ++p) {
        const char* reference = namespaceNameReference(*p);
        if (reference != nullptr)
            escaped->append(reference);
        else
            escaped->push_back(*p);
    }
    return true;
}

bool escapeNamespaceDefinitions(xmlNode* element) {
    for (xmlNs* ns = element->nsDef; ns != nullptr; ns = ns->next) {
        std::string escaped;
        if (!escapedNamespaceName(ns->href, &escaped)) continue;
        xmlChar* copy = xmlStrdup(BAD_CAST escaped.c_str());
        if (copy == nullptr) return false;
        xmlFree(const_cast<xmlChar*>(ns->href));
        ns->href = copy;
    }
    return true;
}

}  // namespace

bool escapeNamespaceNamesForSerialization(xmlDoc* doc) {
    xmlNode* root = xmlDocGetRootElement(doc);
    for (xmlNode* element = root; element != nullptr;
         element = nextElementInDocumentOrder(root, element)) {
        if (!escapeNamespaceDefinitions(element)) return false;
    }
    return true;
}

bool serializeXml(xmlDoc* doc, std::string* out) {
    // libxml2's reports during serialization are errors.
    const LibxmlDiagnosticsToLog diagnostics(1);
    xmlChar* raw = nullptr;
    int size = 0;
    xmlDocDumpMemoryEnc(doc, &raw, &size, "UTF-8");
    XmlCharPtr buffer(raw);
    if (!buffer || size <= 0) return false;
    out->assign(reinterpret_cast<const char*>(buffer.get()), static_cast<std::size_t>(size));
    return true;
}

bool serializeXmlAsDeclared(xmlDoc* doc, std::string* out) {
    xmlChar* raw = nullptr;
    int size = 0;
    xmlDocDumpMemory(doc, &raw, &size);
    XmlCharPtr buffer(raw);
    if (!buffer) return false;
    out->assign(reinterpret_cast<const char*>(buffer.get()), static_cast<std::size_t>(size));
    return true;
}

bool isXmlText(const std::string& text) {
    if (text.size() > static_cast<std::string::size_type>(INT_MAX)) return false;
    const unsigned char* pos = reinterpret_cast<const unsigned char*>(text.data());
    int left = static_cast<int>(text.size());
    while (left > 0) {
        int length = left;
        const int c = xmlGetUTF8Char(pos, &length);
        // xmlGetUTF8Char reads NUL as a character; XML has no place for it.
        if (c < 0 || length <= 0 || !xmlIsCharQ(c)) return false;
        pos += length;
        left -= length;
    }
    return true;
}

std::string base64Encode(const std::string& bytes) {
    if (bytes.size() > static_cast<std::string::size_type>(INT_MAX / 4 * 3 - 3)) {
        return std::string();
    }
    std::string encoded(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    const int written = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(&encoded[0]),
                                        reinterpret_cast<const unsigned char*>(bytes.data()),
                                        static_cast<int>(bytes.size()));
    encoded.resize(written < 0 ? 0 : static_cast<std::string::size_type>(written));
    return encoded;
}

}  // namespace internal
}  // namespace corvane
