// The HTTP-Redirect query parser on its own: parameters by exact name and
// at most once, the signed octets rebuilt in the binding's order from the
// received text, values decoded, and the inflation bound.
#include <string>
#include <vector>

#include "corvane_test_support.h"
#include "frame/call_scope.h"
#include "redirect_codec.h"
#include "saml/redirect_query.h"

namespace {

using namespace corvane_test;
using corvane::internal::RedirectQuery;

struct Parsed {
    int status;
    std::string message;
    RedirectQuery query;
};

// The parser inside a call scope, so its message is what a call returns.
Parsed parse(const std::string& raw, const char* name = "SAMLResponse",
             std::size_t maxBytes = 1u << 20) {
    Parsed parsed{0, "", RedirectQuery()};
    corvane::internal::CallScope scope;
    parsed.status = corvane::internal::parseRedirectQuery(raw, name, maxBytes, &parsed.query);
    parsed.message = scope.result(parsed.status).message();
    return parsed;
}

struct Inflated {
    int status;
    std::string message;
    std::string xml;
};

Inflated inflate(const std::string& base64, std::size_t maxBytes) {
    Inflated inflated{0, "", ""};
    corvane::internal::CallScope scope;
    inflated.status =
        corvane::internal::inflateRedirectMessage(base64, "SAMLRequest", maxBytes, &inflated.xml);
    inflated.message = scope.result(inflated.status).message();
    return inflated;
}

TEST(RedirectQuery, SignedOctetsFollowTheBindingsOrderWhateverTheUrlsOrder) {
    struct OrderRow {
        const char* name;
        std::string raw;
        std::string octets;
    };
    for (const OrderRow& row : {
             OrderRow{"binding order", "SAMLResponse=m&RelayState=r&SigAlg=a&Signature=s",
                      "SAMLResponse=m&RelayState=r&SigAlg=a"},
             OrderRow{"reversed", "Signature=s&SigAlg=a&RelayState=r&SAMLResponse=m",
                      "SAMLResponse=m&RelayState=r&SigAlg=a"},
             OrderRow{"no RelayState", "SigAlg=a&SAMLResponse=m&Signature=s",
                      "SAMLResponse=m&SigAlg=a"},
             OrderRow{"empty RelayState kept", "SAMLResponse=m&RelayState=&SigAlg=a",
                      "SAMLResponse=m&RelayState=&SigAlg=a"},
             OrderRow{"RelayState without '=' kept as empty", "SAMLResponse=m&RelayState&SigAlg=a",
                      "SAMLResponse=m&RelayState=&SigAlg=a"},
             OrderRow{"encodings kept as received",
                      "SAMLResponse=a%2bb%2F&RelayState=x+y%20z&SigAlg=h%3a%2F",
                      "SAMLResponse=a%2bb%2F&RelayState=x+y%20z&SigAlg=h%3a%2F"},
             OrderRow{"decoys and unknown parameters left out",
                      "xSigAlg=d&SAMLResponse=m&foo=SAMLResponse&SigAlgx=e&SigAlg=a&&=&Signature=s",
                      "SAMLResponse=m&SigAlg=a"},
             OrderRow{"no SigAlg: nothing signed", "SAMLResponse=m&Signature=s", ""},
         }) {
        SCOPED_TRACE(row.name);
        const Parsed p = parse(row.raw);
        ASSERT_EQ(p.status, 0) << p.message;
        EXPECT_EQ(p.query.signedOctets, row.octets);
    }
}

TEST(RedirectQuery, ValuesAreDecodedFromEitherCaseAndPlus) {
    const Parsed p = parse("SAMLResponse=QUJD%2b%2F&RelayState=a+b%20c%2fd%2F&SigAlg=x%3A%3a");
    ASSERT_EQ(p.status, 0) << p.message;
    EXPECT_EQ(p.query.message.received, "QUJD%2b%2F");
    EXPECT_EQ(p.query.message.decoded, "QUJD+/");
    EXPECT_EQ(p.query.relayState.decoded, "a b c/d/");
    EXPECT_EQ(p.query.sigAlg.decoded, "x::");
    EXPECT_FALSE(p.query.signature.present);
}

TEST(RedirectQuery, AmbiguousOrMalformedQueriesAreRefused) {
    struct RefusalRow {
        const char* name;
        std::string raw;
        int status;
        std::string message;
    };
    for (const RefusalRow& row : {
             RefusalRow{"control", "SAMLResponse=m&SigAlg=a&Signature=s", 0, ""},
             RefusalRow{"message twice", "SAMLResponse=m&SAMLResponse=n", -8,
                        "HTTP-Redirect query carries SAMLResponse more than once"},
             RefusalRow{"message twice, once empty", "SAMLResponse=&SAMLResponse=n", -8,
                        "HTTP-Redirect query carries SAMLResponse more than once"},
             RefusalRow{"Signature twice", "SAMLResponse=m&Signature=s&Signature=s", -8,
                        "HTTP-Redirect query carries Signature more than once"},
             RefusalRow{"both messages", "SAMLResponse=m&SAMLRequest=n", -8,
                        "HTTP-Redirect query carries SAMLRequest where SAMLResponse is expected"},
             RefusalRow{"name with an escape", "SAMLResponse=m&Sig%41lg=a", -8,
                        "HTTP-Redirect query spells the parameter name Sig%41lg with escapes"},
             RefusalRow{"name with a lower-case escape", "SAMLResponse=m&Sig%61lg=a", 0, ""},
             RefusalRow{"other message's name with an escape", "SAMLResponse=m&SAMLRequ%65st=n", -8,
                        "HTTP-Redirect query spells the parameter name SAMLRequ%65st with escapes"},
             RefusalRow{"no message", "SigAlg=a&Signature=s", -8,
                        "HTTP-Redirect query carries no SAMLResponse"},
             RefusalRow{"empty message", "SAMLResponse=&SigAlg=a", -8,
                        "HTTP-Redirect query carries no SAMLResponse"},
             RefusalRow{"empty query", "", -8, "HTTP-Redirect query carries no SAMLResponse"},
             RefusalRow{"leading '?' is not part of the query", "?SAMLResponse=m", -8,
                        "HTTP-Redirect query carries no SAMLResponse"},
             RefusalRow{"bad escape in a value", "SAMLResponse=m%4", -8,
                        "HTTP-Redirect SAMLResponse form value holds a bad percent-escape at "
                        "offset 1"},
             RefusalRow{"bad escape in an unknown value is ignored", "SAMLResponse=m&x=%zz", 0, ""},
             RefusalRow{"RelayState of 80 bytes",
                        "SAMLResponse=m&RelayState=" + std::string(80, 'r'), 0, ""},
             RefusalRow{"RelayState of 81 bytes, 27 of them escaped",
                        "SAMLResponse=m&RelayState=" + std::string(54, 'r') +
                            urlEncoded(std::string(27, '/'), Hex::Lower),
                        -8, "HTTP-Redirect RelayState is longer than 80 bytes"},
         }) {
        SCOPED_TRACE(row.name);
        const Parsed p = parse(row.raw);
        EXPECT_EQ(p.status, row.status);
        EXPECT_EQ(p.message, row.message);
    }
}

TEST(RedirectQuery, AQueryOverItsBoundIsRefusedUnread) {
    const std::string raw = "SAMLResponse=" + std::string(100, 'm');
    EXPECT_EQ(parse(raw, "SAMLResponse", raw.size()).status, 0);
    const Parsed over = parse(raw, "SAMLResponse", raw.size() - 1);
    EXPECT_EQ(over.status, -11);
    EXPECT_EQ(over.message,
              "HTTP-Redirect query is larger than " + std::to_string(raw.size() - 1) + " bytes");
}

TEST(RedirectQuery, InflationStopsAtItsBound) {
    const std::string text = std::string(5000, 'x');
    const std::string base64 = base64Of(rawDeflated(text));
    const Inflated at = inflate(base64, text.size());
    EXPECT_EQ(at.status, 0) << at.message;
    EXPECT_EQ(at.xml, text);
    const Inflated over = inflate(base64, text.size() - 1);
    EXPECT_EQ(over.status, -11);
    EXPECT_EQ(over.message, "HTTP-Redirect SAMLRequest inflates to more than 4999 bytes");
    EXPECT_EQ(over.xml, "");
    const Inflated nothing = inflate(base64Of(rawDeflated("")), 10);
    EXPECT_EQ(nothing.status, -8);
    EXPECT_EQ(nothing.message, "HTTP-Redirect SAMLRequest inflates to nothing");
}

}  // namespace
