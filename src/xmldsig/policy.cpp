// What a verified signature may be: one Reference bound to the root
// element, and only the transforms and algorithms that IdPs use, enforced
// through xmlsec1's per-context allowlists before anything is computed.
#include <xmlsec/openssl/crypto.h>
#include <xmlsec/strings.h>
#include <xmlsec/transforms.h>
#include <xmlsec/xmltree.h>

#include "Corvane.h"
#include "frame/handles.h"
#include "xmldsig/signature_layer.h"

namespace corvane {
namespace internal {

namespace {

// Transforms a Reference may name, its digest included.
bool enableReferenceTransforms(xmlSecDSigCtx* ctx) {
    const xmlSecTransformId allowed[] = {
        xmlSecTransformEnvelopedId,
        xmlSecTransformExclC14NId,
        xmlSecTransformExclC14NWithCommentsId,
        xmlSecTransformInclC14NId,
        xmlSecTransformInclC14NWithCommentsId,
        xmlSecTransformInclC14N11Id,
        xmlSecTransformInclC14N11WithCommentsId,
        xmlSecOpenSSLTransformSha1Id,
        xmlSecOpenSSLTransformSha256Id,
        xmlSecOpenSSLTransformSha384Id,
        xmlSecOpenSSLTransformSha512Id,
    };
    for (xmlSecTransformId id : allowed) {
        if (xmlSecDSigCtxEnableReferenceTransform(ctx, id) < 0) return false;
    }
    return true;
}

// Canonicalization and signature methods SignedInfo may name.
bool enableSignatureTransforms(xmlSecDSigCtx* ctx) {
    const xmlSecTransformId canonicalizations[] = {
        xmlSecTransformExclC14NId,   xmlSecTransformExclC14NWithCommentsId,
        xmlSecTransformInclC14NId,   xmlSecTransformInclC14NWithCommentsId,
        xmlSecTransformInclC14N11Id, xmlSecTransformInclC14N11WithCommentsId,
    };
    for (xmlSecTransformId id : canonicalizations) {
        if (xmlSecDSigCtxEnableSignatureTransform(ctx, id) < 0) return false;
    }
    std::size_t count = 0;
    const xmlSecTransformId* methods = allowedSignatureMethods(&count);
    for (std::size_t i = 0; i < count; ++i) {
        if (xmlSecDSigCtxEnableSignatureTransform(ctx, methods[i]) < 0) return false;
    }
    return true;
}

bool isDsigElement(xmlNode* node, const xmlChar* name) {
    return node != nullptr && xmlSecCheckNodeName(node, name, xmlSecDSigNs);
}

// The single ds:Reference of the signature's SignedInfo, or null when
// SignedInfo is missing or holds none or several.
xmlNode* singleReference(xmlNode* signature) {
    xmlNode* signedInfo = xmlSecGetNextElementNode(signature->children);
    if (!isDsigElement(signedInfo, xmlSecNodeSignedInfo)) return nullptr;
    xmlNode* found = nullptr;
    for (xmlNode* child = xmlSecGetNextElementNode(signedInfo->children); child != nullptr;
         child = xmlSecGetNextElementNode(child->next)) {
        if (!isDsigElement(child, xmlSecNodeReference)) continue;
        if (found != nullptr) return nullptr;
        found = child;
    }
    return found;
}

// xmlsec1 resolves "#id" as the XPointer "xpointer(id('id'))": an ID that
// holds a quote could rewrite that expression. IdPs use NCNames, UUIDs
// (which may start with a digit) and the like.
bool isPlainIdValue(const xmlChar* id) {
    if (*id == '\0') return false;
    for (; *id != '\0'; ++id) {
        if (*id == '\'' || *id == '"' || *id < 0x20) return false;
    }
    return true;
}

// "#" followed by an ID that the document's ID table maps to an attribute
// of the element itself.
bool fragmentNamesElement(xmlDoc* doc, const xmlNode* element, const xmlChar* uri) {
    if (uri[0] != '#') return false;
    const xmlChar* id = uri + 1;
    if (!isPlainIdValue(id)) return false;
    xmlAttr* attr = xmlGetID(doc, id);
    return attr != nullptr && attr->parent == element;
}

}  // namespace

const xmlSecTransformId* allowedSignatureMethods(std::size_t* size) {
    // xmlsec1's transform ids are addresses of its static klasses, known
    // only at run time, so the list is built on first use.
    static const xmlSecTransformId methods[] = {
        xmlSecOpenSSLTransformRsaSha1Id,     xmlSecOpenSSLTransformRsaSha256Id,
        xmlSecOpenSSLTransformRsaSha384Id,   xmlSecOpenSSLTransformRsaSha512Id,
        xmlSecOpenSSLTransformEcdsaSha1Id,   xmlSecOpenSSLTransformEcdsaSha256Id,
        xmlSecOpenSSLTransformEcdsaSha384Id, xmlSecOpenSSLTransformEcdsaSha512Id,
    };
    *size = sizeof methods / sizeof methods[0];
    return methods;
}

namespace {

bool algorithmIs(xmlNode* node, const xmlChar* href) {
    XmlCharPtr algorithm(xmlGetNoNsProp(node, BAD_CAST "Algorithm"));
    return algorithm && xmlStrEqual(algorithm.get(), href);
}

}  // namespace

bool signatureUsesSha1(xmlNode* signature) {
    xmlNode* signedInfo = xmlSecFindChild(signature, xmlSecNodeSignedInfo, xmlSecDSigNs);
    if (signedInfo == nullptr) return false;
    for (xmlNode* child = signedInfo->children; child != nullptr; child = child->next) {
        if (child->type != XML_ELEMENT_NODE) continue;
        if (xmlSecCheckNodeName(child, xmlSecNodeSignatureMethod, xmlSecDSigNs) &&
            (algorithmIs(child, xmlSecHrefRsaSha1) || algorithmIs(child, xmlSecHrefEcdsaSha1)))
            return true;
        xmlNode* digest = xmlSecCheckNodeName(child, xmlSecNodeReference, xmlSecDSigNs)
                              ? xmlSecFindChild(child, xmlSecNodeDigestMethod, xmlSecDSigNs)
                              : nullptr;
        if (digest != nullptr && algorithmIs(digest, xmlSecHrefSha1)) return true;
    }
    return false;
}

bool restrictToAllowedAlgorithms(xmlSecDSigCtx* ctx) {
    ctx->flags |= XMLSEC_DSIG_FLAGS_IGNORE_MANIFESTS;
    ctx->enabledReferenceUris = static_cast<xmlSecTransformUriType>(
        xmlSecTransformUriTypeEmpty | xmlSecTransformUriTypeSameDocument);
    return enableReferenceTransforms(ctx) && enableSignatureTransforms(ctx);
}

bool referenceCoversElement(xmlDoc* doc, const xmlNode* element, xmlNode* signature) {
    xmlNode* reference = singleReference(signature);
    if (reference == nullptr) return false;
    XmlCharPtr uri(xmlGetNoNsProp(reference, BAD_CAST "URI"));
    if (!uri) return false;
    return uri.get()[0] == '\0' || fragmentNamesElement(doc, element, uri.get());
}

namespace {

// xmlsec1's getKey for a context of newRestrictedVerificationContext: a
// copy of the key the caller chose (keyInfoCtx->userData); the document's
// KeyInfo is never read. xmlsec1 then matches the key against what the
// signature method requires: its kind (RSA, EC) and its usage stay
// required; whether it is public or private is no longer asked, because an
// RSA or EC key always holds its public half, and the question makes
// OpenSSL export the key's numbers on every verification.
xmlSecKey* chosenKey(xmlNode*, xmlSecKeyInfoCtx* keyInfoCtx) {
    keyInfoCtx->keyReq.keyType = xmlSecKeyDataTypeUnknown;
    return newKeyValueCopy(static_cast<xmlSecKey*>(keyInfoCtx->userData));
}

}  // namespace

xmlSecKeysMngr* newChosenKeyManager() {
    xmlSecKeysMngr* manager = xmlSecKeysMngrCreate();
    if (manager != nullptr) manager->getKey = chosenKey;
    return manager;
}

xmlSecDSigCtx* newRestrictedVerificationContext(xmlSecKeysMngr* manager, xmlSecKey* key) {
    if (manager == nullptr || manager->getKey != chosenKey || key == nullptr) return nullptr;
    UniquePtr<xmlSecDSigCtx> ctx(xmlSecDSigCtxCreate(manager));
    if (!ctx) return nullptr;
    ctx->keyInfoReadCtx.userData = key;
    if (!restrictToAllowedAlgorithms(ctx.get())) return nullptr;
    return ctx.release();
}

}  // namespace internal
}  // namespace corvane
