// The decoders and encoders of the HTTP-POST binding, with statuses
// (messages through the frame), for the public calls and the fuzz target.
#ifndef CORVANE_SAML_BINDINGS_H
#define CORVANE_SAML_BINDINGS_H

#include <cstddef>
#include <string>

namespace corvane {

class Key;

namespace internal {

// Strict base64 (see corvane/request.h, base64Decode): 0 with *bytes set;
// -8 for bad characters or padding, -11 for text over maxTextBytes; one
// message each.
int decodeBase64Strict(const std::string& text, std::size_t maxTextBytes, std::string* bytes);

// An application/x-www-form-urlencoded text decoded: '+' is a space, %XX
// an octet (either case). False, with the offset of the first '%' not
// followed by two hex digits in *badEscapeAt, and nothing reported.
bool decodeFormText(const std::string& value, std::string* decoded, std::size_t* badEscapeAt);

// The same for a value: '+' is a space,
// %XX an octet (either case). 0, or -8 after one message naming what
// ("SAMLResponse form value", ...) for a '%' without two hex digits.
int decodeFormValue(const std::string& value, const char* what, std::string* decoded);

// The posted value of the form field ("SAMLResponse", "SAMLRequest") to
// XML: form decoding (when formEncoded), strict base64, the decoded size
// at most maxBytes (-11 beyond, checked on the text first), not empty.
int decodePostedValue(const std::string& value, const char* field, bool formEncoded,
                      std::size_t maxBytes, std::string* xml);

// The HTTP-POST page (see corvane/request.h, postForm) whose form posts
// message in base64 as field ("SAMLRequest", "SAMLResponse"). 0 with
// *page set, or -9 after one message.
int postFormPage(const char* field, const std::string& actionUrl, const std::string& message,
                 const std::string& relayState, std::string* page);

// The HTTP-Redirect query for message as parameter ("SAMLRequest",
// "SAMLResponse"; see corvane/request.h, encodeRedirectQuery): 0 with
// *query set, or -8 or -9 after one message.
int encodeRedirectMessage(const char* parameter, const std::string& message,
                          const std::string& relayState, const Key* spKey, bool useSha1,
                          std::string* query);

// RFC 3986: the unreserved characters (A-Z a-z 0-9 - . _ ~) kept, every
// other octet as %XX with upper-case hex digits.
std::string urlEncode(const std::string& text);

// text with & < > " ' written as character references.
std::string htmlEscape(const std::string& text);

}  // namespace internal
}  // namespace corvane

#endif
