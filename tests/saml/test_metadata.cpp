// SP metadata: valid against the OASIS metadata schema, carrying the SP
// certificate and the HTTP-POST ACS, with unusable options refused and
// nothing written.
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <string>
#include <vector>

#include <libxml/parser.h>
#include <libxml/tree.h>

#include "corvane_test_support.h"
#include "extended_calls.h"
#include "schema_check.h"
#include "xml_read.h"

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
const std::string kMetadataSchema =
    std::string(CORVANE_SCHEMA_DIR) + "/saml-schema-metadata-2.0.xsd";

::testing::AssertionResult schemaValid(const std::string& xml) {
    return validAgainst(kMetadataSchema, xml);
}

// --- Reading the result ----------------------------------------------------

// "prefix:name{namespace}" of each child element, in order.
std::vector<std::string> children(const xmlNode* node) {
    std::vector<std::string> out;
    for (const xmlNode* c = node ? node->children : nullptr; c; c = c->next) {
        if (c->type != XML_ELEMENT_NODE) continue;
        out.push_back(str(c->ns ? c->ns->prefix : nullptr) + ":" + str(c->name) + "{" +
                      str(c->ns ? c->ns->href : nullptr) + "}");
    }
    return out;
}

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

const std::string kMd = "{urn:oasis:names:tc:SAML:2.0:metadata}";
const std::string kDs = "{http://www.w3.org/2000/09/xmldsig#}";

// --- Fixtures --------------------------------------------------------------

corvane::SpMetadataOptions defaults() {
    corvane::SpMetadataOptions o;
    o.entityId = "https://sp.example.test/corvane-test-only";
    o.acsUrl = "https://sp.example.test/acs";
    o.nameIdFormat = corvane::kNameIdFormatEmailAddress;
    return o;
}

class Metadata : public RecordingTest {
protected:
    void SetUp() override {
        RecordingTest::SetUp();
        key = loadPrivateKey(spKeyAndCert());
        ASSERT_TRUE(key);
    }
    corvane::KeyPtr key;
};

// --- Produced metadata ------------------------------------------------------

TEST_F(Metadata, DefaultMetadataIsSchemaValidWithCertificateAndPostAcs) {
    std::string metadata = kUntouched;
    ASSERT_EQ(createSpMetadata(&metadata, defaults(), *key), 0);
    EXPECT_TRUE(Extended::messages().empty());
    EXPECT_TRUE(schemaValid(metadata));

    Doc doc(metadata);
    const xmlNode* root = doc.root();
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(str(root->name), "EntityDescriptor");
    EXPECT_EQ(attr(root, "entityID"), "https://sp.example.test/corvane-test-only");
    EXPECT_EQ(children(root), std::vector<std::string>{"md:SPSSODescriptor" + kMd});

    const xmlNode* sp = find(root, "SPSSODescriptor");
    EXPECT_EQ(attr(sp, "AuthnRequestsSigned"), "true");
    EXPECT_EQ(attr(sp, "WantAssertionsSigned"), "true");
    EXPECT_EQ(attr(sp, "protocolSupportEnumeration"), "urn:oasis:names:tc:SAML:2.0:protocol");
    EXPECT_EQ(children(sp),
              (std::vector<std::string>{"md:KeyDescriptor" + kMd, "md:NameIDFormat" + kMd,
                                        "md:AssertionConsumerService" + kMd}));

    const xmlNode* keyDescriptor = find(sp, "KeyDescriptor");
    EXPECT_EQ(attr(keyDescriptor, "use"), "signing");
    EXPECT_EQ(children(keyDescriptor), std::vector<std::string>{"ds:KeyInfo" + kDs});
    EXPECT_EQ(children(find(keyDescriptor, "KeyInfo")),
              std::vector<std::string>{"ds:X509Data" + kDs});
    EXPECT_EQ(text(find(keyDescriptor, "X509Certificate")), pemBody(spCert()));

    EXPECT_EQ(text(find(sp, "NameIDFormat")), corvane::kNameIdFormatEmailAddress);
    const xmlNode* acs = find(sp, "AssertionConsumerService");
    EXPECT_EQ(attr(acs, "Binding"), corvane::kBindingHttpPost);
    EXPECT_EQ(attr(acs, "Location"), "https://sp.example.test/acs");
    EXPECT_EQ(attr(acs, "index"), "0");
    EXPECT_EQ(attr(acs, "isDefault"), "true");
}

