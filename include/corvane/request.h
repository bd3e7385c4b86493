// corvane: the standard samlp:AuthnRequest for standard IdPs, and the
// bindings that carry it: HTTP-POST (an auto-submitting form) and
// HTTP-Redirect (a signed query string).
//
// Every function reports its own failure in its result; nothing is
// written anywhere else. Statuses:
//   Ok          success
//   StartupFailed  no Library (or initHelper) holds the libraries started
//   Unusable    a key that cannot do what is asked (no private key, no
//               certificate), no random bytes for the ID, the clock not
//               readable, the document not built, compressed, signed or
//               serialized
//   BadOptions  the options are not usable: a requestId that is not an
//               xs:ID, a required value empty, a text holding characters
//               XML cannot carry, a RelayState over 80 bytes, an unknown
//               RequestedAuthnContext comparison
//
// Threads: options and keys are read only; any number of calls may run at
// once. Includes only the standard library.
#ifndef CORVANE_REQUEST_H
#define CORVANE_REQUEST_H

#include <ctime>
#include <string>
#include <vector>

#include "corvane/key.h"
#include "corvane/status.h"

namespace corvane {

// Binding and name identifier format URIs for the options below.
const char kBindingHttpPost[] = "urn:oasis:names:tc:SAML:2.0:bindings:HTTP-POST";
const char kBindingHttpRedirect[] = "urn:oasis:names:tc:SAML:2.0:bindings:HTTP-Redirect";
const char kNameIdFormatUnspecified[] = "urn:oasis:names:tc:SAML:1.1:nameid-format:unspecified";
const char kNameIdFormatEmailAddress[] = "urn:oasis:names:tc:SAML:1.1:nameid-format:emailAddress";
const char kNameIdFormatPersistent[] = "urn:oasis:names:tc:SAML:2.0:nameid-format:persistent";
const char kNameIdFormatTransient[] = "urn:oasis:names:tc:SAML:2.0:nameid-format:transient";

// What a standard AuthnRequest says. The defaults are the strict choice:
// RSA-SHA256 with SHA-256, responses by HTTP-POST, no KeyInfo, a fresh
// random ID.
struct StandardRequestOptions {
    // Destination attribute: the IdP's single sign-on URL. Required.
    std::string destination;
    // saml:Issuer text: the SP's entity ID. Required.
    std::string issuer;
    // AssertionConsumerServiceURL; omitted when empty.
    std::string acsUrl;
    // ProtocolBinding, the binding of the response; omitted when empty.
    std::string protocolBinding = kBindingHttpPost;
    // samlp:NameIDPolicy Format; omitted when empty (the IdP chooses).
    std::string nameIdFormat;
    // samlp:NameIDPolicy AllowCreate, always written.
    bool allowCreate = true;
    // ForceAuthn and IsPassive, written only when true.
    bool forceAuthn = false;
    bool isPassive = false;
    // samlp:RequestedAuthnContext with one saml:AuthnContextClassRef per
    // entry, in order; omitted when empty. Comparison is one of "exact",
    // "minimum", "maximum", "better".
    std::vector<std::string> authnContextClassRefs;
    std::string authnContextComparison = "exact";
    // The request's ID (an xs:ID). Empty, the default: "_" and 32 hex
    // digits from OpenSSL's random generator, new for every request.
    // WARNING: a fixed ID lets one response answer many requests; set it
    // only to a fresh, unpredictable value of your own.
    std::string requestId;
    // Relaxation: RSA-SHA1 and SHA-1 instead of RSA-SHA256 and SHA-256,
    // for IdPs that know nothing newer; the embedded signature and the
    // Redirect SigAlg. Off by default.
    bool useSha1 = false;
    // Embedded signature only: a ds:KeyInfo with the SP certificate (the
    // key must have one).
    bool includeKeyInfo = false;
};

// A request made: its ID (the InResponseTo to expect of the answer: give
// it to LoginExpectations::requestId) and its text.
struct AuthnRequest {
    std::string id;
    // The serialized samlp:AuthnRequest (UTF-8, with an XML declaration).
    std::string xml;
};

// The AuthnRequest for the HTTP-POST binding, signed with spKey: root
// samlp:AuthnRequest with ID, Version "2.0", IssueInstant (UTC
// xs:dateTime, "YYYY-MM-DDThh:mm:ssZ"), Destination and the optional
// attributes; children saml:Issuer, ds:Signature (Reference "#" + ID,
// enveloped, exclusive c14n), samlp:NameIDPolicy and the optional
// samlp:RequestedAuthnContext.
Result<AuthnRequest> createSignedAuthnRequest(const StandardRequestOptions& options,
                                              const Key& spKey);

// The same request without a signature (useSha1 and includeKeyInfo do not
// apply), as the HTTP-Redirect binding carries it.
Result<AuthnRequest> createUnsignedAuthnRequest(const StandardRequestOptions& options);

// The HTTP-Redirect query for samlRequest, a serialized SAML request:
// "SAMLRequest=" + its raw DEFLATE, base64 and URL encoding, then
// "&RelayState=" + relayState URL-encoded (left out when empty), and with
// a key "&SigAlg=" + the RSA-SHA256 (RSA-SHA1 with useSha1) URI and
// "&Signature=" + the base64 signature over exactly the octets before
// "&Signature". URL encoding keeps the RFC 3986 unreserved characters and
// writes every other octet as %XX. spKey null: no SigAlg, no Signature.
// BadOptions for a RelayState over 80 bytes; Unusable when the key holds
// no private key or compression or signing failed.
Result<std::string> encodeRedirectQuery(const std::string& samlRequest,
                                        const std::string& relayState, const Key* spKey,
                                        bool useSha1);

// A request for the HTTP-Redirect binding: its ID and the whole URL.
struct RedirectRequest {
    std::string id;
    // The query string alone (see encodeRedirectQuery).
    std::string query;
    // options.destination with the query appended (see redirectUrl).
    std::string url;
};

// createUnsignedAuthnRequest followed by encodeRedirectQuery (with
// options.useSha1), signed when spKey is not null.
Result<RedirectRequest> createRedirectRequest(const StandardRequestOptions& options,
                                              const std::string& relayState, const Key* spKey);

// ssoUrl with query appended: after "?", or after "&" when ssoUrl has a
// query already; ahead of any "#fragment".
std::string redirectUrl(const std::string& ssoUrl, const std::string& query);

// The HTTP-POST binding's page: a complete HTML document whose form posts
// SAMLRequest (samlRequest in base64) and, when not empty, RelayState to
// actionUrl, submitted by one inline script on load, with a <noscript>
// submit button for browsers without scripts. Every value is
// HTML-escaped. BadOptions for an actionUrl that does not start with
// "https://" or "http://", an empty samlRequest, a RelayState over 80
// bytes, or text XML cannot carry.
// WARNING: a Content-Security-Policy without 'unsafe-inline' (or the
// script's hash) blocks the automatic submission; the button still works.
Result<std::string> postForm(const std::string& actionUrl, const std::string& samlRequest,
                             const std::string& relayState);

// bytes in base64 (standard alphabet, padded) on one line.
std::string base64Encode(const std::string& bytes);

// Strict base64 as the bindings carry it: the standard alphabet with
// padding; line breaks (CR, LF) and the spaces and tabs IdPs wrap lines
// with are skipped; any other character, padding that is missing,
// misplaced or followed by data, and non-zero unused bits are refused
// (Unusable, the message naming the offset). Inputs over maxBytes of text
// are refused before decoding (TooLarge).
Result<std::string> base64Decode(const std::string& text, std::size_t maxBytes = 8u << 20);

// instant as UTC xs:dateTime "YYYY-MM-DDThh:mm:ssZ", or empty when it is
// not a date of the years 0001 to 9999.
std::string utcDateTime(std::time_t instant);

}  // namespace corvane

#endif
