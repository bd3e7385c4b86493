// SP metadata: the md:EntityDescriptor a host hands to its IdP, built
// with libxml2's tree in schema order and serialized once.
#include <xmlsec/strings.h>

#include "corvane/metadata.h"
#include "corvane/request.h"
#include "Corvane.h"
#include "xml/namespaces.h"
#include "frame/call_scope.h"
#include "frame/assertions.h"
#include "frame/handles.h"
#include "xml/build.h"

namespace corvane {

namespace {

const char kMissingEntityId[] = "Metadata entityID is empty";
const char kEntityIdTooLong[] = "Metadata entityID is longer than 1024 characters";
const char kMissingAcsUrl[] = "Metadata AssertionConsumerService Location is empty";
const char kNotXmlText[] = "Metadata %s holds characters that XML can not carry";
const char kNoCertificate[] = "SP key holds no certificate for metadata";
const char kNoEncryptionCertificate[] = "SP encryption key holds no certificate for metadata";

// The encryption methods the SP offers, in its order of preference: the
// data algorithms and key transports its login decrypts, AES-GCM first
// (CBC is accepted from IdPs but never offered).
const char* const kOfferedEncryptionMethods[] = {
    "http://www.w3.org/2009/xmlenc11#aes256-gcm",
    "http://www.w3.org/2009/xmlenc11#aes128-gcm",
    "http://www.w3.org/2009/xmlenc11#rsa-oaep",
    "http://www.w3.org/2001/04/xmlenc#rsa-oaep-mgf1p",
};
const char kCannotBuild[] = "Can not build metadata document";
const char kCannotSerialize[] = "Can not serialize metadata document";

// The metadata schema limits entityID to 1024 characters.
const long kEntityIdLimit = 1024;

const int kOk = 0;
const int kUnusable = -8;
const int kBadOptions = -9;

long characterCount(const std::string& utf8) { return xmlUTF8Strlen(BAD_CAST utf8.c_str()); }

bool textsAreXml(const SpMetadataOptions& o) {
    const struct {
        const char* name;
        const std::string& value;
    } texts[] = {{"entityID", o.entityId},
                 {"AssertionConsumerService Location", o.acsUrl},
                 {"SingleLogoutService Location", o.singleLogoutUrl},
                 {"NameIDFormat", o.nameIdFormat}};
    for (const auto& text : texts) {
        if (internal::isXmlText(text.value)) continue;
        CorvaneBase::setErrorMessage(kNotXmlText, text.name);
        return false;
    }
    return true;
}

int checkOptions(const SpMetadataOptions& o, const Key& key) {
    if (o.entityId.empty()) {
        CorvaneBase::setErrorMessage(kMissingEntityId);
        return kBadOptions;
    }
    if (o.acsUrl.empty()) {
        CorvaneBase::setErrorMessage(kMissingAcsUrl);
        return kBadOptions;
    }
    if (!textsAreXml(o)) return kBadOptions;
    if (characterCount(o.entityId) > kEntityIdLimit) {
        CorvaneBase::setErrorMessage(kEntityIdTooLong);
        return kBadOptions;
    }
    if (!key.hasCertificate()) {
        CorvaneBase::setErrorMessage(kNoCertificate);
        return kUnusable;
    }
    if (o.encryptionCertificate && !o.encryptionCertificate->hasCertificate()) {
        CorvaneBase::setErrorMessage(kNoEncryptionCertificate);
        return kUnusable;
    }
    return kOk;
}

const char* boolText(bool value) { return value ? "true" : "false"; }

// md:KeyDescriptor with the use given and ds:KeyInfo/ds:X509Data/
// ds:X509Certificate, the ds namespace declared on KeyInfo.
xmlNode* addKeyDescriptor(xmlNode* descriptor, xmlNs* md, const char* use, const Key& key) {
    xmlNode* keyDescriptor = internal::addElement(descriptor, md, "KeyDescriptor");
    if (!internal::addAttribute(keyDescriptor, "use", use)) return nullptr;
    xmlNode* keyInfo = internal::addElement(keyDescriptor, nullptr, "KeyInfo");
    xmlNs* ds = keyInfo ? xmlNewNs(keyInfo, xmlSecDSigNs, BAD_CAST "ds") : nullptr;
    if (ds == nullptr) return nullptr;
    xmlSetNs(keyInfo, ds);
    xmlNode* x509Data = internal::addElement(keyInfo, ds, "X509Data");
    if (!internal::addTextElement(x509Data, ds, "X509Certificate", key.certificateBase64()))
        return nullptr;
    return keyDescriptor;
}

// The encryption KeyDescriptor, when the options give a certificate for
// it, with an md:EncryptionMethod for each offered algorithm.
bool addEncryptionKeyDescriptor(xmlNode* descriptor, xmlNs* md, const SpMetadataOptions& o) {
    if (!o.encryptionCertificate) return true;
    xmlNode* keyDescriptor =
        addKeyDescriptor(descriptor, md, "encryption", *o.encryptionCertificate);
    if (keyDescriptor == nullptr) return false;
    for (const char* algorithm : kOfferedEncryptionMethods) {
        xmlNode* method = internal::addElement(keyDescriptor, md, "EncryptionMethod");
        if (!internal::addAttribute(method, "Algorithm", algorithm)) return false;
    }
    return true;
}

bool addAssertionConsumerService(xmlNode* descriptor, xmlNs* md, const std::string& acsUrl) {
    xmlNode* acs = internal::addElement(descriptor, md, "AssertionConsumerService");
    return internal::addAttribute(acs, "Binding", kBindingHttpPost) &&
           internal::addAttribute(acs, "Location", acsUrl) &&
           internal::addAttribute(acs, "index", "0") &&
           internal::addAttribute(acs, "isDefault", "true");
}

// One md:SingleLogoutService per logout binding at the same Location, the
// Redirect binding first (the one IdPs pick first for the browser).
bool addSingleLogoutServices(xmlNode* descriptor, xmlNs* md, const std::string& url) {
    if (url.empty()) return true;
    for (const char* binding : {kBindingHttpRedirect, kBindingHttpPost}) {
        xmlNode* service = internal::addElement(descriptor, md, "SingleLogoutService");
        if (!internal::addAttribute(service, "Binding", binding) ||
            !internal::addAttribute(service, "Location", url)) {
            return false;
        }
    }
    return true;
}

// md:SPSSODescriptor with its children in schema order: KeyDescriptor,
// SingleLogoutService, NameIDFormat, AssertionConsumerService.
bool addSpSsoDescriptor(xmlNode* entity, xmlNs* md, const SpMetadataOptions& o, const Key& key) {
    xmlNode* descriptor = internal::addElement(entity, md, "SPSSODescriptor");
    const bool ok = internal::addAttribute(descriptor, "AuthnRequestsSigned",
                                           boolText(o.authnRequestsSigned)) &&
                    internal::addAttribute(descriptor, "WantAssertionsSigned",
                                           boolText(o.wantAssertionsSigned)) &&
                    internal::addAttribute(descriptor, "protocolSupportEnumeration",
                                           internal::kSamlProtocolNs) &&
                    addKeyDescriptor(descriptor, md, "signing", key) != nullptr &&
                    addEncryptionKeyDescriptor(descriptor, md, o) &&
                    addSingleLogoutServices(descriptor, md, o.singleLogoutUrl);
    if (!ok) return false;
    if (!o.nameIdFormat.empty() &&
        !internal::addTextElement(descriptor, md, "NameIDFormat", o.nameIdFormat)) {
        return false;
    }
    return addAssertionConsumerService(descriptor, md, o.acsUrl);
}

internal::XmlDocPtr buildMetadata(const SpMetadataOptions& o, const Key& key) {
    internal::XmlDocPtr doc(xmlNewDoc(BAD_CAST "1.0"));
    xmlNode* entity =
        doc ? xmlNewDocNode(doc.get(), nullptr, BAD_CAST "EntityDescriptor", nullptr) : nullptr;
    if (entity == nullptr) return nullptr;
    xmlDocSetRootElement(doc.get(), entity);
    xmlNs* md = xmlNewNs(entity, BAD_CAST internal::kSamlMetadataNs, BAD_CAST "md");
    if (md == nullptr) return nullptr;
    xmlSetNs(entity, md);
    if (!internal::addAttribute(entity, "entityID", o.entityId) ||
        !addSpSsoDescriptor(entity, md, o, key)) {
        return nullptr;
    }
    return doc;
}

int buildSpMetadata(std::string* metadata, const SpMetadataOptions& options, const Key& spKey) {
    const int status = checkOptions(options, spKey);
    if (status != kOk) return status;
    internal::XmlDocPtr doc = buildMetadata(options, spKey);
    if (!doc) {
        CorvaneBase::setErrorMessage(kCannotBuild);
        return kUnusable;
    }
    std::string text;
    if (!internal::serializeXml(doc.get(), &text)) {
        CorvaneBase::setErrorMessage(kCannotSerialize);
        return kUnusable;
    }
    metadata->swap(text);
    return kOk;
}

}  // namespace

Result<std::string> createSpMetadata(const SpMetadataOptions& options, const Key& spKey) {
    return internal::runCall<std::string>(
        [&](std::string* metadata) { return buildSpMetadata(metadata, options, spKey); });
}

}  // namespace corvane
