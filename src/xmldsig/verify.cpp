// Verifying the XML Signature inside a serialized document against a
// certificate given as PEM text.
#include <xmlsec/keys.h>
#include <xmlsec/transforms.h>
#include <xmlsec/xmltree.h>

#include "Corvane.h"
#include "frame/messages.h"
#include "xml/parse.h"
#include "xmldsig/key_strength.h"
#include "xmldsig/signature_layer.h"
#include "xmldsig/verifier.h"

namespace corvane {

namespace {
const char kNoSignature[] = "Can not find digital signature of SAML token";
const char kCannotVerify[] = "Can not verify digital signature of SAML token";
const char kNoVerificationContext[] = "Can not create signature verification context";
const char kRootIdNotRegistered[] =
    "Can not register ID attribute of saml:Response - signature verification most probably will "
    "fails";
const char kIdpKeyName[] = "IdP public key";

// The documented statuses of a verdict: 0 valid, 1 processed and not
// valid, -8 after a message for anything else.
int documentedStatus(internal::Verdict verdict) {
    switch (verdict) {
        case internal::Verdict::Verified:
            return 0;
        case internal::Verdict::Invalid:
            return 1;
        case internal::Verdict::Refused:
            return -8;
        case internal::Verdict::NotCovering:
        case internal::Verdict::Failed:
            break;
    }
    CorvaneBase::setErrorMessage(kCannotVerify);
    return -8;
}
}  // namespace

void myXmlFreeDoc(xmlDoc* doc) {
    if (doc) xmlFreeDoc(doc);
}

void myXmlSecDSigCtxDestroy(xmlSecDSigCtx* ctx) {
    if (ctx) xmlSecDSigCtxDestroy(ctx);
}

bool registerRootAttrID(xmlDoc* doc) {
    xmlNode* root = xmlDocGetRootElement(doc);
    for (xmlAttr* attr = root->properties; attr != nullptr; attr = attr->next) {
        if (!xmlStrEqual(attr->name, BAD_CAST "ID")) continue;
        internal::XmlCharPtr value(xmlNodeListGetString(doc, attr->children, 1));
        return xmlAddID(nullptr, doc, value.get(), attr) != nullptr;
    }
    return false;
}

xmlSecDSigCtx* getSignatureVerificationContext(const std::string& idpKey) {
    xmlSecDSigCtx* ctx = xmlSecDSigCtxCreate(nullptr);
    if (ctx == nullptr) {
        CorvaneBase::setErrorMessage(kNoVerificationContext);
        return nullptr;
    }
    ctx->signKey = internal::loadKeyFromPem(idpKey, xmlSecKeyDataFormatCertPem);
    if (ctx->signKey == nullptr || xmlSecKeySetName(ctx->signKey, BAD_CAST kIdpKeyName) < 0 ||
        !internal::keyReachesFloorOrLogged(ctx->signKey, kIdpKeyName)) {
        CorvaneBase::setErrorMessage(internal::kMessageIdpKeyNotLoaded);
        xmlSecDSigCtxDestroy(ctx);
        return nullptr;
    }
    if (!internal::restrictToAllowedAlgorithms(ctx)) {
        CorvaneBase::setErrorMessage(kNoVerificationContext);
        xmlSecDSigCtxDestroy(ctx);
        return nullptr;
    }
    return ctx;
}

namespace internal {

int verifyDocumentSignature(xmlDoc* doc, const std::string& idpKey, xmlNode** verified) {
    xmlNode* root = doc ? xmlDocGetRootElement(doc) : nullptr;
    if (root == nullptr) {
        CorvaneBase::setErrorMessage(internal::kMessageNotWellFormed);
        return -8;
    }
    xmlNode* signature = xmlSecFindNode(root, xmlSecNodeSignature, xmlSecDSigNs);
    if (signature == nullptr) {
        CorvaneBase::setErrorMessage(kNoSignature);
        return -8;
    }
    if (verified) *verified = signature;
    UniquePtr<xmlSecDSigCtx> ctx(getSignatureVerificationContext(idpKey));
    if (!ctx) return -8;
    if (!registerRootAttrID(doc)) CorvaneBase::writeToLog(2, kRootIdNotRegistered);
    // The Reference is checked before xmlsec1 resolves it, so no other
    // element and no XPointer expression is ever what gets verified.
    return documentedStatus(verifyEmbeddedSignatureInContext(ctx.get(), doc, root, signature));
}

}  // namespace internal

int verifySignature(const std::string& xml, const std::string& idpKey) {
    internal::XmlDocPtr doc(internal::parseXmlSafely(xml));
    return internal::verifyDocumentSignature(doc.get(), idpKey, nullptr);
}

}  // namespace corvane
