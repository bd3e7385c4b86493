// verifyLoginResponse on responses signed at test time with the test IdP
// key by the xmlsec1 tool (Reference "#" + the signed element's ID,
// enveloped transform, exclusive c14n): the honest response in every
// signing mode, one response per profile rule that breaks that rule alone
// (changed before signing), the skew boundary of every time bound, and
// signature wrapping. Every refusal is checked for its status, its one
// exact message and a login left untouched.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include <corvane/corvane.h>
#include "corvane_test_support.h"
#include "xml/limits.h"

namespace {

using namespace corvane_test;
using corvane::Key;
using corvane::LoginExpectations;
using corvane::VerifiedLogin;
using corvane::KeyPtr;

const char kIdp[] = "https://idp.example.test/login-test-only";
const char kSp[] = "https://sp.example.test/metadata";
const char kAcs[] = "https://sp.example.test/acs";
const char kRequest[] = "_login-request-1";
const char kNoRequestRule[] =
    "Login expectations are incomplete: set the request ID the response answers, or allow "
    "unsolicited responses";
const char kResponseId[] = "_login-response-1";
const char kAssertionId[] = "_login-assertion-1";
const char kNameId[] = "alice-7f3a@example.test";
const char kUntouched[] = "login before the call";
const char kResponseNode[] = "urn:oasis:names:tc:SAML:2.0:protocol:Response";
const char kAssertionNode[] = "urn:oasis:names:tc:SAML:2.0:assertion:Assertion";
const char kIdpKey[] = "test-idp-key.pem";
const char kOtherKey[] = "test-sp-key.pem";

const char kNotSigned[] =
    "SAML response is signed neither over the Response nor over the Assertion";
const char kAssertionNotVerified[] =
    "SAML response signature over the Assertion does not verify with any IdP certificate";
const char kResponseNotVerified[] =
    "SAML response signature over the Response does not verify with any IdP certificate";
const char kTwoAssertions[] = "SAML response carries 2 assertions, not exactly one";

// "YYYY-MM-DDThh:mm:ssZ" as seconds since the epoch.
long long utc(const char* text) {
    std::tm tm = {};
    if (std::sscanf(text, "%d-%d-%dT%d:%d:%dZ", &tm.tm_year, &tm.tm_mon, &tm.tm_mday, &tm.tm_hour,
                    &tm.tm_min, &tm.tm_sec) != 6)
        ADD_FAILURE() << "bad test time " << text;
    tm.tm_year -= 1900;
    tm.tm_mon -= 1;
    return static_cast<long long>(timegm(&tm));
}
const long long kNow = utc("2024-03-01T12:00:00Z");  // the template's IssueInstant

// ---- Signing with the xmlsec1 tool ------------------------------------------

struct Algorithm {
    std::string method, digest;
};
const Algorithm kRsaSha256{"http://www.w3.org/2001/04/xmldsig-more#rsa-sha256",
                           "http://www.w3.org/2001/04/xmlenc#sha256"};
const Algorithm kRsaSha1{"http://www.w3.org/2000/09/xmldsig#rsa-sha1",
                         "http://www.w3.org/2000/09/xmldsig#sha1"};

std::string signatureFor(const std::string& id, const Algorithm& alg = kRsaSha256) {
    return "<ds:Signature xmlns:ds=\"http://www.w3.org/2000/09/xmldsig#\"><ds:SignedInfo>"
           "<ds:CanonicalizationMethod Algorithm=\"http://www.w3.org/2001/10/xml-exc-c14n#\"/>"
           "<ds:SignatureMethod Algorithm=\"" +
           alg.method + "\"/><ds:Reference URI=\"#" + id +
           "\"><ds:Transforms><ds:Transform Algorithm=\"http://www.w3.org/2000/09/"
           "xmldsig#enveloped-signature\"/><ds:Transform Algorithm=\"http://www.w3.org/2001/10/"
           "xml-exc-c14n#\"/></ds:Transforms><ds:DigestMethod Algorithm=\"" +
           alg.digest +
           "\"/><ds:DigestValue/></ds:Reference></ds:SignedInfo><ds:SignatureValue/></"
           "ds:Signature>";
}

// The process's scratch directory, removed at exit.
struct ScratchDir {
    std::string path;
    ScratchDir() {
        char pattern[] = "/tmp/corvane-login-XXXXXX";
        const char* made = mkdtemp(pattern);
        path = made ? made : "";
    }
    ~ScratchDir() {
        for (const char* name : {"in.xml", "out.xml", "tool.txt"})
            unlink((path + "/" + name).c_str());
        rmdir(path.c_str());
    }
};
const std::string& scratch(const char* name) {
    static ScratchDir dir;
    static std::map<std::string, std::string> paths;
    return paths.emplace(name, dir.path + "/" + name).first->second;
}

// Runs the xmlsec1 tool (no shell); 0 when it succeeds. Its output goes to *output.
int xmlsec1(std::vector<std::string> args, std::string* output) {
    return runProgram(CORVANE_XMLSEC1_PROGRAM, std::move(args), scratch("tool.txt"), output);
}

// The first ds:Signature template of xml signed with a fixture key, the
// IDs of idNode elements registered.
std::string xmlsec1Sign(const std::string& xml, const std::string& key, const std::string& idNode) {
    static std::map<std::string, std::string> cache;
    const std::string cacheKey = key + '\n' + idNode + '\n' + xml;
    if (cache.count(cacheKey)) return cache[cacheKey];
    writeFile(scratch("in.xml"), xml);
    std::string output;
    if (xmlsec1({"--sign", "--privkey-pem", fixturePath(key), "--id-attr:ID", idNode, "--output",
                 scratch("out.xml"), scratch("in.xml")},
                &output) != 0) {
        ADD_FAILURE() << "xmlsec1 could not sign:\n" << output;
        return std::string();
    }
    return cache[cacheKey] = readFile(scratch("out.xml"));
}

// The xmlsec1 tool alone verifies the first ds:Signature with the test IdP
// certificate, the IDs of idNode elements registered.
bool xmlsec1Verifies(const std::string& xml, const std::string& idNode) {
    writeFile(scratch("in.xml"), xml);
    std::string output;
    return xmlsec1({"--verify", "--pubkey-cert-pem", fixturePath("test-idp-cert.pem"),
                    "--id-attr:ID", idNode, scratch("in.xml")},
                   &output) == 0;
}

std::string withoutMarker(std::string text, const std::string& marker) {
    const size_t at = text.find(marker);
    return at == std::string::npos ? text : text.erase(at, marker.size());
}

enum class Mode { None, Response, Assertion, Both };

// Signs the template text at its markers: the assertion over its own ID
// first, then the response over its own ID (each key a fixture name).
std::string sign(std::string text, Mode mode, const Algorithm& alg = kRsaSha256,
                 const std::string& assertionKey = kIdpKey,
                 const std::string& responseKey = kIdpKey) {
    if (mode == Mode::Assertion || mode == Mode::Both) {
        text = replaceAll(text, "{{ASSERTION_SIGNATURE}}", signatureFor(kAssertionId, alg));
        text = xmlsec1Sign(text, assertionKey, kAssertionNode);
    }
    text = withoutMarker(text, "{{ASSERTION_SIGNATURE}}");
    if (mode == Mode::Response || mode == Mode::Both) {
        text = replaceAll(text, "{{RESPONSE_SIGNATURE}}", signatureFor(kResponseId, alg));
        text = xmlsec1Sign(text, responseKey, kResponseNode);
    }
    return withoutMarker(text, "{{RESPONSE_SIGNATURE}}");
}

std::string base() { return readFixture("login-response-template.xml"); }

// The text from the first `begin` through the end of the next `end`.
std::string slice(const std::string& text, const std::string& begin, const std::string& end) {
    const size_t from = text.find(begin);
    const size_t to = from == std::string::npos ? from : text.find(end, from);
    if (to == std::string::npos) ADD_FAILURE() << "'" << begin << "' not found in test text";
    return to == std::string::npos ? "" : text.substr(from, to + end.size() - from);
}
std::string assertionOf(const std::string& xml) {
    return slice(xml, "<saml:Assertion ", "</saml:Assertion>");
}
// An unsigned assertion of the template for another subject, with this ID.
std::string forgedAssertion(const std::string& id = "_evil-assertion-1") {
    std::string forged = withoutMarker(assertionOf(base()), "{{ASSERTION_SIGNATURE}}");
    forged = replaceAll(forged, std::string("ID=\"") + kAssertionId + "\"", "ID=\"" + id + "\"");
    return replaceAll(forged, kNameId, "admin@example.test");
}

// ---- Observations ------------------------------------------------------------

KeyPtr certificate(const std::string& fixture) {
    corvane::Result<KeyPtr> key = Key::loadCertificate(readFixture(fixture));
    EXPECT_TRUE(key.ok()) << fixture << ": " << key.message();
    return key.ok() ? key.value() : KeyPtr();
}

// Honest expectations of the template: a solicited login at its IssueInstant.
LoginExpectations expectations() {
    LoginExpectations e;
    e.replayCache = corvane::newInProcessReplayCache();  // each test's own
    e.idpEntityId = kIdp;
    e.idpCertificates = {certificate("test-idp-cert.pem")};
    e.spEntityId = kSp;
    e.acsUrl = kAcs;
    e.requestId = kRequest;
    e.now = kNow;
    return e;
}

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

Outcome verify(const std::string& xml, const LoginExpectations& e = expectations()) {
    Outcome o{0, {}, untouchedLogin()};
    Recorder::reset();
    corvane::Result<VerifiedLogin> result = corvane::verifyLoginResponse(xml, e);
    o.status = corvane::toInt(result.status());
    if (result.ok()) {
        o.login = result.value();
        EXPECT_TRUE(result.message().empty());
    } else {
        o.errors = {result.message()};
    }
    // The extended call describes its failure in its result alone.
    EXPECT_TRUE(Recorder::everything().empty()) << "a message reached the documented callbacks";
    return o;
}

void expectRefused(const Outcome& o, int status, const std::string& message) {
    EXPECT_EQ(o.status, status);
    EXPECT_EQ(o.errors, std::vector<std::string>{message});
    const VerifiedLogin before = untouchedLogin();
    const VerifiedLogin& l = o.login;
    EXPECT_TRUE(l.idpEntityId == before.idpEntityId && l.nameId == before.nameId &&
                l.nameIdFormat == before.nameIdFormat && l.nameQualifier == before.nameQualifier &&
                l.spNameQualifier == before.spNameQualifier &&
                l.sessionIndex == before.sessionIndex && l.authnInstant == before.authnInstant &&
                l.sessionNotOnOrAfter == before.sessionNotOnOrAfter &&
                l.authnContextClassRef == before.authnContextClassRef &&
                l.assertionId == before.assertionId &&
                l.assertionExpiry == before.assertionExpiry && l.attributes.size() == 1 &&
                l.attributes.begin()->second.values == before.attributes.begin()->second.values)
        << "the login was changed";
}

void expectAccepted(const Outcome& o, const std::string& nameId = kNameId) {
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.errors, std::vector<std::string>());
    EXPECT_EQ(o.login.nameId, nameId);
    EXPECT_EQ(o.login.attributes.count(kUntouched), 0u);  // the whole login is replaced
}

