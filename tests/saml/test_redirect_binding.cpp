// The HTTP-Redirect binding: the query decodes and inflates back to the
// exact request, its signature verifies with OpenSSL over the exact
// octets, RelayState round-trips, and refused input writes nothing.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include "corvane_test_support.h"
#include "extended_calls.h"
#include "redirect_codec.h"
#include "schema_check.h"

namespace {

using namespace corvane_test;

const char kUntouched[] = "what the caller's string held before";
const char kRsaSha256[] = "http://www.w3.org/2001/04/xmldsig-more#rsa-sha256";
const char kRsaSha1[] = "http://www.w3.org/2000/09/xmldsig#rsa-sha1";
const std::string kProtocolSchema =
    std::string(CORVANE_SCHEMA_DIR) + "/saml-schema-protocol-2.0.xsd";

// --- Schema validation with xmllint -----------------------------------------

::testing::AssertionResult schemaValid(const std::string& xml) {
    return validAgainst(kProtocolSchema, xml);
}

// --- Taking a query apart, independently of the library -------------------

typedef std::vector<std::pair<std::string, std::string>> Params;

// name=value pairs in order, values still URL-encoded.
Params parameters(const std::string& query) {
    Params params;
    std::size_t pos = 0;
    while (pos <= query.size()) {
        std::size_t amp = query.find('&', pos);
        if (amp == std::string::npos) amp = query.size();
        const std::string pair = query.substr(pos, amp - pos);
        const std::size_t eq = pair.find('=');
        params.emplace_back(pair.substr(0, eq), eq == std::string::npos ? "" : pair.substr(eq + 1));
        pos = amp + 1;
    }
    return params;
}

std::vector<std::string> names(const Params& params) {
    std::vector<std::string> out;
    for (const auto& p : params) out.push_back(p.first);
    return out;
}

std::string value(const Params& params, const std::string& name) {
    for (const auto& p : params)
        if (p.first == name) return p.second;
    ADD_FAILURE() << "no parameter " << name;
    return std::string();
}

bool isUnreserved(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~';
}

bool isUpperHex(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); }

// RFC 3986 form: unreserved characters and %XX with upper-case digits only.
bool isStrictlyEncoded(const std::string& text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (isUnreserved(text[i])) continue;
        if (text[i] != '%' || i + 2 >= text.size() || !isUpperHex(text[i + 1]) ||
            !isUpperHex(text[i + 2]))
            return false;
        i += 2;
    }
    return true;
}

std::string requestOf(const std::string& query) {
    return rawInflated(base64Decoded(urlDecoded(value(parameters(query), "SAMLRequest"))));
}

// OpenSSL checks the RSA signature of the octets with the SP certificate.
bool signatureVerifies(const std::string& octets, const std::string& signature, bool sha1) {
    const std::string pem = spCert();
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(
        BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())), BIO_free);
    std::unique_ptr<X509, decltype(&X509_free)> cert(
        PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr), X509_free);
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> md(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    if (!cert || !md) return false;
    if (EVP_DigestVerifyInit(md.get(), nullptr, sha1 ? EVP_sha1() : EVP_sha256(), nullptr,
                             X509_get0_pubkey(cert.get())) != 1)
        return false;
    return EVP_DigestVerify(md.get(), reinterpret_cast<const unsigned char*>(signature.data()),
                            signature.size(), reinterpret_cast<const unsigned char*>(octets.data()),
                            octets.size()) == 1;
}

// The octets the signature covers: everything before "&Signature=".
std::string signedOctets(const std::string& query) {
    return query.substr(0, query.find("&Signature="));
}

// --- Fixtures --------------------------------------------------------------

// The SP key with its certificate, loaded once per test suite and released
// before the library shuts down.
corvane::KeyPtr suiteKey;

corvane::KeyPtr loadedSpKey() { return suiteKey; }

corvane::StandardRequestOptions defaults() {
    corvane::StandardRequestOptions o;
    o.destination = "https://idp.example.test/sso";
    o.issuer = "https://sp.example.test/corvane-test-only";
    o.acsUrl = "https://sp.example.test/acs";
    return o;
}

class Redirect : public RecordingTest {
protected:
    static void SetUpTestSuite() { suiteKey = loadPrivateKey(spKeyAndCert()); }
    static void TearDownTestSuite() { suiteKey.reset(); }
    void SetUp() override {
        RecordingTest::SetUp();
        ASSERT_TRUE(loadedSpKey());
    }
    std::string unsignedRequest() {
        std::string request;
        EXPECT_EQ(createUnsignedAuthnRequest(&request, defaults()), 0);
        Recorder::reset();
        return request;
    }
};

