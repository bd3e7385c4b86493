// The decoders and encoders of the HTTP-POST binding, with statuses
// (messages through the frame), for the public calls and the fuzz target.
#ifndef CORVANE_SAML_BINDINGS_H
#define CORVANE_SAML_BINDINGS_H

#include <cstddef>
#include <string>

namespace corvane {
namespace internal {

// Strict base64 (see corvane/request.h, base64Decode): 0 with *bytes set;
// -8 for bad characters or padding, -11 for text over maxTextBytes; one
// message each.
int decodeBase64Strict(const std::string& text, std::size_t maxTextBytes, std::string* bytes);

// An application/x-www-form-urlencoded value decoded: '+' is a space,
// %XX an octet. 0, or -8 after one message for a '%' without two hex
// digits.
int decodeFormValue(const std::string& value, std::string* decoded);

// The posted SAMLResponse value to XML: form decoding (when formEncoded),
// strict base64, the decoded size at most maxBytes (-11 beyond, checked
// on the text first), not empty.
int decodePostedValue(const std::string& value, bool formEncoded, std::size_t maxBytes,
                      std::string* xml);

// RFC 3986: the unreserved characters (A-Z a-z 0-9 - . _ ~) kept, every
// other octet as %XX with upper-case hex digits.
std::string urlEncode(const std::string& text);

// text with & < > " ' written as character references.
std::string htmlEscape(const std::string& text);

}  // namespace internal
}  // namespace corvane

#endif
