// Building XML documents with libxml2's tree, checking text that goes
// into them, and serializing them; base64 for what they carry.
#ifndef CORVANE_XML_BUILD_H
#define CORVANE_XML_BUILD_H

#include <string>

#include <libxml/tree.h>

namespace corvane {
namespace internal {

// Tree building with raw text (no entity references are interpreted; the
// serialization escapes). Each returns null or false when parent or node
// is null or libxml2 could not allocate, so a chain of calls needs one
// check at its end.
xmlNode* addElement(xmlNode* parent, xmlNs* ns, const char* name);
xmlNode* addTextElement(xmlNode* parent, xmlNs* ns, const char* name, const std::string& text);
bool addAttribute(xmlNode* node, const char* name, const std::string& value);

// libxml2's serialization of the document in UTF-8 with its XML
// declaration, or false.
bool serializeXml(xmlDoc* doc, std::string* out);
// The same in the encoding the document declares (libxml2's default when
// it declares none), as signDocument has always handed back the caller's
// document.
bool serializeXmlAsDeclared(xmlDoc* doc, std::string* out);

// Every character is one XML 1.0 may carry, in well-formed UTF-8.
bool isXmlText(const std::string& text);

// bytes in base64 on one line (OpenSSL's encoder).
std::string base64Encode(const std::string& bytes);

}  // namespace internal
}  // namespace corvane

#endif
