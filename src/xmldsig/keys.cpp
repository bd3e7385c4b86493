// Keys loaded once from PEM text, and the cheap per-use copies that
// signing and verification contexts receive.
#include <climits>

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <xmlsec/keys.h>
#include <xmlsec/openssl/crypto.h>
#include <xmlsec/openssl/evp.h>

#include "corvane/key.h"
#include "Corvane.h"
#include "frame/call_scope.h"
#include "frame/messages.h"
#include "frame/handles.h"
#include "xml/build.h"
#include "xmldsig/key_strength.h"
#include "xmldsig/signature_layer.h"

namespace corvane {

namespace {

const char kSpKeyTooWeak[] = "Can not load SP private key and certificate: %s";
const char kCertificateTooWeak[] = "Can not load IDP public key: %s";

using internal::UniquePtr;
using XmlSecKeyPtr = UniquePtr<xmlSecKey>;

int refusePassword(char*, int, int, void*) { return -1; }

// The first certificate in the PEM text, or null. Other blocks (keys)
// are skipped; OpenSSL's error queue is left as it was found.
UniquePtr<X509> firstCertificate(const std::string& pem) {
    if (pem.size() > static_cast<std::string::size_type>(INT_MAX)) return nullptr;
    UniquePtr<BIO> bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
    if (!bio) return nullptr;
    ERR_set_mark();
    UniquePtr<X509> cert(PEM_read_bio_X509(bio.get(), nullptr, refusePassword, nullptr));
    ERR_pop_to_mark();
    return cert;
}

// The certificate's DER in base64, or empty.
std::string derInBase64(X509* cert) {
    unsigned char* raw = nullptr;
    const int size = i2d_X509(cert, &raw);
    // OPENSSL_free is a macro: this one buffer gets its own release.
    const std::unique_ptr<unsigned char, void (*)(void*)> der(raw,
                                                              [](void* p) { OPENSSL_free(p); });
    if (size <= 0 || !der) return std::string();
    return internal::base64Encode(std::string(reinterpret_cast<const char*>(der.get()),
                                              static_cast<std::string::size_type>(size)));
}

EVP_PKEY* evpOf(xmlSecKey* key) {
    xmlSecKeyData* value = xmlSecKeyGetValue(key);
    return value ? xmlSecOpenSSLEvpKeyDataGetEvp(value) : nullptr;
}

// The library signs with RSA only, so a private key of any other kind is
// refused when it is loaded rather than when it is first used.
bool isRsaPrivateKey(xmlSecKey* key) {
    EVP_PKEY* evp = evpOf(key);
    return evp != nullptr && EVP_PKEY_base_id(evp) == EVP_PKEY_RSA &&
           (xmlSecKeyGetType(key) & xmlSecKeyDataTypePrivate) != 0;
}

// A certificate beside the private key must certify that key, or the
// KeyInfo and metadata made from it would name a key that never signs.
bool certificateMatches(X509* cert, xmlSecKey* key) {
    ERR_set_mark();
    const bool matches = X509_check_private_key(cert, evpOf(key)) == 1;
    ERR_pop_to_mark();
    return matches;
}

}  // namespace

// What a Key holds, fixed when it is loaded.
struct Key::Impl {
    Impl(XmlSecKeyPtr keyValue, bool privateKey, const std::string& certificate)
        : value(std::move(keyValue)), hasPrivateKey(privateKey), certificateBase64(certificate) {}
    const XmlSecKeyPtr value;
    const bool hasPrivateKey;
    const std::string certificateBase64;
};

Key::Key(std::unique_ptr<Impl> impl) : m_impl(std::move(impl)) {}

Key::~Key() {}

namespace internal {

struct KeyAccess {
    static xmlSecKey* value(const Key& key) { return key.m_impl->value.get(); }
    static KeyPtr make(XmlSecKeyPtr value, bool privateKey, const std::string& certificate) {
        return KeyPtr(new Key(
            std::unique_ptr<Key::Impl>(new Key::Impl(std::move(value), privateKey, certificate))));
    }
};

}  // namespace internal

bool Key::hasPrivateKey() const { return m_impl->hasPrivateKey; }
bool Key::hasCertificate() const { return !m_impl->certificateBase64.empty(); }
const std::string& Key::certificateBase64() const { return m_impl->certificateBase64; }

namespace internal {

// The loaded key, or null after one message.
KeyPtr loadPrivateKey(const std::string& pem, KeyStrength strength) {
    XmlSecKeyPtr value(internal::loadKeyFromPem(pem, xmlSecKeyDataFormatPem));
    if (!value || !isRsaPrivateKey(value.get())) {
        CorvaneBase::setErrorMessage(internal::kMessageSpKeyNotLoaded);
        return KeyPtr();
    }
    const std::string weak = internal::weakKeyReason(value.get(), strength);
    if (!weak.empty()) {
        CorvaneBase::setErrorMessage(kSpKeyTooWeak, weak.c_str());
        return KeyPtr();
    }
    std::string certificate;
    UniquePtr<X509> cert = firstCertificate(pem);
    if (cert) {
        certificate = derInBase64(cert.get());
        if (certificate.empty() || !certificateMatches(cert.get(), value.get())) {
            CorvaneBase::setErrorMessage(internal::kMessageSpKeyNotLoaded);
            return KeyPtr();
        }
    }
    return KeyAccess::make(std::move(value), true, certificate);
}

KeyPtr loadCertificate(const std::string& pem, KeyStrength strength) {
    XmlSecKeyPtr value(internal::loadKeyFromPem(pem, xmlSecKeyDataFormatCertPem));
    UniquePtr<X509> cert = value ? firstCertificate(pem) : nullptr;
    const std::string certificate = cert ? derInBase64(cert.get()) : std::string();
    if (!value || evpOf(value.get()) == nullptr || certificate.empty()) {
        CorvaneBase::setErrorMessage(internal::kMessageIdpKeyNotLoaded);
        return KeyPtr();
    }
    const std::string weak = internal::weakKeyReason(value.get(), strength);
    if (!weak.empty()) {
        CorvaneBase::setErrorMessage(kCertificateTooWeak, weak.c_str());
        return KeyPtr();
    }
    return KeyAccess::make(std::move(value), false, certificate);
}

// A loaded key as a result: Unusable with the loader's message.
Result<KeyPtr> keyResult(KeyPtr (*load)(const std::string&, KeyStrength), const std::string& pem,
                         KeyStrength strength) {
    return runCall<KeyPtr>([&](KeyPtr* key) {
        *key = load(pem, strength);
        return *key ? 0 : -8;
    });
}

}  // namespace internal

Result<KeyPtr> Key::loadPrivateKey(const std::string& pem, KeyStrength strength) {
    return internal::keyResult(internal::loadPrivateKey, pem, strength);
}

Result<KeyPtr> Key::loadCertificate(const std::string& pem, KeyStrength strength) {
    return internal::keyResult(internal::loadCertificate, pem, strength);
}

namespace internal {

xmlSecKey* newKeyValueCopy(xmlSecKey* key) {
    if (key == nullptr || xmlSecKeyGetValue(key) == nullptr) return nullptr;
    XmlSecKeyPtr copy(xmlSecKeyCreate());
    if (!copy) return nullptr;
    xmlSecKeyData* value = xmlSecKeyDataDuplicate(xmlSecKeyGetValue(key));
    if (value == nullptr) return nullptr;
    if (xmlSecKeySetValue(copy.get(), value) < 0) {
        xmlSecKeyDataDestroy(value);
        return nullptr;
    }
    return copy.release();
}

xmlSecKey* newKeyValueCopy(const Key& key) { return newKeyValueCopy(KeyAccess::value(key)); }

EVP_PKEY* privateKeyOf(const Key& key) {
    return key.hasPrivateKey() ? evpOf(KeyAccess::value(key)) : nullptr;
}

}  // namespace internal
}  // namespace corvane
