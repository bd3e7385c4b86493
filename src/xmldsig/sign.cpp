// Signing a serialized document that carries an empty XML Signature
// template, with a private key given as PEM text.
#include <xmlsec/keys.h>
#include <xmlsec/xmltree.h>

#include "Corvane.h"
#include "frame/assertions.h"
#include "frame/handles.h"
#include "xml/diagnostics.h"
#include "xml/parse.h"
#include "xmldsig/signature_layer.h"

namespace corvane {

namespace {
const char kNotWellFormed[] = "Resulting XML document is not well-formed";
const char kNoTemplate[] = "Can not find digital signature placeholder in resulting XML document";
const char kCannotSign[] = "Can not digitally sign resulting XML document";
const char kCannotSerialize[] = "Can not serialize resulting XML document";
const char kNoSigningContext[] = "Can not create signing context";
const char kSpKeyNotLoaded[] = "Can not load SP private key and certificate";
const char kSpKeyName[] = "SP private key + cert";
// libxml2's reports during signing (c14n) and serialization are errors.
const int kDiagnosticLevel = 1;

// libxml2's serialization of the whole document, or false.
bool serializeDocument(xmlDoc* doc, std::string* out) {
    xmlChar* raw = nullptr;
    int size = 0;
    xmlDocDumpMemory(doc, &raw, &size);
    internal::XmlCharPtr buffer(raw);
    if (!buffer) return false;
    out->assign(reinterpret_cast<const char*>(buffer.get()), static_cast<std::size_t>(size));
    return true;
}

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
    if (ctx->signKey == nullptr || xmlSecKeySetName(ctx->signKey, BAD_CAST kSpKeyName) < 0) {
        CorvaneBase::setErrorMessage(kSpKeyNotLoaded);
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
    boost::shared_ptr<xmlDoc> doc(internal::parseXmlSafely(*documentText), myXmlFreeDoc);
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
    boost::shared_ptr<xmlSecDSigCtx> ctx(getSigningContext(spKeyAndCert), myXmlSecDSigCtxDestroy);
    if (!ctx) return -8;
    const internal::LibxmlDiagnosticsToLog diagnostics(kDiagnosticLevel);
    if (xmlSecDSigCtxSign(ctx.get(), signature) < 0) {
        CorvaneBase::setErrorMessage(kCannotSign);
        return -8;
    }
    std::string signedText;
    if (!serializeDocument(doc.get(), &signedText)) {
        CorvaneBase::setErrorMessage(kCannotSerialize);
        return -8;
    }
    ctx.reset();
    doc.reset();
    documentText->swap(signedText);
    return 0;
}

}  // namespace corvane
