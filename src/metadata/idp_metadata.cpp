// IdP metadata in, verified: the one parse, screening and verification of
// a metadata document, its index, and the lookups that hand out one IdP's
// settings, loaded and ready for a login or a request.
#include <ctime>

#include "Corvane.h"
#include "frame/call_scope.h"
#include "frame/escape.h"
#include "frame/handles.h"
#include "metadata/metadata_internal.h"
#include "xml/limits.h"
#include "xml/namespaces.h"
#include "xml/parse.h"
#include "xml/screening.h"
#include "xml/time.h"
#include "xml/tree.h"
#include "xmldsig/signature_layer.h"

namespace corvane {

namespace {

const char kIncomplete[] =
    "IdP metadata options are incomplete: give a pinned signer key, or trust unsigned metadata";
const char kBothTrusts[] =
    "IdP metadata options are not usable: pinned signer keys and trustUnsignedMetadata exclude "
    "each other";
const char kNullKey[] = "IdP metadata options are not usable: a signer key is null";
const char kNegativeBound[] =
    "IdP metadata options are not usable: maxValidityAheadSeconds is negative";
const char kNotWellFormed[] = "IdP metadata is not well-formed XML";
const char kNotMetadata[] =
    "SAML metadata is neither an md:EntityDescriptor nor an md:EntitiesDescriptor";
const char kNoEntity[] = "IdP metadata holds no entity \"%s\"";
const char kNoIdpRole[] = "IdP metadata entity \"%s\" has no IDPSSODescriptor for SAML 2.0";
const char kSeveralIdpRoles[] =
    "IdP metadata entity \"%s\" has more than one IDPSSODescriptor for SAML 2.0";
const char kEntityExpired[] = "IdP metadata entity \"%s\" expired: validUntil %s has passed";
const char kNoSigningKey[] = "IdP metadata entity \"%s\" has no signing certificate";
const char kEntityUnusable[] = "IdP metadata entity \"%s\": %s";
const char kNoIdp[] = "IdP metadata holds no IdP";
const char kSeveralIdps[] = "IdP metadata holds %zu IdPs: name the entity ID of one";
const char kNoTarget[] = "IdP settings have nowhere to go: the target is null";

const int kUnusable = -8;
const int kBadOptions = -9;
const int kProfileRefused = -10;

int checkOptions(const IdpMetadataOptions& options) {
    const char* problem = nullptr;
    if (options.signerKeys.empty() && !options.trustUnsignedMetadata) {
        problem = kIncomplete;
    } else if (!options.signerKeys.empty() && options.trustUnsignedMetadata) {
        problem = kBothTrusts;
    } else if (options.maxValidityAheadSeconds < 0) {
        problem = kNegativeBound;
    }
    for (const KeyPtr& key : options.signerKeys) {
        if (!problem && !key) problem = kNullKey;
    }
    if (problem == nullptr) return 0;
    CorvaneBase::setErrorMessage("%s", problem);
    return kBadOptions;
}

long long nowOf(long long given) {
    return internal::clampToReadableInstants(
        given >= 0 ? given : static_cast<long long>(std::time(nullptr)));
}

bool isMetadataRoot(const xmlNode* root) {
    return internal::isElement(root, internal::kSamlMetadataNs, "EntityDescriptor") ||
           internal::isElement(root, internal::kSamlMetadataNs, "EntitiesDescriptor");
}

// The whole load, with a status; *metadata written only on success. The
// tree is read only once it is verified, and freed before returning.
int loadMetadata(IdpMetadataPtr* metadata, const std::string& xml,
                 const IdpMetadataOptions& options) {
    int status = checkOptions(options);
    if (status != 0) return status;
    if (!internal::messageWithinSizeLimit(xml, options.maxMetadataBytes)) {
        return toInt(Status::TooLarge);
    }
    internal::ScreenedText screened;
    if (!internal::screenText(xml, internal::kMetadataScreening, &screened)) return kUnusable;
    internal::XmlDocPtr doc(internal::parseScreenedXml(screened));
    xmlNode* root = doc ? xmlDocGetRootElement(doc.get()) : nullptr;
    if (root == nullptr) {
        CorvaneBase::setErrorMessage(kNotWellFormed);
        return kUnusable;
    }
    if (!isMetadataRoot(root)) {
        CorvaneBase::setErrorMessage(kNotMetadata);
        return kUnusable;
    }
    status = internal::verifyMetadataRoot(doc.get(), options);
    if (status != 0) return status;
    std::unique_ptr<IdpMetadata::Impl> index(new IdpMetadata::Impl());
    status = internal::indexEntities(root, options, nowOf(options.now), index.get());
    if (status != 0) return status;
    index->now = options.now;
    index->keyStrength = options.keyStrength;
    *metadata = internal::IdpMetadataAccess::make(std::move(index));
    return 0;
}

std::string escaped(const std::string& value) { return internal::escapedForMessage(value); }

// The certificate loaded, or null after one message naming the entity and
// the loader's reason.
KeyPtr loadEntityCertificate(const std::string& entityId, const std::string& base64Der,
                             KeyStrength strength) {
    std::string reason;
    KeyPtr key;
    {
        internal::CallScope loading;  // catches the loader's own message
        key = internal::loadCertificateFromBase64(base64Der, strength);
        if (!key) reason = loading.result(kUnusable).message();
    }
    if (!key) {
        CorvaneBase::setErrorMessage(kEntityUnusable, escaped(entityId).c_str(), reason.c_str());
    }
    return key;
}

// The entity's record is one usable IdP at now; 0, or a status after one
// message.
int checkIdpRecord(const EntityRecord& record, long long now) {
    const std::string id = escaped(record.entityId);
    if (!record.problem.empty()) {
        CorvaneBase::setErrorMessage(kEntityUnusable, id.c_str(), record.problem.c_str());
        return kUnusable;
    }
    if (record.idpRoles == 0) {
        CorvaneBase::setErrorMessage(kNoIdpRole, id.c_str());
        return kProfileRefused;
    }
    if (record.idpRoles > 1) {
        CorvaneBase::setErrorMessage(kSeveralIdpRoles, id.c_str());
        return kProfileRefused;
    }
    if (record.validUntil >= 0 && record.validUntil <= now) {
        CorvaneBase::setErrorMessage(
            kEntityExpired, id.c_str(),
            utcDateTime(static_cast<std::time_t>(record.validUntil)).c_str());
        return kProfileRefused;
    }
    if (record.idp.signingCertificates.empty()) {
        CorvaneBase::setErrorMessage(kNoSigningKey, id.c_str());
        return kProfileRefused;
    }
    return 0;
}

// The IdP's settings with its certificates loaded; 0, or -8 after one
// message.
int describeIdp(IdpDescriptor* idp, const EntityRecord& record, KeyStrength strength) {
    IdpDescriptor described;
    described.entityId = record.entityId;
    described.singleSignOnServices = record.idp.singleSignOnServices;
    described.singleLogoutServices = record.idp.singleLogoutServices;
    described.nameIdFormats = record.idp.nameIdFormats;
    described.wantAuthnRequestsSigned = record.idp.wantAuthnRequestsSigned;
    described.validUntil = record.validUntil;
    described.cacheDurationSeconds = record.cacheDurationSeconds;
    for (const std::string& certificate : record.idp.signingCertificates) {
        KeyPtr key = loadEntityCertificate(record.entityId, certificate, strength);
        if (!key) return kUnusable;
        described.signingKeys.push_back(key);
    }
    for (const IdpRecord::EncryptionCertificate& certificate : record.idp.encryptionCertificates) {
        KeyPtr key = loadEntityCertificate(record.entityId, certificate.base64Der, strength);
        if (!key) return kUnusable;
        described.encryptionCertificates.push_back({key, certificate.encryptionMethods});
    }
    *idp = std::move(described);
    return 0;
}

int lookUpIdp(IdpDescriptor* idp, const IdpMetadata::Impl& index, const std::string& entityId) {
    const auto found = index.entityIndex.find(entityId);
    if (found == index.entityIndex.end()) {
        CorvaneBase::setErrorMessage(kNoEntity, escaped(entityId).c_str());
        return kBadOptions;
    }
    const EntityRecord& record = index.entities[found->second];
    const int status = checkIdpRecord(record, nowOf(index.now));
    if (status != 0) return status;
    {
        std::lock_guard<std::mutex> lock(index.describedLock);
        const auto described = index.described.find(found->second);
        if (described != index.described.end()) {
            *idp = described->second;
            return 0;
        }
    }
    IdpDescriptor loaded;
    const int loadStatus = describeIdp(&loaded, record, index.keyStrength);
    if (loadStatus != 0) return loadStatus;
    std::lock_guard<std::mutex> lock(index.describedLock);
    *idp = index.described.emplace(found->second, std::move(loaded)).first->second;
    return 0;
}

// The entity ID asked for, or the document's only IdP for an empty one;
// false after one message.
bool chosenEntity(const IdpMetadata::Impl& index, const std::string& asked, std::string* chosen) {
    if (!asked.empty()) {
        *chosen = asked;
        return true;
    }
    if (index.idpEntityIds.size() == 1) {
        *chosen = index.idpEntityIds.front();
        return true;
    }
    if (index.idpEntityIds.empty()) {
        CorvaneBase::setErrorMessage(kNoIdp);
    } else {
        CorvaneBase::setErrorMessage(kSeveralIdps, index.idpEntityIds.size());
    }
    return false;
}

}  // namespace

IdpMetadata::IdpMetadata(std::unique_ptr<Impl> impl) : m_impl(std::move(impl)) {}
IdpMetadata::~IdpMetadata() {}

const std::vector<std::string>& IdpMetadata::idpEntityIds() const { return m_impl->idpEntityIds; }
std::size_t IdpMetadata::entityCount() const { return m_impl->entities.size(); }
long long IdpMetadata::validUntil() const { return m_impl->validUntil; }
long long IdpMetadata::cacheDurationSeconds() const { return m_impl->cacheDurationSeconds; }

Result<IdpDescriptor> IdpMetadata::idp(const std::string& entityId) const {
    return internal::runCall<IdpDescriptor>(
        [&](IdpDescriptor* idp) { return lookUpIdp(idp, *m_impl, entityId); });
}

Result<IdpMetadataPtr> loadIdpMetadata(const std::string& metadataXml,
                                       const IdpMetadataOptions& options) {
    return internal::runCall<IdpMetadataPtr>(
        [&](IdpMetadataPtr* metadata) { return loadMetadata(metadata, metadataXml, options); });
}

Result<IdpDescriptor> loadIdpDescriptor(const std::string& metadataXml,
                                        const IdpMetadataOptions& options,
                                        const std::string& entityId) {
    return internal::runCall<IdpDescriptor>([&](IdpDescriptor* idp) {
        IdpMetadataPtr metadata;
        int status = loadMetadata(&metadata, metadataXml, options);
        if (status != 0) return status;
        const IdpMetadata::Impl& index = internal::IdpMetadataAccess::impl(*metadata);
        std::string chosen;
        if (!chosenEntity(index, entityId, &chosen)) return kBadOptions;
        return lookUpIdp(idp, index, chosen);
    });
}

const IdpEndpoint* findEndpoint(const std::vector<IdpEndpoint>& endpoints,
                                const std::string& binding) {
    for (const IdpEndpoint& endpoint : endpoints) {
        if (endpoint.binding == binding) return &endpoint;
    }
    return nullptr;
}

namespace {

// The descriptor names the IdP and at least one signing key, so
// expectations filled from it can verify something.
Result<void> checkIdpComplete(const IdpDescriptor& idp) {
    const char* missing = idp.entityId.empty()      ? "the entity ID"
                          : idp.signingKeys.empty() ? "a signing key"
                                                    : nullptr;
    if (missing == nullptr) return Result<void>::success();
    return Result<void>::failure(Status::BadOptions, std::string("IdP descriptor is incomplete: ") +
                                                         missing + " is missing");
}

// Sets options->destination to the Location of the endpoint of kind
// ("SingleSignOnService", "SingleLogoutService") for binding, or with
// preferResponse to its ResponseLocation when it has one.
template <typename Options>
Result<void> useEndpoint(const IdpDescriptor& idp, const std::vector<IdpEndpoint>& endpoints,
                         const char* kind, const std::string& binding, bool preferResponse,
                         Options* options) {
    if (options == nullptr) return Result<void>::failure(Status::BadOptions, kNoTarget);
    const IdpEndpoint* endpoint = findEndpoint(endpoints, binding);
    if (endpoint == nullptr || endpoint->location.empty()) {
        return Result<void>::failure(Status::BadOptions,
                                     "IdP \"" + escaped(idp.entityId) + "\" has no " + kind +
                                         " for the binding " + escaped(binding));
    }
    const bool response = preferResponse && !endpoint->responseLocation.empty();
    options->destination = response ? endpoint->responseLocation : endpoint->location;
    return Result<void>::success();
}

// Copies the IdP's entity ID and signing keys into expectations of any kind.
template <typename Expectations>
Result<void> useIdpKeys(const IdpDescriptor& idp, Expectations* expectations) {
    if (expectations == nullptr) return Result<void>::failure(Status::BadOptions, kNoTarget);
    Result<void> complete = checkIdpComplete(idp);
    if (!complete.ok()) return complete;
    expectations->idpEntityId = idp.entityId;
    expectations->idpCertificates = idp.signingKeys;
    return complete;
}

}  // namespace

Result<void> useIdpForLogin(const IdpDescriptor& idp, LoginExpectations* expectations) {
    return useIdpKeys(idp, expectations);
}

Result<void> useIdpForLogout(const IdpDescriptor& idp, LogoutExpectations* expectations) {
    return useIdpKeys(idp, expectations);
}

Result<void> useIdpForRequest(const IdpDescriptor& idp, const std::string& binding,
                              StandardRequestOptions* options) {
    return useEndpoint(idp, idp.singleSignOnServices, "SingleSignOnService", binding, false,
                       options);
}

Result<void> useIdpForLogoutRequest(const IdpDescriptor& idp, const std::string& binding,
                                    LogoutRequestOptions* options) {
    return useEndpoint(idp, idp.singleLogoutServices, "SingleLogoutService", binding, false,
                       options);
}

Result<void> useIdpForLogoutResponse(const IdpDescriptor& idp, const std::string& binding,
                                     LogoutResponseOptions* options) {
    return useEndpoint(idp, idp.singleLogoutServices, "SingleLogoutService", binding, true,
                       options);
}

}  // namespace corvane
