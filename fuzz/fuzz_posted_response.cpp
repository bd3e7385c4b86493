// decodePostedResponse and base64Decode on arbitrary values. The first byte
// chooses the form: bit 0 the form encoding, bit 1 a size limit of the
// second byte's value (else the default); the rest is the value. Pure text
// work: no start-up is needed. Whatever the value:
// - each call ends with Ok, Unusable or TooLarge, and a message exactly
//   when it failed;
// - strict base64 has one text per byte string: what base64Decode takes is
//   what base64Encode writes for its bytes, once the line breaks and wraps
//   are skipped, and base64Encode's text decodes back to its bytes;
// - the posted value decodes as base64Decode does, within its limits: the
//   same bytes or the same message, never more than the limit, never empty;
// - form encoding changes nothing for a value without '%' or '+'.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <corvane/login.h>
#include <corvane/request.h>

namespace {

using corvane::Result;
using corvane::Status;

void require(bool condition, const char* what, const std::string& message = std::string()) {
    if (condition) return;
    std::fprintf(stderr, "corvane fuzz check failed: %s (message: %s)\n", what, message.c_str());
    std::abort();
}

template <typename T>
void requireWellFormedResult(const Result<T>& result, const char* call) {
    const Status s = result.status();
    require(s == Status::Ok || s == Status::Unusable || s == Status::TooLarge, call,
            result.message());
    require(result.ok() == result.message().empty(), "a message exactly when it failed",
            result.message());
}

// The text without the line breaks and wraps the decoder skips.
std::string withoutWhiteSpace(const std::string& text) {
    std::string out;
    for (const char c : text)
        if (c != '\r' && c != '\n' && c != ' ' && c != '\t') out += c;
    return out;
}

void checkBase64(const std::string& value, std::size_t limit) {
    const Result<std::string> decoded = corvane::base64Decode(value, limit);
    requireWellFormedResult(decoded, "base64Decode status");
    require((decoded.status() == Status::TooLarge) == (value.size() > limit),
            "base64Decode TooLarge exactly above its limit", decoded.message());
    if (decoded.ok()) {
        require(corvane::base64Encode(decoded.value()) == withoutWhiteSpace(value),
                "accepted base64 is not the canonical text of its bytes");
    }
    // Any bytes: encoded, then decoded back.
    const Result<std::string> back = corvane::base64Decode(corvane::base64Encode(value));
    require(back.ok() && back.value() == value, "base64Encode does not decode back", back.message());
}

bool hasFormCharacters(const std::string& value) {
    return value.find_first_of("%+") != std::string::npos;
}

// The posted value beside base64Decode of the same text.
void checkPosted(const std::string& value, bool formEncoded, bool smallLimit, std::size_t limit) {
    const Result<std::string> posted =
        smallLimit ? corvane::decodePostedResponse(value, formEncoded, limit)
                   : corvane::decodePostedResponse(value, formEncoded);
    const std::size_t maxBytes = smallLimit ? limit : 2u << 20;
    requireWellFormedResult(posted, "decodePostedResponse status");
    if (posted.ok()) {
        require(!posted.value().empty(), "an empty response decoded");
        require(posted.value().size() <= maxBytes, "a response beyond the limit decoded");
    }
    if (formEncoded && !hasFormCharacters(value)) {
        const Result<std::string> plain = smallLimit
                                              ? corvane::decodePostedResponse(value, false, limit)
                                              : corvane::decodePostedResponse(value, false);
        require(plain.status() == posted.status() && plain.message() == posted.message(),
                "form encoding changed a value without '%' or '+'", posted.message());
        require(!plain.ok() || plain.value() == posted.value(), "form encoding changed the bytes");
    }
    if (formEncoded) return;
    // Within the text limit (4 * maxBytes + 64), the plain value is what
    // base64Decode makes of it, then checked for emptiness and size.
    if (value.size() > maxBytes * 4 + 64) {
        require(posted.status() == Status::TooLarge, "overlong text read", posted.message());
        return;
    }
    const Result<std::string> bytes = corvane::base64Decode(value, maxBytes * 4 + 64);
    if (!bytes.ok()) {
        require(posted.status() == bytes.status() && posted.message() == bytes.message(),
                "posted value refused otherwise than its base64", posted.message());
        return;
    }
    const bool fits = !bytes.value().empty() && bytes.value().size() <= maxBytes;
    require(posted.ok() == fits, "posted value judged otherwise than its size", posted.message());
    require(!posted.ok() || posted.value() == bytes.value(), "posted value decoded otherwise");
    require(bytes.value().size() <= maxBytes || posted.status() == Status::TooLarge,
            "a value over the limit refused for another reason", posted.message());
    require(!bytes.value().empty() || posted.status() == Status::Unusable,
            "an empty value refused for another reason", posted.message());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const bool formEncoded = (data[0] & 1) != 0;
    const bool smallLimit = (data[0] & 2) != 0;
    const std::size_t skip = smallLimit ? 2 : 1;
    if (size < skip) return 0;
    const std::size_t limit = smallLimit ? data[1] : 0;
    const std::string value(reinterpret_cast<const char*>(data) + skip, size - skip);
    checkBase64(value, smallLimit ? limit : 8u << 20);
    checkPosted(value, formEncoded, smallLimit, limit);
    return 0;
}