class LoginTest : public RecordingTest {};

// ---- The honest response -----------------------------------------------------

struct HonestRow {
    std::string name;
    Mode mode;
    Algorithm alg;
};

void PrintTo(const HonestRow& row, std::ostream* out) { *out << row.name; }

class HonestLogin : public ::testing::TestWithParam<HonestRow> {};

TEST_P(HonestLogin, AcceptedWithEveryResultField) {
    const std::string signedText = sign(base(), GetParam().mode, GetParam().alg);
    size_t signatures = 0;
    for (size_t at = 0; (at = signedText.find("</ds:SignatureValue>", at)) != std::string::npos;
         ++at)
        ++signatures;
    EXPECT_EQ(signatures, GetParam().mode == Mode::Both ? 2u : 1u);
    LoginExpectations e = expectations();
    e.allowSha1 = GetParam().alg.method == kRsaSha1.method;
    const Outcome o = verify(signedText, e);
    expectAccepted(o);
    const VerifiedLogin& l = o.login;
    EXPECT_EQ(l.idpEntityId, kIdp);
    EXPECT_EQ(l.nameIdFormat, "urn:oasis:names:tc:SAML:2.0:nameid-format:persistent");
    EXPECT_EQ(l.nameQualifier, kIdp);
    EXPECT_EQ(l.spNameQualifier, kSp);
    EXPECT_EQ(l.sessionIndex, "_session-42");
    EXPECT_EQ(l.authnInstant, "2024-03-01T11:58:30Z");
    EXPECT_EQ(l.sessionNotOnOrAfter, "2024-03-01T20:00:00Z");
    EXPECT_EQ(l.authnContextClassRef,
              "urn:oasis:names:tc:SAML:2.0:ac:classes:PasswordProtectedTransport");
    EXPECT_EQ(l.assertionId, kAssertionId);
    // The bearer confirmation's NotOnOrAfter (12:05) is before the Conditions' (12:10).
    EXPECT_EQ(l.assertionExpiry, utc("2024-03-01T12:05:00Z"));
    ASSERT_EQ(l.attributes.size(), 2u);
    const corvane::LoginAttribute& mail = l.attributes.at("urn:oid:0.9.2342.19200300.100.1.3");
    EXPECT_EQ(mail.friendlyName, "mail");
    EXPECT_EQ(mail.nameFormat, "urn:oasis:names:tc:SAML:2.0:attrname-format:uri");
    EXPECT_EQ(mail.values, std::vector<std::string>{"alice@example.test"});
    const corvane::LoginAttribute& groups = l.attributes.at("groups");
    EXPECT_EQ(groups.friendlyName, "");
    EXPECT_EQ(groups.nameFormat, "urn:oasis:names:tc:SAML:2.0:attrname-format:basic");
    EXPECT_EQ(groups.values, (std::vector<std::string>{"staff", "admins"}));
}

INSTANTIATE_TEST_SUITE_P(
    SigningModes, HonestLogin,
    ::testing::Values(HonestRow{"ResponseRsaSha256", Mode::Response, kRsaSha256},
                      HonestRow{"AssertionRsaSha256", Mode::Assertion, kRsaSha256},
                      HonestRow{"BothRsaSha256", Mode::Both, kRsaSha256},
                      HonestRow{"ResponseRsaSha1", Mode::Response, kRsaSha1},
                      HonestRow{"AssertionRsaSha1", Mode::Assertion, kRsaSha1},
                      HonestRow{"BothRsaSha1", Mode::Both, kRsaSha1}),
    RowName());

