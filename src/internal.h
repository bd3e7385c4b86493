// What the library's rooms share privately: the assertion macro, owning
// holders for libxml2 handles, and the hardened parser entry point.
#ifndef CORVANE_INTERNAL_H
#define CORVANE_INTERNAL_H

#include <assert.h>

#include <memory>
#include <string>

#include <libxml/parser.h>
#include <libxml/tree.h>

#include "Corvane.h"

// Preconditions of the host are checked in every build type. The report
// names the library ("src/Corvane") rather than the file the check lives
// in, so hosts see one stable name whatever the source layout.
#define CORVANE_ASSERT(expr)                                                          \
    ((expr) ? static_cast<void>(0)                                                    \
            : __assert_fail(#expr, "src/Corvane", static_cast<unsigned int>(__LINE__), \
                            __PRETTY_FUNCTION__))

namespace corvane {
namespace internal {

struct XmlCharFree {
    void operator()(xmlChar* p) const { xmlFree(p); }
};
typedef std::unique_ptr<xmlChar, XmlCharFree> XmlCharPtr;

struct XmlParserCtxtFree {
    void operator()(xmlParserCtxt* p) const { xmlFreeParserCtxt(p); }
};
typedef std::unique_ptr<xmlParserCtxt, XmlParserCtxtFree> XmlParserCtxtPtr;

// No element may carry more attributes (namespace declarations included):
// both parsers check duplicates in time quadratic in their number.
const int kMaxAttributesPerElement = 256;

// Parses text with libxml2 the way every parse of the library must: from
// memory only, internal entities substituted, and nothing ever loaded by
// URI (no external entity, no external DTD subset, no network). Returns
// the document, or null when the text is not well-formed. The caller owns
// the result. Parser diagnostics are not printed.
xmlDoc* parseXmlSafely(const std::string& text);

// The text with every PEM private-key block replaced by a fixed marker;
// certificates and any other text are kept as given.
std::string withPrivateKeysWithheld(const std::string& pemText);

// Restricts a verification context to same-document References and to
// the allowed transforms, digests and signature methods; manifests are
// ignored. False when xmlsec1 could not record the lists.
bool restrictToAllowedAlgorithms(xmlSecDSigCtx* ctx);

// The signature carries exactly one Reference, and its URI is empty or
// "#" plus an ID that resolves to the root element itself.
bool referenceCoversRoot(xmlDoc* doc, xmlNode* root, xmlNode* signature);

// Verifies the first ds:Signature of a parsed document (null when the
// text did not parse), with the statuses and messages of verifySignature.
// *signature receives the Signature element verified, when one was found.
int verifyDocumentSignature(xmlDoc* doc, const std::string& idpKey, xmlNode** signature);

// The verified signature is a direct child of the root, and the NameID at
// root/saml:Assertion/saml:Subject/saml:NameID of the verified document,
// all its character data with white space condensed as TinyXML condenses
// it, equals nameId.
bool nameIdMatchesSignedTree(xmlDoc* doc, const xmlNode* signature, const std::string& nameId);

// Loads a key from PEM text in memory, or null; the caller owns it.
xmlSecKey* loadKeyFromPem(const std::string& pemText, xmlSecKeyDataFormat format);

}  // namespace internal
}  // namespace corvane

#endif
