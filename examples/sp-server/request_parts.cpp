#include "request_parts.h"

#include <cctype>
#include <vector>

namespace sp_server {

namespace {

int hexDigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string trimSpaces(const std::string& text) {
    const std::string::size_type first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return std::string();
    const std::string::size_type last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

std::string lowerAscii(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

}  // namespace

std::string targetPath(const std::string& target) {
    return target.substr(0, target.find_first_of("?#"));
}

std::string targetQuery(const std::string& target) {
    const std::string::size_type question = target.find('?');
    const std::string::size_type hash = target.find('#');
    if (question == std::string::npos || (hash != std::string::npos && hash < question)) {
        return std::string();
    }
    const std::string::size_type end = hash == std::string::npos ? target.size() : hash;
    return target.substr(question + 1, end - question - 1);
}

std::optional<std::string> formDecode(const std::string& text) {
    std::string decoded;
    decoded.reserve(text.size());
    for (std::string::size_type i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '+') {
            decoded += ' ';
        } else if (c == '%') {
            if (i + 2 >= text.size()) return std::nullopt;
            const int high = hexDigitValue(text[i + 1]);
            const int low = hexDigitValue(text[i + 2]);
            if (high < 0 || low < 0) return std::nullopt;
            decoded += static_cast<char>(high * 16 + low);
            i += 2;
        } else {
            decoded += c;
        }
    }
    return decoded;
}

// The pieces of text between separators, in order.
std::vector<std::string> splitAt(const std::string& text, char separator) {
    std::vector<std::string> pieces;
    std::string::size_type start = 0;
    for (;;) {
        const std::string::size_type end = text.find(separator, start);
        pieces.push_back(
            text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos) return pieces;
        start = end + 1;
    }
}

std::optional<std::string> rawFormField(const std::string& encoded, const std::string& name) {
    for (const std::string& pair : splitAt(encoded, '&')) {
        const std::string::size_type equals = pair.find('=');
        const std::optional<std::string> fieldName = formDecode(pair.substr(0, equals));
        if (fieldName && *fieldName == name) {
            return equals == std::string::npos ? std::string() : pair.substr(equals + 1);
        }
    }
    return std::nullopt;
}

std::optional<std::string> formField(const std::string& encoded, const std::string& name) {
    const std::optional<std::string> raw = rawFormField(encoded, name);
    if (!raw) return std::nullopt;
    return formDecode(*raw);
}

std::optional<std::string> cookieValue(const std::string& cookieHeader, const std::string& name) {
    for (const std::string& pair : splitAt(cookieHeader, ';')) {
        const std::string::size_type equals = pair.find('=');
        if (equals == std::string::npos || trimSpaces(pair.substr(0, equals)) != name) continue;
        std::string value = trimSpaces(pair.substr(equals + 1));
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
            value = value.substr(1, value.size() - 2);
        }
        return value;
    }
    return std::nullopt;
}

std::string htmlEscape(const std::string& text) {
    std::string escaped;
    escaped.reserve(text.size());
    for (const char c : text) {
        const unsigned char byte = static_cast<unsigned char>(c);
        switch (c) {
            case '&':
                escaped += "&amp;";
                break;
            case '<':
                escaped += "&lt;";
                break;
            case '>':
                escaped += "&gt;";
                break;
            case '"':
                escaped += "&quot;";
                break;
            case '\'':
                escaped += "&#39;";
                break;
            default:
                if ((byte < 0x20 && c != '\t' && c != '\n') || byte == 0x7f) {
                    escaped += "\xEF\xBF\xBD";
                } else {
                    escaped += c;
                }
        }
    }
    return escaped;
}

bool isFormContentType(const std::string& contentType) {
    const std::string mediaType =
        lowerAscii(trimSpaces(contentType.substr(0, contentType.find(';'))));
    return mediaType == "application/x-www-form-urlencoded";
}

}  // namespace sp_server
