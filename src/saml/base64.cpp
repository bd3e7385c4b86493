// Strict base64 for the bindings. OpenSSL's decoders accept what the
// bindings must refuse (EVP_DecodeUpdate skips stray characters and takes
// data after the padding; EVP_DecodeBlock pads silently with zero bits),
// so the checks and the decoding are done here; encoding stays OpenSSL's.
#include <cstdio>

#include "corvane/request.h"
#include "Corvane.h"
#include "frame/call_scope.h"
#include "saml/bindings.h"
#include "xml/build.h"

namespace corvane {

namespace {

const char kBadCharacter[] = "Base64 text holds the character %s at offset %zu";
const char kDataAfterPadding[] = "Base64 text continues after its padding at offset %zu";
const char kBadLength[] = "Base64 text ends in the middle of a group: padding is missing";
const char kBadPadding[] = "Base64 padding at offset %zu is misplaced";
const char kUnusedBits[] = "Base64 text has bits set beyond its last byte";
const char kTooLarge[] = "Base64 text is larger than %zu bytes";

const int kOk = 0;
const int kUnusable = -8;
const int kTooLargeStatus = -11;
const int kNotBase64 = -1;

// The 6-bit value of a base64 digit, or kNotBase64.
int digitValue(unsigned char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return kNotBase64;
}

// The line breaks and the spaces and tabs IdPs wrap lines with.
bool isLineBreakOrWrap(unsigned char c) { return c == '\r' || c == '\n' || c == ' ' || c == '\t'; }

// 'c' for printable ASCII, else its byte value, for the message.
std::string shownCharacter(unsigned char c) {
    char text[16];
    if (c >= 0x21 && c < 0x7f)
        std::snprintf(text, sizeof text, "'%c'", c);
    else
        std::snprintf(text, sizeof text, "0x%02x", c);
    return text;
}

// The digits alone, with the padding count; 0, or -8 after one message
// for a foreign character, a digit after the padding or padding that is
// not at the end of the last group.
int digitsAndPadding(const std::string& text, std::string* digits, std::size_t* padding) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (isLineBreakOrWrap(c)) continue;
        if (c == '=') {
            if (++*padding > 2 || (digits->size() + *padding) % 4 == 1) {
                CorvaneBase::setErrorMessage(kBadPadding, i);
                return kUnusable;
            }
            continue;
        }
        if (digitValue(c) == kNotBase64) {
            CorvaneBase::setErrorMessage(kBadCharacter, shownCharacter(c).c_str(), i);
            return kUnusable;
        }
        if (*padding > 0) {
            CorvaneBase::setErrorMessage(kDataAfterPadding, i);
            return kUnusable;
        }
        *digits += static_cast<char>(c);
    }
    return kOk;
}

// Decodes checked digits; false when the last group leaves bits set.
bool decodeDigits(const std::string& digits, std::string* bytes) {
    std::string out;
    out.reserve(digits.size() / 4 * 3 + 2);
    unsigned int accumulator = 0;
    int bits = 0;
    for (const char d : digits) {
        accumulator = (accumulator << 6) |
                      static_cast<unsigned int>(digitValue(static_cast<unsigned char>(d)));
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out += static_cast<char>((accumulator >> bits) & 0xffu);
        }
    }
    if (bits > 0 && (accumulator & ((1u << bits) - 1u)) != 0) return false;
    bytes->swap(out);
    return true;
}

}  // namespace

namespace internal {

int decodeBase64Strict(const std::string& text, std::size_t maxTextBytes, std::string* bytes) {
    if (text.size() > maxTextBytes) {
        CorvaneBase::setErrorMessage(kTooLarge, maxTextBytes);
        return kTooLargeStatus;
    }
    std::string digits;
    std::size_t padding = 0;
    const int status = digitsAndPadding(text, &digits, &padding);
    if (status != kOk) return status;
    if ((digits.size() + padding) % 4 != 0) {
        CorvaneBase::setErrorMessage(kBadLength);
        return kUnusable;
    }
    if (!decodeDigits(digits, bytes)) {
        CorvaneBase::setErrorMessage(kUnusedBits);
        return kUnusable;
    }
    return kOk;
}

}  // namespace internal

std::string base64Encode(const std::string& bytes) { return internal::base64Encode(bytes); }

Result<std::string> base64Decode(const std::string& text, std::size_t maxBytes) {
    // Pure text work: usable without a started Library.
    internal::CallScope scope;
    std::string bytes;
    const int status = internal::decodeBase64Strict(text, maxBytes, &bytes);
    return scope.result(status, std::move(bytes));
}

}  // namespace corvane
