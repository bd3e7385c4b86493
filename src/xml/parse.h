// The one way the library parses XML with libxml2.
#ifndef CORVANE_XML_PARSE_H
#define CORVANE_XML_PARSE_H

#include <string>

#include <libxml/tree.h>

#include "xml/limits.h"

namespace corvane {
namespace internal {

// Parses text with libxml2 the way every parse of the library must: from
// memory only, internal entities substituted, and nothing ever loaded by
// URI (no external entity, no external DTD subset, no network). Work stays
// linear in the text: at most kMaxAttributesPerElement attributes per
// element, at most kMaxNamespaceDeclarationsPerElement namespace
// declarations per element and kMaxNamespaceDeclarationsInScope in scope.
// Returns the document, or null when the text is not well-formed or breaks
// a bound. The caller owns the result. Parser diagnostics go to the log at
// level 3, never to stderr.
xmlDoc* parseXmlSafely(const std::string& text);

class ScreenedText;
// parseXmlSafely for a text the screening passed: the attribute bound was
// read in the screening's pass over every byte, so the parse adds no pass
// of its own before libxml2 reads the text.
xmlDoc* parseScreenedXml(const ScreenedText& screened);

}  // namespace internal
}  // namespace corvane

#endif