// --- Round trips -----------------------------------------------------------

TEST_F(Redirect, UnsignedQueryCarriesOnlyTheRequestAndInflatesToItExactly) {
    const std::string request = unsignedRequest();
    std::string query = kUntouched;
    ASSERT_EQ(encodeRedirectQuery(&query, request, "", nullptr, false), 0);
    EXPECT_TRUE(Extended::messages().empty());
    const Params params = parameters(query);
    EXPECT_EQ(names(params), std::vector<std::string>{"SAMLRequest"});
    EXPECT_TRUE(isStrictlyEncoded(value(params, "SAMLRequest")));
    EXPECT_EQ(requestOf(query), request);
}

TEST_F(Redirect, SignedQueryVerifiesWithOpenSslOverTheExactOctets) {
    const std::string request = unsignedRequest();
    struct Row {
        bool sha1;
        const char* sigAlg;
    };
    for (const Row& row : {Row{false, kRsaSha256}, Row{true, kRsaSha1}}) {
        SCOPED_TRACE(row.sigAlg);
        std::string query;
        ASSERT_EQ(encodeRedirectQuery(&query, request, "state-1", loadedSpKey().get(), row.sha1),
                  0);
        const Params params = parameters(query);
        EXPECT_EQ(names(params),
                  (std::vector<std::string>{"SAMLRequest", "RelayState", "SigAlg", "Signature"}));
        for (const auto& p : params) EXPECT_TRUE(isStrictlyEncoded(p.second)) << p.first;
        EXPECT_EQ(urlDecoded(value(params, "SigAlg")), row.sigAlg);
        EXPECT_EQ(requestOf(query), request);

        const std::string signature = base64Decoded(urlDecoded(value(params, "Signature")));
        EXPECT_EQ(signature.size(), 256u) << "RSA-2048";
        EXPECT_TRUE(signatureVerifies(signedOctets(query), signature, row.sha1));
        // Honest controls: other octets, or the other digest, do not verify.
        EXPECT_FALSE(signatureVerifies(signedOctets(query) + "x", signature, row.sha1));
        EXPECT_FALSE(signatureVerifies(urlDecoded(signedOctets(query)), signature, row.sha1));
        EXPECT_FALSE(signatureVerifies(signedOctets(query), signature, !row.sha1));
    }
}

TEST_F(Redirect, CreatedQueryCarriesASchemaValidRequestWithoutEmbeddedSignature) {
    Extended::queueId("_corvane-redirect-1");
    corvane::StandardRequestOptions options = defaults();
    options.includeKeyInfo = true;  // applies to the embedded signature only
    std::string query = kUntouched, requestId;
    ASSERT_EQ(createRedirectQuery(&query, options, "", loadedSpKey().get(), &requestId), 0);
    EXPECT_EQ(requestId, "_corvane-redirect-1");
    EXPECT_EQ(Extended::requestsMade(), 1);
    EXPECT_TRUE(Extended::messages().empty());
    const std::string request = requestOf(query);
    EXPECT_TRUE(schemaValid(request));
    EXPECT_NE(request.find("ID=\"_corvane-redirect-1\""), std::string::npos);
    EXPECT_NE(request.find("Destination=\"https://idp.example.test/sso\""), std::string::npos);
    EXPECT_EQ(request.find("Signature"), std::string::npos);
    EXPECT_EQ(names(parameters(query)),
              (std::vector<std::string>{"SAMLRequest", "SigAlg", "Signature"}));
    EXPECT_TRUE(signatureVerifies(signedOctets(query),
                                  base64Decoded(urlDecoded(value(parameters(query), "Signature"))),
                                  false));
}

TEST_F(Redirect, CreatedQueryInflatesToTheUnsignedRequestOfTheSameOptions) {
    Extended::queueId("_same");
    std::string query;
    ASSERT_EQ(createRedirectQuery(&query, defaults(), "", nullptr), 0);
    Extended::queueId("_same");
    std::string request;
    ASSERT_EQ(createUnsignedAuthnRequest(&request, defaults()), 0);
    // Only the clock may differ between the two calls.
    auto withoutInstant = [](const std::string& xml) {
        const std::size_t at = xml.find("IssueInstant=\"");
        return xml.substr(0, at) + xml.substr(xml.find('"', at + 14) + 1);
    };
    EXPECT_EQ(withoutInstant(requestOf(query)), withoutInstant(request));
}

class RelayState : public Redirect, public ::testing::WithParamInterface<std::string> {};

