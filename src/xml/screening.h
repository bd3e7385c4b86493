// Screening of a SAML response's text before either parser sees it.
#ifndef CORVANE_RESPONSE_SCREENING_H
#define CORVANE_RESPONSE_SCREENING_H

#include <string>

#include "xml/limits.h"

namespace corvane {
namespace internal {

// True when the text is one UTF-8 document that both parsers read alike:
// no NUL, no encoding but UTF-8, no DTD or other markup declaration, no
// processing instruction beyond the leading XML declaration, nothing but
// white space and comments after the root element, elements nested at most
// kMaxElementDepth deep with at most kMaxAttributesPerElement attributes,
// at most kMaxNamespaceDeclarationsPerElement namespace declarations on an
// element and kMaxNamespaceDeclarationsInScope in scope, and at most
// kMaxNodesPerMessage elements and attributes in all (xml/limits.h).
// Otherwise the reason has gone to the error callback and it is false.
bool screenResponseText(const std::string& text);

}  // namespace internal
}  // namespace corvane

#endif
