// The HTTP-Redirect binding: a SAML request compressed with raw DEFLATE,
// base64- and URL-encoded into a query string, signed over the exact
// octets of that query with a loaded key.
#include <climits>

#include <openssl/evp.h>
#include <xmlsec/keys.h>
#include <xmlsec/strings.h>
#include <xmlsec/openssl/evp.h>
#include <zlib.h>

#include "corvane/request.h"
#include "Corvane.h"
#include "frame/assertions.h"
#include "frame/call_scope.h"
#include "saml/standard.h"
#include "xml/build.h"
#include "xmldsig/signature_layer.h"

namespace corvane {

namespace {

const char kRelayStateTooLong[] = "RelayState is longer than 80 bytes";
const char kNoPrivateKey[] = "SP key holds no private key";
const char kCannotDeflate[] = "Can not compress SAML request for the HTTP-Redirect binding";
const char kCannotSignQuery[] = "Can not sign HTTP-Redirect query";

// The binding allows at most 80 bytes of RelayState.
const std::string::size_type kRelayStateLimit = 80;
const int kRawDeflateWindowBits = -15;  // negative: no zlib header or trailer
// A request is a few kilobytes: zlib's default memLevel (8) gains about 1%
// on it but doubles the state allocated and released on every call, whose
// page faults then cost more than the compression itself.
const int kDeflateMemLevel = 4;

const int kOk = 0;
const int kUnusable = -8;
const int kBadOptions = -9;

struct DeflateEnd {
    void operator()(z_stream* stream) const { deflateEnd(stream); }
};
struct EvpMdCtxFree {
    void operator()(EVP_MD_CTX* ctx) const { EVP_MD_CTX_free(ctx); }
};
struct XmlSecKeyFree {
    void operator()(xmlSecKey* key) const { xmlSecKeyDestroy(key); }
};

const unsigned char* bytesOf(const std::string& text) {
    return reinterpret_cast<const unsigned char*>(text.data());
}

// text compressed with raw DEFLATE (RFC 1951), in one pass.
bool rawDeflate(const std::string& text, std::string* out) {
    if (text.size() > UINT_MAX / 2) return false;
    z_stream stream = z_stream();
    if (deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, kRawDeflateWindowBits,
                     kDeflateMemLevel, Z_DEFAULT_STRATEGY) != Z_OK) {
        return false;
    }
    std::unique_ptr<z_stream, DeflateEnd> ending(&stream);
    std::string compressed(deflateBound(&stream, static_cast<uLong>(text.size())), '\0');
    if (compressed.size() > UINT_MAX) return false;
    stream.next_in = const_cast<Bytef*>(bytesOf(text));
    stream.avail_in = static_cast<uInt>(text.size());
    stream.next_out = reinterpret_cast<Bytef*>(&compressed[0]);
    stream.avail_out = static_cast<uInt>(compressed.size());
    if (deflate(&stream, Z_FINISH) != Z_STREAM_END) return false;
    compressed.resize(stream.total_out);
    out->swap(compressed);
    return true;
}

bool isUnreserved(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~';
}

// RFC 3986: unreserved characters kept, every other octet as %XX.
std::string urlEncode(const std::string& text) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string encoded;
    encoded.reserve(text.size() * 3);
    for (const char ch : text) {
        const unsigned char c = static_cast<unsigned char>(ch);
        if (isUnreserved(c)) {
            encoded += ch;
        } else {
            encoded += '%';
            encoded += kHex[c >> 4];
            encoded += kHex[c & 0x0F];
        }
    }
    return encoded;
}

// An RSA PKCS#1 v1.5 signature over octets with SHA-256 (SHA-1 on
// request), made with the key's OpenSSL key through a per-use copy.
bool signOctets(const std::string& octets, const Key& key, bool useSha1, std::string* out) {
    std::unique_ptr<xmlSecKey, XmlSecKeyFree> copy(internal::newKeyValueCopy(key));
    xmlSecKeyData* value = copy ? xmlSecKeyGetValue(copy.get()) : nullptr;
    EVP_PKEY* pkey = value ? xmlSecOpenSSLEvpKeyDataGetEvp(value) : nullptr;
    const int maxSize = pkey ? EVP_PKEY_size(pkey) : 0;
    std::unique_ptr<EVP_MD_CTX, EvpMdCtxFree> md(EVP_MD_CTX_new());
    if (maxSize <= 0 || !md ||
        EVP_DigestSignInit(md.get(), nullptr, useSha1 ? EVP_sha1() : EVP_sha256(), nullptr, pkey) !=
            1) {
        return false;
    }
    std::string signature(static_cast<std::string::size_type>(maxSize), '\0');
    std::size_t size = signature.size();
    if (EVP_DigestSign(md.get(), reinterpret_cast<unsigned char*>(&signature[0]), &size,
                       bytesOf(octets), octets.size()) != 1) {
        return false;
    }
    signature.resize(size);
    out->swap(signature);
    return true;
}

