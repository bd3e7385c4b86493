#include "base64.h"

#include <climits>
#include <cstdio>
#include <stdexcept>
#include <vector>

#include <openssl/evp.h>

namespace corvane_cli {

namespace {

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
}

bool isBase64Symbol(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
           c == '/';
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// 'c' for printable characters, \xNN for the rest.
std::string shown(char c) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte < 0x7f) return std::string("'") + c + "'";
    char text[8];
    std::snprintf(text, sizeof text, "\\x%02x", byte);
    return text;
}

// The base64 characters of a form value, white space skipped and
// percent-escapes undone, each with its offset in the original text.
struct Symbols {
    std::string chars;
    std::vector<std::size_t> offsets;
};

bool collectSymbols(const std::string& text, Symbols& symbols, std::string& problem) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        const std::size_t offset = i;
        if (isSpace(c)) continue;
        if (c == '%') {
            const int high = i + 2 < text.size() ? hexValue(text[i + 1]) : -1;
            const int low = high >= 0 ? hexValue(text[i + 2]) : -1;
            if (low < 0) {
                problem = "broken percent-escape at offset " + std::to_string(offset);
                return false;
            }
            c = static_cast<char>(high * 16 + low);
            i += 2;
            if (isSpace(c)) continue;  // %0D%0A of a value wrapped into lines
        }
        symbols.chars += c;
        symbols.offsets.push_back(offset);
    }
    return true;
}

// Standard alphabet, a length that is a multiple of 4, and at most two
// '=' at the very end.
bool checkSymbols(const Symbols& symbols, std::string& problem) {
    const std::string& chars = symbols.chars;
    if (chars.empty()) {
        problem = "is empty";
        return false;
    }
    std::size_t padding = 0;
    for (std::size_t i = 0; i < chars.size(); ++i) {
        const bool pad = chars[i] == '=' && chars.size() - i <= 2;
        if (pad) {
            ++padding;
        } else if (!isBase64Symbol(chars[i]) || padding > 0) {
            problem = "unexpected character " + shown(chars[i]) + " at offset " +
                      std::to_string(symbols.offsets[i]);
            return false;
        }
    }
    if (chars.size() % 4 != 0) {
        problem = "length " + std::to_string(chars.size()) +
                  " (white space skipped) is not a multiple of 4";
        return false;
    }
    return true;
}

}  // namespace

bool base64Decode(const std::string& text, std::string& bytes, std::string& problem) {
    Symbols symbols;
    if (!collectSymbols(text, symbols, problem) || !checkSymbols(symbols, problem)) return false;
    const std::string& chars = symbols.chars;
    if (chars.size() > static_cast<std::size_t>(INT_MAX)) {
        problem = "too large";
        return false;
    }
    std::string decoded(chars.size() / 4 * 3, '\0');
    const int length = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(&decoded[0]),
                                       reinterpret_cast<const unsigned char*>(chars.data()),
                                       static_cast<int>(chars.size()));
    if (length < 0) {
        problem = "not valid base64";
        return false;
    }
    // EVP_DecodeBlock counts the zero bytes that stand for the padding.
    std::size_t padding = 0;
    for (auto it = chars.rbegin(); it != chars.rend() && *it == '='; ++it) ++padding;
    decoded.resize(static_cast<std::size_t>(length) - padding);
    bytes.swap(decoded);
    return true;
}

bool looksLikeXml(const std::string& text) {
    std::size_t i = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    while (i < text.size() && isSpace(text[i])) ++i;
    return i < text.size() && text[i] == '<';
}

}  // namespace corvane_cli
