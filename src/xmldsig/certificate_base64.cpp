// Certificates as metadata and KeyInfo carry them: the base64 of the DER
// alone. They are loaded through the one PEM loader, wrapped in the PEM
// lines it reads, so they meet the same strength rules as any certificate.
#include "corvane/idp_metadata.h"

#include "Corvane.h"
#include "frame/call_scope.h"
#include "frame/messages.h"
#include "xmldsig/signature_layer.h"

namespace corvane {

namespace internal {

namespace {

bool isBase64Character(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
           c == '/' || c == '=';
}

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// The base64 text as a PEM certificate block of 64-character lines; empty
// when the text holds anything but base64 characters and white space, or
// no base64 at all.
std::string certificatePem(const std::string& base64Der) {
    std::string compact;
    compact.reserve(base64Der.size());
    for (const char c : base64Der) {
        if (isSpace(c)) continue;
        if (!isBase64Character(c)) return std::string();
        compact += c;
    }
    if (compact.empty()) return std::string();
    std::string pem = "-----BEGIN CERTIFICATE-----\n";
    for (std::string::size_type at = 0; at < compact.size(); at += 64) {
        pem.append(compact, at, 64);
        pem += '\n';
    }
    return pem + "-----END CERTIFICATE-----\n";
}

}  // namespace

KeyPtr loadCertificateFromBase64(const std::string& base64Der, KeyStrength strength) {
    const std::string pem = certificatePem(base64Der);
    if (pem.empty()) {
        CorvaneBase::setErrorMessage(kMessageIdpKeyNotLoaded);
        return KeyPtr();
    }
    return loadCertificate(pem, strength);
}

}  // namespace internal

Result<KeyPtr> loadCertificateFromBase64(const std::string& base64Der, KeyStrength strength) {
    return internal::runCall<KeyPtr>([&](KeyPtr* key) {
        *key = internal::loadCertificateFromBase64(base64Der, strength);
        return *key ? 0 : -8;
    });
}

}  // namespace corvane