TEST_F(LoginTest, ExpiryIsTheConditionsBoundWhenThatComesFirst) {
    const std::string text = replaceAll(base(), "2024-03-01T12:10:00Z", "2024-03-01T12:03:00Z");
    const Outcome o = verify(sign(text, Mode::Assertion));
    expectAccepted(o);
    EXPECT_EQ(o.login.assertionExpiry, utc("2024-03-01T12:03:00Z"));
}

TEST_F(LoginTest, NegativeNowReadsTheClock) {
    LoginExpectations e = expectations();
    e.now = -1;  // the template's times lie in the past of the real clock
    expectRefused(verify(sign(base(), Mode::Assertion), e), -10,
                  "SAML bearer confirmation expired at 2024-03-01T12:05:00Z");
    std::string future = base();
    for (const char* t : {"2024-03-01T12:05:00Z", "2024-03-01T12:10:00Z", "2024-03-01T20:00:00Z"})
        future = replaceAll(future, t, "2999-01-01T00:00:00Z");
    expectAccepted(verify(sign(future, Mode::Assertion), e));
}

// ---- One broken rule per response ----------------------------------------------

typedef std::function<std::string(const std::string&)> Edit;
typedef std::function<void(LoginExpectations*)> Tweak;

Edit change(const std::string& from, const std::string& to) {
    return [from, to](const std::string& text) { return replaceAll(text, from, to); };
}
Edit cut(const std::string& begin, const std::string& end) {
    return [begin, end](const std::string& text) { return cutOut(text, begin, end); };
}
const Edit kAsIs = [](const std::string& text) { return text; };
const Tweak kHonest = [](LoginExpectations*) {};

const std::string kSuccess =
    "<samlp:StatusCode Value=\"urn:oasis:names:tc:SAML:2.0:status:Success\"/>";
const std::string kAuthnFailed =
    "<samlp:StatusCode Value=\"urn:oasis:names:tc:SAML:2.0:status:Responder\"><samlp:StatusCode "
    "Value=\"urn:oasis:names:tc:SAML:2.0:status:AuthnFailed\"/></samlp:StatusCode>"
    "<samlp:StatusMessage>Wrong password</samlp:StatusMessage>";
const char kAuthnFailedMessage[] =
    "SAML response status is urn:oasis:names:tc:SAML:2.0:status:Responder / "
    "urn:oasis:names:tc:SAML:2.0:status:AuthnFailed: Wrong password";
const std::string kResponseIssuer =
    std::string("<saml:Issuer>") + kIdp + "</saml:Issuer>{{RESPONSE_SIGNATURE}}";
const std::string kAssertionIssuer =
    std::string("<saml:Issuer>") + kIdp + "</saml:Issuer>{{ASSERTION_SIGNATURE}}";
const std::string kResponseIrt = " InResponseTo=\"_login-request-1\">";
const std::string kConfirmationIrt = " InResponseTo=\"_login-request-1\"/>";
const std::string kRestriction = "<saml:AudienceRestriction>";
const std::string kOtherRestriction =
    "<saml:AudienceRestriction><saml:Audience>https://other-sp.example.test</saml:Audience>"
    "</saml:AudienceRestriction>";

struct CheckRow {
    std::string name;
    Mode mode;
    Edit edit;
    Tweak tweak;
    int status;           // 0: accepted
    std::string message;  // the one error message of a refusal
};

void PrintTo(const CheckRow& row, std::ostream* out) { *out << row.name; }

class OneBrokenRule : public ::testing::TestWithParam<CheckRow> {};

TEST_P(OneBrokenRule, RefusedWithItsMessageOnly) {
    const CheckRow& row = GetParam();
    LoginExpectations e = expectations();
    row.tweak(&e);
    const Outcome o = verify(sign(row.edit(base()), row.mode), e);
    if (row.status == 0)
        expectAccepted(o);
    else
        expectRefused(o, row.status, row.message);
}

Tweak requestId(const std::string& id, bool allowUnsolicited = false) {
    return [id, allowUnsolicited](LoginExpectations* e) {
        e->requestId = id;
        e->allowUnsolicited = allowUnsolicited;
    };
}
Edit both(Edit a, Edit b) {
    return [a, b](const std::string& text) { return b(a(text)); };
}

