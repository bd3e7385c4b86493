// corvane: keys and certificates loaded once from PEM text.
//
// Includes only the standard library.
#ifndef CORVANE_KEY_H
#define CORVANE_KEY_H

#include <memory>
#include <string>

#include "corvane/status.h"

namespace corvane {

namespace internal {
struct KeyAccess;
}

// How strong a loaded key must be. Strict, the default: RSA of at least
// 2048 bits, EC on a curve of at least 256 bits (P-256). AllowRsa1024
// relaxes RSA to at least 1024 bits, for IdPs that still sign with such a
// key; nothing below 1024 bits is ever loaded or used.
enum class KeyStrength { Strict, AllowRsa1024 };

// A key loaded once from PEM text and used for any number of operations.
// Immutable once loaded: one Key may sign or verify on any number of
// threads at once. Each use hands xmlsec1 a cheap copy of the key value
// (the OpenSSL key shared by reference), so no PEM text is parsed and no
// certificate copied per call. The key material stays inside the library:
// nothing here gives it out.
//
// WARNING: release every Key before the last Library (or the documented
// finiHelper) goes; a Key outliving the start-up holds freed state.
class Key {
public:
    // The SP key: an unencrypted RSA private key in PEM (PKCS#8 or PKCS#1),
    // optionally followed or preceded by its X.509 certificate, which must
    // belong to the key. Status::Unusable with the message "Can not load SP
    // private key and certificate" for anything else (empty text, an
    // encrypted key, a public key or certificate alone, a non-RSA key, a
    // certificate of another key). A pass phrase is never asked for. A key
    // weaker than strength allows is refused with the message "Can not load
    // SP private key and certificate: " and the size found.
    static Result<std::shared_ptr<const Key>> loadPrivateKey(
        const std::string& pem, KeyStrength strength = KeyStrength::Strict);

    // A certificate in PEM (an IdP's, or the SP's own for metadata).
    // Status::Unusable with the message "Can not load IDP public key" when
    // the text holds no readable certificate; a key weaker than strength
    // allows is refused with "Can not load IDP public key: " and the size
    // found.
    static Result<std::shared_ptr<const Key>> loadCertificate(
        const std::string& pem, KeyStrength strength = KeyStrength::Strict);

    ~Key();
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;

    // True for a key from loadPrivateKey.
    bool hasPrivateKey() const;
    // True when a certificate was loaded with the key.
    bool hasCertificate() const;
    // The certificate's DER in base64 on one line, as ds:X509Certificate
    // carries it; empty when there is none.
    const std::string& certificateBase64() const;

private:
    struct Impl;
    explicit Key(std::unique_ptr<Impl> impl);
    const std::unique_ptr<Impl> m_impl;
    friend struct internal::KeyAccess;
};

using KeyPtr = std::shared_ptr<const Key>;

}  // namespace corvane

#endif
