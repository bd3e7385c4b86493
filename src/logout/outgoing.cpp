// Logout messages the SP sends: the LogoutRequest for a verified login and
// the LogoutResponse to the IdP's request, built once with libxml2's tree
// in schema order, signed through the one signer (enveloped for HTTP-POST,
// over the query for HTTP-Redirect) and put into their binding.
#include <functional>
#include <initializer_list>

#include "Corvane.h"
#include "corvane/logout.h"
#include "corvane/request.h"
#include "frame/call_scope.h"
#include "frame/handles.h"
#include "frame/messages.h"
#include "logout/logout_internal.h"
#include "saml/bindings.h"
#include "saml/standard.h"
#include "xml/build.h"
#include "xml/namespaces.h"
#include "xml/tree.h"
#include "xmldsig/signer.h"

namespace corvane {

namespace {

using internal::LogoutKind;

const char kEmpty[] = "%s %s is empty";
const char kNotXmlText[] = "%s %s holds characters that XML can not carry";
const char kInvalidInResponseTo[] = "LogoutResponse InResponseTo is not an xs:NCName";
const char kCannotBuild[] = "Can not build %s document";

const char kStatusSuccess[] = "urn:oasis:names:tc:SAML:2.0:status:Success";
const char kStatusRequester[] = "urn:oasis:names:tc:SAML:2.0:status:Requester";
const char kStatusResponder[] = "urn:oasis:names:tc:SAML:2.0:status:Responder";

// The bindings carry at most 80 bytes of RelayState.
const std::string::size_type kRelayStateLimit = 80;

const int kOk = 0;
const int kUnusable = toInt(Status::Unusable);
const int kBadOptions = toInt(Status::BadOptions);

// A text the message carries, by the name the messages give it.
struct Text {
    const char* name;
    const std::string& value;
    bool required;
};

// Every required text is there and every text is one XML can carry; the
// first that is not is named.
int textsUsable(const char* what, std::initializer_list<Text> texts) {
    for (const Text& text : texts) {
        if (text.required && text.value.empty()) {
            CorvaneBase::setErrorMessage(kEmpty, what, text.name);
            return kBadOptions;
        }
        if (!internal::isXmlText(text.value)) {
            CorvaneBase::setErrorMessage(kNotXmlText, what, text.name);
            return kBadOptions;
        }
    }
    return kOk;
}

// The key can sign, and holds the certificate KeyInfo asks for.
int keyUsable(const Key& key, bool includeKeyInfo) {
    if (!key.hasPrivateKey()) {
        CorvaneBase::setErrorMessage(internal::kMessageNoPrivateKey);
        return kUnusable;
    }
    if (includeKeyInfo && !key.hasCertificate()) {
        CorvaneBase::setErrorMessage(internal::kMessageNoCertificateForKeyInfo);
        return kUnusable;
    }
    return kOk;
}

// The binding's own limits, checked before an ID is drawn.
int relayStateUsable(const std::string& relayState) {
    if (relayState.size() <= kRelayStateLimit) return kOk;
    CorvaneBase::setErrorMessage(internal::kMessageRelayStateTooLong);
    return kBadOptions;
}

// A document whose root is samlp:<element> with the samlp and saml
// prefixes declared, ID (registered for the signature's Reference),
// Version, IssueInstant and Destination, and saml:Issuer as its first
// child. Null when libxml2 could not build it.
struct Message {
    internal::XmlDocPtr doc;
    xmlNode* root = nullptr;
    xmlNs* samlp = nullptr;
    xmlNs* saml = nullptr;
};

bool startMessage(Message* m, const char* element, const std::string& id,
                  const std::string& instant, const std::string& destination,
                  const std::string* inResponseTo, const std::string& issuer) {
    m->doc.reset(xmlNewDoc(BAD_CAST "1.0"));
    m->root = m->doc ? xmlNewDocNode(m->doc.get(), nullptr, BAD_CAST element, nullptr) : nullptr;
    if (m->root == nullptr) return false;
    xmlDocSetRootElement(m->doc.get(), m->root);
    m->samlp = xmlNewNs(m->root, BAD_CAST internal::kSamlProtocolNs, BAD_CAST "samlp");
    m->saml = xmlNewNs(m->root, BAD_CAST internal::kSamlAssertionNs, BAD_CAST "saml");
    if (m->samlp == nullptr || m->saml == nullptr) return false;
    xmlSetNs(m->root, m->samlp);
    bool ok = internal::addAttribute(m->root, "ID", id);
    if (ok && inResponseTo != nullptr)
        ok = internal::addAttribute(m->root, "InResponseTo", *inResponseTo);
    ok = ok && internal::addAttribute(m->root, "Version", "2.0") &&
         internal::addAttribute(m->root, "IssueInstant", instant) &&
         internal::addAttribute(m->root, "Destination", destination);
    xmlAttr* idAttr = ok ? xmlHasProp(m->root, BAD_CAST "ID") : nullptr;
    return idAttr != nullptr &&
           xmlAddID(nullptr, m->doc.get(), BAD_CAST id.c_str(), idAttr) != nullptr &&
           internal::addTextElement(m->root, m->saml, "Issuer", issuer) != nullptr;
}

// The enveloped signature template after saml:Issuer, for HTTP-POST.
bool signatureTemplateWhenPosted(Message* m, LogoutBinding binding, const std::string& id,
                                 bool useSha1, bool includeKeyInfo, const Key& key) {
    return binding != LogoutBinding::HttpPost ||
           internal::addSignatureTemplate(m->root, id, useSha1, includeKeyInfo, key);
}

// saml:NameID with the login's Format and qualifiers (each when it has
// one), then its samlp:SessionIndex (when it has one).
bool addSubject(Message* m, const VerifiedLogin& login) {
    xmlNode* nameId = internal::addTextElement(m->root, m->saml, "NameID", login.nameId);
    const struct {
        const char* name;
        const std::string& value;
    } attributes[] = {{"Format", login.nameIdFormat},
                      {"NameQualifier", login.nameQualifier},
                      {"SPNameQualifier", login.spNameQualifier}};
    bool ok = nameId != nullptr;
    for (const auto& attribute : attributes)
        if (ok && !attribute.value.empty())
            ok = internal::addAttribute(nameId, attribute.name, attribute.value);
    return ok && (login.sessionIndex.empty() ||
                  internal::addTextElement(m->root, m->samlp, "SessionIndex", login.sessionIndex));
}

const char* statusCodeOf(LogoutAnswer answer) {
    switch (answer) {
        case LogoutAnswer::Success:
            break;
        case LogoutAnswer::Requester:
            return kStatusRequester;
        case LogoutAnswer::Responder:
            return kStatusResponder;
    }
    return kStatusSuccess;
}

bool addStatus(Message* m, const LogoutResponseOptions& o) {
    xmlNode* status = internal::addElement(m->root, m->samlp, "Status");
    xmlNode* code = internal::addElement(status, m->samlp, "StatusCode");
    return internal::addAttribute(code, "Value", statusCodeOf(o.answer)) &&
           (o.statusMessage.empty() ||
            internal::addTextElement(status, m->samlp, "StatusMessage", o.statusMessage));
}

// What a built message needs to be sent: signed (POST), serialized, and
// put into its binding, whose parameter kind names.
int sent(Message* m, const LogoutKind& kind, const std::string& id, LogoutBinding binding,
         const std::string& destination, const std::string& relayState, const Key& key,
         bool useSha1, OutgoingLogoutMessage* out) {
    if (binding == LogoutBinding::HttpPost) {
        xmlNode* signature = internal::firstChildElement(m->root, internal::kDsigNs, "Signature");
        const int status = internal::signTemplateWithKey(signature, key);
        if (status != kOk) return status;
    }
    OutgoingLogoutMessage message;
    if (!internal::serializeXml(m->doc.get(), &message.xml)) {
        CorvaneBase::setErrorMessage(internal::kMessageCannotSerialize);
        return kUnusable;
    }
    int status = kOk;
    if (binding == LogoutBinding::HttpPost) {
        status = internal::postFormPage(kind.parameter, destination, message.xml, relayState,
                                        &message.formPage);
    } else {
        status = internal::encodeRedirectMessage(kind.parameter, message.xml, relayState, &key,
                                                 useSha1, &message.query);
        message.url = redirectUrl(destination, message.query);
    }
    if (status != kOk) return status;
    message.id = id;
    *out = message;
    return kOk;
}

// What both messages share: their kind, where they go, who sends them,
// what they answer and how they are signed.
struct Envelope {
    const LogoutKind& kind;
    const std::string& destination;
    const std::string& issuer;
    const std::string& givenId;
    const std::string* inResponseTo;
    bool useSha1;
    bool includeKeyInfo;
};

// The message of e with the body addBody writes after the signature,
// signed and bound; the binding's and the key's limits checked before the
// ID is drawn.
int made(OutgoingLogoutMessage* out, const Envelope& e, LogoutBinding binding,
         const std::string& relayState, const Key& key,
         const std::function<bool(Message*)>& addBody) {
    int status = relayStateUsable(relayState);
    if (status == kOk) status = keyUsable(key, e.includeKeyInfo);
    std::string instant, id;
    if (status == kOk)
        status = internal::issueInstantAndId(e.kind.element, e.givenId, &instant, &id);
    if (status != kOk) return status;
    Message m;
    if (!startMessage(&m, e.kind.element, id, instant, e.destination, e.inResponseTo, e.issuer) ||
        !signatureTemplateWhenPosted(&m, binding, id, e.useSha1, e.includeKeyInfo, key) ||
        !addBody(&m)) {
        CorvaneBase::setErrorMessage(kCannotBuild, e.kind.element);
        return kUnusable;
    }
    return sent(&m, e.kind, id, binding, e.destination, relayState, key, e.useSha1, out);
}

int buildLogoutRequest(OutgoingLogoutMessage* out, const LogoutRequestOptions& o,
                       const VerifiedLogin& login, LogoutBinding binding,
                       const std::string& relayState, const Key& key) {
    const Envelope e{internal::kLogoutRequestKind,
                     o.destination,
                     o.issuer,
                     o.requestId,
                     nullptr,
                     o.useSha1,
                     o.includeKeyInfo};
    const int status =
        textsUsable(e.kind.element, {{"Destination", o.destination, true},
                                     {"Issuer", o.issuer, true},
                                     {"NameID", login.nameId, true},
                                     {"NameID Format", login.nameIdFormat, false},
                                     {"NameQualifier", login.nameQualifier, false},
                                     {"SPNameQualifier", login.spNameQualifier, false},
                                     {"SessionIndex", login.sessionIndex, false}});
    if (status != kOk) return status;
    return made(out, e, binding, relayState, key, [&](Message* m) { return addSubject(m, login); });
}

int buildLogoutResponse(OutgoingLogoutMessage* out, const LogoutResponseOptions& o,
                        LogoutBinding binding, const std::string& relayState, const Key& key) {
    const Envelope e{internal::kLogoutResponseKind,
                     o.destination,
                     o.issuer,
                     o.responseId,
                     &o.inResponseTo,
                     o.useSha1,
                     o.includeKeyInfo};
    const int status = textsUsable(e.kind.element, {{"Destination", o.destination, true},
                                                    {"Issuer", o.issuer, true},
                                                    {"InResponseTo", o.inResponseTo, true},
                                                    {"StatusMessage", o.statusMessage, false}});
    if (status != kOk) return status;
    if (xmlValidateNCName(BAD_CAST o.inResponseTo.c_str(), 0) != 0) {
        CorvaneBase::setErrorMessage(kInvalidInResponseTo);
        return kBadOptions;
    }
    return made(out, e, binding, relayState, key, [&](Message* m) { return addStatus(m, o); });
}

}  // namespace

Result<OutgoingLogoutMessage> createLogoutRequest(const LogoutRequestOptions& options,
                                                  const VerifiedLogin& login, LogoutBinding binding,
                                                  const std::string& relayState, const Key& spKey) {
    return internal::runCall<OutgoingLogoutMessage>([&](OutgoingLogoutMessage* out) {
        return buildLogoutRequest(out, options, login, binding, relayState, spKey);
    });
}

Result<OutgoingLogoutMessage> createLogoutResponse(const LogoutResponseOptions& options,
                                                   LogoutBinding binding,
                                                   const std::string& relayState,
                                                   const Key& spKey) {
    return internal::runCall<OutgoingLogoutMessage>([&](OutgoingLogoutMessage* out) {
        return buildLogoutResponse(out, options, binding, relayState, spKey);
    });
}

}  // namespace corvane
