// The one way the library parses XML with libxml2.
#ifndef CORVANE_XML_PARSE_H
#define CORVANE_XML_PARSE_H

#include <string>

#include <libxml/tree.h>

namespace corvane {
namespace internal {

// No element may carry more attributes (namespace declarations included):
// both parsers check duplicates in time quadratic in their number.
const int kMaxAttributesPerElement = 256;

// Parses text with libxml2 the way every parse of the library must: from
// memory only, internal entities substituted, and nothing ever loaded by
// URI (no external entity, no external DTD subset, no network). Returns
// the document, or null when the text is not well-formed. The caller owns
// the result. Parser diagnostics are not printed.
xmlDoc* parseXmlSafely(const std::string& text);

}  // namespace internal
}  // namespace corvane

#endif