const std::vector<CheckRow> kCheckRows = {
    {"Version", Mode::Response,
     change("ID=\"_login-response-1\" Version=\"2.0\"", "ID=\"_login-response-1\" Version=\"1.1\""),
     kHonest, -10, "SAML response Version is \"1.1\", not \"2.0\""},
    {"StatusWithSecondLevelAndMessage", Mode::Both, change(kSuccess, kAuthnFailed), kHonest, -10,
     kAuthnFailedMessage},
    {"StatusTopLevelOnly", Mode::Response,
     change(kSuccess, "<samlp:StatusCode Value=\"urn:oasis:names:tc:SAML:2.0:status:Requester\"/>"),
     kHonest, -10, "SAML response status is urn:oasis:names:tc:SAML:2.0:status:Requester"},
    {"StatusCodeMissing", Mode::Response, change(kSuccess, ""), kHonest, -10,
     "SAML response carries no StatusCode"},
    {"Destination", Mode::Response,
     change("Destination=\"https://sp.example.test/acs\"",
            "Destination=\"https://other.example.test/acs\""),
     kHonest, -10,
     "SAML response Destination \"https://other.example.test/acs\" is not the ACS URL "
     "\"https://sp.example.test/acs\""},
    {"DestinationAbsentAccepted", Mode::Response,
     change(" Destination=\"https://sp.example.test/acs\"", ""), kHonest, 0, ""},
    {"ResponseIssuer", Mode::Response,
     change(kResponseIssuer,
            "<saml:Issuer>https://evil.example.test/idp</saml:Issuer>{{RESPONSE_SIGNATURE}}"),
     kHonest, -10,
     "SAML response Issuer \"https://evil.example.test/idp\" is not the IdP "
     "\"https://idp.example.test/login-test-only\""},
    {"ResponseIssuerAbsentAccepted", Mode::Assertion,
     change(kResponseIssuer, "{{RESPONSE_SIGNATURE}}"), kHonest, 0, ""},
    {"AssertionIssuerMissing", Mode::Response, change(kAssertionIssuer, "{{ASSERTION_SIGNATURE}}"),
     kHonest, -10, "SAML assertion names no Issuer"},
    {"AssertionIssuerWrong", Mode::Assertion,
     change(kAssertionIssuer,
            "<saml:Issuer>https://evil.example.test/idp</saml:Issuer>{{ASSERTION_SIGNATURE}}"),
     kHonest, -10,
     "SAML assertion Issuer \"https://evil.example.test/idp\" is not the IdP "
     "\"https://idp.example.test/login-test-only\""},
    {"NoAssertion", Mode::Response, cut("<saml:Assertion ", "</saml:Assertion>"), kHonest, -10,
     "SAML response carries 0 assertions, not exactly one"},
    {"TwoAssertions", Mode::Response,
     [](const std::string& text) {
         return replaceAll(text, "</samlp:Status>",
                           "</samlp:Status>" + forgedAssertion("_login-assertion-2"));
     },
     kHonest, -10, kTwoAssertions},
    {"EncryptedAssertionWithoutAlgorithm", Mode::Response,
     [](const std::string& text) {
         return replaceAll(
             text, assertionOf(text),
             "<saml:EncryptedAssertion><xenc:EncryptedData xmlns:xenc=\"http://www.w3.org/2001/04/"
             "xmlenc#\"/></saml:EncryptedAssertion>");
     },
     kHonest, -7,
     "SAML EncryptedAssertion data encryption algorithm \"\" is not allowed (AES-GCM or AES-CBC "
     "only)"},
    {"Unsigned", Mode::None, kAsIs, kHonest, -7, kNotSigned},
    {"RequestExpectedButNoneNamed", Mode::Assertion,
     both(change(kResponseIrt, ">"), change(kConfirmationIrt, "/>")), kHonest, -10,
     "SAML response answers no request, but request \"_login-request-1\" is expected"},
    {"RequestDifferent", Mode::Assertion, kAsIs, requestId("_login-request-2"), -10,
     "SAML response answers request \"_login-request-1\", not \"_login-request-2\""},
    {"ConfirmationNamesAnotherRequest", Mode::Assertion,
     change(kConfirmationIrt, " InResponseTo=\"_login-request-9\"/>"), kHonest, -10,
     "SAML bearer confirmation answers request \"_login-request-9\", not \"_login-request-1\""},
    {"ConfirmationNamesNoRequest", Mode::Assertion, change(kConfirmationIrt, "/>"), kHonest, -10,
     "SAML bearer confirmation answers no request, but request \"_login-request-1\" is expected"},
    {"NeitherRequestNorUnsolicitedIsIncomplete", Mode::Assertion, kAsIs, requestId(""), -9,
     kNoRequestRule},
    {"NeitherRequestNorUnsolicitedIsIncompleteForUnsolicitedToo", Mode::Assertion,
     both(change(kResponseIrt, ">"), change(kConfirmationIrt, "/>")), requestId(""), -9,
     kNoRequestRule},
    {"AllowUnsolicitedRefusesAnswerToUncheckedRequest", Mode::Assertion, kAsIs,
     requestId("", true), -10,
     "SAML response answers request \"_login-request-1\", but no request ID is expected to "
     "check it against"},
    {"AllowUnsolicitedRefusesConfirmationAnsweringUncheckedRequest", Mode::Assertion,
     change(kResponseIrt, ">"), requestId("", true), -10,
     "SAML bearer confirmation answers request \"_login-request-1\", but no request ID is "
     "expected to check it against"},
    {"AllowUnsolicitedAcceptsUnsolicited", Mode::Assertion,
     both(change(kResponseIrt, ">"), change(kConfirmationIrt, "/>")), requestId("", true), 0, ""},
    {"RequestAndAllowUnsolicitedAcceptUnsolicited", Mode::Assertion,
     both(change(kResponseIrt, ">"), change(kConfirmationIrt, "/>")),
     requestId("_login-request-1", true), 0, ""},
    {"RequestAndAllowUnsolicitedAcceptTheAnswer", Mode::Assertion, kAsIs,
     requestId("_login-request-1", true), 0, ""},
    {"RequestAndAllowUnsolicitedStillCheckTheAnswer", Mode::Assertion, kAsIs,
     requestId("_login-request-2", true), -10,
     "SAML response answers request \"_login-request-1\", not \"_login-request-2\""},
    // Response and confirmation each follow the rule on their own.
    {"RequestExpectedButOnlyTheConfirmationNamesIt", Mode::Assertion, change(kResponseIrt, ">"),
     kHonest, -10,
     "SAML response answers no request, but request \"_login-request-1\" is expected"},
    {"RequestAndAllowUnsolicitedAcceptAnAnswerNamedByTheConfirmationAlone", Mode::Assertion,
     change(kResponseIrt, ">"), requestId("_login-request-1", true), 0, ""},
    {"RequestAndAllowUnsolicitedAcceptAnAnswerNamedByTheResponseAlone", Mode::Assertion,
     change(kConfirmationIrt, "/>"), requestId("_login-request-1", true), 0, ""},
    {"RequestAndAllowUnsolicitedStillCheckTheConfirmation", Mode::Assertion,
     change(kConfirmationIrt, " InResponseTo=\"_login-request-9\"/>"),
     requestId("_login-request-1", true), -10,
     "SAML bearer confirmation answers request \"_login-request-9\", not \"_login-request-1\""},
    {"RequestAndAllowUnsolicitedCheckTheConfirmationOfAnUnsolicitedResponse", Mode::Assertion,
     both(change(kResponseIrt, ">"),
          change(kConfirmationIrt, " InResponseTo=\"_login-request-9\"/>")),
     requestId("_login-request-1", true), -10,
     "SAML bearer confirmation answers request \"_login-request-9\", not \"_login-request-1\""},
    {"AllowUnsolicitedRefusesAResponseAnsweringARequestWhateverItsConfirmation", Mode::Assertion,
     change(kConfirmationIrt, "/>"), requestId("", true), -10,
     "SAML response answers request \"_login-request-1\", but no request ID is expected to "
     "check it against"},
    {"NoBearerConfirmation", Mode::Assertion, change("cm:bearer", "cm:holder-of-key"), kHonest, -10,
     "SAML assertion has no bearer SubjectConfirmation"},
    {"Recipient", Mode::Assertion,
     change("Recipient=\"https://sp.example.test/acs\"",
            "Recipient=\"https://other.example.test/acs\""),
     kHonest, -10,
     "SAML bearer confirmation Recipient \"https://other.example.test/acs\" is not the ACS URL "
     "\"https://sp.example.test/acs\""},
    {"RecipientMissing", Mode::Assertion, change("Recipient=\"https://sp.example.test/acs\"", ""),
     kHonest, -10,
     "SAML bearer confirmation Recipient \"\" is not the ACS URL \"https://sp.example.test/acs\""},
    {"ConfirmationNotOnOrAfterMissing", Mode::Assertion,
     change("NotOnOrAfter=\"2024-03-01T12:05:00Z\"", ""), kHonest, -10,
     "SAML bearer confirmation NotOnOrAfter \"\" is missing or not a time stamp"},
    {"ConditionsTimeWithoutZone", Mode::Assertion,
     change("2024-03-01T12:10:00Z", "2024-03-01T12:10:00"), kHonest, -10,
     "SAML assertion NotOnOrAfter \"2024-03-01T12:10:00\" is missing or not a time stamp"},
    {"NoConditions", Mode::Assertion, cut("<saml:Conditions ", "</saml:Conditions>"), kHonest, -10,
     "SAML assertion has no Conditions"},
    {"NoAudienceRestriction", Mode::Assertion, cut(kRestriction, "</saml:AudienceRestriction>"),
     kHonest, -10, "SAML assertion Conditions name no AudienceRestriction"},
    {"WrongAudience", Mode::Assertion,
     change(std::string(">") + kSp + "</saml:Audience>",
            ">https://other-sp.example.test</saml:Audience>"),
     kHonest, -10,
     "SAML assertion AudienceRestriction does not name the SP "
     "\"https://sp.example.test/metadata\""},
    {"SecondRestrictionLacksSp", Mode::Assertion,
     change(kRestriction, kOtherRestriction + kRestriction), kHonest, -10,
     "SAML assertion AudienceRestriction does not name the SP "
     "\"https://sp.example.test/metadata\""},
    {"TwoAudiencesOneIsSpAccepted", Mode::Assertion,
     change(kRestriction,
            kRestriction + "<saml:Audience>https://other-sp.example.test</saml:Audience>"),
     kHonest, 0, ""},
    {"NoAuthnStatement", Mode::Assertion, cut("<saml:AuthnStatement ", "</saml:AuthnStatement>"),
     kHonest, -10, "SAML assertion has no AuthnStatement"},
    {"NameIdWithComment", Mode::Assertion, change(kNameId, "alice-7f3a<!-- -->@example.test"),
     kHonest, -10, "SAML assertion carries no usable Subject/NameID"},
    {"Saml2PrefixAccepted", Mode::Assertion,
     both(change("saml:", "saml2:"), change("xmlns:saml=", "xmlns:saml2=")), kHonest, 0, ""},
    {"DefaultNamespaceAccepted", Mode::Both,
     both(both(change("<saml:", "<"), change("</saml:", "</")), change("xmlns:saml=", "xmlns=")),
     kHonest, 0, ""},
    {"AssertionVersion", Mode::Assertion,
     change("<saml:Assertion ID=\"_login-assertion-1\" Version=\"2.0\"",
            "<saml:Assertion ID=\"_login-assertion-1\" Version=\"1.1\""),
     kHonest, -10, "SAML assertion Version is \"1.1\", not \"2.0\""},
    {"AssertionIssuerOfPersonFormat", Mode::Assertion,
     change(kAssertionIssuer,
            std::string("<saml:Issuer Format=\"urn:oasis:names:tc:SAML:2.0:nameid-format:"
                        "persistent\">") + kIdp + "</saml:Issuer>{{ASSERTION_SIGNATURE}}"),
     kHonest, -10,
     "SAML assertion Issuer Format \"urn:oasis:names:tc:SAML:2.0:nameid-format:persistent\" is "
     "not the entity format"},
    {"SecondResponseIssuer", Mode::Response,
     change(kResponseIssuer, kResponseIssuer + "<saml:Issuer>https://evil.example.test</saml:Issuer>"),
     kHonest, -10, "SAML response carries more than one Issuer"},
    {"SecondConditions", Mode::Assertion,
     change("<saml:AuthnStatement ",
            "<saml:Conditions><saml:AudienceRestriction><saml:Audience>other</saml:Audience>"
            "</saml:AudienceRestriction></saml:Conditions><saml:AuthnStatement "),
     kHonest, -10, "SAML assertion carries more than one Conditions"},
    {"SecondNameId", Mode::Assertion,
     change("</saml:NameID>", "</saml:NameID><saml:NameID>mallory@example.test</saml:NameID>"),
     kHonest, -10, "SAML subject carries more than one NameID"},
    {"UnknownCondition", Mode::Assertion,
     change(kRestriction, "<saml:Condition xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
                          "xmlns:x=\"urn:x\" xsi:type=\"x:Mystery\"/>" + kRestriction),
     kHonest, -10, "SAML assertion carries a condition it does not understand: Condition"},
    {"OneTimeUseAccepted", Mode::Assertion, change(kRestriction, "<saml:OneTimeUse/>" + kRestriction),
     kHonest, 0, ""},
    {"SecondAuthnStatementExpired", Mode::Assertion,
     change("<saml:AuthnStatement ",
            "<saml:AuthnStatement AuthnInstant=\"2024-03-01T11:58:30Z\" "
            "SessionNotOnOrAfter=\"2024-03-01T11:00:00Z\"><saml:AuthnContext>"
            "<saml:AuthnContextClassRef>x</saml:AuthnContextClassRef></saml:AuthnContext>"
            "</saml:AuthnStatement><saml:AuthnStatement "),
     kHonest, -10, "SAML session expired at 2024-03-01T11:00:00Z"},
    {"BlankNameId", Mode::Assertion, change(kNameId, "   "), kHonest, -10,
     "SAML assertion carries no usable Subject/NameID"},
    {"SkewBeyondADay", Mode::Assertion, kAsIs,
     [](LoginExpectations* e) { e->clockSkewSeconds = 86401; }, -9,
     "Login expectations are not usable: the clock skew must be 0 to 86400 seconds"},
    {"NegativeSkew", Mode::Assertion, kAsIs,
     [](LoginExpectations* e) { e->clockSkewSeconds = -1; }, -9,
     "Login expectations are not usable: the clock skew must be 0 to 86400 seconds"},
    {"FractionalNotBeforeRoundsUp", Mode::Assertion,
     change("NotBefore=\"2024-03-01T11:59:00Z\"", "NotBefore=\"2024-03-01T12:00:00.5Z\""),
     [](LoginExpectations* e) { e->clockSkewSeconds = 0; }, -10,
     "SAML assertion is not valid before 2024-03-01T12:00:00.5Z"},
    // The assertion's ID is what a replay cache keys on.
    {"AssertionIdMissing", Mode::Response,
     change("<saml:Assertion ID=\"_login-assertion-1\" ", "<saml:Assertion "), kHonest, -10,
     "SAML assertion has no ID"},
    {"AssertionIdEmpty", Mode::Response,
     change("<saml:Assertion ID=\"_login-assertion-1\" ", "<saml:Assertion ID=\"\" "), kHonest,
     -10, "SAML assertion ID \"\" is not an xs:ID (an NCName)"},
    {"AssertionIdNotAnNcName", Mode::Response,
     change("<saml:Assertion ID=\"_login-assertion-1\" ", "<saml:Assertion ID=\"1:login\" "),
     kHonest, -10, "SAML assertion ID \"1:login\" is not an xs:ID (an NCName)"},
    {"AssertionIdOtherNcNameAccepted", Mode::Response,
     change("<saml:Assertion ID=\"_login-assertion-1\" ", "<saml:Assertion ID=\"a.b-c_1\" "),
     kHonest, 0, ""},
    // Windows whose NotBefore is not earlier than their NotOnOrAfter, each
    // bound within the skew of now on its own.
    {"ConditionsWindowInverted", Mode::Assertion,
     change("NotBefore=\"2024-03-01T11:59:00Z\" NotOnOrAfter=\"2024-03-01T12:10:00Z\"",
            "NotBefore=\"2024-03-01T12:01:00Z\" NotOnOrAfter=\"2024-03-01T12:00:30Z\""),
     kHonest, -10,
     "SAML assertion NotBefore 2024-03-01T12:01:00Z is not earlier than its NotOnOrAfter "
     "2024-03-01T12:00:30Z"},
    {"ConditionsWindowEmpty", Mode::Assertion,
     change("NotBefore=\"2024-03-01T11:59:00Z\" NotOnOrAfter=\"2024-03-01T12:10:00Z\"",
            "NotBefore=\"2024-03-01T12:01:00Z\" NotOnOrAfter=\"2024-03-01T12:01:00Z\""),
     kHonest, -10,
     "SAML assertion NotBefore 2024-03-01T12:01:00Z is not earlier than its NotOnOrAfter "
     "2024-03-01T12:01:00Z"},
    {"ConditionsWindowOfHalfASecondAccepted", Mode::Assertion,
     change("NotBefore=\"2024-03-01T11:59:00Z\" NotOnOrAfter=\"2024-03-01T12:10:00Z\"",
            "NotBefore=\"2024-03-01T12:01:00Z\" NotOnOrAfter=\"2024-03-01T12:01:00.5Z\""),
     kHonest, 0, ""},
    {"ConfirmationWindowInverted", Mode::Assertion,
     change("NotOnOrAfter=\"2024-03-01T12:05:00Z\"",
            "NotBefore=\"2024-03-01T12:02:00Z\" NotOnOrAfter=\"2024-03-01T12:01:00Z\""),
     kHonest, -10,
     "SAML bearer confirmation NotBefore 2024-03-01T12:02:00Z is not earlier than its "
     "NotOnOrAfter 2024-03-01T12:01:00Z"},
    {"ConfirmationWindowOrderedAccepted", Mode::Assertion,
     change("NotOnOrAfter=\"2024-03-01T12:05:00Z\"",
            "NotBefore=\"2024-03-01T12:01:00Z\" NotOnOrAfter=\"2024-03-01T12:02:00Z\""),
     kHonest, 0, ""},
    // xs:dateTime offsets reach 14:00 and no further.
    {"ZoneOffsetOfFourteenHoursAccepted", Mode::Assertion,
     change("NotOnOrAfter=\"2024-03-01T12:10:00Z\"", "NotOnOrAfter=\"2024-03-02T02:10:00+14:00\""),
     kHonest, 0, ""},
    {"ZoneOffsetBeyondFourteenHours", Mode::Assertion,
     change("NotOnOrAfter=\"2024-03-01T12:10:00Z\"", "NotOnOrAfter=\"2024-03-02T02:11:00+14:01\""),
     kHonest, -10,
     "SAML assertion NotOnOrAfter \"2024-03-02T02:11:00+14:01\" is missing or not a time stamp"},
    // Values quoted in messages cannot start a new line in a host's log.
    {"StatusMessageWithLineBreaksArrivesEscaped", Mode::Both,
     change(kSuccess, replaceAll(kAuthnFailed, "Wrong password",
                                 "Wrong password\n2024-03-01 admin logged in&#13;\xC2\x85" "end")),
     kHonest, -10,
     std::string(kAuthnFailedMessage) + "\\n2024-03-01 admin logged in\\r\\u0085end"},
    {"IssuerWithLineBreakArrivesEscaped", Mode::Assertion,
     change(kAssertionIssuer,
            "<saml:Issuer>https://evil.example.test/idp\nforged</saml:Issuer>{{ASSERTION_SIGNATURE}}"),
     kHonest, -10,
     "SAML assertion Issuer \"https://evil.example.test/idp\\nforged\" is not the IdP "
     "\"https://idp.example.test/login-test-only\""},
    // A host's now is clamped to the instants time stamps can name.
    {"NowAtTheLargestValue", Mode::Assertion, kAsIs,
     [](LoginExpectations* e) { e->now = LLONG_MAX; }, -10,
     "SAML bearer confirmation expired at 2024-03-01T12:05:00Z"},
    {"NowAtTheLargestValueWithTheLargestSkew", Mode::Assertion, kAsIs,
     [](LoginExpectations* e) {
         e->now = LLONG_MAX;
         e->clockSkewSeconds = 86400;
     },
     -10, "SAML bearer confirmation expired at 2024-03-01T12:05:00Z"},
    {"NowAtTheSmallestValueReadsTheClock", Mode::Assertion, kAsIs,
     [](LoginExpectations* e) { e->now = LLONG_MIN; }, -10,
     "SAML bearer confirmation expired at 2024-03-01T12:05:00Z"},
    {"EndOfDayIsATimeStamp", Mode::Assertion,
     change("SessionNotOnOrAfter=\"2024-03-01T20:00:00Z\"",
            "SessionNotOnOrAfter=\"2024-03-01T24:00:00Z\""),
     kHonest, 0, ""},
};

