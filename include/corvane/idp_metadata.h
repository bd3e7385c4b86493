// corvane: the IdP's metadata in, verified: one IdP's md:EntityDescriptor,
// a federation's md:EntitiesDescriptor aggregate (nested ones included),
// or the answer of a metadata query (MDQ) service, parsed and verified
// once, then each IdP found by its exact entity ID without another parse.
//
// Statuses of loadIdpMetadata, IdpMetadata::idp and loadIdpDescriptor:
//   Ok             success
//   StartupFailed  no Library (or initHelper) holds the libraries started
//   NotAuthentic   not signed over its root element (no signature, or a
//                  signature only on an inner element), a signature that
//                  does not verify with any pinned signer key, that does
//                  not refer to the root, that uses SHA-1 (unless
//                  allowSha1), or IDs that are not unique
//   Unusable       not a usable document: not well-formed, not one plain
//                  UTF-8 document (DTD, processing instructions, ...),
//                  nested too deeply, too many elements and attributes for
//                  its size, too many entities, not SAML metadata, a
//                  validUntil or cacheDuration that cannot be read, a
//                  certificate that does not load
//   BadOptions     no pinned signer key and no trustUnsignedMetadata, both
//                  at once, a null key, a negative bound; no entity of the
//                  entity ID asked for
//   ProfileRefused authentic, but refused: validUntil in the past, missing
//                  or too far ahead when the options bound it, an entity ID
//                  present twice, an entity without an IDPSSODescriptor
//                  for SAML 2.0 or without a signing certificate
//   TooLarge       the text is larger than maxMetadataBytes; nothing was
//                  parsed
//
// Threads: an IdpMetadata is immutable; any number of threads may look up
// IdPs in it at once. Includes only the standard library.
#ifndef CORVANE_IDP_METADATA_H
#define CORVANE_IDP_METADATA_H

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "corvane/key.h"
#include "corvane/login.h"
#include "corvane/logout.h"
#include "corvane/request.h"
#include "corvane/status.h"

namespace corvane {

namespace internal {
struct IdpMetadataAccess;
}

// How the metadata is trusted and which validity it must have. Strict by
// default: a signature over the root element by a pinned key is required.
struct IdpMetadataOptions {
    // The keys that may sign the metadata (the federation's or the IdP's
    // metadata signing certificate, loaded with Key::loadCertificate); a
    // signature by any one of them is accepted (rollover). Never a key from
    // the document itself.
    std::vector<KeyPtr> signerKeys;
    // Relaxation: accept the metadata without checking any signature, for
    // an IdP's own metadata fetched over TLS from a URL the host trusts.
    // Excludes signerKeys (BadOptions when both are given).
    // WARNING: whoever can change the text in transit or at rest then
    // chooses the IdP's keys and endpoints; never use it for an aggregate
    // or for text from a cache or a file others can write.
    bool trustUnsignedMetadata = false;
    // Relaxation: accept a metadata signature made with SHA-1 (RSA-SHA1,
    // ECDSA-SHA1, or a SHA-1 digest).
    // WARNING: SHA-1 is broken for collisions; refused by default
    // (NotAuthentic).
    bool allowSha1 = false;
    // The root element must carry validUntil (ProfileRefused otherwise).
    // Off for an IdP's single file; on for aggregates and MDQ answers.
    bool requireValidUntil = false;
    // When positive: the root's validUntil may lie at most this many
    // seconds ahead of now (ProfileRefused beyond). 0: no bound.
    // 14 days (1209600) is the suggested setting for aggregates.
    long long maxValidityAheadSeconds = 0;
    // The current time in seconds since the epoch; negative: the clock.
    long long now = -1;
    // The largest text accepted, in bytes (TooLarge beyond). Aggregates
    // of federations reach 70 MB.
    std::size_t maxMetadataBytes = 128u << 20;
    // At most this many EntityDescriptors in one document (Unusable
    // beyond). Federations publish some 10,000.
    std::size_t maxEntities = 100000;
    // How strong the IdP's certificates in the metadata must be.
    KeyStrength keyStrength = KeyStrength::Strict;
};

// An endpoint of the IdP: its binding URI, Location and, for
// SingleLogoutService, the ResponseLocation (empty when not given).
struct IdpEndpoint {
    std::string binding;
    std::string location;
    std::string responseLocation;
};

// A certificate the SP may encrypt for, with the md:EncryptionMethod
// Algorithm URIs its KeyDescriptor lists (empty when it lists none).
struct IdpEncryptionCertificate {
    KeyPtr key;
    std::vector<std::string> encryptionMethods;
};

// What an SP needs of one IdP, as its verified metadata says it. Every
// text is exactly as signed.
// WARNING: escape these values for wherever they are shown or logged.
struct IdpDescriptor {
    std::string entityId;
    // md:SingleSignOnService and md:SingleLogoutService, in document order.
    std::vector<IdpEndpoint> singleSignOnServices;
    std::vector<IdpEndpoint> singleLogoutServices;
    // The certificates of KeyDescriptors with use="signing" or without
    // use, loaded: one or more (rollover).
    std::vector<KeyPtr> signingKeys;
    // The certificates of KeyDescriptors with use="encryption" or without
    // use.
    std::vector<IdpEncryptionCertificate> encryptionCertificates;
    // md:NameIDFormat texts, in document order.
    std::vector<std::string> nameIdFormats;
    // WantAuthnRequestsSigned: the IdP wants the SP's requests signed.
    bool wantAuthnRequestsSigned = false;
    // The earliest validUntil that applies to the entity (the document's,
    // an enclosing EntitiesDescriptor's, the EntityDescriptor's, the
    // IDPSSODescriptor's), in seconds since the epoch; -1 when none does.
    long long validUntil = -1;
    // The shortest cacheDuration that applies to it, in seconds; -1 when
    // none does.
    long long cacheDurationSeconds = -1;
};

// The first endpoint of the binding in endpoints, or null.
const IdpEndpoint* findEndpoint(const std::vector<IdpEndpoint>& endpoints,
                                const std::string& binding);

// A verified, indexed metadata document: parsed and verified once by
// loadIdpMetadata, then read without another parse.
class IdpMetadata {
public:
    ~IdpMetadata();
    IdpMetadata(const IdpMetadata&) = delete;
    IdpMetadata& operator=(const IdpMetadata&) = delete;

