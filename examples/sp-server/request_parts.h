// corvane example SP server: reading the parts of an HTTP request a browser
// sends (path, query, cookies, form fields) and escaping what goes back into
// HTML. Every function here takes hostile text and returns plain values; none
// throws. Independent of the HTTP library, so the tests call it directly.
#ifndef CORVANE_SP_SERVER_REQUEST_PARTS_H
#define CORVANE_SP_SERVER_REQUEST_PARTS_H

#include <optional>
#include <string>

namespace sp_server {

// The path of a request target ("/acs?x=1" -> "/acs"): everything before the
// first '?' or '#'.
std::string targetPath(const std::string& target);

// The query of a request target, without the '?' and any "#fragment"; empty
// when there is none.
std::string targetQuery(const std::string& target);

// Undoes application/x-www-form-urlencoded escaping: '+' becomes a space,
// %XX the octet XX. Nothing (nullopt) for a '%' not followed by two hex
// digits.
std::optional<std::string> formDecode(const std::string& text);

// The value of the first field called name in an application/x-www-form-
// urlencoded text (a query or a POST body), exactly as it is written there,
// still escaped; nothing when the field is absent. Field names are compared
// after decoding.
std::optional<std::string> rawFormField(const std::string& encoded, const std::string& name);

// The value of the first field called name, decoded; nothing when it is
// absent or its escaping is bad.
std::optional<std::string> formField(const std::string& encoded, const std::string& name);

// The value of the cookie called name in a Cookie header ("a=1; b=2"), or
// nothing. Values are returned as sent (cookies carry no escaping of their
// own); surrounding double quotes are removed.
std::optional<std::string> cookieValue(const std::string& cookieHeader, const std::string& name);

// text with &, <, >, " and ' written as character references, so it shows as
// text in an HTML element or a quoted attribute; every other character is
// kept (UTF-8 stays UTF-8). Control characters other than tab and line break
// become U+FFFD, so nothing signed can drive the page's layout.
std::string htmlEscape(const std::string& text);

// True for a media type (the Content-Type header) of
// application/x-www-form-urlencoded, with any parameters and in any case.
bool isFormContentType(const std::string& contentType);

}  // namespace sp_server

#endif
