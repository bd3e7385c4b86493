// The HTTP-Redirect query parser and the logout verification of a raw
// query, on arbitrary bytes. The first byte chooses the message expected
// (bit 0: SAMLRequest, else SAMLResponse); the rest is the query. Whatever
// the query:
// - parseRedirectQuery ends with 0, -8 or -11, with a message exactly when
//   it failed;
// - on 0, each of the four parameters it took is a part "NAME=received" of
//   the query (or "NAME" alone for an empty one), named exactly once; its
//   decoded value is the form decoding of what was received; the message is
//   not empty and the RelayState at most 80 bytes; the signed octets are
//   the received texts in the binding's order;
// - the parse does not depend on the order of the parts: the query with
//   its parts reversed parses alike;
// - the inflation of the message ends with 0, -8 or -11 and never gives
//   more than its bound;
// - the public verification refuses it: the seeds signed with the test
//   IdP's key break a rule of the profile (another Destination), and any
//   change to them breaks the signature, so no query is ever accepted.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <corvane/corvane.h>

#include "frame/call_scope.h"
#include "fuzz_support.h"
#include "saml/redirect_query.h"

namespace {

using corvane::internal::RedirectParameter;
using corvane::internal::RedirectQuery;
using corvane_fuzz::require;

const std::size_t kQueryBound = 1u << 16;
const std::size_t kInflateBound = 4096;

struct Parsed {
    int status;
    std::string message;
    RedirectQuery query;
};

Parsed parse(const std::string& raw, const char* name) {
    Parsed parsed{0, "", RedirectQuery()};
    corvane::internal::CallScope scope;
    parsed.status = corvane::internal::parseRedirectQuery(raw, name, kQueryBound, &parsed.query);
    parsed.message = scope.result(parsed.status).message();
    return parsed;
}

std::vector<std::string> partsOf(const std::string& raw) {
    std::vector<std::string> parts;
    for (std::size_t start = 0; start <= raw.size();) {
        std::size_t end = raw.find('&', start);
        if (end == std::string::npos) end = raw.size();
        parts.push_back(raw.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The form decoding, written again here; false for a bad escape.
bool formDecoded(const std::string& text, std::string* out) {
    out->clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '+') {
            *out += ' ';
        } else if (text[i] != '%') {
            *out += text[i];
        } else {
            if (i + 2 >= text.size() || hexDigit(text[i + 1]) < 0 || hexDigit(text[i + 2]) < 0)
                return false;
            *out += static_cast<char>(hexDigit(text[i + 1]) * 16 + hexDigit(text[i + 2]));
            i += 2;
        }
    }
    return true;
}

// The parameter taken is a part of the query named exactly once.
void checkParameter(const std::vector<std::string>& parts, const std::string& name,
                    const RedirectParameter& parameter) {
    int named = 0;
    bool found = !parameter.present;
    for (const std::string& part : parts) {
        const std::string partName = part.substr(0, part.find('='));
        if (partName != name) continue;
        ++named;
        found = found || part == name + "=" + parameter.received ||
                (part == name && parameter.received.empty());
    }
    require(named == (parameter.present ? 1 : 0), "a parameter taken not exactly once");
    require(found, "a parameter's received text is not a part of the query");
    std::string decoded;
    require(!parameter.present ||
                (formDecoded(parameter.received, &decoded) && decoded == parameter.decoded),
            "a parameter decoded otherwise than its form decoding");
}

void checkParsed(const std::string& raw, const char* name, const Parsed& p) {
    require(p.status == 0 || p.status == -8 || p.status == -11, "parse status");
    require((p.status == 0) == p.message.empty(), "a message exactly when the parse failed");
    if (p.status != 0) return;
    const RedirectQuery& q = p.query;
    const std::vector<std::string> parts = partsOf(raw);
    checkParameter(parts, name, q.message);
    checkParameter(parts, "RelayState", q.relayState);
    checkParameter(parts, "SigAlg", q.sigAlg);
    checkParameter(parts, "Signature", q.signature);
    require(!q.message.decoded.empty(), "an empty message taken");
    require(q.relayState.decoded.size() <= 80, "a RelayState over 80 bytes taken");
    const std::string octets =
        !q.sigAlg.present
            ? std::string()
            : std::string(name) + "=" + q.message.received +
                  (q.relayState.present ? "&RelayState=" + q.relayState.received : std::string()) +
                  "&SigAlg=" + q.sigAlg.received;
    require(q.signedOctets == octets, "signed octets not in the binding's order");
}

void checkOrderIndependent(const std::string& raw, const char* name, const Parsed& p) {
    const std::vector<std::string> parts = partsOf(raw);
    std::string reversed;
    for (std::size_t i = parts.size(); i-- > 0;) reversed += parts[i] + (i > 0 ? "&" : "");
    const Parsed r = parse(reversed, name);
    require((r.status == 0) == (p.status == 0), "the order of the parts changed the verdict");
    if (p.status != 0) return;
    require(r.query.signedOctets == p.query.signedOctets &&
                r.query.message.decoded == p.query.message.decoded &&
                r.query.relayState.decoded == p.query.relayState.decoded,
            "the order of the parts changed what was taken");
}

void checkInflation(const RedirectQuery& q) {
    std::string xml;
    corvane::internal::CallScope scope;
    const int status = corvane::internal::inflateRedirectMessage(q.message.decoded, "SAMLResponse",
                                                                 kInflateBound, &xml);
    require(status == 0 || status == -8 || status == -11, "inflation status");
    require((status == 0) == scope.result(status).message().empty(),
            "a message exactly when the inflation failed");
    require(status != 0 || (!xml.empty() && xml.size() <= kInflateBound),
            "inflation beyond its bound");
}

void checkVerification(const std::string& raw, bool request) {
    static const corvane::KeyPtr certificate = [] {
        corvane_fuzz::library();
        return corvane::Key::loadCertificate(corvane_fuzz::fixture("test-idp-cert.pem")).value();
    }();
    corvane::LogoutExpectations expected;
    expected.idpEntityId = "https://idp.example.test/fuzz";
    expected.idpCertificates = {certificate};
    expected.spLogoutUrl = "https://sp.example.test/slo";
    expected.requestId = "_fuzz-request";
    expected.allowSha1 = true;
    expected.skipReplayCheck = true;
    const corvane::Status status = request
                                       ? corvane::verifyLogoutRequestQuery(raw, expected).status()
                                       : corvane::verifyLogoutResponseQuery(raw, expected).status();
    require(status == corvane::Status::NotAuthentic || status == corvane::Status::Unusable ||
                status == corvane::Status::TooLarge || status == corvane::Status::ProfileRefused,
            "the verification of a query ended otherwise than refused");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const bool request = (data[0] & 1) != 0;
    const char* name = request ? "SAMLRequest" : "SAMLResponse";
    const std::string raw(reinterpret_cast<const char*>(data) + 1, size - 1);
    const Parsed parsed = parse(raw, name);
    checkParsed(raw, name, parsed);
    checkOrderIndependent(raw, name, parsed);
    if (parsed.status == 0) checkInflation(parsed.query);
    checkVerification(raw, request);
    return 0;
}
