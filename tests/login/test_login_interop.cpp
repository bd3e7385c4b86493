// verifyLoginResponse on the third-party corpus, one test per row of its
// MANIFEST.tsv. The expectations come from each sample's own content: the
// assertion's Issuer, its Audience, the bearer confirmation's Recipient,
// the response's InResponseTo, and the assertion's IssueInstant as the
// current time. Genuine responses are accepted with the manifest's NameID,
// except those that themselves break a profile rule, which the table below
// names with the exact refusal; encrypted and attack samples are refused
// and leave the login untouched. The encrypted samples' SP keys are not
// published: with a key of the test's own, each Response signature is
// verified and the structure read (Okta's RetrievalMethod included), then
// decryption fails with its one message, or RSA-1.5 is refused outright.
#include <cctype>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <corvane/corvane.h>
#include "corvane_test_support.h"
#include "generated_keys.h"

namespace {

using namespace corvane_test;
using corvane::LoginExpectations;
using corvane::VerifiedLogin;

const std::string kCorpus = CORVANE_INTEROP_DIR;
const char kUntouched[] = "login before the call";
const char kAssertionNs[] = "urn:oasis:names:tc:SAML:2.0:assertion";
const char kProtocolNs[] = "urn:oasis:names:tc:SAML:2.0:protocol";
// Stand-ins for what a sample does not say (the expectations may not be empty).
const char kNoAudience[] = "urn:test:sample-names-no-audience";
const char kNoRecipient[] = "https://sp.test/sample-names-no-recipient";

struct Row {
    std::string name, file, cert, kind, nameId;
};
void PrintTo(const Row& row, std::ostream* out) { *out << row.file; }

// The manifest's escapes \n, \t, \r and \\ undone.
std::string unescape(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        const char c = text[++i];
        out += c == 'n' ? '\n' : c == 't' ? '\t' : c == 'r' ? '\r' : c;
    }
    return out;
}

std::vector<Row> loadManifest() {
    std::vector<Row> rows;
    std::ifstream in(kCorpus + "/MANIFEST.tsv", std::ios::binary);
    std::string line;
    std::map<std::string, size_t> column;
    for (bool header = true; std::getline(in, line); header = false) {
        std::vector<std::string> f;
        std::istringstream fields(line);
        for (std::string field; std::getline(fields, field, '\t');) f.push_back(field);
        if (header) {
            for (size_t i = 0; i < f.size(); ++i) column[f[i]] = i;
            continue;
        }
        auto get = [&](const char* name) {
            return column.count(name) && column[name] < f.size() ? f[column[name]] : std::string();
        };
        std::string name = get("file");
        for (char& c : name) c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
        if (!get("file").empty())
            rows.push_back({name, get("file"), get("cert"), get("kind"), unescape(get("nameid"))});
    }
    return rows;
}

const std::vector<Row>& manifest() {
    static const std::vector<Row> rows = loadManifest();
    return rows;
}

Row rowFor(const std::string& file) {
    for (const Row& row : manifest())
        if (row.file == file) return row;
    ADD_FAILURE() << file << " is not in the manifest";
    return Row();
}

// ---- Expectations from the sample itself ------------------------------------------

bool isElement(const xmlNode* n, const char* ns, const char* name) {
    return n && n->type == XML_ELEMENT_NODE && n->ns && xmlStrEqual(n->ns->href, BAD_CAST ns) &&
           xmlStrEqual(n->name, BAD_CAST name);
}
xmlNode* child(xmlNode* parent, const char* ns, const char* name) {
    for (xmlNode* n = parent ? parent->children : nullptr; n; n = n->next)
        if (isElement(n, ns, name)) return n;
    return nullptr;
}
std::string attr(xmlNode* n, const char* name) {
    xmlChar* v = n ? xmlGetNoNsProp(n, BAD_CAST name) : nullptr;
    const std::string s = v ? reinterpret_cast<const char*>(v) : "";
    xmlFree(v);
    return s;
}
std::string trimmedText(xmlNode* n) {
    xmlChar* v = n ? xmlNodeGetContent(n) : nullptr;
    std::string s = v ? reinterpret_cast<const char*>(v) : "";
    xmlFree(v);
    const size_t first = s.find_first_not_of(" \t\r\n");
    return first == std::string::npos ? ""
                                      : s.substr(first, s.find_last_not_of(" \t\r\n") - first + 1);
}