TEST_P(RelayState, RoundTripsThroughStrictUrlEncoding) {
    std::string query;
    ASSERT_EQ(createRedirectQuery(&query, defaults(), GetParam(), loadedSpKey().get()), 0);
    const Params params = parameters(query);
    ASSERT_EQ(names(params),
              (std::vector<std::string>{"SAMLRequest", "RelayState", "SigAlg", "Signature"}));
    EXPECT_TRUE(isStrictlyEncoded(value(params, "RelayState")));
    EXPECT_EQ(urlDecoded(value(params, "RelayState")), GetParam());
    EXPECT_TRUE(signatureVerifies(signedOctets(query),
                                  base64Decoded(urlDecoded(value(params, "Signature"))), false));
}

std::string allOctets(int from, int to) {
    std::string s;
    for (int c = from; c < to; ++c) s += static_cast<char>(c);
    return s;
}

INSTANTIATE_TEST_SUITE_P(States, RelayState,
                         ::testing::Values("plain", ":/?#[]@!$&'()*+,;=", "a b+c%20d&RelayState=x",
                                           "https://sp.example.test/page?x=1&y=2#frag",
                                           "\xC3\xA9t\xC3\xA9 ~-._", std::string(80, 'r'),
                                           std::string("nul\0inside", 10), allOctets(0, 80),
                                           allOctets(80, 160), allOctets(160, 240),
                                           allOctets(240, 256)));

// --- Refused input ---------------------------------------------------------

TEST_F(Redirect, RelayStateOverEightyBytesIsRefusedBeforeTheIdCallback) {
    const std::string tooLong(81, 'r');
    std::string query = kUntouched;
    EXPECT_EQ(createRedirectQuery(&query, defaults(), tooLong, loadedSpKey().get()), -9);
    EXPECT_EQ(query, kUntouched);
    EXPECT_EQ(Extended::requestsMade(), 0);
    EXPECT_EQ(encodeRedirectQuery(&query, unsignedRequest(), tooLong, nullptr, false), -9);
    EXPECT_EQ(query, kUntouched);
    EXPECT_EQ(Extended::messages(), std::vector<std::string>{"RelayState is longer than 80 bytes"});
}

TEST_F(Redirect, AKeyWithoutPrivatePartCannotSignAQuery) {
    corvane::KeyPtr certificateOnly = loadCertificate(spCert());
    ASSERT_TRUE(certificateOnly);
    std::string query = kUntouched;
    EXPECT_EQ(createRedirectQuery(&query, defaults(), "", certificateOnly.get()), -8);
    EXPECT_EQ(query, kUntouched);
    EXPECT_EQ(Extended::requestsMade(), 0);
    EXPECT_EQ(Extended::messages(), std::vector<std::string>{"SP key holds no private key"});
}

TEST_F(Redirect, RequestFailuresPassThroughWithTheirOwnMessage) {
    Extended::queueId("9-not-an-ncname");
    std::string query = kUntouched, requestId = kUntouched;
    EXPECT_EQ(createRedirectQuery(&query, defaults(), "s", loadedSpKey().get(), &requestId), -9);
    EXPECT_EQ(query, kUntouched);
    EXPECT_EQ(requestId, kUntouched);
    EXPECT_EQ(Extended::messages(),
              std::vector<std::string>{"AuthnRequest ID is not a valid xs:ID"});

    Recorder::reset();
    corvane::StandardRequestOptions noIssuer = defaults();
    noIssuer.issuer.clear();
    EXPECT_EQ(createRedirectQuery(&query, noIssuer, "", nullptr), -9);
    EXPECT_EQ(query, kUntouched);
    EXPECT_EQ(Extended::messages(), std::vector<std::string>{"AuthnRequest Issuer is empty"});
}

// --- Redirect URL ----------------------------------------------------------

TEST(RedirectUrl, AppendsTheQueryWithTheRightSeparatorBeforeAnyFragment) {
    const struct {
        const char* url;
        const char* expected;
    } rows[] = {
        {"https://idp.example.test/sso", "https://idp.example.test/sso?Q=1"},
        {"https://idp.example.test/sso?tenant=a", "https://idp.example.test/sso?tenant=a&Q=1"},
        {"https://idp.example.test/sso?", "https://idp.example.test/sso?Q=1"},
        {"https://idp.example.test/sso?tenant=a&", "https://idp.example.test/sso?tenant=a&Q=1"},
        {"https://idp.example.test/sso#top", "https://idp.example.test/sso?Q=1#top"},
        {"https://idp.example.test/sso?t=1#top", "https://idp.example.test/sso?t=1&Q=1#top"},
    };
    for (const auto& row : rows) EXPECT_EQ(corvane::redirectUrl(row.url, "Q=1"), row.expected);
}

}  // namespace
