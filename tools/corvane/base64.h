// The documented NameID-only check's own reading of a base64 form value
// (standard alphabet, with padding, by OpenSSL's EVP block coder), kept
// for that command's messages; everything else uses the library's strict
// decoder (corvane/login.h).
#ifndef CORVANE_CLI_BASE64_H
#define CORVANE_CLI_BASE64_H

#include <string>

namespace corvane_cli {

// Decodes a base64 form value as a browser posts it: white space (line
// breaks included) is skipped and percent-escapes (%2B, %3D, ...) are
// undone first. On failure returns false with the problem, e.g.
// "unexpected character '!' at offset 12"; offsets count bytes of `text`.
bool base64Decode(const std::string& text, std::string& bytes, std::string& problem);

// True when the text starts with '<' after an optional UTF-8 byte order
// mark and white space: XML rather than base64.
bool looksLikeXml(const std::string& text);

}  // namespace corvane_cli

#endif
