#include "frame/escape.h"

#include <cstdio>

namespace corvane {
namespace internal {

namespace {

void appendByteCode(std::string* out, unsigned value) {
    char code[8];
    std::snprintf(code, sizeof code, "\\x%02X", value);
    *out += code;
}

void appendCodePoint(std::string* out, unsigned value) {
    char code[8];
    std::snprintf(code, sizeof code, "\\u%04X", value);
    *out += code;
}

// The code point of a two- or three-byte UTF-8 sequence at pos that is a
// C1 control (U+0080-U+009F) or U+2028/U+2029, with its length; 0 otherwise.
unsigned lineBreakingCodePoint(const std::string& text, std::string::size_type pos,
                               std::string::size_type* length) {
    const unsigned char lead = static_cast<unsigned char>(text[pos]);
    const auto at = [&](std::string::size_type i) {
        return pos + i < text.size() ? static_cast<unsigned char>(text[pos + i]) : 0u;
    };
    if (lead == 0xC2 && at(1) >= 0x80 && at(1) <= 0x9F) {
        *length = 2;
        return at(1);
    }
    if (lead == 0xE2 && at(1) == 0x80 && (at(2) == 0xA8 || at(2) == 0xA9)) {
        *length = 3;
        return 0x2000u + (at(2) - 0x80u);
    }
    return 0;
}

}  // namespace

std::string escapedForMessage(const std::string& value) {
    std::string out;
    out.reserve(value.size());
    for (std::string::size_type pos = 0; pos < value.size(); ++pos) {
        const unsigned char c = static_cast<unsigned char>(value[pos]);
        std::string::size_type length = 0;
        const unsigned codePoint = lineBreakingCodePoint(value, pos, &length);
        if (codePoint != 0) {
            appendCodePoint(&out, codePoint);
            pos += length - 1;
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c == '\\') {
            out += "\\\\";
        } else if (c < 0x20 || c == 0x7F) {
            appendByteCode(&out, c);
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

std::string escapedForMessage(const char* value) {
    return escapedForMessage(std::string(value ? value : ""));
}

}  // namespace internal
}  // namespace corvane