// "YYYY-MM-DDThh:mm:ss[.fff](Z|+hh:mm|-hh:mm)" as seconds since the epoch.
long long instant(const std::string& text) {
    std::tm tm = {};
    int used = 0;
    if (std::sscanf(text.c_str(), "%d-%d-%dT%d:%d:%d%n", &tm.tm_year, &tm.tm_mon, &tm.tm_mday,
                    &tm.tm_hour, &tm.tm_min, &tm.tm_sec, &used) != 6)
        return -1;
    tm.tm_year -= 1900;
    tm.tm_mon -= 1;
    size_t zone = text.find_first_of("Z+-", static_cast<size_t>(used));
    long long offset = 0;
    if (zone != std::string::npos && text[zone] != 'Z')
        offset = (text[zone] == '-' ? -1 : 1) * (std::stoi(text.substr(zone + 1, 2)) * 3600LL +
                                                 std::stoi(text.substr(zone + 4, 2)) * 60LL);
    return static_cast<long long>(timegm(&tm)) - offset;
}

// Expectations taken from the sample; the certificate is the manifest's.
LoginExpectations expectationsFrom(const std::string& xml, const Row& row) {
    LoginExpectations e;
    e.replayCache = corvane::newInProcessReplayCache();
    // Most of the corpus's IdPs sign with RSA-SHA1: allowed by name here
    // (the login tests show it refused by default).
    e.allowSha1 = true;
    const std::string certPath =
        row.cert == "-" ? fixturePath("test-idp-cert.pem") : kCorpus + "/" + row.cert;
    // Half of the corpus's IdPs sign with RSA-1024: loaded with the opt-in.
    corvane::Result<corvane::KeyPtr> cert =
        corvane::Key::loadCertificate(readFile(certPath), corvane::KeyStrength::AllowRsa1024);
    EXPECT_TRUE(cert.ok()) << certPath << ": " << cert.message();
    e.idpCertificates = {cert.ok() ? cert.value() : corvane::KeyPtr()};
    e.spEntityId = kNoAudience;
    e.acsUrl = kNoRecipient;
    e.idpEntityId = "urn:test:sample-names-no-issuer";
    xmlDoc* doc = xmlReadMemory(xml.data(), static_cast<int>(xml.size()), nullptr, nullptr,
                                XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    xmlNode* root = doc ? xmlDocGetRootElement(doc) : nullptr;
    xmlNode* assertion =
        isElement(root, kAssertionNs, "Assertion") ? root : child(root, kAssertionNs, "Assertion");
    if (xmlNode* issuer = child(assertion, kAssertionNs, "Issuer"))
        e.idpEntityId = trimmedText(issuer);
    xmlNode* audience = child(
        child(child(assertion, kAssertionNs, "Conditions"), kAssertionNs, "AudienceRestriction"),
        kAssertionNs, "Audience");
    if (audience) e.spEntityId = trimmedText(audience);
    xmlNode* subject = child(assertion, kAssertionNs, "Subject");
    for (xmlNode* n = subject ? subject->children : nullptr; n; n = n->next) {
        xmlNode* data = child(n, kAssertionNs, "SubjectConfirmationData");
        if (isElement(n, kAssertionNs, "SubjectConfirmation") && !attr(data, "Recipient").empty()) {
            e.acsUrl = attr(data, "Recipient");
            break;
        }
    }
    if (isElement(root, kProtocolNs, "Response")) e.requestId = attr(root, "InResponseTo");
    // A sample that answers no request is an unsolicited login.
    e.allowUnsolicited = e.requestId.empty();
    e.now = instant(attr(assertion ? assertion : root, "IssueInstant"));
    xmlFreeDoc(doc);
    return e;
}

// ---- What each sample must give ----------------------------------------------------

struct Refusal {
    int status;
    std::string message;
};

// Genuine samples that themselves break a profile rule: the first rule
// broken, as the library reports it.
const std::map<std::string, Refusal> kBreaksARule = {
    // Response Issuer "idp.example.com", assertion Issuer "idp.myexample.org".
    {"valid/ruby-saml__response_with_signed_message_and_assertion.xml",
     {-10, "SAML response Issuer \"idp.example.com\" is not the IdP \"idp.myexample.org\""}},
    // The bearer SubjectConfirmation carries no SubjectConfirmationData at all.
    {"valid/ruby-saml__starfield_response.xml",
     {-10,
      "SAML bearer confirmation Recipient \"\" is not the ACS URL "
      "\"https://sp.test/sample-names-no-recipient\""}},
    // Destination is another endpoint than the confirmation's Recipient.
    {"valid/ruby-saml__inclusive_namespaces.xml",
     {-10,
      "SAML response Destination \"https://someone.example.com/endpoint\" is not the ACS URL "
      "\"https://auth0145.auth0.com\""}},
    // Response Issuer "BEC", assertion Issuer "Issuer".
    {"valid/passport-wsfed-saml2__samlresponse_nonascii.xml",
     {-10, "SAML response Issuer \"BEC\" is not the IdP \"Issuer\""}},
    // A bare Assertion, no protocol Response around it.
    {"valid/crewjam-saml__testshib_assertion.xml",
     {-10, "SAML token is not a SAML 2.0 protocol Response"}},
    // Conditions without any AudienceRestriction.
    {"valid/samael__multi_saml_response_signed_2.xml",
     {-10, "SAML assertion Conditions name no AudienceRestriction"}},
    {"valid/node-saml__root-signed.assertion-signed.2advice-signed.xml",
     {-10, "SAML assertion Conditions name no AudienceRestriction"}},
    {"valid/node-saml__ns3_prefix_response.xml",
     {-10, "SAML assertion Conditions name no AudienceRestriction"}},
};

struct Outcome {
    int status;
    std::vector<std::string> errors;
    VerifiedLogin login;
};

// Every field of the login set to a sentinel before the call.
VerifiedLogin untouchedLogin() {
    VerifiedLogin l;
    for (std::string* field : {&l.idpEntityId, &l.nameId, &l.nameIdFormat, &l.nameQualifier,
                               &l.spNameQualifier, &l.sessionIndex, &l.authnInstant,
                               &l.sessionNotOnOrAfter, &l.authnContextClassRef, &l.assertionId})
        *field = kUntouched;
    l.attributes[kUntouched].values = {kUntouched};
    l.assertionExpiry = -1;
    return l;
}

Outcome verify(const std::string& xml, const LoginExpectations& e) {
    Outcome o{0, {}, untouchedLogin()};
    Recorder::reset();
    corvane::Result<VerifiedLogin> result = corvane::verifyLoginResponse(xml, e);
    o.status = corvane::toInt(result.status());
    if (result.ok())
        o.login = result.value();
    else
        o.errors = {result.message()};
    EXPECT_TRUE(Recorder::everything().empty()) << "a message reached the documented callbacks";
    return o;
}

void expectUntouched(const VerifiedLogin& l) {
    const VerifiedLogin b = untouchedLogin();
    EXPECT_TRUE(
        l.idpEntityId == b.idpEntityId && l.nameId == b.nameId &&
        l.nameIdFormat == b.nameIdFormat && l.nameQualifier == b.nameQualifier &&
        l.spNameQualifier == b.spNameQualifier && l.sessionIndex == b.sessionIndex &&
        l.authnInstant == b.authnInstant && l.sessionNotOnOrAfter == b.sessionNotOnOrAfter &&
        l.authnContextClassRef == b.authnContextClassRef && l.assertionId == b.assertionId &&
        l.assertionExpiry == b.assertionExpiry && l.attributes.size() == 1 &&
        l.attributes.begin()->second.values == b.attributes.begin()->second.values)
        << "the login was changed";
}

class LoginInterop : public ::testing::TestWithParam<Row> {};

TEST_P(LoginInterop, OutcomeFollowsTheSample) {
    const Row& row = GetParam();
    const std::string xml = readFile(kCorpus + "/" + row.file);
    LoginExpectations e = expectationsFrom(xml, row);
    if (row.kind == "encrypted")
        e.spDecryptionKeys = {
            corvane::Key::loadPrivateKey(generatedRsaKey(2048).privateKeyPem).value()};
    const Outcome o = verify(xml, e);
    const std::string said = o.errors.empty() ? "" : o.errors.front();
    RecordProperty("login_status", o.status);
    RecordProperty("login_message", said);
    std::printf("[ login    ] %-70s %4d %s\n", row.file.c_str(), o.status, said.c_str());
    if (row.kind == "attack") {
        EXPECT_NE(o.status, 0);
        EXPECT_EQ(o.errors.size(), 1u);
        expectUntouched(o.login);
    } else if (row.kind == "encrypted") {
        const bool rsa15 = xml.find("xmlenc#rsa-1_5") != std::string::npos;
        EXPECT_EQ(o.status, -7);
        EXPECT_EQ(o.errors,
                  std::vector<std::string>{
                      rsa15 ? "SAML EncryptedAssertion key transport RSA-1.5 is always refused: "
                              "it is open to padding oracle attacks"
                            : "SAML EncryptedAssertion could not be decrypted with the SP "
                              "decryption keys"});
        expectUntouched(o.login);
    } else if (kBreaksARule.count(row.file)) {
        const Refusal& r = kBreaksARule.at(row.file);
        EXPECT_EQ(o.status, r.status);
        EXPECT_EQ(o.errors, std::vector<std::string>{r.message});
        expectUntouched(o.login);
    } else {
        ASSERT_EQ(row.kind, "valid");
        EXPECT_EQ(o.status, 0);
        EXPECT_EQ(o.errors, std::vector<std::string>());
        EXPECT_EQ(o.login.nameId, row.nameId);
        EXPECT_EQ(o.login.idpEntityId, e.idpEntityId);
        EXPECT_NE(o.login.assertionId, kUntouched);
        EXPECT_EQ(o.login.attributes.count(kUntouched), 0u);
        EXPECT_GT(o.login.assertionExpiry, e.now);
    }
}

INSTANTIATE_TEST_SUITE_P(Corpus, LoginInterop, ::testing::ValuesIn(manifest()), RowName());
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(LoginInterop);

TEST(LoginInteropCorpus, IsPresentWithEveryKind) {
    ASSERT_FALSE(manifest().empty()) << "no rows in " << kCorpus << "/MANIFEST.tsv";
    std::map<std::string, int> kinds;
    for (const Row& row : manifest()) ++kinds[row.kind];
    EXPECT_EQ(kinds["valid"], 33);
    EXPECT_EQ(kinds["encrypted"], 6);
    EXPECT_EQ(kinds["attack"], 21);
    for (const auto& entry : kBreaksARule) EXPECT_EQ(rowFor(entry.first).kind, "valid");
}

// Where a sample's two values disagree, expectations that match the other
// value are refused by the other rule.
TEST(LoginInteropCorpus, DisagreeingValuesAreRefusedWhicheverSideIsExpected) {
    ASSERT_FALSE(manifest().empty()) << "no rows in " << kCorpus << "/MANIFEST.tsv";
    struct Case {
        std::string file;
        std::function<void(LoginExpectations*)> otherSide;
        std::string message;
    };
    const std::vector<Case> cases = {
        {"valid/ruby-saml__response_with_signed_message_and_assertion.xml",
         [](LoginExpectations* e) { e->idpEntityId = "idp.example.com"; },
         "SAML assertion Issuer \"idp.myexample.org\" is not the IdP \"idp.example.com\""},
        {"valid/passport-wsfed-saml2__samlresponse_nonascii.xml",
         [](LoginExpectations* e) { e->idpEntityId = "BEC"; },
         "SAML assertion Issuer \"Issuer\" is not the IdP \"BEC\""},
        // With the Destination as the ACS URL, the sample's second disagreement
        // shows: its response Issuer is not its assertion's.
        {"valid/ruby-saml__inclusive_namespaces.xml",
         [](LoginExpectations* e) { e->acsUrl = "https://someone.example.com/endpoint"; },
         "SAML response Issuer \"http://login.example.com/issuer\" is not the IdP "
         "\"http://www.okta.com/k7xkhq0jUHUPQAXVMUAN\""},
        {"valid/ruby-saml__inclusive_namespaces.xml",
         [](LoginExpectations* e) {
             e->acsUrl = "https://someone.example.com/endpoint";
             e->idpEntityId = "http://login.example.com/issuer";
         },
         "SAML assertion Issuer \"http://www.okta.com/k7xkhq0jUHUPQAXVMUAN\" is not the IdP "
         "\"http://login.example.com/issuer\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const std::string xml = readFile(kCorpus + "/" + c.file);
        LoginExpectations e = expectationsFrom(xml, rowFor(c.file));
        c.otherSide(&e);
        const Outcome o = verify(xml, e);
        EXPECT_EQ(o.status, -10);
        EXPECT_EQ(o.errors, std::vector<std::string>{c.message});
        expectUntouched(o.login);
    }
}

// The comment-injection sample, with the ACS URL its Destination names, is
// refused for its NameID, not for an addressing rule.
TEST(LoginInteropCorpus, CommentInsideTheNameIdIsRefusedForTheNameId) {
    ASSERT_FALSE(manifest().empty()) << "no rows in " << kCorpus << "/MANIFEST.tsv";
    const Row row = rowFor("attacks/ruby-saml__response_node_text_attack2.xml");
    const std::string xml = readFile(kCorpus + "/" + row.file);
    LoginExpectations e = expectationsFrom(xml, row);
    e.acsUrl = "http://app.muda.no/sso/consume";
    const Outcome o = verify(xml, e);
    EXPECT_EQ(o.status, -10);
    EXPECT_EQ(o.errors,
              std::vector<std::string>{"SAML assertion carries no usable Subject/NameID"});
    expectUntouched(o.login);
}

}  // namespace