INSTANTIATE_TEST_SUITE_P(Rules, OneBrokenRule, ::testing::ValuesIn(kCheckRows), RowName());

TEST_F(LoginTest, UnsignedErrorResponseReportsTheIdpStatus) {
    const std::string text =
        cutOut(change(kSuccess, kAuthnFailed)(base()), "<saml:Assertion ", "</saml:Assertion>");
    expectRefused(verify(sign(text, Mode::None)), -10, kAuthnFailedMessage);
}

TEST_F(LoginTest, SignatureByAnotherKeyIsRefused) {
    expectRefused(verify(sign(base(), Mode::Assertion, kRsaSha256, kOtherKey)), -7,
                  kAssertionNotVerified);
    expectRefused(verify(sign(base(), Mode::Response, kRsaSha256, kIdpKey, kOtherKey)), -7,
                  kResponseNotVerified);
    // Every signature present must verify, even when the other one does.
    expectRefused(verify(sign(base(), Mode::Both, kRsaSha256, kIdpKey, kOtherKey)), -7,
                  kResponseNotVerified);
    expectRefused(verify(sign(base(), Mode::Both, kRsaSha256, kOtherKey, kIdpKey)), -7,
                  kAssertionNotVerified);
}

// SHA-1, as the signature method or a digest, only when named.
TEST_F(LoginTest, Sha1SignaturesAreRefusedUnlessAllowed) {
    const Algorithm sha1DigestOnly{kRsaSha256.method, kRsaSha1.digest};
    const Algorithm sha1MethodOnly{kRsaSha1.method, kRsaSha256.digest};
    for (const Algorithm& alg : {kRsaSha1, sha1DigestOnly, sha1MethodOnly}) {
        SCOPED_TRACE(alg.method + " " + alg.digest);
        for (Mode mode : {Mode::Response, Mode::Assertion}) {
            const std::string signedText = sign(base(), mode, alg);
            const char* over = mode == Mode::Response ? "Response" : "Assertion";
            expectRefused(verify(signedText), -7,
                          "SAML response signature over the " + std::string(over) +
                              " uses SHA-1, which is refused unless allowSha1 is set");
            LoginExpectations allowed = expectations();
            allowed.allowSha1 = true;
            expectAccepted(verify(signedText, allowed));
        }
    }
    expectAccepted(verify(sign(base(), Mode::Both, kRsaSha256)));
}

