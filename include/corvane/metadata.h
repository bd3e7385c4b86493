// corvane: the SP's own metadata.
//
// Includes only the standard library.
#ifndef CORVANE_METADATA_H
#define CORVANE_METADATA_H

#include <string>

#include "corvane/key.h"
#include "corvane/status.h"

namespace corvane {

// What the SP's metadata says.
struct SpMetadataOptions {
    // entityID: the SP's entity ID, at most 1024 characters. Required.
    std::string entityId;
    // Location of the HTTP-POST AssertionConsumerService. Required.
    std::string acsUrl;
    // Location of the SP's md:SingleLogoutService, offered for the
    // HTTP-Redirect and then the HTTP-POST binding (where the IdP sends its
    // LogoutRequest and its LogoutResponse); omitted when empty.
    std::string singleLogoutUrl;
    // md:NameIDFormat; omitted when empty.
    std::string nameIdFormat;
    bool authnRequestsSigned = true;
    bool wantAssertionsSigned = true;
    // The certificate IdPs encrypt assertions to (its private key goes in
    // LoginExpectations::spDecryptionKeys); null: none is offered. It may
    // be spKey itself or a key of its own (loadCertificate or
    // loadPrivateKey with its certificate).
    KeyPtr encryptionCertificate;
};

// md:EntityDescriptor with one md:SPSSODescriptor (AuthnRequestsSigned,
// WantAssertionsSigned, protocolSupportEnumeration of SAML 2.0), a signing
// md:KeyDescriptor with the certificate of spKey (from loadPrivateKey with
// its certificate, or loadCertificate), with encryptionCertificate an
// encryption md:KeyDescriptor listing md:EncryptionMethod aes256-gcm,
// aes128-gcm, XML Encryption 1.1 rsa-oaep and rsa-oaep-mgf1p in that order
// of preference, with singleLogoutUrl an md:SingleLogoutService for each of
// HTTP-Redirect and HTTP-POST, md:NameIDFormat and the HTTP-POST
// md:AssertionConsumerService with index 0, isDefault true. Unusable when
// spKey has no certificate or building failed, BadOptions for unusable
// options, StartupFailed without a started Library. Threads: any.
Result<std::string> createSpMetadata(const SpMetadataOptions& options, const Key& spKey);

}  // namespace corvane

#endif
