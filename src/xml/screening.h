// Screening of a SAML response's (or metadata's) text before a parser sees it.
#ifndef CORVANE_RESPONSE_SCREENING_H
#define CORVANE_RESPONSE_SCREENING_H

#include <cstddef>
#include <string>

#include "xml/limits.h"

namespace corvane {
namespace internal {

struct ScreeningLimits;

// A text the screening passed, with what its pass over every byte found
// for the parse that follows (parseScreenedXml): whether the start tags
// stay within the parse's attribute bound. Refers to the text: it must
// outlive this.
class ScreenedText {
public:
    bool screened() const { return text_ != nullptr; }
    const std::string& text() const { return *text_; }
    bool startTagsWithinAttributeBound() const { return withinAttributeBound_; }

private:
    friend bool screenText(const std::string& text, const ScreeningLimits& limits,
                           ScreenedText* out);
    const std::string* text_ = nullptr;
    bool withinAttributeBound_ = false;
};

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
// The same, filling *out for parseScreenedXml when it passes.
bool screenResponseText(const std::string& text, ScreenedText* out);

// What one kind of document may hold: the name its messages give it,
// how deep its elements nest, and how many elements and attributes it
// holds: nodeAllowance, plus one per bytesPerFurtherNode bytes of text
// when that is not 0 (so the parsers' memory stays a bounded multiple of
// the text's size).
struct ScreeningLimits {
    const char* documentName;
    int maxElementDepth;
    long long nodeAllowance;
    std::size_t bytesPerFurtherNode;
};
// Responses: "SAML token", kMaxElementDepth, kMaxNodesPerMessage in all.
extern const ScreeningLimits kResponseScreening;
// Metadata: "SAML metadata", kMaxElementDepth, kMaxNodesPerMessage plus
// one per kMetadataBytesPerFurtherNode bytes.
extern const ScreeningLimits kMetadataScreening;

// The screening of screenResponseText with the given limits, filling *out
// when it passes.
bool screenText(const std::string& text, const ScreeningLimits& limits);
bool screenText(const std::string& text, const ScreeningLimits& limits, ScreenedText* out);

}  // namespace internal
}  // namespace corvane

#endif
