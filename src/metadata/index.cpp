// Reading the verified metadata tree into the index the lookups use: one
// walk over the root's EntitiesDescriptors and EntityDescriptors, each
// entity's IdP role read once into plain values, the tree freed after.
// Only what lies within the verified root is read.
#include <cstring>

#include "Corvane.h"
#include "frame/escape.h"
#include "metadata/metadata_internal.h"
#include "xml/namespaces.h"
#include "xml/time.h"
#include "xml/tree.h"

namespace corvane {
namespace internal {

namespace {

const char kNoEntityId[] = "IdP metadata has an EntityDescriptor without entityID";
const char kRepeatedEntity[] = "IdP metadata contains the entity ID \"%s\" more than once";
const char kTooManyEntities[] = "IdP metadata holds more than %zu entities";
const char kBadValidUntil[] = "IdP metadata validUntil \"%s\" is not a time stamp";
const char kBadCacheDuration[] = "IdP metadata cacheDuration \"%s\" is not a duration";
const char kNoValidUntil[] = "IdP metadata has no validUntil, which the options require";
const char kExpired[] = "IdP metadata expired: validUntil %s has passed";
const char kTooFarAhead[] = "IdP metadata validUntil %s lies more than %lld seconds ahead";
const char kCertificateHoldsMarkup[] = "IdP metadata X509Certificate holds markup";

const int kUnusable = -8;
const int kProfileRefused = -10;

// The validity that applies to an element: the earliest validUntil and
// the shortest cacheDuration of it and its ancestors; -1 for none.
struct Validity {
    long long validUntil = -1;
    long long cacheDurationSeconds = -1;
};

// The message format with its one "%s" replaced by the value, escaped.
std::string messageQuoting(const char* format, const std::string& value) {
    std::string message = format;
    const std::string::size_type at = message.find("%s");
    return message.replace(at, 2, escapedForMessage(value));
}

long long earliest(long long inherited, long long own) {
    if (inherited < 0) return own;
    if (own < 0) return inherited;
    return own < inherited ? own : inherited;
}

// The element's own validUntil and cacheDuration applied to inherited;
// false with *problem set when either cannot be read.
bool readValidity(const xmlNode* element, const Validity& inherited, Validity* validity,
                  std::string* problem) {
    *validity = inherited;
    std::string text;
    if (attributeValue(element, "validUntil", &text)) {
        long long instant = 0;
        bool fractional = false;
        if (!parseDateTime(text, &instant, &fractional)) {
            *problem = messageQuoting(kBadValidUntil, text);
            return false;
        }
        validity->validUntil = earliest(inherited.validUntil, instant);
    }
    if (attributeValue(element, "cacheDuration", &text)) {
        long long seconds = 0;
        if (!parseDuration(text, &seconds)) {
            *problem = messageQuoting(kBadCacheDuration, text);
            return false;
        }
        validity->cacheDurationSeconds = earliest(inherited.cacheDurationSeconds, seconds);
    }
    return true;
}

bool isXmlSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string withoutSurroundingSpace(const std::string& text) {
    std::string::size_type begin = 0;
    std::string::size_type end = text.size();
    while (begin < end && isXmlSpace(text[begin])) ++begin;
    while (end > begin && isXmlSpace(text[end - 1])) --end;
    return text.substr(begin, end - begin);
}

// The whitespace-separated list names the token.
bool listNames(const std::string& list, const char* token) {
    const std::string::size_type length = std::strlen(token);
    std::string::size_type at = 0;
    while ((at = list.find(token, at)) != std::string::npos) {
        const bool startsItem = at == 0 || isXmlSpace(list[at - 1]);
        const bool endsItem = at + length == list.size() || isXmlSpace(list[at + length]);
        if (startsItem && endsItem) return true;
        at += length;
    }
    return false;
}

bool isSaml2IdpRole(const xmlNode* node) {
    std::string protocols;
    return isElement(node, kSamlMetadataNs, "IDPSSODescriptor") &&
           attributeValue(node, "protocolSupportEnumeration", &protocols) &&
           listNames(protocols, kSamlProtocolNs);
}

std::vector<IdpEndpoint> endpoints(xmlNode* role, const char* name) {
    std::vector<IdpEndpoint> found;
    for (xmlNode* element : childElements(role, kSamlMetadataNs, name)) {
        IdpEndpoint endpoint;
        attributeValue(element, "Binding", &endpoint.binding);
        attributeValue(element, "Location", &endpoint.location);
        attributeValue(element, "ResponseLocation", &endpoint.responseLocation);
        found.push_back(endpoint);
    }
    return found;
}

// The texts of KeyInfo/X509Data/X509Certificate in a KeyDescriptor; false
// when one holds markup.
bool keyDescriptorCertificates(xmlNode* keyDescriptor, std::vector<std::string>* certificates) {
    xmlNode* keyInfo = firstChildElement(keyDescriptor, kDsigNs, "KeyInfo");
    for (xmlNode* data : childElements(keyInfo, kDsigNs, "X509Data")) {
        for (xmlNode* certificate : childElements(data, kDsigNs, "X509Certificate")) {
            std::string text;
            if (!fullCharacterContent(certificate, &text)) return false;
            certificates->push_back(text);
        }
    }
    return true;
}

// The KeyDescriptors of the role: use="signing", "encryption", or both
// without use. False after *problem was set.
bool readKeyDescriptors(xmlNode* role, IdpRecord* idp, std::string* problem) {
    for (xmlNode* keyDescriptor : childElements(role, kSamlMetadataNs, "KeyDescriptor")) {
        std::string use;
        const bool anyUse = !attributeValue(keyDescriptor, "use", &use);
        std::vector<std::string> certificates;
        if (!keyDescriptorCertificates(keyDescriptor, &certificates)) {
            *problem = kCertificateHoldsMarkup;
            return false;
        }
        if (anyUse || use == "signing") {
            idp->signingCertificates.insert(idp->signingCertificates.end(), certificates.begin(),
                                            certificates.end());
        }
        if (anyUse || use == "encryption") {
            std::vector<std::string> methods;
            for (xmlNode* method :
                 childElements(keyDescriptor, kSamlMetadataNs, "EncryptionMethod")) {
                std::string algorithm;
                if (attributeValue(method, "Algorithm", &algorithm)) methods.push_back(algorithm);
            }
            for (const std::string& certificate : certificates)
                idp->encryptionCertificates.push_back({certificate, methods});
        }
    }
    return true;
}

bool readIdpRole(xmlNode* role, IdpRecord* idp, std::string* problem) {
    std::string wants;
    idp->wantAuthnRequestsSigned = attributeValue(role, "WantAuthnRequestsSigned", &wants) &&
                                   (wants == "true" || wants == "1");
    idp->singleSignOnServices = endpoints(role, "SingleSignOnService");
    idp->singleLogoutServices = endpoints(role, "SingleLogoutService");
    for (xmlNode* format : childElements(role, kSamlMetadataNs, "NameIDFormat")) {
        std::string text;
        if (fullCharacterContent(format, &text))
            idp->nameIdFormats.push_back(withoutSurroundingSpace(text));
    }
    return readKeyDescriptors(role, idp, problem);
}

// The entity's record: its ID, its validity, and its IdP role when it has
// exactly one for SAML 2.0. A problem of the entity alone is kept in the
// record and reported when the entity is looked up.
EntityRecord readEntity(xmlNode* entity, const Validity& validity, const std::string& entityId) {
    EntityRecord record;
    record.entityId = entityId;
    record.validUntil = validity.validUntil;
    record.cacheDurationSeconds = validity.cacheDurationSeconds;
    for (xmlNode* child = entity->children; child != nullptr; child = child->next) {
        if (isSaml2IdpRole(child)) {
            ++record.idpRoles;
            Validity roleValidity;
            if (record.idpRoles == 1 &&
                readValidity(child, validity, &roleValidity, &record.problem) &&
                readIdpRole(child, &record.idp, &record.problem)) {
                record.validUntil = roleValidity.validUntil;
                record.cacheDurationSeconds = roleValidity.cacheDurationSeconds;
            }
        }
    }
    return record;
}

// The root's validity within what the options require at now.
int checkDocumentValidity(const xmlNode* root, const IdpMetadataOptions& options, long long now) {
    std::string text;
    if (!attributeValue(root, "validUntil", &text)) {
        if (!options.requireValidUntil) return 0;
        CorvaneBase::setErrorMessage(kNoValidUntil);
        return kProfileRefused;
    }
    long long validUntil = 0;
    bool fractional = false;
    parseDateTime(text, &validUntil, &fractional);  // read before, in readValidity
    if (validUntil <= now) {
        CorvaneBase::setErrorMessage(kExpired, escapedForMessage(text).c_str());
        return kProfileRefused;
    }
    if (options.maxValidityAheadSeconds > 0 && validUntil - now > options.maxValidityAheadSeconds) {
        CorvaneBase::setErrorMessage(kTooFarAhead, escapedForMessage(text).c_str(),
                                     options.maxValidityAheadSeconds);
        return kProfileRefused;
    }
    return 0;
}

// Where the walk stands: an element still to read and the validity its
// ancestors give it.
struct Pending {
    xmlNode* element;
    Validity inherited;
};

// The EntitiesDescriptor's entity and group children, last first, so that
// they are taken from the stack in document order.
void pushGroupChildren(xmlNode* group, const Validity& validity, std::vector<Pending>* stack) {
    std::vector<xmlNode*> children;
    for (xmlNode* child = group->children; child != nullptr; child = child->next) {
        if (isElement(child, kSamlMetadataNs, "EntityDescriptor") ||
            isElement(child, kSamlMetadataNs, "EntitiesDescriptor"))
            children.push_back(child);
    }
    for (auto it = children.rbegin(); it != children.rend(); ++it)
        stack->push_back({*it, validity});
}

// Adds the entity's record to the index; 0, or -8 or -10 after one message.
int addEntity(xmlNode* entity, const Validity& validity, const IdpMetadataOptions& options,
              IdpMetadata::Impl* index) {
    std::string entityId;
    if (!attributeValue(entity, "entityID", &entityId) || entityId.empty()) {
        CorvaneBase::setErrorMessage(kNoEntityId);
        return kUnusable;
    }
    if (index->entities.size() >= options.maxEntities) {
        CorvaneBase::setErrorMessage(kTooManyEntities, options.maxEntities);
        return kUnusable;
    }
    if (!index->entityIndex.emplace(entityId, index->entities.size()).second) {
        CorvaneBase::setErrorMessage(kRepeatedEntity, escapedForMessage(entityId).c_str());
        return kProfileRefused;
    }
    index->entities.push_back(readEntity(entity, validity, entityId));
    if (index->entities.back().idpRoles > 0) index->idpEntityIds.push_back(entityId);
    return 0;
}

}  // namespace

int indexEntities(xmlNode* root, const IdpMetadataOptions& options, long long now,
                  IdpMetadata::Impl* index) {
    std::vector<Pending> stack{{root, Validity()}};
    while (!stack.empty()) {
        const Pending next = stack.back();
        stack.pop_back();
        Validity validity;
        std::string problem;
        const bool entity = isElement(next.element, kSamlMetadataNs, "EntityDescriptor");
        if (!readValidity(next.element, next.inherited, &validity, &problem)) {
            // An entity's own unreadable validity refuses that entity alone;
            // the root's, or a group's, the document.
            if (!entity || next.element == root) {
                CorvaneBase::setErrorMessage("%s", problem.c_str());
                return kUnusable;
            }
            validity = next.inherited;
        }
        if (next.element == root) {
            index->validUntil = validity.validUntil;
            index->cacheDurationSeconds = validity.cacheDurationSeconds;
            const int status = checkDocumentValidity(root, options, now);
            if (status != 0) return status;
        }
        if (!entity) {
            pushGroupChildren(next.element, validity, &stack);
            continue;
        }
        const int status = addEntity(next.element, validity, options, index);
        if (status != 0) return status;
        if (!problem.empty() && index->entities.back().problem.empty())
            index->entities.back().problem = problem;
    }
    return 0;
}

}  // namespace internal
}  // namespace corvane
