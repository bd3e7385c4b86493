// What the IdP metadata room shares between its files: the verified
// document's index, the trust check and the reading of the tree.
#ifndef CORVANE_METADATA_INTERNAL_H
#define CORVANE_METADATA_INTERNAL_H

#include <cstddef>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include <libxml/tree.h>

#include "corvane/idp_metadata.h"

namespace corvane {

// What one IdP role of an entity says, as read from the verified tree;
// certificates stay base64 text until the entity is looked up.
struct IdpRecord {
    std::vector<IdpEndpoint> singleSignOnServices;
    std::vector<IdpEndpoint> singleLogoutServices;
    std::vector<std::string> signingCertificates;
    struct EncryptionCertificate {
        std::string base64Der;
        std::vector<std::string> encryptionMethods;
    };
    std::vector<EncryptionCertificate> encryptionCertificates;
    std::vector<std::string> nameIdFormats;
    bool wantAuthnRequestsSigned = false;
};

// One md:EntityDescriptor: its ID, its effective validity, and its IdP
// role when it has exactly one for SAML 2.0.
struct EntityRecord {
    std::string entityId;
    // IDPSSODescriptors that support SAML 2.0: 0, 1, or more (refused at
    // lookup).
    int idpRoles = 0;
    IdpRecord idp;
    long long validUntil = -1;
    long long cacheDurationSeconds = -1;
    // Why the entity cannot be used (an unreadable validity or
    // certificate), reported as Unusable when it is looked up; empty when
    // it can.
    std::string problem;
};

struct IdpMetadata::Impl {
    std::vector<EntityRecord> entities;  // document order
    std::unordered_map<std::string, std::size_t> entityIndex;
    std::vector<std::string> idpEntityIds;
    long long validUntil = -1;
    long long cacheDurationSeconds = -1;
    // The options' clock (negative: the clock) and key strength, for lookups.
    long long now = -1;
    KeyStrength keyStrength = KeyStrength::Strict;
    // Each IdP's descriptor once its certificates are loaded (by entity
    // index), so that later lookups copy it instead of loading them again;
    // the only state that changes after the load, under its lock.
    mutable std::mutex describedLock;
    mutable std::unordered_map<std::size_t, IdpDescriptor> described;
};

namespace internal {

struct IdpMetadataAccess {
    static IdpMetadataPtr make(std::unique_ptr<IdpMetadata::Impl> impl) {
        return IdpMetadataPtr(new IdpMetadata(std::move(impl)));
    }
    static const IdpMetadata::Impl& impl(const IdpMetadata& metadata) { return *metadata.m_impl; }
};

// 0 when the document may be read: every ID in it is unique and, unless
// options.trustUnsignedMetadata, one ds:Signature directly under the root,
// with one Reference to the root and allowed algorithms (SHA-1 only with
// allowSha1), verifies with one of options.signerKeys. Otherwise -7 after
// one message.
int verifyMetadataRoot(xmlDoc* doc, const IdpMetadataOptions& options);

// Reads every entity of the verified root into *index: entity IDs unique,
// at most options.maxEntities, validUntil and cacheDuration readable and
// the root's within the options' bounds at now. 0, or -8 or -10 after one
// message.
int indexEntities(xmlNode* root, const IdpMetadataOptions& options, long long now,
                  IdpMetadata::Impl* index);

}  // namespace internal
}  // namespace corvane

#endif
