// The one signer: templates filled in by xmlsec1 with a key from PEM text
// (the documented signDocument) or a loaded Key, and Redirect-query
// signatures over octets by xmlsec1's signature transform.
#include <xmlsec/keys.h>
#include <xmlsec/membuf.h>
#include <xmlsec/openssl/crypto.h>
#include <xmlsec/strings.h>
#include <xmlsec/xmltree.h>

#include "Corvane.h"
#include "frame/assertions.h"
#include "frame/messages.h"
#include "frame/handles.h"
#include "xml/build.h"
#include "xml/diagnostics.h"
#include "xml/parse.h"
#include "xmldsig/key_strength.h"
#include "xmldsig/signature_layer.h"
#include "xmldsig/signer.h"

namespace corvane {

namespace {
const char kNotWellFormed[] = "Resulting XML document is not well-formed";
const char kNoTemplate[] = "Can not find digital signature placeholder in resulting XML document";
const char kCannotSign[] = "Can not digitally sign resulting XML document";
const char kNoSigningContext[] = "Can not create signing context";
const char kSpKeyName[] = "SP private key + cert";
// libxml2's reports during signing (c14n) and serialization are errors.
const int kDiagnosticLevel = 1;
const char kSpKeyRole[] = "SP private key";

}  // namespace

xmlSecDSigCtx* getSigningContext(const std::string& spKeyAndCert) {
    xmlSecDSigCtx* ctx = xmlSecDSigCtxCreate(nullptr);
    if (ctx == nullptr) {
        CorvaneBase::setErrorMessage(kNoSigningContext);
        return nullptr;
    }
    CorvaneBase::writeToLog(3, "Private cert: %s",
                            internal::withPrivateKeysWithheld(spKeyAndCert).c_str());
    ctx->signKey = internal::loadKeyFromPem(spKeyAndCert, xmlSecKeyDataFormatPem);
    if (ctx->signKey == nullptr || xmlSecKeySetName(ctx->signKey, BAD_CAST kSpKeyName) < 0 ||
        !internal::keyReachesFloorOrLogged(ctx->signKey, kSpKeyRole)) {
        CorvaneBase::setErrorMessage(internal::kMessageSpKeyNotLoaded);
        xmlSecDSigCtxDestroy(ctx);
        return nullptr;
    }
    // The template is the caller's text: its References may name only this
    // document, never a file or a network resource, and use only the
    // algorithms verification accepts.
    if (!internal::restrictToAllowedAlgorithms(ctx)) {
        CorvaneBase::setErrorMessage(kNoSigningContext);
        xmlSecDSigCtxDestroy(ctx);
        return nullptr;
    }
    return ctx;
}

int signDocument(std::string* documentText, const std::string& spKeyAndCert) {
    CORVANE_ASSERT(documentText);
    internal::XmlDocPtr doc(internal::parseXmlSafely(*documentText));
    xmlNode* root = doc ? xmlDocGetRootElement(doc.get()) : nullptr;
    if (root == nullptr) {
        CorvaneBase::setErrorMessage(kNotWellFormed);
        return -8;
    }
    xmlNode* signature = xmlSecFindNode(root, xmlSecNodeSignature, xmlSecDSigNs);
    if (signature == nullptr) {
        CorvaneBase::setErrorMessage(kNoTemplate);
        return -8;
    }
    internal::UniquePtr<xmlSecDSigCtx> ctx(getSigningContext(spKeyAndCert));
    if (!ctx) return -8;
    // Serialization reports go to the log as well as the signing's own.
    const internal::LibxmlDiagnosticsToLog diagnostics(kDiagnosticLevel);
    if (internal::fillSignatureTemplate(ctx.get(), signature) != 0) return -8;
    std::string signedText;
    if (!internal::escapeNamespaceNamesForSerialization(doc.get()) ||
        !internal::serializeXmlAsDeclared(doc.get(), &signedText)) {
        CorvaneBase::setErrorMessage(internal::kMessageCannotSerialize);
        return -8;
    }
    ctx.reset();
    doc.reset();
    documentText->swap(signedText);
    return 0;
}

namespace internal {

SignatureAlgorithm rsaSignatureAlgorithm(bool useSha1) {
    if (useSha1) {
        return SignatureAlgorithm{xmlSecOpenSSLTransformRsaSha1Id, xmlSecOpenSSLTransformSha1Id,
                                  reinterpret_cast<const char*>(xmlSecHrefRsaSha1)};
    }
    return SignatureAlgorithm{xmlSecOpenSSLTransformRsaSha256Id, xmlSecOpenSSLTransformSha256Id,
                              reinterpret_cast<const char*>(xmlSecHrefRsaSha256)};
}

int fillSignatureTemplate(xmlSecDSigCtx* ctx, xmlNode* signature) {
    const LibxmlDiagnosticsToLog diagnostics(kDiagnosticLevel);
    if (signature == nullptr || xmlSecDSigCtxSign(ctx, signature) < 0) {
        CorvaneBase::setErrorMessage(kCannotSign);
        return -8;
    }
    return 0;
}

int signTemplateWithKey(xmlNode* signature, const Key& key) {
    UniquePtr<xmlSecDSigCtx> ctx(xmlSecDSigCtxCreate(nullptr));
    if (ctx) ctx->signKey = newKeyValueCopy(key);
    if (!ctx || ctx->signKey == nullptr || !restrictToAllowedAlgorithms(ctx.get())) {
        CorvaneBase::setErrorMessage(kNoSigningContext);
        return -8;
    }
    return fillSignatureTemplate(ctx.get(), signature);
}

bool signOctets(const std::string& octets, const Key& key, const SignatureAlgorithm& algorithm,
                std::string* signature) {
    if (octets.size() > XMLSEC_SIZE_MAX) return false;
    UniquePtr<xmlSecKey> copy(newKeyValueCopy(key));
    UniquePtr<xmlSecTransformCtx> ctx(xmlSecTransformCtxCreate());
    xmlSecTransform* transform =
        ctx ? xmlSecTransformCtxCreateAndAppend(ctx.get(), algorithm.signatureMethod) : nullptr;
    if (!copy || transform == nullptr) return false;
    transform->operation = xmlSecTransformOperationSign;
    if (xmlSecTransformSetKey(transform, copy.get()) < 0 ||
        xmlSecTransformCtxBinaryExecute(ctx.get(),
                                        reinterpret_cast<const xmlSecByte*>(octets.data()),
                                        static_cast<xmlSecSize>(octets.size())) < 0 ||
        ctx->result == nullptr || xmlSecBufferGetSize(ctx->result) == 0)
        return false;
    signature->assign(reinterpret_cast<const char*>(xmlSecBufferGetData(ctx->result)),
                      xmlSecBufferGetSize(ctx->result));
    return true;
}

}  // namespace internal
}  // namespace corvane
