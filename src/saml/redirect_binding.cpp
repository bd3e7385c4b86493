// The HTTP-Redirect binding: a SAML request compressed with raw DEFLATE,
// base64- and URL-encoded into a query string, signed over the exact
// octets of that query with a loaded key.
#include <climits>

#include <zlib.h>

#include "corvane/request.h"
#include "Corvane.h"
#include "frame/assertions.h"
#include "frame/messages.h"
#include "frame/call_scope.h"
#include "saml/bindings.h"
#include "saml/standard.h"
#include "frame/handles.h"
#include "xml/build.h"
#include "xmldsig/signer.h"

namespace corvane {

namespace {

const char kCannotDeflate[] = "Can not compress SAML message for the HTTP-Redirect binding";
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
    internal::UniquePtr<z_stream> ending(&stream);
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

}  // namespace

namespace internal {

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

}  // namespace internal

namespace {

using internal::urlEncode;

// What both entry points refuse before any work (and, for a new request,
// before its ID is drawn).
int checkRedirectInputs(const std::string& relayState, const Key* spKey) {
    if (relayState.size() > kRelayStateLimit) {
        CorvaneBase::setErrorMessage(internal::kMessageRelayStateTooLong);
        return kBadOptions;
    }
    if (spKey != nullptr && !spKey->hasPrivateKey()) {
        CorvaneBase::setErrorMessage(internal::kMessageNoPrivateKey);
        return kUnusable;
    }
    return kOk;
}

}  // namespace

namespace internal {

int encodeRedirectMessage(const char* parameter, const std::string& message,
                          const std::string& relayState, const Key* spKey, bool useSha1,
                          std::string* query) {
    CORVANE_ASSERT(query);
    const int status = checkRedirectInputs(relayState, spKey);
    if (status != kOk) return status;
    std::string deflated;
    const std::string encoded =
        rawDeflate(message, &deflated) ? internal::base64Encode(deflated) : std::string();
    if (encoded.empty()) {
        CorvaneBase::setErrorMessage(kCannotDeflate);
        return kUnusable;
    }
    std::string text = std::string(parameter) + "=" + urlEncode(encoded);
    if (!relayState.empty()) text += "&RelayState=" + urlEncode(relayState);
    if (spKey != nullptr) {
        const internal::SignatureAlgorithm algorithm = internal::rsaSignatureAlgorithm(useSha1);
        text += "&SigAlg=" + urlEncode(algorithm.signatureMethodUri);
        std::string signature;
        if (!internal::signOctets(text, *spKey, algorithm, &signature)) {
            CorvaneBase::setErrorMessage(kCannotSignQuery);
            return kUnusable;
        }
        text += "&Signature=" + urlEncode(internal::base64Encode(signature));
    }
    query->swap(text);
    return kOk;
}

}  // namespace internal

namespace {

int createRedirect(RedirectRequest* redirect, const StandardRequestOptions& options,
                   const std::string& relayState, const Key* spKey) {
    int status = checkRedirectInputs(relayState, spKey);
    AuthnRequest request;
    if (status == kOk) status = internal::createRequest(&request, options, nullptr);
    std::string query;
    if (status == kOk)
        status = internal::encodeRedirectMessage("SAMLRequest", request.xml, relayState, spKey,
                                                 options.useSha1, &query);
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
        return internal::encodeRedirectMessage("SAMLRequest", samlRequest, relayState, spKey,
                                               useSha1, query);
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
