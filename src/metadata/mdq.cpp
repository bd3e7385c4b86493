// Where a metadata query service answers for one entity: the two path
// forms a host appends to the service's base URL. The answer is loaded
// and verified like any metadata (loadIdpMetadata).
#include <openssl/evp.h>

#include "corvane/idp_metadata.h"
#include "saml/bindings.h"

namespace corvane {

namespace {

const char kEntitiesPath[] = "/entities/";
// "{sha1}" URL-encoded: the braces are not unreserved characters.
const char kSha1Marker[] = "%7Bsha1%7D";

// The SHA-1 of text in lowercase hexadecimal; empty when OpenSSL fails.
std::string sha1Hex(const std::string& text) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(text.data(), text.size(), digest, &length, EVP_sha1(), nullptr) != 1) {
        return std::string();
    }
    static const char kHex[] = "0123456789abcdef";
    std::string hex;
    for (unsigned int i = 0; i < length; ++i) {
        hex += kHex[digest[i] >> 4];
        hex += kHex[digest[i] & 0x0F];
    }
    return hex;
}

}  // namespace

std::string mdqEntityPath(const std::string& entityId) {
    return kEntitiesPath + internal::urlEncode(entityId);
}

std::string mdqSha1Path(const std::string& entityId) {
    return kEntitiesPath + std::string(kSha1Marker) + sha1Hex(entityId);
}

}  // namespace corvane
