// The AuthnRequest: its tree and signature template, IssueInstant, the ID
// from the host, escaping, signing and its failure.
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <string>

#include <xmlsec/strings.h>

#include "corvane_test_support.h"

namespace {

using namespace corvane_test;

const std::string kDestination = "https://idp.example.test/sso";
const std::string kIssuer = "https://sp.example.test/corvane-test-only";

std::string str(const xmlChar* s) { return reinterpret_cast<const char*>(s); }

// A one-line picture of a TinyXML subtree: name{attr=value ...}(children),
// text as 'text'. Attributes appear in their stored order.
std::string describe(const TiXmlNode* node) {
    if (node->ToText()) return "'" + std::string(node->Value()) + "'";
    const TiXmlElement* element = node->ToElement();
    if (element == nullptr) return "<other node>";
    std::string out = element->ValueStr();
    std::string attrs;
    for (const TiXmlAttribute* a = element->FirstAttribute(); a; a = a->Next())
        attrs += (attrs.empty() ? "" : " ") + std::string(a->Name()) + "=" + a->Value();
    if (!attrs.empty()) out += "{" + attrs + "}";
    std::string children;
    for (const TiXmlNode* c = element->FirstChild(); c; c = c->NextSibling())
        children += (children.empty() ? "" : ",") + describe(c);
    if (!children.empty()) out += "(" + children + ")";
    return out;
}

void countNodes(const TiXmlNode* node, int& elements, int& texts, int& others) {
    if (node->ToElement()) ++elements;
    else if (node->ToText()) ++texts;
    else ++others;
    for (const TiXmlNode* c = node->FirstChild(); c; c = c->NextSibling())
        countNodes(c, elements, texts, others);
}

std::string expectedTemplate() {
    const std::string excC14n = str(xmlSecHrefExcC14N);
    return "ds:Signature{xmlns:ds=" + str(xmlSecDSigNs) + "}(ds:SignedInfo(" +
           "ds:CanonicalizationMethod{Algorithm=" + excC14n + "}," +
           "ds:SignatureMethod{Algorithm=" + str(xmlSecHrefRsaSha1) + "}," +
           "ds:Reference{URI=}(ds:Transforms(ds:Transform{Algorithm=" + str(xmlSecHrefEnveloped) +
           "},ds:Transform{Algorithm=" + excC14n + "}),ds:DigestMethod{Algorithm=" +
           str(xmlSecHrefSha1) + "},ds:DigestValue)),ds:SignatureValue)";
}

std::string expectedRequest(const std::string& id, const std::string& instant) {
    return "samlp:AuthnRequest{xmlns:samlp=urn:oasis:names:tc:SAML:2.0:protocol "
           "xmlns:saml=urn:oasis:names:tc:SAML:2.0:assertion ID=" + id +
           " Version=2.0 IssueInstant=" + instant + " Destination=" + kDestination +
           "}(samlp:Extensions(SessionIndex('SessionIndex')),saml:Issuer('" + kIssuer + "')," +
           expectedTemplate() + ")";
}

bool isClockText(const std::string& text, long before, long after) {
    if (text.empty() || (text.size() > 1 && text[0] == '0')) return false;
    for (char c : text)
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    const long value = std::stol(text);
    return value >= before && value <= after;
}

TEST_F(RecordingTest, InstantTimeIsTheClockInDecimalSeconds) {
    const long before = static_cast<long>(std::time(nullptr));
    const std::string instant = corvane::instantTime();
    const long after = static_cast<long>(std::time(nullptr));
    EXPECT_TRUE(isClockText(instant, before, after)) << instant;
}

TEST_F(RecordingTest, RequestTreeHasItsFixedLayout) {
    Recorder::queueId("_corvane-request-1");
    const long before = static_cast<long>(std::time(nullptr));
    std::unique_ptr<TiXmlElement> request(corvane::createAuthnRequestElement(kDestination, kIssuer));
    const long after = static_cast<long>(std::time(nullptr));
    ASSERT_TRUE(request);
    EXPECT_EQ(request->Parent(), nullptr) << "returned unlinked";

    const std::string instant = request->Attribute("IssueInstant") ? request->Attribute("IssueInstant") : "";
    EXPECT_TRUE(isClockText(instant, before, after)) << instant;
    EXPECT_EQ(describe(request.get()), expectedRequest("_corvane-request-1", instant));

    int elements = 0, texts = 0, others = 0;
    countNodes(request.get(), elements, texts, others);
    EXPECT_EQ(elements, 15);
    EXPECT_EQ(texts, 2);
    EXPECT_EQ(others, 0);
    EXPECT_EQ(Recorder::idCalls(), 1);
    EXPECT_TRUE(Recorder::everything().empty()) << "building reports nothing";
}

TEST_F(RecordingTest, SignatureTemplateStandsAlone) {
    std::unique_ptr<TiXmlElement> signature(corvane::createDsSignatureTemplate());
    ASSERT_TRUE(signature);
    EXPECT_EQ(signature->Parent(), nullptr);
    EXPECT_EQ(describe(signature.get()), expectedTemplate());
}

// The helper: later calls ignore their arguments, so the recording callbacks
// of the test program's first call stay in force.
boost::shared_ptr<corvane::CorvaneBase> helper() {
    return corvane::CorvaneBase::getHelper(nullptr, nullptr, nullptr);
}

class RequestId : public RecordingTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(RequestId, TheCallbackIdIsUsedUnchanged) {
    Recorder::queueId(GetParam());
    std::string request;
    ASSERT_EQ(helper()->createAuthnRequest(&request, kDestination, kIssuer, spKeyAndCert()), 0);
    EXPECT_EQ(Recorder::idCalls(), 1);
    TiXmlDocument doc;
    doc.Parse(request.c_str());
    ASSERT_FALSE(doc.Error()) << doc.ErrorDesc();
    const char* id = doc.RootElement()->Attribute("ID");
    ASSERT_NE(id, nullptr) << "the ID attribute is present even when empty";
    EXPECT_EQ(std::string(id), GetParam());
}

INSTANTIATE_TEST_SUITE_P(Ids, RequestId, ::testing::Values("_a1b2", "", "id-without-prefix"));

TEST_F(RecordingTest, SignedRequestIsLibxmlTextThatVerifiesWithTheSpCertificate) {
    std::string request = "whatever the string held before";
    ASSERT_EQ(helper()->createAuthnRequest(&request, kDestination, kIssuer, spKeyAndCert()), 0);
    EXPECT_TRUE(Recorder::errors().empty());
    EXPECT_EQ(request.rfind("<?xml version=\"1.0\"?>", 0), 0u) << request.substr(0, 60);

    const std::vector<std::string> digests = elementTexts(request, "DigestValue");
    const std::vector<std::string> signatures = elementTexts(request, "SignatureValue");
    ASSERT_EQ(digests.size(), 1u);
    ASSERT_EQ(signatures.size(), 1u);
    EXPECT_FALSE(digests[0].empty());
    EXPECT_FALSE(signatures[0].empty());

    TiXmlDocument doc;
    doc.Parse(request.c_str());
    ASSERT_FALSE(doc.Error()) << doc.ErrorDesc();
    int elements = 0, texts = 0, others = 0;
    countNodes(doc.RootElement(), elements, texts, others);
    EXPECT_EQ(elements, 15);
    EXPECT_EQ(doc.RootElement()->ValueStr(), "samlp:AuthnRequest");

    EXPECT_EQ(corvane::verifySignature(request, spCert()), 0);
    EXPECT_EQ(corvane::verifySignature(request, idpCert()), 1);
}

TEST_F(RecordingTest, SigningFailureLeavesTheUnsignedRequestAndOneMessage) {
    Recorder::queueId("_unsigned-1");
    std::string request = "whatever the string held before";
    EXPECT_EQ(helper()->createAuthnRequest(&request, kDestination, kIssuer, spCert()), -8);
    EXPECT_EQ(Recorder::errors(), std::vector<std::string>{"Can not load SP private key and certificate"});

    EXPECT_EQ(request.find('\n'), std::string::npos) << "TinyXML's stream printing is one line";
    TiXmlDocument doc;
    doc.Parse(request.c_str());
    ASSERT_FALSE(doc.Error()) << doc.ErrorDesc();
    const TiXmlDeclaration* declaration = doc.FirstChild() ? doc.FirstChild()->ToDeclaration() : nullptr;
    ASSERT_NE(declaration, nullptr);
    EXPECT_STREQ(declaration->Version(), "1.0");
    EXPECT_STREQ(declaration->Encoding(), "");
    EXPECT_STREQ(declaration->Standalone(), "");
    ASSERT_NE(doc.RootElement(), nullptr);
    EXPECT_EQ(doc.RootElement()->NextSibling(), nullptr);

    const std::string instant = doc.RootElement()->Attribute("IssueInstant");
    EXPECT_EQ(describe(doc.RootElement()), expectedRequest("_unsigned-1", instant));
}

// Characters that are markup in XML, in both the attribute and the text.
TEST_F(RecordingTest, MarkupCharactersAreEscapedAndTheRequestStillSigns) {
    const std::string destination = "https://idp.example.test/sso?a=1&b=<2>&q=\"x\"";
    const std::string issuer = "urn:sp&co<test>\"quoted\"";

    std::string unsignedText;
    ASSERT_EQ(helper()->createAuthnRequest(&unsignedText, destination, issuer, ""), -8);
    std::string signedText;
    ASSERT_EQ(helper()->createAuthnRequest(&signedText, destination, issuer, spKeyAndCert()), 0);

    for (const std::string* text : {&unsignedText, &signedText}) {
        EXPECT_EQ(text->find(destination), std::string::npos);
        EXPECT_EQ(text->find("co<test"), std::string::npos);
        EXPECT_NE(text->find("a=1&amp;b=&lt;2"), std::string::npos);
        TiXmlDocument doc;
        doc.Parse(text->c_str());
        ASSERT_FALSE(doc.Error()) << doc.ErrorDesc();
        EXPECT_EQ(std::string(doc.RootElement()->Attribute("Destination")), destination);
        const TiXmlElement* issuerElement = doc.RootElement()->FirstChildElement("saml:Issuer");
        ASSERT_NE(issuerElement, nullptr);
        EXPECT_EQ(std::string(issuerElement->GetText()), issuer);
    }
    EXPECT_EQ(corvane::verifySignature(signedText, spCert()), 0);
}

// Runs a shell command and returns its exit status (-1 when it did not exit).
int run(const std::string& command) {
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(RecordingTest, SignedRequestVerifiesWithTheXmlsec1CommandLineTool) {
    // scripts/test installs the tool: without it this check must fail, not vanish.
    ASSERT_EQ(run("command -v xmlsec1 >/dev/null 2>&1"), 0) << "the xmlsec1 tool is not installed";
    std::string request;
    ASSERT_EQ(helper()->createAuthnRequest(&request, kDestination, kIssuer, spKeyAndCert()), 0);

    const std::string dir = ::testing::TempDir() + "corvane-request-" + std::to_string(getpid());
    ASSERT_EQ(run("mkdir -p '" + dir + "'"), 0);
    writeFile(dir + "/request.xml", request);
    writeFile(dir + "/tampered.xml", replaceAll(request, kIssuer, kIssuer + "-changed"));
    const std::string verify = "xmlsec1 --verify --pubkey-cert-pem ";
    const std::string quiet = " >/dev/null 2>&1";

    EXPECT_EQ(run(verify + fixturePath("test-sp-cert.pem") + " " + dir + "/request.xml" + quiet), 0);
    EXPECT_NE(run(verify + fixturePath("test-idp-cert.pem") + " " + dir + "/request.xml" + quiet), 0);
    EXPECT_NE(run(verify + fixturePath("test-sp-cert.pem") + " " + dir + "/tampered.xml" + quiet), 0);
    run("rm -rf '" + dir + "'");
}

}  // namespace
