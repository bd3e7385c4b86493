// The standard samlp:AuthnRequest: options checked, the tree built once
// with libxml2 in schema order, signed in place with a loaded key, and
// serialized once.
#include <cstdio>
#include <ctime>

#include <openssl/rand.h>
#include <xmlsec/keys.h>
#include <xmlsec/templates.h>
#include <xmlsec/transforms.h>
#include <xmlsec/xmltree.h>

#include "corvane/request.h"
#include "Corvane.h"
#include "frame/call_scope.h"
#include "frame/messages.h"
#include "frame/assertions.h"
#include "frame/handles.h"
#include "saml/standard.h"
#include "xml/build.h"
#include "xml/namespaces.h"
#include "xmldsig/signer.h"

namespace corvane {

namespace {

const char kMissingDestination[] = "AuthnRequest Destination is empty";
const char kMissingIssuer[] = "AuthnRequest Issuer is empty";
const char kNotXmlText[] = "AuthnRequest %s holds characters that XML can not carry";
const char kEmptyClassRef[] = "AuthnRequest AuthnContextClassRef is empty";
const char kBadComparison[] = "AuthnRequest Comparison must be exact, minimum, maximum or better";
const char kInvalidId[] = "%s ID is not a valid xs:ID";
const char kNoRandom[] = "Can not draw random bytes for the %s ID";
const char kCannotBuild[] = "Can not build AuthnRequest document";

const char* const kComparisons[] = {"exact", "minimum", "maximum", "better"};

const int kOk = 0;
const int kUnusable = -8;
const int kBadOptions = -9;

// --- Options --------------------------------------------------------------

bool isKnownComparison(const std::string& comparison) {
    for (const char* known : kComparisons)
        if (comparison == known) return true;
    return false;
}

// Each text the request carries is one XML can hold; the first that is
// not is named in the message.
bool textsAreXml(const StandardRequestOptions& o) {
    const struct {
        const char* name;
        const std::string& value;
    } texts[] = {{"Destination", o.destination},
                 {"Issuer", o.issuer},
                 {"AssertionConsumerServiceURL", o.acsUrl},
                 {"ProtocolBinding", o.protocolBinding},
                 {"NameIDPolicy Format", o.nameIdFormat}};
    for (const auto& text : texts) {
        if (internal::isXmlText(text.value)) continue;
        CorvaneBase::setErrorMessage(kNotXmlText, text.name);
        return false;
    }
    for (const std::string& ref : o.authnContextClassRefs) {
        if (internal::isXmlText(ref)) continue;
        CorvaneBase::setErrorMessage(kNotXmlText, "AuthnContextClassRef");
        return false;
    }
    return true;
}

bool requestedAuthnContextIsUsable(const StandardRequestOptions& o) {
    if (o.authnContextClassRefs.empty()) return true;
    for (const std::string& ref : o.authnContextClassRefs) {
        if (ref.empty()) {
            CorvaneBase::setErrorMessage(kEmptyClassRef);
            return false;
        }
    }
    if (!isKnownComparison(o.authnContextComparison)) {
        CorvaneBase::setErrorMessage(kBadComparison);
        return false;
    }
    return true;
}

int checkOptions(const StandardRequestOptions& o) {
    if (o.destination.empty()) {
        CorvaneBase::setErrorMessage(kMissingDestination);
        return kBadOptions;
    }
    if (o.issuer.empty()) {
        CorvaneBase::setErrorMessage(kMissingIssuer);
        return kBadOptions;
    }
    if (!textsAreXml(o) || !requestedAuthnContextIsUsable(o)) return kBadOptions;
    return kOk;
}

int checkSigningKey(const StandardRequestOptions& o, const Key& key) {
    if (!key.hasPrivateKey()) {
        CorvaneBase::setErrorMessage(internal::kMessageNoPrivateKey);
        return kUnusable;
    }
    if (o.includeKeyInfo && !key.hasCertificate()) {
        CorvaneBase::setErrorMessage(internal::kMessageNoCertificateForKeyInfo);
        return kUnusable;
    }
    return kOk;
}

// --- The tree -------------------------------------------------------------

bool addRequestAttributes(xmlNode* root, const StandardRequestOptions& o, const std::string& id,
                          const std::string& instant) {
    bool ok = internal::addAttribute(root, "ID", id) &&
              internal::addAttribute(root, "Version", "2.0") &&
              internal::addAttribute(root, "IssueInstant", instant) &&
              internal::addAttribute(root, "Destination", o.destination);
    if (ok && o.forceAuthn) ok = internal::addAttribute(root, "ForceAuthn", "true");
    if (ok && o.isPassive) ok = internal::addAttribute(root, "IsPassive", "true");
    if (ok && !o.protocolBinding.empty())
        ok = internal::addAttribute(root, "ProtocolBinding", o.protocolBinding);
    if (ok && !o.acsUrl.empty())
        ok = internal::addAttribute(root, "AssertionConsumerServiceURL", o.acsUrl);
    // The Reference "#" + ID finds the root through the document's ID table.
    xmlAttr* idAttr = ok ? xmlHasProp(root, BAD_CAST "ID") : nullptr;
    return idAttr != nullptr &&
           xmlAddID(nullptr, root->doc, BAD_CAST id.c_str(), idAttr) != nullptr;
}

// ds:KeyInfo/ds:X509Data/ds:X509Certificate written from the loaded
// certificate; xmlsec leaves it as it is, since the per-use key copy holds
// no X.509 data.
bool addKeyInfo(xmlNode* signature, const Key& key) {
    xmlNode* keyInfo = xmlSecTmplSignatureEnsureKeyInfo(signature, nullptr);
    xmlNode* x509Data = keyInfo ? xmlSecTmplKeyInfoAddX509Data(keyInfo) : nullptr;
    return internal::addTextElement(x509Data, signature->ns, "X509Certificate",
                                    key.certificateBase64()) != nullptr;
}

bool addNameIdPolicy(xmlNode* root, xmlNs* samlp, const StandardRequestOptions& o) {
    xmlNode* policy = internal::addElement(root, samlp, "NameIDPolicy");
    if (!o.nameIdFormat.empty() && !internal::addAttribute(policy, "Format", o.nameIdFormat))
        return false;
    return internal::addAttribute(policy, "AllowCreate", o.allowCreate ? "true" : "false");
}

bool addRequestedAuthnContext(xmlNode* root, xmlNs* samlp, xmlNs* saml,
                              const StandardRequestOptions& o) {
    if (o.authnContextClassRefs.empty()) return true;
    xmlNode* context = internal::addElement(root, samlp, "RequestedAuthnContext");
    if (!internal::addAttribute(context, "Comparison", o.authnContextComparison)) return false;
    for (const std::string& ref : o.authnContextClassRefs) {
        if (!internal::addTextElement(context, saml, "AuthnContextClassRef", ref)) return false;
    }
    return true;
}

// The whole request in schema order: saml:Issuer, ds:Signature (when a
// signer is given), samlp:NameIDPolicy, samlp:RequestedAuthnContext.
// Null when libxml2 or xmlsec could not build a part.
internal::XmlDocPtr buildRequest(const StandardRequestOptions& o, const std::string& id,
                                 const std::string& instant, const Key* signer) {
    internal::XmlDocPtr doc(xmlNewDoc(BAD_CAST "1.0"));
    xmlNode* root =
        doc ? xmlNewDocNode(doc.get(), nullptr, BAD_CAST "AuthnRequest", nullptr) : nullptr;
    if (root == nullptr) return nullptr;
    xmlDocSetRootElement(doc.get(), root);
    xmlNs* samlp = xmlNewNs(root, BAD_CAST internal::kSamlProtocolNs, BAD_CAST "samlp");
    xmlNs* saml = xmlNewNs(root, BAD_CAST internal::kSamlAssertionNs, BAD_CAST "saml");
    if (samlp == nullptr || saml == nullptr) return nullptr;
    xmlSetNs(root, samlp);
    const bool ok =
        addRequestAttributes(root, o, id, instant) &&
        internal::addTextElement(root, saml, "Issuer", o.issuer) != nullptr &&
        (signer == nullptr ||
         internal::addSignatureTemplate(root, id, o.useSha1, o.includeKeyInfo, *signer)) &&
        addNameIdPolicy(root, samlp, o) && addRequestedAuthnContext(root, samlp, saml, o);
    if (!ok) return nullptr;
    return doc;
}

// --- Signing and the result -----------------------------------------------

// The template sits right under the root (addSignatureTemplate).
int signRequest(xmlDoc* doc, const Key& key) {
    xmlNode* signature =
        xmlSecFindChild(xmlDocGetRootElement(doc), xmlSecNodeSignature, xmlSecDSigNs);
    return internal::signTemplateWithKey(signature, key);
}

}  // namespace

namespace internal {

int issueInstantAndId(const char* what, const std::string& givenId, std::string* instant,
                      std::string* id) {
    // time() fails with -1, also where a 32-bit time_t has run out (2038).
    const std::time_t now = std::time(nullptr);
    if (now != static_cast<std::time_t>(-1)) *instant = corvane::utcDateTime(now);
    if (instant->empty()) {
        CorvaneBase::setErrorMessage(internal::kMessageNoClock);
        return kUnusable;
    }
    *id = givenId.empty() ? internal::freshRequestId() : givenId;
    if (id->empty()) {
        CorvaneBase::setErrorMessage(kNoRandom, what);
        return kUnusable;
    }
    if (!internal::isXmlText(*id) || xmlValidateNCName(BAD_CAST id->c_str(), 0) != 0) {
        CorvaneBase::setErrorMessage(kInvalidId, what);
        return kBadOptions;
    }
    return kOk;
}

bool addSignatureTemplate(xmlNode* root, const std::string& id, bool useSha1, bool includeKeyInfo,
                          const Key& key) {
    const internal::SignatureAlgorithm algorithm = internal::rsaSignatureAlgorithm(useSha1);
    xmlNode* signature = xmlSecTmplSignatureCreateNsPref(
        root->doc, xmlSecTransformExclC14NId, algorithm.signatureMethod, nullptr, BAD_CAST "ds");
    if (signature == nullptr) return false;
    if (xmlAddChild(root, signature) == nullptr) {
        xmlFreeNode(signature);
        return false;
    }
    const std::string uri = "#" + id;
    xmlNode* reference = xmlSecTmplSignatureAddReference(signature, algorithm.digestMethod, nullptr,
                                                         BAD_CAST uri.c_str(), nullptr);
    const bool ok = reference != nullptr &&
                    xmlSecTmplReferenceAddTransform(reference, xmlSecTransformEnvelopedId) &&
                    xmlSecTmplReferenceAddTransform(reference, xmlSecTransformExclC14NId);
    return ok && (!includeKeyInfo || addKeyInfo(signature, key));
}

std::string freshRequestId() {
    const int kRandomBytes = 16;
    unsigned char bytes[kRandomBytes];
    if (RAND_bytes(bytes, kRandomBytes) != 1) return std::string();
    static const char kHex[] = "0123456789abcdef";
    std::string id = "_";
    for (const unsigned char byte : bytes) {
        id += kHex[byte >> 4];
        id += kHex[byte & 0x0f];
    }
    return id;
}

int createRequest(AuthnRequest* request, const StandardRequestOptions& o, const Key* signer) {
    CORVANE_ASSERT(request);
    int status = checkOptions(o);
    if (status == kOk && signer != nullptr) status = checkSigningKey(o, *signer);
    std::string instant, id;
    if (status == kOk)
        status = internal::issueInstantAndId("AuthnRequest", o.requestId, &instant, &id);
    if (status != kOk) return status;
    internal::XmlDocPtr doc = buildRequest(o, id, instant, signer);
    if (!doc) {
        CorvaneBase::setErrorMessage(kCannotBuild);
        return kUnusable;
    }
    if (signer != nullptr && (status = signRequest(doc.get(), *signer)) != kOk) return status;
    std::string text;
    if (!internal::serializeXml(doc.get(), &text)) {
        CorvaneBase::setErrorMessage(internal::kMessageCannotSerialize);
        return kUnusable;
    }
    request->xml.swap(text);
    request->id.swap(id);
    return kOk;
}

}  // namespace internal

std::string utcDateTime(std::time_t instant) {
    std::tm fields;
    if (gmtime_r(&instant, &fields) == nullptr) return std::string();
    const long year = static_cast<long>(fields.tm_year) + 1900;
    if (year < 1 || year > 9999) return std::string();
    // Room for any int fields, so the compiler can see nothing is cut;
    // gmtime_r keeps them in range anyway.
    char text[64];
    std::snprintf(text, sizeof text, "%04ld-%02d-%02dT%02d:%02d:%02dZ", year, fields.tm_mon + 1,
                  fields.tm_mday, fields.tm_hour, fields.tm_min, fields.tm_sec);
    return text;
}

Result<AuthnRequest> createSignedAuthnRequest(const StandardRequestOptions& options,
                                              const Key& spKey) {
    return internal::runCall<AuthnRequest>(
        [&](AuthnRequest* request) { return internal::createRequest(request, options, &spKey); });
}

Result<AuthnRequest> createUnsignedAuthnRequest(const StandardRequestOptions& options) {
    return internal::runCall<AuthnRequest>(
        [&](AuthnRequest* request) { return internal::createRequest(request, options, nullptr); });
}

}  // namespace corvane
