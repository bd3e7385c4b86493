// Accepting a SAML response: every failure path with its status and
// messages, nameId left alone on failure, and the NameID handed out.
#include <functional>
#include <string>
#include <vector>

#include "corvane_test_support.h"

namespace {

using namespace corvane_test;

const char* const kSentinel = "nameId before the call";
const char* const kNoAssertion = "SAML token contains no assertions";
const char* const kNotVerified = "Signature verification failed";
const char* const kNoNameId = "SAML token contains no valid saml:Subject/NameID";

const std::string kAssertionNs = "urn:oasis:names:tc:SAML:2.0:assertion";

boost::shared_ptr<corvane::CorvaneBase> helper() {
    return corvane::CorvaneBase::getHelper(nullptr, nullptr, nullptr);
}

// The message for a text that TinyXML itself rejects, from TinyXML's own
// description and position.
std::string tinyxmlMessage(const std::string& text) {
    TiXmlDocument doc;
    doc.Parse(text.c_str(), nullptr, TIXML_ENCODING_UNKNOWN);
    return "Malformed XML in SAML token: " + std::string(doc.ErrorDesc()) +
           " line: " + std::to_string(doc.ErrorRow()) + " col: " + std::to_string(doc.ErrorCol());
}

std::string withoutSignature(const std::string& xml) {
    return cutOut(xml, "<ds:Signature", "</ds:Signature>");
}

// The response with its assertion renamed (and, where given, declared).
std::string assertionNamed(const std::string& openTag, const std::string& name) {
    std::string xml = withoutSignature(responseTemplate());
    xml = replaceAll(xml, "<saml:Assertion ", "<" + openTag + " ");
    return replaceAll(xml, "</saml:Assertion>", "</" + name + ">");
}

struct FailureRow {
    const char* name;
    std::function<std::string()> xml;
    std::function<std::string()> key;
    int status;
    std::vector<std::string> messages;
};

void PrintTo(const FailureRow& row, std::ostream* os) { *os << row.name; }

class ResponseFailures : public RecordingTest, public ::testing::WithParamInterface<FailureRow> {};

TEST_P(ResponseFailures, StatusMessagesAndNameIdUntouched) {
    const FailureRow& row = GetParam();
    const std::string xml = row.xml();
    const std::string key = row.key();
    Recorder::reset();
    std::string nameId = kSentinel;

    EXPECT_EQ(helper()->verifySamlResponse(nameId, xml, key), row.status);
    EXPECT_EQ(Recorder::errors(), row.messages);
    EXPECT_EQ(nameId, kSentinel);
}

std::string none() { return std::string(); }
std::string signedWith(const std::string& nameIdText) { return signedResponse(nameIdText); }

INSTANTIATE_TEST_SUITE_P(
    Malformed, ResponseFailures,
    ::testing::Values(
        FailureRow{"EmptyText", none, idpCert, -8,
                   {"Malformed XML in SAML token: Error document empty. line: 0 col: 0"}},
        FailureRow{"DeclarationOnly", [] { return std::string("<?xml version=\"1.0\"?>"); }, idpCert, -8,
                   {"Malformed XML in SAML token:  line: 1 col: 1"}},
        FailureRow{"CommentOnly", [] { return std::string("<!-- no element -->"); }, idpCert, -8,
                   {"Malformed XML in SAML token:  line: 1 col: 1"}},
        FailureRow{"MismatchedEndTag", [] { return std::string("<r>\n  <a>text</b>\n</r>"); }, idpCert,
                   -8, {"Malformed XML in SAML token: Error reading end tag. line: 2 col: 10"}},
        FailureRow{"UnclosedRoot", [] { return std::string("<samlp:Response>"); }, idpCert, -8,
                   {tinyxmlMessage("<samlp:Response>")}}),
    RowName());

INSTANTIATE_TEST_SUITE_P(
    NoAssertion, ResponseFailures,
    ::testing::Values(
        FailureRow{"Saml2Prefix",
                   [] {
                       return assertionNamed("saml2:Assertion xmlns:saml2=\"" + kAssertionNs + "\"",
                                             "saml2:Assertion");
                   },
                   idpCert, -7, {kNoAssertion}},
        FailureRow{"DefaultNamespace",
                   [] { return assertionNamed("Assertion xmlns=\"" + kAssertionNs + "\"", "Assertion"); },
                   idpCert, -7, {kNoAssertion}},
        FailureRow{"EncryptedAssertionOnly",
                   [] { return assertionNamed("saml:EncryptedAssertion", "saml:EncryptedAssertion"); },
                   idpCert, -7, {kNoAssertion}},
        FailureRow{"NestedBelowAChild",
                   [] {
                       std::string xml = withoutSignature(responseTemplate());
                       xml = replaceAll(xml, "<saml:Assertion ", "<samlp:Wrapper><saml:Assertion ");
                       return replaceAll(xml, "</saml:Assertion>", "</saml:Assertion></samlp:Wrapper>");
                   },
                   idpCert, -7, {kNoAssertion}},
        FailureRow{"RootIsTheAssertion",
                   [] {
                       const std::string xml = responseTemplate();
                       const size_t from = xml.find("<saml:Assertion ");
                       const size_t to = xml.find("</samlp:Response>");
                       return "<saml:Assertion xmlns:saml=\"" + kAssertionNs + "\"" +
                              xml.substr(from + 15, to - from - 15);
                   },
                   idpCert, -7, {kNoAssertion}}),
    RowName());

INSTANTIATE_TEST_SUITE_P(
    Signature, ResponseFailures,
    ::testing::Values(
        FailureRow{"NoSignature", [] { return withoutSignature(responseTemplate()); }, idpCert, -7,
                   {"Can not find digital signature of SAML token", kNotVerified}},
        FailureRow{"CertificateOfAnotherKey", [] { return signedWith("alice@example.test"); }, spCert, -7,
                   {kNotVerified}},
        FailureRow{"KeyThatIsNotACertificate", [] { return signedWith("alice@example.test"); }, idpKey,
                   -7, {"Can not load IDP public key", kNotVerified}},
        FailureRow{"NameIdChangedAfterSigning",
                   [] {
                       return replaceAll(signedWith("alice@example.test"), "alice@example.test",
                                         "mallory@example.test");
                   },
                   idpCert, -7, {kNotVerified}},
        FailureRow{"TrailingTextIsRefusedBeforeParsing",
                   [] { return signedWith("alice@example.test") + "trailing text"; }, idpCert, -8,
                   {"SAML token must not contain anything after its root element"}},
        FailureRow{"NulIsRefusedBeforeParsing",
                   [] { return signedWith("alice@example.test") + std::string(1, '\0') + "<x/>"; },
                   idpCert, -8, {"SAML token must not contain NUL characters"}},
        FailureRow{"SignatureInsideTheAssertionIsNotTrusted",
                   [] {
                       const std::string xml = responseTemplate("carol");
                       const size_t sigFrom = xml.find("<ds:Signature");
                       const size_t sigTo = xml.find("</ds:Signature>") + 15;
                       std::string moved = xml.substr(0, sigFrom) + xml.substr(sigTo);
                       const std::string anchor = "<saml:Subject>";
                       moved.insert(moved.find(anchor), xml.substr(sigFrom, sigTo - sigFrom));
                       return signWithIdpKey(moved);
                   },
                   idpCert, -7, {"SAML token NameID is not covered by its signature"}}),
    RowName());

INSTANTIATE_TEST_SUITE_P(
    NameId, ResponseFailures,
    ::testing::Values(
        FailureRow{"NoSubject",
                   [] { return signWithIdpKey(cutOut(responseTemplate(), "<saml:Subject>", "</saml:Subject>")); },
                   idpCert, -7, {kNoNameId}},
        FailureRow{"NoNameId",
                   [] { return signWithIdpKey(cutOut(responseTemplate(), "<saml:NameID", "</saml:NameID>")); },
                   idpCert, -7, {kNoNameId}},
        FailureRow{"EmptyNameId", [] { return signedWith(""); }, idpCert, -7, {kNoNameId}},
        FailureRow{"WhitespaceOnlyNameId", [] { return signedWith(" \n\t  \n"); }, idpCert, -7, {kNoNameId}},
        FailureRow{"CommentBeforeTheText", [] { return signedWith("<!-- c -->alice@example.test"); }, idpCert,
                   -7, {kNoNameId}},
        FailureRow{"ElementInsideNameId", [] { return signedWith("<b>alice@example.test</b>"); }, idpCert,
                   -7, {kNoNameId}},
        FailureRow{"NameIdWithAnotherPrefix",
                   [] {
                       std::string xml = replaceAll(responseTemplate(), "<saml:NameID ", "<saml2:NameID xmlns:saml2=\"" + kAssertionNs + "\" ");
                       return signWithIdpKey(replaceAll(xml, "</saml:NameID>", "</saml2:NameID>"));
                   },
                   idpCert, -7, {kNoNameId}}),
    RowName());

// A text cut short inside the assertion: TinyXML's own description and
// position are reported.
TEST_F(RecordingTest, TinyxmlErrorPositionIsReported) {
    const std::string full = signedResponse();
    const std::string cut = full.substr(0, full.find("<saml:Subject>")) + "<saml:Subject></saml:Wrong>";
    Recorder::reset();
    std::string nameId = kSentinel;
    EXPECT_EQ(helper()->verifySamlResponse(nameId, cut, idpCert()), -8);
    EXPECT_EQ(Recorder::errors(), std::vector<std::string>{tinyxmlMessage(cut)});
    EXPECT_EQ(nameId, kSentinel);
}

struct SuccessRow {
    const char* name;
    std::function<std::string()> xml;
    const char* nameId;
};

void PrintTo(const SuccessRow& row, std::ostream* os) { *os << row.name; }

class ResponseAccepted : public RecordingTest, public ::testing::WithParamInterface<SuccessRow> {};

TEST_P(ResponseAccepted, NameIdReplacesThePreviousContent) {
    const std::string xml = GetParam().xml();
    Recorder::reset();
    std::string nameId = "a much longer previous content that must disappear entirely";
    EXPECT_EQ(helper()->verifySamlResponse(nameId, xml, idpCert()), 0);
    EXPECT_EQ(nameId, GetParam().nameId);
    EXPECT_EQ(Recorder::errors(), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ResponseAccepted,
    ::testing::Values(
        SuccessRow{"PlainNameId", [] { return signedResponse("alice@example.test"); }, "alice@example.test"},
        SuccessRow{"WhitespaceIsCondensed", [] { return signedResponse("\n   alice   \t smith \n  "); },
                   "alice smith"},
        SuccessRow{"EntitiesAreDecoded", [] { return signedResponse("a&amp;b &lt;c&gt; &#65;"); },
                   "a&b <c> A"},
        SuccessRow{"SingleCharacter", [] { return signedResponse("x"); }, "x"},
        SuccessRow{"RootOfAnyName",
                   [] {
                       return signWithIdpKey(replaceAll(responseTemplate("bob"), "samlp:Response", "Envelope"));
                   },
                   "bob"},
        SuccessRow{"NameIdOfTheFirstOfTwoAssertions",
                   [] {
                       const std::string xml = responseTemplate("first");
                       const size_t from = xml.find("<saml:Assertion ");
                       const size_t to = xml.find("</saml:Assertion>") + 17;
                       const std::string second = replaceAll(xml.substr(from, to - from), "first", "second");
                       return signWithIdpKey(xml.substr(0, to) + second + xml.substr(to));
                   },
                   "first"},
        SuccessRow{"Sha256Signature",
                   [] {
                       std::string xml = replaceAll(responseTemplate("dave"),
                                                    "http://www.w3.org/2000/09/xmldsig#rsa-sha1",
                                                    "http://www.w3.org/2001/04/xmldsig-more#rsa-sha256");
                       xml = replaceAll(xml, "http://www.w3.org/2000/09/xmldsig#sha1",
                                        "http://www.w3.org/2001/04/xmlenc#sha256");
                       return signWithIdpKey(xml);
                   },
                   "dave"}),
    RowName());

}  // namespace
