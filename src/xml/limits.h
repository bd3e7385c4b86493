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

// A message holds at most this many elements and attributes together
// (namespace declarations included). Each costs the parsers a node of a
// few hundred bytes however short its text, so this bounds their memory
// whatever the message's shape. Measured (peak resident size of the tool,
// 11 MB at rest): 1 MiB of empty elements at the bound costs 102 MB in the
// documented verification (both parsers) and 45 MB in the login, 2 MiB of
// attributes at the bound 108 MB and 76 MB; 2 MiB of empty elements would
// cost 194 MB and 80 MB without it. An honest 1.5 MiB of attributes (50
// to an element) holds 185,000 nodes and costs 79 MB and 56 MB.
const long kMaxNodesPerMessage = 262144;

// IdP metadata: one IdP's file is some kilobytes, a federation's signed
// aggregate 30 to 70 MB and growing (over 8,000 entities), so metadata has
// its own size limit (IdpMetadataOptions::maxMetadataBytes, 128 MiB by
// default) and a node budget that grows with its size: kMaxNodesPerMessage
// plus one element or attribute per this many bytes. Metadata holds one per
// 80 bytes or more (certificates are long text: a SimpleSAMLphp IdP's file
// has one per 148 bytes, an aggregate of IdPs one per 81); at the bound,
// one per 16 bytes, the tree (120 to 250 bytes a node) stays within some
// fifteen times the text's size.
const std::size_t kMetadataBytesPerFurtherNode = 16;

// No element may carry more attributes (namespace declarations included):
// both parsers check duplicates in time quadratic in their number.
const int kMaxAttributesPerElement = 256;

// libxml2 resolves every element name and prefixed attribute name through
// the declarations in scope (the parser searches them innermost first),
// and both the tree builder's namespace search and the exclusive
// canonicalization of a signed tree walk up the ancestors, the latter
// for every element, attribute and namespace node. Real IdPs declare a
// handful of namespaces (samlp, saml, ds, xs, xsi, xenc: under 20 in
// scope even where every element repeats its own) and nest some ten
// deep; the bounds leave a hundred times that.
const int kMaxNamespaceDeclarationsPerElement = 64;
const int kMaxNamespaceDeclarationsInScope = 2048;

// The steps a text may need for that work: per start tag, its depth for
// the tag and each attribute (namespace declarations included), plus the
// declarations in scope for the tag and each prefixed attribute. A fixed
// allowance, which deep but small documents stay within (250 nested
// elements with 5 declarations each need 345,000), plus one step per byte
// of text, so this work stays a small constant per input byte however the
// text is shaped: at the limit it adds at most about twice what an honest
// response of the size costs. Honest responses need under half a step per
// byte.
const long long kResolutionStepsAllowance = 1 << 19;
const long long kResolutionStepsPerByte = 1;

// The steps charged for one start tag (see above).
long long resolutionStepsOfTag(long long depth, long long declarationsInScope, long long attributes,
                               long long prefixedAttributes);

// The resolution steps a text of this size may need.
long long resolutionStepBudget(std::size_t textBytes);

}  // namespace internal
}  // namespace corvane

#endif