TEST_F(LoginTest, KeyRolloverAcceptsAnyOneCertificate) {
    LoginExpectations e = expectations();
    e.idpCertificates = {certificate("test-sp-cert.pem"), certificate("test-idp-cert.pem")};
    for (Mode mode : {Mode::Response, Mode::Assertion, Mode::Both}) {
        e.replayCache = corvane::newInProcessReplayCache();  // the same assertion each time
        expectAccepted(verify(sign(base(), mode), e));
    }
    e.idpCertificates = {certificate("test-sp-cert.pem")};
    expectRefused(verify(sign(base(), Mode::Assertion), e), -7, kAssertionNotVerified);
    expectRefused(verify(sign(base(), Mode::Response), e), -7, kResponseNotVerified);
}

TEST_F(LoginTest, IncompleteExpectationsAreRefusedFirst) {
    const std::vector<std::pair<Tweak, std::string>> rows = {
        {[](LoginExpectations* e) { e->idpEntityId.clear(); }, "the IdP entity ID"},
        {[](LoginExpectations* e) { e->idpCertificates.clear(); }, "an IdP certificate"},
        {[](LoginExpectations* e) { e->spEntityId.clear(); }, "the SP entity ID"},
        {[](LoginExpectations* e) { e->acsUrl.clear(); }, "the ACS URL"},
        {[](LoginExpectations* e) { e->idpCertificates.push_back(KeyPtr()); },
         "an IdP certificate (null key)"},
    };
    const std::string honest = sign(base(), Mode::Assertion);
    for (const auto& row : rows) {
        LoginExpectations e = expectations();
        row.first(&e);
        expectRefused(verify(honest, e), -9,
                      "Login expectations are incomplete: " + row.second + " is missing");
    }
}

