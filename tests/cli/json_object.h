// A strict reader of one JSON object whose members are all strings (RFC
// 8259 grammar: white space, escapes including \uXXXX and surrogate pairs,
// no raw control characters, nothing after the object), for checking what
// the tool prints with --json where every member is a string.
#ifndef CORVANE_CLI_TEST_JSON_OBJECT_H
#define CORVANE_CLI_TEST_JSON_OBJECT_H

#include <map>
#include <string>

namespace corvane_cli_test {

class JsonObjectReader {
public:
    // The members of the one object in text; false when text is anything else
    // (another JSON value, a member that is not a string, a repeated name,
    // bad syntax or trailing text).
    static bool read(const std::string& text, std::map<std::string, std::string>* members) {
        JsonObjectReader reader(text);
        return reader.object(members) && (reader.skipSpace(), reader.at_ == text.size());
    }

private:
    explicit JsonObjectReader(const std::string& text) : text_(text) {}

    void skipSpace() {
        while (at_ < text_.size() && (text_[at_] == ' ' || text_[at_] == '\t' ||
                                      text_[at_] == '\n' || text_[at_] == '\r'))
            ++at_;
    }
    bool take(char c) {
        skipSpace();
        if (at_ >= text_.size() || text_[at_] != c) return false;
        ++at_;
        return true;
    }

    bool object(std::map<std::string, std::string>* members) {
        if (!take('{')) return false;
        if (take('}')) return true;
        do {
            std::string name, value;
            if (!string(&name) || !take(':') || !string(&value)) return false;
            if (!members->emplace(name, value).second) return false;
        } while (take(','));
        return take('}');
    }

    bool hex4(unsigned* code) {
        if (at_ + 4 > text_.size()) return false;
        *code = 0;
        for (int k = 0; k < 4; ++k) {
            const char c = text_[at_++];
            const int digit = c >= '0' && c <= '9'   ? c - '0'
                              : c >= 'a' && c <= 'f' ? c - 'a' + 10
                              : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                     : -1;
            if (digit < 0) return false;
            *code = *code * 16 + static_cast<unsigned>(digit);
        }
        return true;
    }

    static void appendUtf8(unsigned code, std::string* out) {
        if (code < 0x80) {
            *out += static_cast<char>(code);
        } else if (code < 0x800) {
            *out += static_cast<char>(0xc0 | (code >> 6));
            *out += static_cast<char>(0x80 | (code & 0x3f));
        } else if (code < 0x10000) {
            *out += static_cast<char>(0xe0 | (code >> 12));
            *out += static_cast<char>(0x80 | ((code >> 6) & 0x3f));
            *out += static_cast<char>(0x80 | (code & 0x3f));
        } else {
            *out += static_cast<char>(0xf0 | (code >> 18));
            *out += static_cast<char>(0x80 | ((code >> 12) & 0x3f));
            *out += static_cast<char>(0x80 | ((code >> 6) & 0x3f));
            *out += static_cast<char>(0x80 | (code & 0x3f));
        }
    }

    // \uXXXX, a high surrogate followed by its low one.
    bool unicodeEscape(std::string* out) {
        unsigned code = 0;
        if (!hex4(&code)) return false;
        if (code >= 0xdc00 && code <= 0xdfff) return false;
        if (code >= 0xd800 && code <= 0xdbff) {
            unsigned low = 0;
            if (text_.compare(at_, 2, "\\u") != 0) return false;
            at_ += 2;
            if (!hex4(&low) || low < 0xdc00 || low > 0xdfff) return false;
            code = 0x10000 + ((code - 0xd800) << 10) + (low - 0xdc00);
        }
        appendUtf8(code, out);
        return true;
    }

    bool string(std::string* out) {
        if (!take('"')) return false;
        while (at_ < text_.size()) {
            const char c = text_[at_++];
            if (c == '"') return true;
            if (static_cast<unsigned char>(c) < 0x20) return false;
            if (c != '\\') {
                *out += c;
                continue;
            }
            if (at_ >= text_.size()) return false;
            const char e = text_[at_++];
            const char* const simple = "\"\\/bfnrt";
            const char* const meant = "\"\\/\b\f\n\r\t";
            const std::string::size_type which = std::string(simple).find(e);
            if (e == 'u') {
                if (!unicodeEscape(out)) return false;
            } else if (which != std::string::npos) {
                *out += meant[which];
            } else {
                return false;
            }
        }
        return false;
    }

    const std::string& text_;
    std::string::size_type at_ = 0;
};

}  // namespace corvane_cli_test

#endif
