// How strong a key must be: RSA of 2048 bits (1024 on request, never
// less), EC on a curve of 256 bits or more.
#include "xmldsig/key_strength.h"

#include <cstdio>

#include <openssl/evp.h>
#include <xmlsec/openssl/evp.h>

#include "Corvane.h"

namespace corvane {
namespace internal {

namespace {

const char kRsaTooShort[] = "RSA key of %d bits, at least %d required";
const char kRsaTooShortOptIn[] =
    "RSA key of %d bits, at least %d required (%d with KeyStrength::AllowRsa1024)";
const char kCurveTooSmall[] = "EC key on a curve of %d bits, at least %d (P-256) required";
const char kNoKeyValue[] = "key holds no public or private key value";
const char kRefusedLine[] = "%s refused: %s";

const int kRsaStrictBits = 2048;
const int kRsaFloorBits = 1024;
const int kCurveBits = 256;

std::string rsaReason(int bits, KeyStrength strength) {
    char text[160];
    if (bits < kRsaFloorBits) {
        std::snprintf(text, sizeof text, kRsaTooShort, bits, kRsaFloorBits);
    } else if (strength == KeyStrength::Strict && bits < kRsaStrictBits) {
        std::snprintf(text, sizeof text, kRsaTooShortOptIn, bits, kRsaStrictBits, kRsaFloorBits);
    } else {
        return std::string();
    }
    return text;
}

std::string curveReason(int bits) {
    if (bits >= kCurveBits) return std::string();
    char text[160];
    std::snprintf(text, sizeof text, kCurveTooSmall, bits, kCurveBits);
    return text;
}

}  // namespace

std::string weakKeyReason(xmlSecKey* key, KeyStrength strength) {
    xmlSecKeyData* value = key ? xmlSecKeyGetValue(key) : nullptr;
    EVP_PKEY* evp = value ? xmlSecOpenSSLEvpKeyDataGetEvp(value) : nullptr;
    if (evp == nullptr) return kNoKeyValue;
    const int bits = EVP_PKEY_bits(evp);
    switch (EVP_PKEY_base_id(evp)) {
        case EVP_PKEY_RSA:
            return rsaReason(bits, strength);
        case EVP_PKEY_EC:
            return curveReason(bits);
        default:
            return std::string();
    }
}

bool keyReachesFloorOrLogged(xmlSecKey* key, const char* whose) {
    const std::string weak = weakKeyReason(key, KeyStrength::AllowRsa1024);
    if (weak.empty()) return true;
    CorvaneBase::writeToLog(1, kRefusedLine, whose, weak.c_str());
    return false;
}

}  // namespace internal
}  // namespace corvane