TEST_F(Metadata, AnEncryptionCertificateIsOfferedWithTheMethodsTheSpDecrypts) {
    corvane::SpMetadataOptions options = defaults();
    options.encryptionCertificate = loadCertificate(idpCert());
    ASSERT_TRUE(options.encryptionCertificate);
    std::string metadata = kUntouched;
    ASSERT_EQ(createSpMetadata(&metadata, options, *key), 0);
    EXPECT_TRUE(schemaValid(metadata));
    Doc doc(metadata);
    const xmlNode* sp = find(doc.root(), "SPSSODescriptor");
    EXPECT_EQ(children(sp), (std::vector<std::string>{
                                "md:KeyDescriptor" + kMd, "md:KeyDescriptor" + kMd,
                                "md:NameIDFormat" + kMd, "md:AssertionConsumerService" + kMd}));
    const xmlNode* encryption = find(sp, "KeyDescriptor");
    while (encryption != nullptr && attr(encryption, "use") != "encryption")
        encryption = encryption->next;
    ASSERT_NE(encryption, nullptr);
    EXPECT_EQ(text(find(encryption, "X509Certificate")), pemBody(idpCert()));
    std::vector<std::string> methods;
    for (const xmlNode* n = encryption->children; n != nullptr; n = n->next)
        if (n->type == XML_ELEMENT_NODE && str(n->name) == "EncryptionMethod")
            methods.push_back(attr(n, "Algorithm"));
    EXPECT_EQ(methods,
              (std::vector<std::string>{"http://www.w3.org/2009/xmlenc11#aes256-gcm",
                                        "http://www.w3.org/2009/xmlenc11#aes128-gcm",
                                        "http://www.w3.org/2009/xmlenc11#rsa-oaep",
                                        "http://www.w3.org/2001/04/xmlenc#rsa-oaep-mgf1p"}));
    // Without one, nothing is offered for encryption.
    ASSERT_EQ(createSpMetadata(&metadata, defaults(), *key), 0);
    EXPECT_EQ(metadata.find("use=\"encryption\""), std::string::npos);
}

TEST_F(Metadata, ASingleLogoutUrlIsOfferedForRedirectThenPostBeforeTheNameIdFormat) {
    corvane::SpMetadataOptions options = defaults();
    options.singleLogoutUrl = "https://sp.example.test/slo";
    std::string metadata;
    ASSERT_EQ(createSpMetadata(&metadata, options, *key), 0);
    EXPECT_TRUE(schemaValid(metadata));
    Doc doc(metadata);
    const xmlNode* sp = find(doc.root(), "SPSSODescriptor");
    EXPECT_EQ(children(sp),
              (std::vector<std::string>{"md:KeyDescriptor" + kMd, "md:SingleLogoutService" + kMd,
                                        "md:SingleLogoutService" + kMd, "md:NameIDFormat" + kMd,
                                        "md:AssertionConsumerService" + kMd}));
    std::vector<std::string> services;
    for (const xmlNode* n = sp->children; n != nullptr; n = n->next)
        if (n->type == XML_ELEMENT_NODE && str(n->name) == "SingleLogoutService")
            services.push_back(attr(n, "Binding") + " " + attr(n, "Location"));
    EXPECT_EQ(services,
              (std::vector<std::string>{
                  std::string(corvane::kBindingHttpRedirect) + " https://sp.example.test/slo",
                  std::string(corvane::kBindingHttpPost) + " https://sp.example.test/slo"}));
    // Control: without the URL, no logout service is offered.
    ASSERT_EQ(createSpMetadata(&metadata, defaults(), *key), 0);
    EXPECT_EQ(metadata.find("SingleLogoutService"), std::string::npos);
}

TEST_F(Metadata, TheCertificateAloneGivesTheSameMetadataAsTheKeyWithIt) {
    corvane::KeyPtr certificate = loadCertificate(spCert());
    ASSERT_TRUE(certificate);
    std::string fromKey, fromCertificate;
    ASSERT_EQ(createSpMetadata(&fromKey, defaults(), *key), 0);
    ASSERT_EQ(createSpMetadata(&fromCertificate, defaults(), *certificate), 0);
    EXPECT_EQ(fromCertificate, fromKey);
}

