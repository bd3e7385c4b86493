// The one verifier. xmlsec1 computes the References' digests and checks
// the signature value with one key; when only the signature value failed,
// the canonical SignedInfo it kept is checked against each further key
// through xmlsec1's own signature transform, so the digests are computed
// once whatever the number of keys.
#include "xmldsig/verifier.h"

#include <atomic>

#include <xmlsec/base64.h>
#include <xmlsec/buffer.h>
#include <xmlsec/membuf.h>
#include <xmlsec/transforms.h>
#include <xmlsec/xmltree.h>

#include <libxml/valid.h>

#include "Corvane.h"
#include "xml/diagnostics.h"
#include "xmldsig/key_strength.h"
#include "xmldsig/signature_layer.h"

namespace corvane {
namespace internal {

namespace {

const char kInclusiveTooLarge[] =
    "Signature refused: its Reference uses inclusive canonicalization over a document whose "
    "canonical form would exceed %lu bytes";
const char kSigAlgNotAllowed[] = "HTTP-Redirect SigAlg is not an allowed signature algorithm";

// libxml2's reports during verification (canonicalization) are errors.
const int kDiagnosticLevel = 1;

std::atomic<unsigned long> referencePasses(0);
std::atomic<unsigned long> rootReferencesAsWholeDocument(0);

// The document holds the root element and, beside it, comments only: no
// processing instruction or document type that a canonicalization of the
// whole document could render.
bool onlyCommentsBesideTheRoot(const xmlDoc* doc) {
    for (const xmlNode* node = doc->children; node != nullptr; node = node->next)
        if (node->type != XML_ELEMENT_NODE && node->type != XML_COMMENT_NODE) return false;
    return true;
}

// The same-document reference "#" + id names the root element of doc by
// an ID that is an NCName, so xmlsec1's expression xpointer(id('id'))
// selects exactly the root.
bool namesTheRoot(xmlDoc* doc, const xmlChar* reference) {
    if (reference == nullptr || reference[0] != '#' || xmlValidateNCName(reference + 1, 0) != 0)
        return false;
    const xmlAttr* id = xmlGetID(doc, reference + 1);
    return id != nullptr && id->parent == xmlDocGetRootElement(doc);
}

// xmlsec1 prepares a reference "#" + ID as: the whole document (every
// node, comments included) narrowed by an XPointer transform to the
// element's tree without comments, then the enveloped-signature transform,
// then the canonicalization. When the element is the root, the other
// top-level nodes are comments, and the canonicalization that follows the
// enveloped-signature transform is exclusive c14n without comments, the
// XPointer transform changes nothing the canonicalization renders:
// without it the same octets are digested, and xmlsec1 is spared the
// XPointer evaluation and, for every node, attribute and namespace node
// canonicalized, a walk up the ancestors to the root. Any other chain is
// left as it is.
bool readRootReferenceAsWholeDocument(xmlSecTransformCtx* ctx) {
    xmlSecTransform* xpointer = ctx->first;
    if (xpointer == nullptr || xpointer->id != xmlSecTransformXPointerId) return false;
    xmlSecTransform* enveloped = xpointer->next;
    if (enveloped == nullptr || enveloped->id != xmlSecTransformEnvelopedId ||
        enveloped->hereNode == nullptr)
        return false;
    xmlSecTransform* c14n = enveloped->next;
    if (c14n == nullptr || c14n->id != xmlSecTransformExclC14NId) return false;
    xmlDoc* doc = enveloped->hereNode->doc;
    if (doc == nullptr || (ctx->uri != nullptr && ctx->uri[0] != '\0') ||
        !namesTheRoot(doc, ctx->xptrExpr) || !onlyCommentsBesideTheRoot(doc))
        return false;
    ctx->first = enveloped;
    xmlSecTransformDestroy(xpointer);  // unlinks it from the chain first
    rootReferencesAsWholeDocument.fetch_add(1, std::memory_order_relaxed);
    return true;
}

// xmlsec1's reference pre-execute hook: counts the pass and reads a
// reference to the root as the whole document where that is the same.
int beforeReferenceTransforms(xmlSecTransformCtx* ctx) {
    referencePasses.fetch_add(1, std::memory_order_relaxed);
    readRootReferenceAsWholeDocument(ctx);
    return 0;
}

// xmlSecKeyReq initialised and finalised with its scope.
struct KeyRequirement {
    xmlSecKeyReq req;
    bool ready;
    KeyRequirement() : ready(xmlSecKeyReqInitialize(&req) >= 0) {}
    ~KeyRequirement() {
        if (ready) xmlSecKeyReqFinalize(&req);
    }
    KeyRequirement(const KeyRequirement&) = delete;
    KeyRequirement& operator=(const KeyRequirement&) = delete;
};

// The key is of the kind the signature method verifies with (RSA for the
// RSA methods, EC for ECDSA), as xmlsec1 itself requires of a context key.
bool keySuitsMethod(xmlSecTransformId method, xmlSecKey* key) {
    UniquePtr<xmlSecTransform> transform(xmlSecTransformCreate(method));
    KeyRequirement requirement;
    if (!transform || !requirement.ready) return false;
    transform->operation = xmlSecTransformOperationVerify;
    return xmlSecTransformSetKeyReq(transform.get(), &requirement.req) >= 0 &&
           xmlSecKeyMatch(key, nullptr, &requirement.req) == 1;
}

// method's signature value over data verifies with key, by xmlsec1's own
// signature transform.
bool signatureValueVerifies(xmlSecTransformId method, xmlSecBuffer* data, xmlSecBuffer* value,
                            xmlSecKey* key) {
    if (!keySuitsMethod(method, key)) return false;
    UniquePtr<xmlSecTransformCtx> ctx(xmlSecTransformCtxCreate());
    xmlSecTransform* transform =
        ctx ? xmlSecTransformCtxCreateAndAppend(ctx.get(), method) : nullptr;
    if (transform == nullptr) return false;
    transform->operation = xmlSecTransformOperationVerify;
    return xmlSecTransformSetKey(transform, key) >= 0 &&
           xmlSecTransformCtxBinaryExecute(ctx.get(), xmlSecBufferGetData(data),
                                           xmlSecBufferGetSize(data)) >= 0 &&
           xmlSecTransformVerify(transform, xmlSecBufferGetData(value), xmlSecBufferGetSize(value),
                                 ctx.get()) >= 0 &&
           transform->status == xmlSecTransformStatusOk;
}

// The allowed signature method whose URI is href, or null.
xmlSecTransformId allowedMethodNamed(const xmlChar* href) {
    std::size_t count = 0;
    const xmlSecTransformId* methods = allowedSignatureMethods(&count);
    for (std::size_t i = 0; i < count; ++i)
        if (href != nullptr && xmlStrEqual(methods[i]->href, href)) return methods[i];
    return xmlSecTransformIdUnknown;
}

// The allowed method that SignedInfo's SignatureMethod names, or null.
xmlSecTransformId namedSignatureMethod(xmlNode* signature) {
    xmlNode* signedInfo = xmlSecFindChild(signature, xmlSecNodeSignedInfo, xmlSecDSigNs);
    xmlNode* method =
        signedInfo ? xmlSecFindChild(signedInfo, xmlSecNodeSignatureMethod, xmlSecDSigNs) : nullptr;
    XmlCharPtr href(method ? xmlGetNoNsProp(method, xmlSecAttrAlgorithm) : nullptr);
    return allowedMethodNamed(href.get());
}

// The first key that suits the signature's method; the first key of all
// when none does (xmlsec1 then refuses it as it would any unsuitable key).
// A single key is the answer either way, so it is not asked about: asking
// xmlsec1 whether a key suits a method makes OpenSSL export the key's
// numbers, which costs more than a tenth of a login, and xmlsec1 asks
// again itself before it verifies.
std::size_t firstSuitableKey(xmlNode* signature, const KeySet& keys) {
    if (keys.size() <= 1) return 0;
    const xmlSecTransformId method = namedSignatureMethod(signature);
    for (std::size_t i = 0; method != xmlSecTransformIdUnknown && i < keys.size(); ++i)
        if (keySuitsMethod(method, keys[i].get())) return i;
    return 0;
}

// Every Reference was digested and matched, so what failed is the
// signature value alone, and the canonical SignedInfo was kept.
bool onlySignatureValueFailed(xmlSecDSigCtx* ctx) {
    const xmlSecSize count = xmlSecPtrListGetSize(&ctx->signedInfoReferences);
    if (count == 0 || ctx->signMethod == nullptr || ctx->preSignMemBufMethod == nullptr ||
        ctx->signValueNode == nullptr)
        return false;
    for (xmlSecSize i = 0; i < count; ++i) {
        const xmlSecDSigReferenceCtx* reference = static_cast<const xmlSecDSigReferenceCtx*>(
            xmlSecPtrListGetItem(&ctx->signedInfoReferences, i));
        if (reference == nullptr || reference->status != xmlSecDSigStatusSucceeded) return false;
    }
    return true;
}

// The keys other than keys[skip] verify the signature value over the
// canonical SignedInfo that ctx's verification kept.
bool anotherKeyVerifiesSignedInfo(xmlSecDSigCtx* ctx, const KeySet& keys, std::size_t skip) {
    xmlSecBuffer* signedInfo = xmlSecTransformMemBufGetBuffer(ctx->preSignMemBufMethod);
    UniquePtr<xmlSecBuffer> value(xmlSecBufferCreate(0));
    if (signedInfo == nullptr || !value ||
        xmlSecBufferBase64NodeContentRead(value.get(), ctx->signValueNode) < 0)
        return false;
    for (std::size_t i = 0; i < keys.size(); ++i) {
        if (i != skip &&
            signatureValueVerifies(ctx->signMethod->id, signedInfo, value.get(), keys[i].get()))
            return true;
    }
    return false;
}

// The References and signature value with ctx's key; then, when only the
// signature value failed, the other keys (all but keys[skip]) on the kept
// SignedInfo.
Verdict runVerification(xmlSecDSigCtx* ctx, xmlNode* signature, const KeySet& keys,
                        std::size_t skip) {
    const bool furtherKeys = keys.size() > 1;
    if (furtherKeys) ctx->flags |= XMLSEC_DSIG_FLAGS_STORE_SIGNATURE;
    ctx->referencePreExecuteCallback = beforeReferenceTransforms;
    const LibxmlDiagnosticsToLog diagnostics(kDiagnosticLevel);
    if (xmlSecDSigCtxVerify(ctx, signature) < 0) return Verdict::Failed;
    if (ctx->status == xmlSecDSigStatusSucceeded) return Verdict::Verified;
    if (furtherKeys && onlySignatureValueFailed(ctx) &&
        anotherKeyVerifiesSignedInfo(ctx, keys, skip))
        return Verdict::Verified;
    return Verdict::Invalid;
}

// What both embedded entry points check before any digest.
Verdict checkBeforeDigests(xmlDoc* doc, const xmlNode* element, xmlNode* signature) {
    if (!referenceCoversElement(doc, element, signature)) return Verdict::NotCovering;
    if (!inclusiveCanonicalFormBounded(doc, signature)) {
        CorvaneBase::setErrorMessage(kInclusiveTooLarge,
                                     static_cast<unsigned long>(kInclusiveCanonicalBound));
        return Verdict::Refused;
    }
    return Verdict::Verified;
}

// The signature value in base64 decoded, or false.
bool decodeBase64(const std::string& text, xmlSecBuffer* out) {
    if (text.find('\0') != std::string::npos || text.size() > XMLSEC_SIZE_MAX / 3) return false;
    if (xmlSecBufferSetMaxSize(out, static_cast<xmlSecSize>(text.size() / 4 * 3 + 3)) < 0)
        return false;
    xmlSecSize written = 0;
    if (xmlSecBase64Decode_ex(BAD_CAST text.c_str(), xmlSecBufferGetData(out),
                              xmlSecBufferGetMaxSize(out), &written) < 0)
        return false;
    return xmlSecBufferSetSize(out, written) >= 0;
}

}  // namespace

KeySet verificationKeys(const std::vector<KeyPtr>& keys) {
    KeySet copies;
    for (const KeyPtr& key : keys) {
        if (!key) continue;
        UniquePtr<xmlSecKey> copy(newKeyValueCopy(*key));
        if (copy && weakKeyReason(copy.get(), KeyStrength::AllowRsa1024).empty())
            copies.push_back(std::move(copy));
    }
    return copies;
}

Verdict verifyEmbeddedSignature(xmlDoc* doc, const xmlNode* element, xmlNode* signature,
                                const KeySet& keys) {
    const Verdict before = checkBeforeDigests(doc, element, signature);
    if (before != Verdict::Verified) return before;
    if (keys.empty()) return Verdict::Failed;
    const std::size_t first = firstSuitableKey(signature, keys);
    UniquePtr<xmlSecKeysMngr> manager(newChosenKeyManager());
    UniquePtr<xmlSecDSigCtx> ctx(
        newRestrictedVerificationContext(manager.get(), keys[first].get()));
    if (!ctx) return Verdict::Failed;
    return runVerification(ctx.get(), signature, keys, first);
}

Verdict verifyEmbeddedSignatureInContext(xmlSecDSigCtx* ctx, xmlDoc* doc, const xmlNode* element,
                                         xmlNode* signature) {
    const Verdict before = checkBeforeDigests(doc, element, signature);
    if (before != Verdict::Verified) return before;
    return runVerification(ctx, signature, KeySet(), 0);
}

Verdict verifyRedirectSignature(const std::string& signedOctets, const std::string& sigAlg,
                                const std::string& signatureBase64, const KeySet& keys) {
    const xmlSecTransformId method = sigAlg.find('\0') == std::string::npos
                                         ? allowedMethodNamed(BAD_CAST sigAlg.c_str())
                                         : xmlSecTransformIdUnknown;
    if (method == xmlSecTransformIdUnknown) {
        CorvaneBase::setErrorMessage(kSigAlgNotAllowed);
        return Verdict::Refused;
    }
    UniquePtr<xmlSecBuffer> octets(xmlSecBufferCreate(0));
    UniquePtr<xmlSecBuffer> value(xmlSecBufferCreate(0));
    if (!octets || !value || signedOctets.size() > XMLSEC_SIZE_MAX ||
        xmlSecBufferSetData(octets.get(), reinterpret_cast<const xmlSecByte*>(signedOctets.data()),
                            static_cast<xmlSecSize>(signedOctets.size())) < 0 ||
        !decodeBase64(signatureBase64, value.get()))
        return Verdict::Invalid;
    for (const UniquePtr<xmlSecKey>& key : keys) {
        if (signatureValueVerifies(method, octets.get(), value.get(), key.get()))
            return Verdict::Verified;
    }
    return Verdict::Invalid;
}

unsigned long referencePassesSoFar() { return referencePasses.load(std::memory_order_relaxed); }

unsigned long rootReferencesReadAsWholeDocumentSoFar() {
    return rootReferencesAsWholeDocument.load(std::memory_order_relaxed);
}

}  // namespace internal
}  // namespace corvane