const char* signatureAlgorithm(bool useSha1) {
    return reinterpret_cast<const char*>(useSha1 ? xmlSecHrefRsaSha1 : xmlSecHrefRsaSha256);
}

// What both entry points refuse before any work (and, for a new request,
// before its ID is drawn).
int checkRedirectInputs(const std::string& relayState, const Key* spKey) {
    if (relayState.size() > kRelayStateLimit) {
        CorvaneBase::setErrorMessage(kRelayStateTooLong);
        return kBadOptions;
    }
    if (spKey != nullptr && !spKey->hasPrivateKey()) {
        CorvaneBase::setErrorMessage(kNoPrivateKey);
        return kUnusable;
    }
    return kOk;
}

int encodeQuery(std::string* query, const std::string& samlRequest,
                const std::string& relayState, const Key* spKey, bool useSha1) {
    CORVANE_ASSERT(query);
    const int status = checkRedirectInputs(relayState, spKey);
    if (status != kOk) return status;
    std::string deflated;
    const std::string encoded =
        rawDeflate(samlRequest, &deflated) ? internal::base64Encode(deflated) : std::string();
    if (encoded.empty()) {
        CorvaneBase::setErrorMessage(kCannotDeflate);
        return kUnusable;
    }
    std::string text = "SAMLRequest=" + urlEncode(encoded);
    if (!relayState.empty()) text += "&RelayState=" + urlEncode(relayState);
    if (spKey != nullptr) {
        text += "&SigAlg=" + urlEncode(signatureAlgorithm(useSha1));
        std::string signature;
        if (!signOctets(text, *spKey, useSha1, &signature)) {
            CorvaneBase::setErrorMessage(kCannotSignQuery);
            return kUnusable;
        }
        text += "&Signature=" + urlEncode(internal::base64Encode(signature));
    }
    query->swap(text);
    return kOk;
}

int createRedirect(RedirectRequest* redirect, const StandardRequestOptions& options,
                   const std::string& relayState, const Key* spKey) {
    int status = checkRedirectInputs(relayState, spKey);
    AuthnRequest request;
    if (status == kOk) status = internal::createRequest(&request, options, nullptr);
    std::string query;
    if (status == kOk)
        status = encodeQuery(&query, request.xml, relayState, spKey, options.useSha1);
    if (status != kOk) return status;
    redirect->id.swap(request.id);
    redirect->url = redirectUrl(options.destination, query);
    redirect->query.swap(query);
    return kOk;
}

}  // namespace

Result<std::string> encodeRedirectQuery(const std::string& samlRequest,
                                        const std::string& relayState, const Key* spKey,
                                        bool useSha1) {
    return internal::runCall<std::string>([&](std::string* query) {
        return encodeQuery(query, samlRequest, relayState, spKey, useSha1);
    });
}

Result<RedirectRequest> createRedirectRequest(const StandardRequestOptions& options,
                                              const std::string& relayState, const Key* spKey) {
    return internal::runCall<RedirectRequest>([&](RedirectRequest* redirect) {
        return createRedirect(redirect, options, relayState, spKey);
    });
}

std::string redirectUrl(const std::string& ssoUrl, const std::string& query) {
    const std::string::size_type hash = ssoUrl.find('#');
    const std::string base = ssoUrl.substr(0, hash);
    const std::string fragment = hash == std::string::npos ? std::string() : ssoUrl.substr(hash);
    const std::string::size_type mark = base.find('?');
    std::string separator = "?";
    if (mark != std::string::npos) {
        const char last = base[base.size() - 1];
        separator = last == '?' || last == '&' ? "" : "&";
    }
    return base + separator + query + fragment;
}

}  // namespace corvane