TEST_F(Metadata, OptionsChangeOnlyWhatTheyName) {
    corvane::SpMetadataOptions options = defaults();
    options.authnRequestsSigned = false;
    options.wantAssertionsSigned = false;
    options.nameIdFormat.clear();
    options.acsUrl = "https://sp.example.test/acs?a=1&b=<2>\"";
    std::string metadata;
    ASSERT_EQ(createSpMetadata(&metadata, options, *key), 0);
    EXPECT_TRUE(schemaValid(metadata));
    EXPECT_NE(metadata.find("Location=\"https://sp.example.test/acs?a=1&amp;b=&lt;2&gt;&quot;\""),
              std::string::npos)
        << metadata;
    Doc doc(metadata);
    const xmlNode* sp = find(doc.root(), "SPSSODescriptor");
    EXPECT_EQ(attr(sp, "AuthnRequestsSigned"), "false");
    EXPECT_EQ(attr(sp, "WantAssertionsSigned"), "false");
    EXPECT_EQ(find(sp, "NameIDFormat"), nullptr);
    EXPECT_EQ(attr(find(sp, "AssertionConsumerService"), "Location"), options.acsUrl);
}

TEST_F(Metadata, AnEntityIdOfExactly1024CharactersIsAccepted) {
    corvane::SpMetadataOptions options = defaults();
    // 1024 characters, some of them two-byte UTF-8: the limit counts characters.
    options.entityId = "urn:" + std::string(1019, 'e') + "\xC3\xA9";
    ASSERT_EQ(xmlUTF8Strlen(BAD_CAST options.entityId.c_str()), 1024);
    std::string metadata;
    ASSERT_EQ(createSpMetadata(&metadata, options, *key), 0);
    EXPECT_TRUE(schemaValid(metadata));
}

// --- Refused input ----------------------------------------------------------

struct RefusedRow {
    const char* name;
    void (*change)(corvane::SpMetadataOptions&);
    std::string message;
};

void PrintTo(const RefusedRow& row, std::ostream* os) { *os << row.name; }

const RefusedRow kRefusedRows[] = {
    {"empty entityID", [](corvane::SpMetadataOptions& o) { o.entityId.clear(); },
     "Metadata entityID is empty"},
    {"entityID of 1025 characters",
     [](corvane::SpMetadataOptions& o) { o.entityId = "urn:" + std::string(1021, 'e'); },
     "Metadata entityID is longer than 1024 characters"},
    {"empty ACS URL", [](corvane::SpMetadataOptions& o) { o.acsUrl.clear(); },
     "Metadata AssertionConsumerService Location is empty"},
    {"control character in the ACS URL", [](corvane::SpMetadataOptions& o) { o.acsUrl += "\x07"; },
     "Metadata AssertionConsumerService Location holds characters that XML can not carry"},
    {"invalid UTF-8 in the entityID", [](corvane::SpMetadataOptions& o) { o.entityId += "\xC3"; },
     "Metadata entityID holds characters that XML can not carry"},
    {"vertical tab in the single logout URL",
     [](corvane::SpMetadataOptions& o) { o.singleLogoutUrl = "https://sp.example.test/\x0b"; },
     "Metadata SingleLogoutService Location holds characters that XML can not carry"},
    {"NUL in the NameID format",
     [](corvane::SpMetadataOptions& o) { o.nameIdFormat = std::string("urn:\0x", 6); },
     "Metadata NameIDFormat holds characters that XML can not carry"},
};

class RefusedMetadata : public Metadata, public ::testing::WithParamInterface<RefusedRow> {};

TEST_P(RefusedMetadata, UnusableOptionsAreRefusedAndNothingIsWritten) {
    corvane::SpMetadataOptions options = defaults();
    GetParam().change(options);
    std::string metadata = kUntouched;
    EXPECT_EQ(createSpMetadata(&metadata, options, *key), -9);
    EXPECT_EQ(metadata, kUntouched);
    EXPECT_EQ(Extended::messages(), std::vector<std::string>{GetParam().message});
}

INSTANTIATE_TEST_SUITE_P(Rows, RefusedMetadata, ::testing::ValuesIn(kRefusedRows),
                         [](const ::testing::TestParamInfo<RefusedRow>& row) {
                             return rowName(row.param.name);
                         });

TEST_F(Metadata, AKeyWithoutCertificateIsRefused) {
    corvane::KeyPtr keyAlone = loadPrivateKey(spKey());
    ASSERT_TRUE(keyAlone);
    std::string metadata = kUntouched;
    EXPECT_EQ(createSpMetadata(&metadata, defaults(), *keyAlone), -8);
    EXPECT_EQ(metadata, kUntouched);
    EXPECT_EQ(Extended::messages(),
              std::vector<std::string>{"SP key holds no certificate for metadata"});
}

}  // namespace
