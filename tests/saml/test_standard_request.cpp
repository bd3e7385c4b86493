// Keys loaded once, and the standard AuthnRequest: its layout in schema
// order, validation against the OASIS protocol schema, the embedded
// signature checked by the xmlsec1 tool and the library, option checks,
// escaping, and nothing written on failure.
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <ctime>
#include <regex>
#include <string>
#include <vector>

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <xmlsec/keys.h>
#include <xmlsec/strings.h>
#include <xmlsec/openssl/evp.h>
#include <xmlsec/openssl/x509.h>

#include "corvane_test_support.h"
#include "extended_calls.h"
#include "schema_check.h"
#include "xml_read.h"
#include "xmldsig/signature_layer.h"

namespace {

using namespace corvane_test;

// A test name made of the row's words: letters and digits, each word capitalized.
std::string rowName(const char* words) {
    std::string name;
    bool upper = true;
    for (const char* p = words; *p; ++p) {
        const bool alnum = std::isalnum(static_cast<unsigned char>(*p)) != 0;
        if (alnum)
            name += upper ? static_cast<char>(std::toupper(static_cast<unsigned char>(*p))) : *p;
        upper = !alnum;
    }
    return name;
}

const char kUntouched[] = "what the caller's string held before";
const char kSpKeyNotLoaded[] = "Can not load SP private key and certificate";
const char kCertNotLoaded[] = "Can not load IDP public key";
const char kInvalidId[] = "AuthnRequest ID is not a valid xs:ID";
const std::string kProtocolSchema =
    std::string(CORVANE_SCHEMA_DIR) + "/saml-schema-protocol-2.0.xsd";
const char kRsaSha256[] = "http://www.w3.org/2001/04/xmldsig-more#rsa-sha256";
const char kSha256[] = "http://www.w3.org/2001/04/xmlenc#sha256";
const char kRsaSha1[] = "http://www.w3.org/2000/09/xmldsig#rsa-sha1";
const char kSha1[] = "http://www.w3.org/2000/09/xmldsig#sha1";
const char kExcC14n[] = "http://www.w3.org/2001/10/xml-exc-c14n#";
const char kEnveloped[] = "http://www.w3.org/2000/09/xmldsig#enveloped-signature";

// --- Tools run as subprocesses ---------------------------------------------

::testing::AssertionResult schemaValid(const std::string& xml) {
    return validAgainst(kProtocolSchema, xml);
}

// The xmlsec1 tool verifies the request's signature with the SP
// certificate, the request element's ID attribute registered as an ID.
::testing::AssertionResult verifiesWithXmlsecTool(const std::string& xml) {
    TempFile file(xml);
    const ToolOutcome o =
        runTool(std::string(CORVANE_XMLSEC1) + " --verify --pubkey-cert-pem " +
                fixturePath("test-sp-cert.pem") + " --id-attr:ID AuthnRequest " + file.path());
    if (o.exitStatus == 0) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << o.output;
}

// --- Reading the result ----------------------------------------------------



// "prefix:name" of each child element, in order.
std::vector<std::string> childNames(const xmlNode* node) {
    std::vector<std::string> names;
    for (const xmlNode* c = node ? node->children : nullptr; c; c = c->next) {
        if (c->type != XML_ELEMENT_NODE) continue;
        names.push_back((c->ns && c->ns->prefix ? str(c->ns->prefix) + ":" : "") + str(c->name));
    }
    return names;
}




std::vector<std::string> transformAlgorithms(const xmlNode* root) {
    std::vector<std::string> out;
    for (const xmlNode* t = find(find(root, "Transforms"), "Transform"); t; t = t->next)
        if (t->type == XML_ELEMENT_NODE) out.push_back(attr(t, "Algorithm"));
    return out;
}

// The base64 body of the first PEM block, lines joined.
std::string pemBody(const std::string& pem) {
    std::string body;
    std::size_t pos = pem.find('\n', pem.find("-----BEGIN")) + 1;
    while (pos < pem.size() && pem.compare(pos, 5, "-----") != 0) {
        const std::size_t eol = pem.find('\n', pos);
        body += pem.substr(pos, eol - pos);
        pos = eol + 1;
    }
    return body;
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

class StandardRequest : public RecordingTest {
protected:
    static void SetUpTestSuite() { suiteKey = loadPrivateKey(spKeyAndCert()); }
    static void TearDownTestSuite() { suiteKey.reset(); }
    void SetUp() override {
        RecordingTest::SetUp();
        ASSERT_TRUE(loadedSpKey());
    }
};

// --- Keys ------------------------------------------------------------------

struct KeyRow {
    const char* name;
    std::string pem;
    bool loads;
    bool hasCertificate;
};

TEST_F(StandardRequest, PrivateKeysLoadOnlyFromAnUnencryptedRsaKeyAndItsOwnCertificate) {
    const std::string key = spKey(), cert = spCert();
    const KeyRow rows[] = {
        {"PKCS#8 key and certificate", spKeyAndCert(), true, true},
        {"certificate before the key", cert + key, true, true},
        {"PKCS#8 key alone", key, true, false},
        {"PKCS#1 key alone", readFixture("test-sp-key-pkcs1.pem"), true, false},
        {"empty text", "", false, false},
        {"not PEM", "-----BEGIN nothing\nhello\n", false, false},
        {"encrypted key (no pass phrase is asked for)", readFixture("test-sp-key-encrypted.pem"),
         false, false},
        {"certificate alone", cert, false, false},
        {"public key alone", readFixture("test-sp-pubkey.pem"), false, false},
        {"EC key", readFixture("test-ec-key.pem"), false, false},
        {"key with another key's certificate", key + idpCert(), false, false},
    };
    for (const KeyRow& row : rows) {
        SCOPED_TRACE(row.name);
        Recorder::reset();
        corvane::KeyPtr loaded = loadPrivateKey(row.pem);
        ASSERT_EQ(static_cast<bool>(loaded), row.loads);
        if (row.loads) {
            EXPECT_TRUE(Extended::messages().empty());
            EXPECT_TRUE(loaded->hasPrivateKey());
            EXPECT_EQ(loaded->hasCertificate(), row.hasCertificate);
            EXPECT_EQ(loaded->certificateBase64(), row.hasCertificate ? pemBody(cert) : "");
        } else {
            EXPECT_EQ(Extended::messages(), std::vector<std::string>{kSpKeyNotLoaded});
        }
        for (const std::string& line : privateKeyBodyLines(row.pem))
            EXPECT_FALSE(Recorder::anyMessageContains(line) ||
                         (!Extended::messages().empty() &&
                          Extended::messages()[0].find(line) != std::string::npos))
                << "private key text reported";
    }
}

TEST_F(StandardRequest, CertificatesLoadFromPemCertificatesOnly) {
    const KeyRow rows[] = {
        {"SP certificate", spCert(), true, true},
        {"IdP certificate", idpCert(), true, true},
        {"empty text", "", false, false},
        {"private key", spKey(), false, false},
        {"public key", readFixture("test-idp-pubkey.pem"), false, false},
    };
    for (const KeyRow& row : rows) {
        SCOPED_TRACE(row.name);
        Recorder::reset();
        corvane::KeyPtr loaded = loadCertificate(row.pem);
        ASSERT_EQ(static_cast<bool>(loaded), row.loads);
        if (row.loads) {
            EXPECT_TRUE(Extended::messages().empty());
            EXPECT_FALSE(loaded->hasPrivateKey());
            EXPECT_EQ(loaded->certificateBase64(), pemBody(row.pem));
        } else {
            EXPECT_EQ(Extended::messages(), std::vector<std::string>{kCertNotLoaded});
        }
    }
}

TEST_F(StandardRequest, PerUseCopiesShareTheOpenSslKeyAndCarryNoCertificate) {
    struct XmlSecKeyFree {
        void operator()(xmlSecKey* k) const { xmlSecKeyDestroy(k); }
    };
    std::unique_ptr<xmlSecKey, XmlSecKeyFree> first(
        corvane::internal::newKeyValueCopy(*loadedSpKey()));
    std::unique_ptr<xmlSecKey, XmlSecKeyFree> second(
        corvane::internal::newKeyValueCopy(*loadedSpKey()));
    ASSERT_TRUE(first && second);
    EXPECT_NE(first.get(), second.get());
    EVP_PKEY* a = xmlSecOpenSSLEvpKeyDataGetEvp(xmlSecKeyGetValue(first.get()));
    EVP_PKEY* b = xmlSecOpenSSLEvpKeyDataGetEvp(xmlSecKeyGetValue(second.get()));
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a, b) << "the OpenSSL key is shared by reference, not parsed or copied";
    EXPECT_EQ(xmlSecKeyGetData(first.get(), xmlSecOpenSSLKeyDataX509Id), nullptr);
    EXPECT_NE(xmlSecKeyGetType(first.get()) & xmlSecKeyDataTypePrivate, 0u);
}

// --- IssueInstant ----------------------------------------------------------

TEST(UtcDateTime, WritesUtcXsDateTimeForTheYearsOneToNineThousandNineHundredNinetyNine) {
    struct Row {
        long long instant;
        const char* text;
    };
    const Row rows[] = {
        {0, "1970-01-01T00:00:00Z"},          {951782400, "2000-02-29T00:00:00Z"},
        {1234567890, "2009-02-13T23:31:30Z"}, {2147483647, "2038-01-19T03:14:07Z"},
        {-1, "1969-12-31T23:59:59Z"},
    };
    for (const Row& row : rows)
        EXPECT_EQ(corvane::utcDateTime(static_cast<std::time_t>(row.instant)), row.text);
    if (sizeof(std::time_t) < 8) GTEST_SKIP() << "32-bit time_t: later instants do not exist";
    const Row wide[] = {
        {4102444800LL, "2100-01-01T00:00:00Z"},
        {253402300799LL, "9999-12-31T23:59:59Z"},
        {253402300800LL, ""},
        {-62135596800LL, "0001-01-01T00:00:00Z"},
        {-62135596801LL, ""},
    };
    for (const Row& row : wide)
        EXPECT_EQ(corvane::utcDateTime(static_cast<std::time_t>(row.instant)), row.text)
            << row.instant;
}

// --- The default request ---------------------------------------------------

TEST_F(StandardRequest, DefaultRequestIsSchemaValidSignedWithRsaSha256AndVerifies) {
    Extended::queueId("_corvane-std-1");
    std::string request = kUntouched, requestId = kUntouched;
    const std::time_t before = std::time(nullptr);
    ASSERT_EQ(createStandardAuthnRequest(&request, defaults(), *loadedSpKey(), &requestId),
              0);
    const std::time_t after = std::time(nullptr);
    EXPECT_EQ(requestId, "_corvane-std-1");
    EXPECT_TRUE(Extended::messages().empty());
    EXPECT_EQ(Extended::requestsMade(), 1);
    EXPECT_EQ(request.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>", 0), 0u);
    EXPECT_TRUE(schemaValid(request));
    EXPECT_TRUE(verifiesWithXmlsecTool(request));
    EXPECT_EQ(corvane::verifySignature(request, spCert()), 0) << "the library agrees";

    Doc doc(request);
    const xmlNode* root = doc.root();
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(str(root->name), "AuthnRequest");
    EXPECT_EQ(str(root->ns->href), "urn:oasis:names:tc:SAML:2.0:protocol");
    EXPECT_EQ(attr(root, "ID"), "_corvane-std-1");
    EXPECT_EQ(attr(root, "Version"), "2.0");
    EXPECT_EQ(attr(root, "Destination"), "https://idp.example.test/sso");
    EXPECT_EQ(attr(root, "AssertionConsumerServiceURL"), "https://sp.example.test/acs");
    EXPECT_EQ(attr(root, "ProtocolBinding"), corvane::kBindingHttpPost);
    EXPECT_EQ(attr(root, "ForceAuthn"), "<absent>");
    EXPECT_EQ(attr(root, "IsPassive"), "<absent>");
    const std::string instant = attr(root, "IssueInstant");
    EXPECT_TRUE(instant == corvane::utcDateTime(before) || instant == corvane::utcDateTime(after))
        << instant;
    EXPECT_TRUE(std::regex_match(instant, std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ)")));

    EXPECT_EQ(childNames(root),
              (std::vector<std::string>{"saml:Issuer", "ds:Signature", "samlp:NameIDPolicy"}));
    EXPECT_EQ(text(find(root, "Issuer")), "https://sp.example.test/corvane-test-only");
    EXPECT_EQ(attr(find(root, "NameIDPolicy"), "Format"), "<absent>");
    EXPECT_EQ(attr(find(root, "NameIDPolicy"), "AllowCreate"), "true");
    EXPECT_EQ(attr(find(root, "Reference"), "URI"), "#_corvane-std-1");
    EXPECT_EQ(attr(find(root, "CanonicalizationMethod"), "Algorithm"), kExcC14n);
    EXPECT_EQ(attr(find(root, "SignatureMethod"), "Algorithm"), kRsaSha256);
    EXPECT_EQ(attr(find(root, "DigestMethod"), "Algorithm"), kSha256);
    EXPECT_EQ(transformAlgorithms(root), (std::vector<std::string>{kEnveloped, kExcC14n}));
    EXPECT_EQ(find(root, "KeyInfo"), nullptr);
    EXPECT_NE(text(find(root, "SignatureValue")), "");
}

TEST_F(StandardRequest, TamperedRequestNoLongerVerifies) {
    std::string request;
    ASSERT_EQ(createStandardAuthnRequest(&request, defaults(), *loadedSpKey()), 0);
    ASSERT_TRUE(verifiesWithXmlsecTool(request)) << "control";
    const std::string tampered = replaceAll(request, "corvane-test-only", "corvane-test-other");
    EXPECT_FALSE(verifiesWithXmlsecTool(tampered));
}

TEST_F(StandardRequest, OneKeySignsManyRequestsEachWithItsOwnId) {
    std::vector<std::string> ids;
    for (int i = 0; i < 3; ++i) {
        std::string request;
        ASSERT_EQ(createStandardAuthnRequest(&request, defaults(), *loadedSpKey()), 0);
        EXPECT_EQ(corvane::verifySignature(request, spCert()), 0);
        ids.push_back(attr(Doc(request).root(), "ID"));
        EXPECT_TRUE(std::regex_match(ids.back(), std::regex("_[0-9a-f]{32}"))) << ids.back();
    }
    EXPECT_EQ(Extended::requestsMade(), 3);
    EXPECT_NE(ids[0], ids[1]);
    EXPECT_NE(ids[1], ids[2]);
}

// --- Options ---------------------------------------------------------------

struct OptionRow {
    const char* name;
    void (*change)(corvane::StandardRequestOptions&);
    // Checks on the parsed request root.
    void (*check)(const xmlNode* root);
};

void PrintTo(const OptionRow& row, std::ostream* os) { *os << row.name; }

const OptionRow kOptionRows[] = {
    {"RSA-SHA1 on request", [](corvane::StandardRequestOptions& o) { o.useSha1 = true; },
     [](const xmlNode* root) {
         EXPECT_EQ(attr(find(root, "SignatureMethod"), "Algorithm"), kRsaSha1);
         EXPECT_EQ(attr(find(root, "DigestMethod"), "Algorithm"), kSha1);
     }},
    {"KeyInfo with the SP certificate",
     [](corvane::StandardRequestOptions& o) { o.includeKeyInfo = true; },
     [](const xmlNode* root) {
         EXPECT_EQ(childNames(find(root, "Signature")),
                   (std::vector<std::string>{"ds:SignedInfo", "ds:SignatureValue", "ds:KeyInfo"}));
         EXPECT_EQ(text(find(find(root, "KeyInfo"), "X509Certificate")), pemBody(spCert()));
     }},
    {"ForceAuthn and IsPassive",
     [](corvane::StandardRequestOptions& o) { o.forceAuthn = o.isPassive = true; },
     [](const xmlNode* root) {
         EXPECT_EQ(attr(root, "ForceAuthn"), "true");
         EXPECT_EQ(attr(root, "IsPassive"), "true");
     }},
    {"NameIDPolicy Format without AllowCreate",
     [](corvane::StandardRequestOptions& o) {
         o.nameIdFormat = corvane::kNameIdFormatPersistent;
         o.allowCreate = false;
     },
     [](const xmlNode* root) {
         EXPECT_EQ(attr(find(root, "NameIDPolicy"), "Format"), corvane::kNameIdFormatPersistent);
         EXPECT_EQ(attr(find(root, "NameIDPolicy"), "AllowCreate"), "false");
     }},
    {"RequestedAuthnContext last, class refs in order",
     [](corvane::StandardRequestOptions& o) {
         o.authnContextClassRefs = {"urn:oasis:names:tc:SAML:2.0:ac:classes:Password",
                                    "urn:oasis:names:tc:SAML:2.0:ac:classes:X509"};
         o.authnContextComparison = "minimum";
     },
     [](const xmlNode* root) {
         EXPECT_EQ(childNames(root),
                   (std::vector<std::string>{"saml:Issuer", "ds:Signature", "samlp:NameIDPolicy",
                                             "samlp:RequestedAuthnContext"}));
         const xmlNode* context = find(root, "RequestedAuthnContext");
         EXPECT_EQ(attr(context, "Comparison"), "minimum");
         EXPECT_EQ(childNames(context), (std::vector<std::string>{"saml:AuthnContextClassRef",
                                                                  "saml:AuthnContextClassRef"}));
         EXPECT_EQ(text(context->children), "urn:oasis:names:tc:SAML:2.0:ac:classes:Password");
         EXPECT_EQ(text(context->last), "urn:oasis:names:tc:SAML:2.0:ac:classes:X509");
     }},
    {"empty ProtocolBinding and ACS URL are left out",
     [](corvane::StandardRequestOptions& o) { o.protocolBinding = o.acsUrl = ""; },
     [](const xmlNode* root) {
         EXPECT_EQ(attr(root, "ProtocolBinding"), "<absent>");
         EXPECT_EQ(attr(root, "AssertionConsumerServiceURL"), "<absent>");
     }},
    {"markup characters are escaped, never markup",
     [](corvane::StandardRequestOptions& o) {
         o.acsUrl = "https://sp.example.test/acs?a=1&b=<2>&c=\"3\"&d='4'\n";
         o.destination = "https://idp.example.test/sso?x=&amp;";
         o.issuer = "<saml:Issuer>evil</saml:Issuer>&";
     },
     [](const xmlNode* root) {
         EXPECT_EQ(attr(root, "AssertionConsumerServiceURL"),
                   "https://sp.example.test/acs?a=1&b=<2>&c=\"3\"&d='4'\n");
         EXPECT_EQ(attr(root, "Destination"), "https://idp.example.test/sso?x=&amp;");
         EXPECT_EQ(text(find(root, "Issuer")), "<saml:Issuer>evil</saml:Issuer>&");
         EXPECT_EQ(childNames(find(root, "Issuer")), std::vector<std::string>{});
     }},
    {"non-ASCII text as UTF-8",
     [](corvane::StandardRequestOptions& o) {
         o.issuer = "https://sp.example.test/\xC3\xA9t\xC3\xA9";
     },
     [](const xmlNode* root) {
         EXPECT_EQ(text(find(root, "Issuer")), "https://sp.example.test/\xC3\xA9t\xC3\xA9");
     }},
};

class RequestOptions : public StandardRequest, public ::testing::WithParamInterface<OptionRow> {};

TEST_P(RequestOptions, EachOptionIsSchemaValidAndVerifies) {
    corvane::StandardRequestOptions options = defaults();
    GetParam().change(options);
    std::string request;
    ASSERT_EQ(createStandardAuthnRequest(&request, options, *loadedSpKey()), 0);
    EXPECT_TRUE(Extended::messages().empty());
    EXPECT_TRUE(schemaValid(request));
    EXPECT_TRUE(verifiesWithXmlsecTool(request));
    EXPECT_EQ(corvane::verifySignature(request, spCert()), 0);
    Doc doc(request);
    ASSERT_NE(doc.root(), nullptr);
    GetParam().check(doc.root());
}

INSTANTIATE_TEST_SUITE_P(Rows, RequestOptions, ::testing::ValuesIn(kOptionRows),
                         [](const ::testing::TestParamInfo<OptionRow>& row) {
                             return rowName(row.param.name);
                         });

TEST_F(StandardRequest, EscapedMarkupStaysTextInTheSerialization) {
    corvane::StandardRequestOptions options = defaults();
    options.acsUrl = "https://sp.example.test/acs?a=1&b=<2>";
    options.issuer = "<x/>";
    std::string request;
    ASSERT_EQ(createStandardAuthnRequest(&request, options, *loadedSpKey()), 0);
    EXPECT_NE(
        request.find(
            "AssertionConsumerServiceURL=\"https://sp.example.test/acs?a=1&amp;b=&lt;2&gt;\""),
        std::string::npos);
    EXPECT_NE(request.find("<saml:Issuer>&lt;x/&gt;</saml:Issuer>"), std::string::npos);
    EXPECT_EQ(request.find("<x/>"), std::string::npos);
}

TEST_F(StandardRequest, UnsignedRequestHasTheSameLayoutWithoutSignature) {
    Extended::queueId("_corvane-unsigned");
    std::string request = kUntouched, requestId;
    ASSERT_EQ(createUnsignedAuthnRequest(&request, defaults(), &requestId), 0);
    EXPECT_EQ(requestId, "_corvane-unsigned");
    EXPECT_TRUE(schemaValid(request));
    Doc doc(request);
    EXPECT_EQ(attr(doc.root(), "ID"), "_corvane-unsigned");
    EXPECT_EQ(childNames(doc.root()),
              (std::vector<std::string>{"saml:Issuer", "samlp:NameIDPolicy"}));
    EXPECT_EQ(corvane::verifySignature(request, spCert()), -8) << "nothing to verify";
}

// --- Refused input: one message, nothing written ---------------------------

class RefusedId : public StandardRequest, public ::testing::WithParamInterface<std::string> {};

TEST_P(RefusedId, AnIdThatIsNotAnXsIdIsRefused) {
    Extended::queueId(GetParam());
    std::string request = kUntouched, requestId = kUntouched;
    EXPECT_EQ(createStandardAuthnRequest(&request, defaults(), *loadedSpKey(), &requestId),
              -9);
    EXPECT_EQ(request, kUntouched);
    EXPECT_EQ(requestId, kUntouched);
    EXPECT_EQ(Extended::messages(), std::vector<std::string>{kInvalidId});
    EXPECT_EQ(Extended::requestsMade(), 0);

    Recorder::reset();
    Extended::queueId(GetParam());
    EXPECT_EQ(createUnsignedAuthnRequest(&request, defaults()), -9);
    EXPECT_EQ(request, kUntouched);
    EXPECT_EQ(Extended::messages(), std::vector<std::string>{kInvalidId});
}

INSTANTIATE_TEST_SUITE_P(Ids, RefusedId,
                         // An empty requestId asks for a fresh random one.
                         ::testing::Values("tab\tinside", "1starts-with-digit", "has:colon", "has space",
                                           "-starts-with-hyphen", "quote\"", "ctl\x01",
                                           std::string("nul\0byte", 8), "bad-utf8-\xC3",
                                           "overlong-\xC0\xAF"));

TEST_F(StandardRequest, IdsThatAreXsIdsAreAccepted) {
    for (const char* id : {"_a", "a", "id-with.dots_and-hyphens", "\xC3\xA9t\xC3\xA9"}) {
        Recorder::reset();
        Extended::queueId(id);
        std::string request;
        EXPECT_EQ(createStandardAuthnRequest(&request, defaults(), *loadedSpKey()), 0)
            << id;
        EXPECT_TRUE(schemaValid(request));
        EXPECT_TRUE(verifiesWithXmlsecTool(request));
    }
}

struct RefusedRow {
    const char* name;
    void (*change)(corvane::StandardRequestOptions&);
    std::string message;
};

void PrintTo(const RefusedRow& row, std::ostream* os) { *os << row.name; }

const RefusedRow kRefusedRows[] = {
    {"empty destination", [](corvane::StandardRequestOptions& o) { o.destination.clear(); },
     "AuthnRequest Destination is empty"},
    {"empty issuer", [](corvane::StandardRequestOptions& o) { o.issuer.clear(); },
     "AuthnRequest Issuer is empty"},
    {"control character in the issuer",
     [](corvane::StandardRequestOptions& o) { o.issuer += "\x01"; },
     "AuthnRequest Issuer holds characters that XML can not carry"},
    {"invalid UTF-8 in the ACS URL", [](corvane::StandardRequestOptions& o) { o.acsUrl += "\xFF"; },
     "AuthnRequest AssertionConsumerServiceURL holds characters that XML can not carry"},
    {"NUL in the NameID format",
     [](corvane::StandardRequestOptions& o) { o.nameIdFormat = std::string("urn:x\0y", 7); },
     "AuthnRequest NameIDPolicy Format holds characters that XML can not carry"},
    {"control character in the destination",
     [](corvane::StandardRequestOptions& o) { o.destination += "\x1B"; },
     "AuthnRequest Destination holds characters that XML can not carry"},
    {"surrogate code point in the binding",
     [](corvane::StandardRequestOptions& o) { o.protocolBinding += "\xED\xA0\x80"; },
     "AuthnRequest ProtocolBinding holds characters that XML can not carry"},
    {"empty class ref",
     [](corvane::StandardRequestOptions& o) {
         o.authnContextClassRefs = {"urn:x", ""};
     },
     "AuthnRequest AuthnContextClassRef is empty"},
    {"control character in a class ref",
     [](corvane::StandardRequestOptions& o) { o.authnContextClassRefs = {"urn:\x02"}; },
     "AuthnRequest AuthnContextClassRef holds characters that XML can not carry"},
    {"unknown comparison",
     [](corvane::StandardRequestOptions& o) {
         o.authnContextClassRefs = {"urn:x"};
         o.authnContextComparison = "Exact";
     },
     "AuthnRequest Comparison must be exact, minimum, maximum or better"},
};

class RefusedOptions : public StandardRequest, public ::testing::WithParamInterface<RefusedRow> {};

TEST_P(RefusedOptions, UnusableOptionsAreRefusedBeforeTheIdCallback) {
    corvane::StandardRequestOptions options = defaults();
    GetParam().change(options);
    std::string request = kUntouched;
    EXPECT_EQ(createStandardAuthnRequest(&request, options, *loadedSpKey()), -9);
    EXPECT_EQ(request, kUntouched);
    EXPECT_EQ(Extended::messages(), std::vector<std::string>{GetParam().message});
    EXPECT_EQ(Extended::requestsMade(), 0);
}

INSTANTIATE_TEST_SUITE_P(Rows, RefusedOptions, ::testing::ValuesIn(kRefusedRows),
                         [](const ::testing::TestParamInfo<RefusedRow>& row) {
                             return rowName(row.param.name);
                         });

TEST_F(StandardRequest, AComparisonIsIgnoredWithoutClassRefs) {
    corvane::StandardRequestOptions options = defaults();
    options.authnContextComparison = "whatever";
    std::string request;
    EXPECT_EQ(createStandardAuthnRequest(&request, options, *loadedSpKey()), 0);
    EXPECT_EQ(find(Doc(request).root(), "RequestedAuthnContext"), nullptr);
}

TEST_F(StandardRequest, KeysThatCannotSignAsAskedAreRefused) {
    corvane::KeyPtr certificateOnly = loadCertificate(spCert());
    corvane::KeyPtr keyWithoutCert = loadPrivateKey(spKey());
    ASSERT_TRUE(certificateOnly && keyWithoutCert);
    const corvane::StandardRequestOptions plain = defaults();
    corvane::StandardRequestOptions withKeyInfo = defaults();
    withKeyInfo.includeKeyInfo = true;
    struct Row {
        const char* name;
        const corvane::Key& key;
        const corvane::StandardRequestOptions& options;
        const char* message;
    } rows[] = {
        {"certificate alone", *certificateOnly, plain, "SP key holds no private key"},
        {"KeyInfo without a certificate", *keyWithoutCert, withKeyInfo,
         "SP key holds no certificate for KeyInfo"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Recorder::reset();
        std::string request = kUntouched;
        EXPECT_EQ(createStandardAuthnRequest(&request, row.options, row.key), -8);
        EXPECT_EQ(request, kUntouched);
        EXPECT_EQ(Extended::messages(), std::vector<std::string>{row.message});
        EXPECT_EQ(Extended::requestsMade(), 0);
    }
    Recorder::reset();
    std::string request;
    EXPECT_EQ(createStandardAuthnRequest(&request, defaults(), *keyWithoutCert), 0)
        << "control: a key without certificate signs when no KeyInfo is asked for";
    EXPECT_TRUE(verifiesWithXmlsecTool(request));
}

TEST_F(StandardRequest, RequestsOutliveTheKeyThatSignedThem) {
    std::string request;
    {
        corvane::KeyPtr key = loadPrivateKey(spKeyAndCert());
        ASSERT_TRUE(key);
        ASSERT_EQ(createStandardAuthnRequest(&request, defaults(), *key), 0);
    }
    EXPECT_EQ(corvane::verifySignature(request, spCert()), 0);
}

}  // namespace