// ---- Skew boundaries ------------------------------------------------------------

// One time bound at the instant kNow, every other bound a month away.
struct BoundRow {
    std::string name;
    std::string attribute;  // the bound in the template; empty: a confirmation NotBefore added
    std::string value;      // the tested bound as written
    bool notBefore;
    std::string message;
};

std::string withSingleBound(const BoundRow& row) {
    const std::vector<std::pair<std::string, std::string>> wide = {
        {"NotBefore=\"2024-03-01T11:59:00Z\"", "NotBefore=\"2024-02-01T00:00:00Z\""},
        {"NotOnOrAfter=\"2024-03-01T12:05:00Z\"", "NotOnOrAfter=\"2024-04-01T00:00:00Z\""},
        {"NotOnOrAfter=\"2024-03-01T12:10:00Z\"", "NotOnOrAfter=\"2024-04-02T00:00:00Z\""},
        {"SessionNotOnOrAfter=\"2024-03-01T20:00:00Z\"",
         "SessionNotOnOrAfter=\"2024-04-03T00:00:00Z\""}};
    std::string text = base();
    for (const auto& bound : wide) {
        const std::string tested =
            bound.first.substr(0, bound.first.find('=')) + "=\"" + row.value + "\"";
        text = replaceAll(text, bound.first, bound.first == row.attribute ? tested : bound.second);
    }
    if (row.attribute.empty())
        text = replaceAll(text, "Recipient=", "NotBefore=\"" + row.value + "\" Recipient=");
    return text;
}

void PrintTo(const BoundRow& row, std::ostream* out) { *out << row.name; }

class SkewBoundary : public ::testing::TestWithParam<BoundRow> {};

// NotBefore holds iff now + skew >= it, NotOnOrAfter iff now - skew < it:
// for each skew, the last second accepted and the first refused.
TEST_P(SkewBoundary, AcceptedUpToTheBoundaryAndRefusedOneSecondPast) {
    const BoundRow& row = GetParam();
    const std::string signedText = sign(withSingleBound(row), Mode::Assertion);
    for (long skew : {-1L, 0L, 60L}) {  // -1: the default, 180 s
        LoginExpectations e = expectations();
        if (skew >= 0) e.clockSkewSeconds = skew;
        const long long s = skew >= 0 ? skew : 180;
        const long long lastAccepted = row.notBefore ? kNow - s : kNow + s - 1;
        const long long firstRefused = row.notBefore ? lastAccepted - 1 : lastAccepted + 1;
        SCOPED_TRACE("skew " + std::to_string(s));
        e.now = lastAccepted;
        expectAccepted(verify(signedText, e));
        e.now = firstRefused;
        expectRefused(verify(signedText, e), -10, row.message);
    }
}

INSTANTIATE_TEST_SUITE_P(
    TimeBounds, SkewBoundary,
    ::testing::Values(
        BoundRow{"ConditionsNotBefore", "NotBefore=\"2024-03-01T11:59:00Z\"",
                 "2024-03-01T12:00:00Z", true,
                 "SAML assertion is not valid before 2024-03-01T12:00:00Z"},
        BoundRow{"ConditionsNotOnOrAfter", "NotOnOrAfter=\"2024-03-01T12:10:00Z\"",
                 "2024-03-01T12:00:00Z", false, "SAML assertion expired at 2024-03-01T12:00:00Z"},
        BoundRow{"ConfirmationNotBefore", "", "2024-03-01T12:00:00Z", true,
                 "SAML bearer confirmation is not valid before 2024-03-01T12:00:00Z"},
        BoundRow{"ConfirmationNotOnOrAfter", "NotOnOrAfter=\"2024-03-01T12:05:00Z\"",
                 "2024-03-01T12:00:00Z", false,
                 "SAML bearer confirmation expired at 2024-03-01T12:00:00Z"},
        BoundRow{"ConfirmationNotOnOrAfterWithOffset", "NotOnOrAfter=\"2024-03-01T12:05:00Z\"",
                 "2024-03-01T14:00:00+02:00", false,
                 "SAML bearer confirmation expired at 2024-03-01T14:00:00+02:00"},
        BoundRow{"SessionNotOnOrAfter", "SessionNotOnOrAfter=\"2024-03-01T20:00:00Z\"",
                 "2024-03-01T12:00:00Z", false, "SAML session expired at 2024-03-01T12:00:00Z"}),
    RowName());

// ---- Signature wrapping ------------------------------------------------------------

TEST_F(LoginTest, UnsignedAssertionBesideTheSignedOneIsRefused) {
    const std::string genuine = sign(base(), Mode::Assertion);
    const std::string signedAssertion = assertionOf(genuine);
    for (const std::string& wrapped :
         {replaceAll(genuine, signedAssertion, forgedAssertion() + signedAssertion),
          replaceAll(genuine, signedAssertion, signedAssertion + forgedAssertion())}) {
        EXPECT_TRUE(xmlsec1Verifies(wrapped, kAssertionNode));
        expectRefused(verify(wrapped), -10, kTwoAssertions);
    }
}

TEST_F(LoginTest, SignedAssertionMovedIntoAdviceOfAnUnsignedOneIsRefused) {
    const std::string genuine = sign(base(), Mode::Assertion);
    const std::string forged =
        replaceAll(forgedAssertion(), "</saml:Conditions>",
                   "</saml:Conditions><saml:Advice>" + assertionOf(genuine) + "</saml:Advice>");
    const std::string wrapped = replaceAll(genuine, assertionOf(genuine), forged);
    EXPECT_TRUE(xmlsec1Verifies(wrapped, kAssertionNode));
    expectRefused(verify(wrapped), -7, kNotSigned);
}

TEST_F(LoginTest, SignedAssertionInExtensionsWithAnUnsignedOneOnTopIsRefused) {
    const std::string genuine = sign(base(), Mode::Assertion);
    std::string wrapped = replaceAll(genuine, assertionOf(genuine), forgedAssertion());
    wrapped = replaceAll(
        wrapped, "<samlp:Status>",
        "<samlp:Extensions>" + assertionOf(genuine) + "</samlp:Extensions><samlp:Status>");
    EXPECT_TRUE(xmlsec1Verifies(wrapped, kAssertionNode));
    expectRefused(verify(wrapped), -7, kNotSigned);
}

TEST_F(LoginTest, DuplicateIdsAreRefused) {
    const std::string genuine = sign(base(), Mode::Assertion);
    const std::string signedAssertion = assertionOf(genuine);
    const std::string signature = slice(signedAssertion, "<ds:Signature", "</ds:Signature>");
    // A forged assertion under the genuine ID and signature, the genuine
    // one hidden in Extensions.
    const std::string forged =
        replaceAll(forgedAssertion(kAssertionId), "</saml:Issuer>", "</saml:Issuer>" + signature);
    std::string wrapped = replaceAll(genuine, signedAssertion, forged);
    wrapped =
        replaceAll(wrapped, "<samlp:Status>",
                   "<samlp:Extensions>" + signedAssertion + "</samlp:Extensions><samlp:Status>");
    const std::string duplicate =
        "SAML response contains the ID \"_login-assertion-1\" more than once";
    expectRefused(verify(wrapped), -7, duplicate);
    // An xml:id elsewhere that repeats the signed assertion's ID.
    const std::string xmlId = replaceAll(
        genuine, "<samlp:Status>",
        "<samlp:Extensions><x:Note xmlns:x=\"urn:example:test\" xml:id=\"_login-assertion-1\"/>"
        "</samlp:Extensions><samlp:Status>");
    expectRefused(verify(xmlId), -7, duplicate);
}

