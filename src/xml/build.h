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

// libxml2 writes a namespace name between its quotes as it is, so a name
// holding '&', '<', a tab or a line break (from a reference in the parsed
// text) comes out not well-formed, or parses back to another name. This
// writes those characters in the tree's namespace names as character
// references, so the serialization parses back to exactly the names the
// tree held. Only for a tree that is serialized next and then discarded:
// its names no longer hold the names themselves. False when libxml2 could
// not allocate.
bool escapeNamespaceNamesForSerialization(xmlDoc* doc);

// Every character is one XML 1.0 may carry, in well-formed UTF-8.
bool isXmlText(const std::string& text);

// bytes in base64 on one line (OpenSSL's encoder).
std::string base64Encode(const std::string& bytes);

}  // namespace internal
}  // namespace corvane

#endif
