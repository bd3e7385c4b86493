// The bounds on hostile input that every parse and screening of the
// library applies, and the size check that comes before all of them.
#ifndef CORVANE_XML_LIMITS_H
#define CORVANE_XML_LIMITS_H

#include <cstddef>
#include <string>

namespace corvane {
namespace internal {

// The largest message accepted unless a host raises it. Real SAML
// responses are a few kilobytes, with large attribute sets some hundred;
// 2 MB leaves ten times that and keeps the parsers' memory (some hundred
// bytes per element) within a few hundred megabytes.
const std::size_t kDefaultMaxMessageBytes = 2 * 1024 * 1024;

// True when text has at most maxBytes bytes; otherwise the error callback
// has the reason. Comes before any scan or parse of the text.
bool messageWithinSizeLimit(const std::string& text, std::size_t maxBytes);

// Elements may nest this deep and no deeper (libxml2's own default limit).
const int kMaxElementDepth = 256;

// No element may carry more attributes (namespace declarations included):
// both parsers check duplicates in time quadratic in their number.
const int kMaxAttributesPerElement = 256;

// libxml2 resolves every element name and prefixed attribute name twice:
// the parser searches the declarations in scope, innermost first, and the
// tree builder walks up the ancestors to the one that declares or uses the
// prefix. A name therefore costs up to (depth + declarations in scope)
// steps. Real IdPs declare a handful of namespaces (samlp, saml, ds, xs,
// xsi, xenc: under 20 in scope even where every element repeats its own)
// and nest some ten deep; the bounds leave a hundred times that.
const int kMaxNamespaceDeclarationsPerElement = 64;
const int kMaxNamespaceDeclarationsInScope = 2048;

// The resolution steps (the sum of depth + declarations in scope over
// every such name) a text may need: a fixed allowance, which deep but
// small documents stay within, plus a few steps per byte of text, so the
// work of name resolution stays a small constant per input byte however
// the text is shaped. An honest response needs well under one step per
// byte.
const long long kResolutionStepsAllowance = 1 << 20;
const long long kResolutionStepsPerByte = 8;

// The resolution steps a text of this size may need.
long long resolutionStepBudget(std::size_t textBytes);

}  // namespace internal
}  // namespace corvane

#endif