TEST_F(LoginTest, ResponseSignatureMovedInsideStatusIsRefused) {
    const std::string genuine = sign(base(), Mode::Response);
    const std::string signature = slice(genuine, "<ds:Signature", "</ds:Signature>");
    const std::string moved = replaceAll(replaceAll(genuine, signature, ""), "</samlp:Status>",
                                         signature + "</samlp:Status>");
    EXPECT_TRUE(xmlsec1Verifies(moved, kResponseNode));
    expectRefused(verify(moved), -7,
                  "SAML response carries a signature inside Status, where no signature belongs");
}

TEST_F(LoginTest, ReferenceToAnotherElementsIdIsRefused) {
    // The Response's signature over the assertion's ID, and the reverse.
    const std::string overAssertion = xmlsec1Sign(
        withoutMarker(replaceAll(base(), "{{RESPONSE_SIGNATURE}}", signatureFor(kAssertionId)),
                      "{{ASSERTION_SIGNATURE}}"),
        kIdpKey, kAssertionNode);
    EXPECT_TRUE(xmlsec1Verifies(overAssertion, kAssertionNode));
    expectRefused(
        verify(overAssertion), -7,
        "SAML response signature does not refer to the element it is attached to (Response)");
    const std::string overResponse = xmlsec1Sign(
        withoutMarker(replaceAll(base(), "{{ASSERTION_SIGNATURE}}", signatureFor(kResponseId)),
                      "{{RESPONSE_SIGNATURE}}"),
        kIdpKey, kResponseNode);
    EXPECT_TRUE(xmlsec1Verifies(overResponse, kResponseNode));
    expectRefused(
        verify(overResponse), -7,
        "SAML response signature does not refer to the element it is attached to (Assertion)");
}

// ---- Input size and libxml2's reports ----------------------------------------------

// The signed response padded by a trailing comment to exactly `size` bytes.
std::string paddedTo(const std::string& text, size_t size) {
    return text + "<!--" + std::string(size - text.size() - 7, 'x') + "-->";
}

TEST_F(LoginTest, SizeLimitIsCheckedFirstAndAHostMayRaiseIt) {
    EXPECT_EQ(LoginExpectations().maxMessageBytes, corvane::internal::kDefaultMaxMessageBytes);
    const std::string honest = sign(base(), Mode::Assertion);
    const size_t limit = corvane::internal::kDefaultMaxMessageBytes;
    expectAccepted(verify(paddedTo(honest, limit)));
    const std::string over = paddedTo(honest, limit + 1);
    const std::string tooLarge =
        "SAML message of 2097153 bytes is larger than the limit of 2097152 bytes";
    expectRefused(verify(over), -11, tooLarge);
    // Refused before the screening, which would refuse the DTD for itself.
    expectRefused(verify(paddedTo("<!DOCTYPE r [<!ENTITY e \"x\">]>" + honest, limit + 1)), -11,
                  tooLarge);
    LoginExpectations raised = expectations();
    raised.maxMessageBytes = 4 * 1024 * 1024;
    expectAccepted(verify(over, raised));
    LoginExpectations lowered = expectations();
    lowered.maxMessageBytes = honest.size() - 1;
    expectRefused(verify(honest, lowered), -11,
                  "SAML message of " + std::to_string(honest.size()) +
                      " bytes is larger than the limit of " + std::to_string(honest.size() - 1) +
                      " bytes");
    lowered.maxMessageBytes = honest.size();
    expectAccepted(verify(honest, lowered));
}

// A large honest login: 1.5 MB of signed attributes, each with its name
// format, friendly name and one value, stays under the size and node
// bounds and is handed out whole.
TEST_F(LoginTest, AnHonestResponseOfManyAttributesIsAccepted) {
    std::string attributes;
    int count = 0;
    while (attributes.size() < 1500000) {
        const std::string n = std::to_string(count++);
        attributes += "<saml:Attribute Name=\"urn:example:attribute:" + n +
                      "\" NameFormat=\"urn:oasis:names:tc:SAML:2.0:attrname-format:uri\" "
                      "FriendlyName=\"a" + n + "\"><saml:AttributeValue>value " + n +
                      " of a group membership list</saml:AttributeValue></saml:Attribute>\n";
    }
    const std::string text =
        replaceAll(base(), "<saml:AttributeStatement>", "<saml:AttributeStatement>" + attributes);
    const Outcome o = verify(sign(text, Mode::Assertion));
    expectAccepted(o);
    EXPECT_EQ(o.login.attributes.size(), static_cast<size_t>(count) + 2);
    EXPECT_EQ(o.login.attributes.at("urn:example:attribute:7").values,
              std::vector<std::string>{"value 7 of a group membership list"});
}

TEST_F(LoginTest, NamespaceBoundsHoldForTheLoginPathToo) {
    std::string declarations;
    for (int k = 0; k < 65; ++k)
        declarations += " xmlns:p" + std::to_string(k) + "=\"urn:" + std::to_string(k) + "\"";
    const std::string hostile =
        replaceAll(sign(base(), Mode::Assertion), "<samlp:Status>",
                   "<samlp:Extensions><e" + declarations + "/></samlp:Extensions><samlp:Status>");
    const Outcome o = verify(hostile);
    EXPECT_EQ(o.status, -8);
    ASSERT_EQ(o.errors.size(), 1u);
    EXPECT_EQ(o.errors[0].rfind("Malformed XML in SAML token: element declares too many "
                                "namespaces line: ", 0), 0u) << o.errors[0];
    const std::string within = replaceAll(hostile, " xmlns:p64=\"urn:64\"", "");
    expectAccepted(verify(within));
}

TEST_F(LoginTest, RelativeNamespaceUriInTheSignedAssertionIsReportedInTheLogNotOnStderr) {
    const std::string genuine = sign(base(), Mode::Assertion);
    const std::string relative = replaceAll(
        genuine, "<saml:Subject>", "<saml:Subject><x:note xmlns:x=\"relative/uri\"/>");
    // The extended calls log to the sinks of the living Library objects.
    std::vector<std::string> sunk;
    corvane::Result<corvane::Library> library =
        corvane::Library::start([&sunk](int level, const std::string& message) {
            if (level == 1) sunk.push_back(message);
        });
    ASSERT_TRUE(library.ok());
    ::testing::internal::CaptureStderr();
    const Outcome refused = verify(relative);
    const std::vector<std::string> logged = sunk;
    sunk.clear();
    const Outcome accepted = verify(genuine);
    const std::vector<std::string> honestLog = sunk;
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    expectRefused(refused, -7, kAssertionNotVerified);
    EXPECT_NE(std::find(logged.begin(), logged.end(),
                        "libxml2: Relative namespace UR is invalid here : (null)"),
              logged.end());
    expectAccepted(accepted);
    EXPECT_TRUE(honestLog.empty());
}

}  // namespace
