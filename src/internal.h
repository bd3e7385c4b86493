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
#define CORVANE_ASSERT(expr)                                                           \
    ((expr) ? static_cast<void>(0)                                                     \
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

// The signature carries exactly one Reference, and its URI is empty (the
// whole document, which holds the element) or "#" plus an ID that
// resolves to the element itself.
bool referenceCoversElement(xmlDoc* doc, const xmlNode* element, xmlNode* signature);

// A verification context that owns key (destroyed here on failure) and is
// restricted as restrictToAllowedAlgorithms says; null on failure.
xmlSecDSigCtx* newRestrictedVerificationContext(xmlSecKey* key);

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

// Keys loaded once, standard requests and metadata (CorvaneStandard.h).
class Key;

namespace internal {

// A new xmlsec key for one signing or verification context: a copy of the
// key's value alone (the OpenSSL key shared by reference, no X.509 data,
// no PEM parsing). Null when xmlsec could not make it; the caller owns it.
xmlSecKey* newKeyValueCopy(const Key& key);

struct XmlDocFree {
    void operator()(xmlDoc* p) const { xmlFreeDoc(p); }
};
typedef std::unique_ptr<xmlDoc, XmlDocFree> XmlDocPtr;

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

// Every character is one XML 1.0 may carry, in well-formed UTF-8.
bool isXmlText(const std::string& text);

// bytes in base64 on one line (OpenSSL's encoder).
std::string base64Encode(const std::string& bytes);

}  // namespace internal
}  // namespace corvane

#endif