    // The entity IDs of every entity with an IDPSSODescriptor for SAML
    // 2.0, in document order.
    const std::vector<std::string>& idpEntityIds() const;
    // How many EntityDescriptors the document holds (IdPs and others).
    std::size_t entityCount() const;
    // The root element's validUntil (seconds since the epoch) and
    // cacheDuration (seconds); -1 when it has none.
    long long validUntil() const;
    long long cacheDurationSeconds() const;

    // The IdP of exactly this entity ID (never another one, never "the
    // first"), its certificates loaded. BadOptions when no entity has the
    // ID; ProfileRefused when it has no IDPSSODescriptor for SAML 2.0, no
    // signing certificate, or a validUntil that has passed (now or the
    // options' now); Unusable when a certificate does not load.
    Result<IdpDescriptor> idp(const std::string& entityId) const;

    // The index, defined inside the library alone.
    struct Impl;

private:
    explicit IdpMetadata(std::unique_ptr<Impl> impl);
    const std::unique_ptr<Impl> m_impl;
    friend struct internal::IdpMetadataAccess;
};

using IdpMetadataPtr = std::shared_ptr<const IdpMetadata>;

// Parses, screens, verifies and indexes metadataXml: the same screening as
// responses with bounds scaled to the text's size (no DTD, no processing
// instructions, bounded depth, attributes and nodes); the root is an
// md:EntityDescriptor or md:EntitiesDescriptor; IDs are unique; a
// ds:Signature directly under the root with one Reference to the root
// (empty URI or "#" + its ID), allowed algorithms only, verifies with one
// of options.signerKeys (unless trustUnsignedMetadata); the root's
// validUntil has not passed (and is present and near enough when the
// options say so); every entity ID appears once. Everything the result
// holds is read from the tree that was verified, within its root.
Result<IdpMetadataPtr> loadIdpMetadata(const std::string& metadataXml,
                                       const IdpMetadataOptions& options);

// loadIdpMetadata followed by idp(entityId). An empty entityId names the
// document's only IdP; a document with several IdPs is then refused
// (BadOptions), never read as its first.
Result<IdpDescriptor> loadIdpDescriptor(const std::string& metadataXml,
                                        const IdpMetadataOptions& options,
                                        const std::string& entityId = std::string());

// Fills the IdP's part of the login expectations: idpEntityId and
// idpCertificates (the signing keys). BadOptions for a null target or a
// descriptor without entity ID or signing key.
Result<void> useIdpForLogin(const IdpDescriptor& idp, LoginExpectations* expectations);

// Sets options->destination to the IdP's SingleSignOnService Location for
// binding (kBindingHttpRedirect or kBindingHttpPost). BadOptions for a
// null target or when the IdP has no such endpoint. The IdP asks for signed
// requests when idp.wantAuthnRequestsSigned: then make the request with
// createSignedAuthnRequest, or createRedirectRequest with the SP key.
Result<void> useIdpForRequest(const IdpDescriptor& idp, const std::string& binding,
                              StandardRequestOptions* options);

// Fills the IdP's part of the logout expectations: idpEntityId and
// idpCertificates (the signing keys). The statuses of useIdpForLogin.
Result<void> useIdpForLogout(const IdpDescriptor& idp, LogoutExpectations* expectations);

// Sets options->destination to the Location of the IdP's
// SingleLogoutService for binding: where the SP sends its LogoutRequest.
// BadOptions for a null target or when the IdP has no such endpoint.
Result<void> useIdpForLogoutRequest(const IdpDescriptor& idp, const std::string& binding,
                                    LogoutRequestOptions* options);

// Sets options->destination to where the SP answers the IdP's
// LogoutRequest for binding: the endpoint's ResponseLocation, or its
// Location when it has none. The statuses of useIdpForLogoutRequest.
Result<void> useIdpForLogoutResponse(const IdpDescriptor& idp, const std::string& binding,
                                     LogoutResponseOptions* options);

// A certificate given as metadata carries it: the base64 of its DER alone
// (white space allowed), without PEM lines. The statuses and messages of
// Key::loadCertificate.
Result<KeyPtr> loadCertificateFromBase64(const std::string& base64Der,
                                         KeyStrength strength = KeyStrength::Strict);

// The path of an entity under a metadata query service, to append to its
// base URL: "/entities/" + the entity ID URL-encoded (every octet but the
// unreserved characters A-Z a-z 0-9 - . _ ~ as %XX).
std::string mdqEntityPath(const std::string& entityId);
// The same in the transformed form: "/entities/%7Bsha1%7D" + the SHA-1 of
// the entity ID in lowercase hexadecimal ("{sha1}" URL-encoded).
std::string mdqSha1Path(const std::string& entityId);

}  // namespace corvane

#endif
