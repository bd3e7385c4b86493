// Reading an HTTP-Redirect message from the raw query string exactly as
// the browser sent it: the binding's parameters by exact name, the octets
// their signature covers rebuilt from the received encodings, and the
// message inflated within a hard bound.
#ifndef CORVANE_SAML_REDIRECT_QUERY_H
#define CORVANE_SAML_REDIRECT_QUERY_H

#include <cstddef>
#include <string>

namespace corvane {
namespace internal {

// One of the binding's parameters: whether the query names it, its value
// as received (still URL-encoded) and decoded ('+' a space, %XX in either
// case an octet).
struct RedirectParameter {
    bool present = false;
    std::string received;
    std::string decoded;
};

struct RedirectQuery {
    RedirectParameter message;  // SAMLRequest or SAMLResponse
    RedirectParameter relayState;
    RedirectParameter sigAlg;
    RedirectParameter signature;
    // What the signature covers, in the binding's order whatever the order
    // in the URL: "NAME=v", "&RelayState=v" when RelayState is present (an
    // empty one too), "&SigAlg=v", each v exactly as received. Empty when
    // the query names no SigAlg.
    std::string signedOctets;
};

// The query's parameters, split at '&' and named by the text before the
// first '=' (a parameter without '=' has an empty value): messageName
// ("SAMLRequest" or "SAMLResponse"), RelayState, SigAlg and Signature,
// compared octet by octet; every other parameter (xSigAlg, foo=SAMLRequest,
// ...) is ignored. 0 with *query set, or after one message: -11 for a
// query over maxQueryBytes; -8 for one of the four named twice, the other
// message parameter named, a name that spells one of them with escapes or
// '+' (a framework would read it as that parameter), a bad percent-escape
// in one of their values, no message or an empty one, a RelayState whose
// decoded value is over 80 bytes.
int parseRedirectQuery(const std::string& rawQuery, const char* messageName,
                       std::size_t maxQueryBytes, RedirectQuery* query);

// The decoded message parameter (base64 of raw DEFLATE data) to the
// message: strict base64, then zlib's inflate of raw DEFLATE with its
// output stopped past maxBytes (-11: a compression bomb ends there,
// whatever its ratio), the stream complete with nothing after it (-8), the
// message not empty (-8). 0 with *xml set, or after one message naming
// messageName.
int inflateRedirectMessage(const std::string& base64Text, const char* messageName,
                           std::size_t maxBytes, std::string* xml);

}  // namespace internal
}  // namespace corvane

#endif
