// The signature layer: verifySignature and its contexts, signDocument and
// getSigningContext, the routing of xmlsec1's errors, and the rule that
// no private-key text reaches a callback.
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/valid.h>
#include <xmlsec/xmlsec.h>
#include <xmlsec/errors.h>
#include <xmlsec/keys.h>
#include <xmlsec/xmldsig.h>

#include "corvane_test_support.h"

namespace {

using namespace corvane_test;

const char* const kNotWellFormed = "XML document with SAML token is not well-formed";
const char* const kNoSignature = "Can not find digital signature of SAML token";
const char* const kKeyNotLoaded = "Can not load IDP public key";
const char* const kNotVerified = "Can not verify digital signature of SAML token";
const char* const kRootIdWarning =
    "Can not register ID attribute of saml:Response - signature verification most probably will fails";

const char* const kSignNotWellFormed = "Resulting XML document is not well-formed";
const char* const kNoPlaceholder = "Can not find digital signature placeholder in resulting XML document";
const char* const kSpKeyNotLoaded = "Can not load SP private key and certificate";
const char* const kNotSigned = "Can not digitally sign resulting XML document";

// A small document: root with an ID, one value, the template last.
std::string unsignedDoc(const std::string& rootAttrs = " ID=\"_r1\"",
                        const std::string& sig = signatureTemplate()) {
    return "<r" + rootAttrs + "><v>value</v>" + sig + "</r>";
}

std::string signedDoc() { return signWithIdpKey(unsignedDoc()); }

// Signed with a same-document Reference to the root's ID. libxml2 knows the
// ID while signing through a DTD declaration, which is removed afterwards so
// that only the library's registration of the root ID can resolve it.
std::string signedWithRootIdReference(const std::string& idAttr = "ID") {
    const std::string signedText = signWithIdpKey("<!DOCTYPE r [<!ATTLIST r " + idAttr +
                                                  " ID #IMPLIED>]>" +
                                                  unsignedDoc(" " + idAttr + "=\"_r1\"",
                                                              signatureTemplate("#_r1")));
    return cutOut(signedText, "<!DOCTYPE", "]>");
}

// Changes the first non-blank character after the marker.
std::string flipFirstCharOf(const std::string& text, const std::string& afterMarker) {
    std::string out = text;
    const size_t at = out.find(afterMarker);
    if (at == std::string::npos) {
        ADD_FAILURE() << afterMarker << " not found";
        return out;
    }
    size_t pos = at + afterMarker.size();
    while (pos < out.size() && std::isspace(static_cast<unsigned char>(out[pos]))) ++pos;
    char& c = out[pos];
    c = c == 'A' ? 'B' : 'A';
    return out;
}

struct VerifyRow {
    const char* name;
    std::function<std::string()> xml;
    std::function<std::string()> key;
    int status;
    const char* message;  // null: no error message at all
};

void PrintTo(const VerifyRow& row, std::ostream* os) { *os << row.name; }

class VerifySignatureTable : public RecordingTest, public ::testing::WithParamInterface<VerifyRow> {};

TEST_P(VerifySignatureTable, StatusAndExactlyTheExpectedMessage) {
    const VerifyRow& row = GetParam();
    const std::string xml = row.xml();
    const std::string key = row.key();
    Recorder::reset();

    EXPECT_EQ(corvane::verifySignature(xml, key), row.status);
    if (row.message == nullptr)
        EXPECT_EQ(Recorder::errors(), std::vector<std::string>{});
    else
        EXPECT_EQ(Recorder::errors(), std::vector<std::string>{row.message});
}

const std::string kDsNs = "xmlns:ds=\"http://www.w3.org/2000/09/xmldsig#\"";

INSTANTIATE_TEST_SUITE_P(
    Rows, VerifySignatureTable,
    ::testing::Values(
        VerifyRow{"EmptyText", [] { return std::string(); }, idpCert, -8, kNotWellFormed},
        VerifyRow{"UnclosedElement", [] { return std::string("<r><v></r>"); }, idpCert, -8,
                  kNotWellFormed},
        VerifyRow{"CommentWithoutRoot", [] { return std::string("<!-- no root -->"); }, idpCert, -8,
                  kNotWellFormed},
        VerifyRow{"SignatureInNoNamespace",
                  [] { return std::string("<r ID=\"a\"><Signature/></r>"); }, idpCert, -8, kNoSignature},
        VerifyRow{"SignatureInAnotherNamespace",
                  [] { return std::string("<r xmlns:x=\"urn:other\"><x:Signature/></r>"); }, idpCert,
                  -8, kNoSignature},
        VerifyRow{"MissingSignatureIsFoundBeforeTheKeyIsRead",
                  [] { return std::string("<r/>"); }, [] { return std::string("no key"); }, -8,
                  kNoSignature},
        VerifyRow{"EmptyKey", signedDoc, [] { return std::string(); }, -8, kKeyNotLoaded},
        VerifyRow{"KeyThatIsNotPem", signedDoc, [] { return std::string("not a certificate"); }, -8,
                  kKeyNotLoaded},
        VerifyRow{"BarePublicKeyOfTheSigner", signedDoc,
                  [] { return readFixture("test-idp-pubkey.pem"); }, -8, kKeyNotLoaded},
        VerifyRow{"PrivateKeyOfTheSigner", signedDoc, idpKey, -8, kKeyNotLoaded},
        VerifyRow{"EmptySignatureElement",
                  [] { return "<r ID=\"_r1\"><ds:Signature " + kDsNs + "/></r>"; }, idpCert, -8,
                  kNotVerified},
        VerifyRow{"UnknownSignatureAlgorithm",
                  [] {
                      return replaceAll(signedDoc(), "http://www.w3.org/2000/09/xmldsig#rsa-sha1",
                                        "urn:corvane-test:unknown-algorithm");
                  },
                  idpCert, -8, kNotVerified},
        VerifyRow{"ReferenceToAnUnknownId",
                  [] { return replaceAll(signedWithRootIdReference(), "URI=\"#_r1\"", "URI=\"#_nope\""); },
                  idpCert, -8, kNotVerified},
        VerifyRow{"ReferenceToAnotherDocument",
                  [] { return replaceAll(signedDoc(), "URI=\"\"", "URI=\"http://example.test/doc\""); },
                  idpCert, -8, kNotVerified},
        VerifyRow{"CertificateOfAnotherKey", signedDoc, spCert, 1, nullptr},
        VerifyRow{"ContentChangedAfterSigning",
                  [] { return replaceAll(signedDoc(), "<v>value</v>", "<v>other</v>"); }, idpCert, 1,
                  nullptr},
        VerifyRow{"SignatureValueChanged",
                  [] { return flipFirstCharOf(signedDoc(), "<ds:SignatureValue>"); }, idpCert, 1,
                  nullptr},
        VerifyRow{"DigestValueChanged",
                  [] { return flipFirstCharOf(signedDoc(), "<ds:DigestValue>"); }, idpCert, 1, nullptr},
        VerifyRow{"HonestDocument", signedDoc, idpCert, 0, nullptr},
        VerifyRow{"HonestRootIdReference", [] { return signedWithRootIdReference(); }, idpCert, 0,
                  nullptr}),
    RowName());

TEST_F(RecordingTest, RootWithoutIdWarnsAtLevelTwoAndStillVerifiesAnEmptyUriReference) {
    const std::string signedText = signWithIdpKey(unsignedDoc(""));
    EXPECT_EQ(corvane::verifySignature(signedText, idpCert()), 0);
    EXPECT_EQ(Recorder::logAt(2), std::vector<std::string>{kRootIdWarning});
    EXPECT_TRUE(Recorder::errors().empty());
}

TEST_F(RecordingTest, AnIdOnAChildOnlyGivesTheSameWarning) {
    const std::string signedText =
        signWithIdpKey("<r><c ID=\"_c1\">value</c>" + signatureTemplate() + "</r>");
    EXPECT_EQ(corvane::verifySignature(signedText, idpCert()), 0);
    EXPECT_EQ(Recorder::logAt(2), std::vector<std::string>{kRootIdWarning});
}

TEST_F(RecordingTest, RootIdNamedDifferentlyIsNotRegisteredAndTheReferenceFails) {
    const std::string signedText = signedWithRootIdReference("Id");
    EXPECT_EQ(corvane::verifySignature(signedText, idpCert()), -8);
    EXPECT_EQ(Recorder::logAt(2), std::vector<std::string>{kRootIdWarning});
    EXPECT_EQ(Recorder::errors(), std::vector<std::string>{kNotVerified});
}

TEST_F(RecordingTest, SignatureInsideAChildOfTheRootIsFound) {
    const std::string signedText = signWithIdpKey(
        "<r ID=\"_r1\"><a><v>value</v>" + signatureTemplate() + "</a><b>more</b></r>");
    EXPECT_EQ(corvane::verifySignature(signedText, idpCert()), 0);
    EXPECT_TRUE(Recorder::errors().empty());
}

TEST_F(RecordingTest, Sha256SignaturesVerify) {
    const std::string signedText = signWithIdpKey(unsignedDoc(" ID=\"_r1\"", signatureTemplate("", SigAlg::RsaSha256)));
    EXPECT_NE(signedText.find("xmldsig-more#rsa-sha256"), std::string::npos);
    EXPECT_EQ(corvane::verifySignature(signedText, idpCert()), 0);
    EXPECT_EQ(corvane::verifySignature(replaceAll(signedText, "value", "VALUE"), idpCert()), 1);
    EXPECT_TRUE(Recorder::errors().empty());
}

TEST_F(RecordingTest, OnlyTheFirstOfTwoSignaturesIsVerified) {
    // The second template stays empty; verifying it would fail with -8.
    const std::string signedText = signWithIdpKey(
        "<r ID=\"_r1\"><v>value</v>" + signatureTemplate() + "<w>" + signatureTemplate() + "</w></r>");
    EXPECT_EQ(corvane::verifySignature(signedText, idpCert()), 0);
    EXPECT_TRUE(Recorder::errors().empty());
}

// xmlsec1's reports go to the log at level 1 and never to stderr.
TEST_F(RecordingTest, XmlsecErrorsReachTheLogAtLevelOneAndNotStderr) {
    const std::string signedText = signedDoc();
    ::testing::internal::CaptureStderr();
    const int wrongCert = corvane::verifySignature(signedText, spCert());
    const int badKey = corvane::verifySignature(signedText, "-----BEGIN CERTIFICATE-----\nAAAA\n");
    const std::string stderrText = ::testing::internal::GetCapturedStderr();

    EXPECT_EQ(wrongCert, 1);
    EXPECT_EQ(badKey, -8);
    EXPECT_EQ(stderrText, "");
    const std::vector<std::string> errorsLogged = Recorder::logAt(1);
    ASSERT_FALSE(errorsLogged.empty());
    for (const std::string& line : errorsLogged) EXPECT_EQ(line.rfind("func=", 0), 0u) << line;
    EXPECT_EQ(Recorder::errors(), std::vector<std::string>{kKeyNotLoaded});
}

// The harness sees stderr output: xmlsec1's own default callback writes
// there (through libxml2's generic error channel) outside a library call.
// Inside one, even that callback's lines reach the log, since the library
// routes libxml2's channel to the log for the length of its own calls; the
// library's callback is put back afterwards.
TEST_F(RecordingTest, ControlXmlsecDefaultCallbackWritesToStderr) {
    const std::string signedText = signedDoc();
    xmlSecErrorsSetCallback(xmlSecErrorsDefaultCallback);
    ::testing::internal::CaptureStderr();
    xmlSecErrorsDefaultCallback("file.c", 1, "func", "obj", "subj", 1, "outside the library");
    const std::string outside = ::testing::internal::GetCapturedStderr();
    ::testing::internal::CaptureStderr();
    const int wrongCert = corvane::verifySignature(signedText, spCert());
    const std::string inside = ::testing::internal::GetCapturedStderr();
    xmlSecErrorsSetCallback(corvane::XmlsecError2Log);

    EXPECT_NE(outside.find("func="), std::string::npos);
    EXPECT_EQ(wrongCert, 1);
    EXPECT_EQ(inside, "");
    const std::vector<std::string> logged = Recorder::logAt(1);
    ASSERT_FALSE(logged.empty());
    for (const std::string& line : logged) EXPECT_EQ(line.rfind("libxml2: func=", 0), 0u) << line;
}

struct RootIdRow {
    const char* name;
    const char* xml;
    bool registered;
};

void PrintTo(const RootIdRow& row, std::ostream* os) { *os << row.name; }

class RegisterRootAttrId : public RecordingTest, public ::testing::WithParamInterface<RootIdRow> {};

TEST_P(RegisterRootAttrId, RegistersOnlyTheRootAttributeNamedId) {
    const RootIdRow& row = GetParam();
    boost::shared_ptr<xmlDoc> doc(xmlReadMemory(row.xml, static_cast<int>(strlen(row.xml)), "t.xml",
                                                nullptr, XML_PARSE_NONET),
                                  corvane::myXmlFreeDoc);
    ASSERT_TRUE(doc);
    EXPECT_EQ(corvane::registerRootAttrID(doc.get()), row.registered);
    xmlAttr* id = xmlGetID(doc.get(), BAD_CAST "_id1");
    if (row.registered) {
        ASSERT_NE(id, nullptr);
        EXPECT_EQ(id->parent, xmlDocGetRootElement(doc.get()));
    }
    EXPECT_TRUE(Recorder::everything().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Rows, RegisterRootAttrId,
    ::testing::Values(RootIdRow{"PlainId", "<r ID=\"_id1\"/>", true},
                      RootIdRow{"IdAmongOtherAttributes", "<r a=\"1\" ID=\"_id1\" IDX=\"2\"/>", true},
                      RootIdRow{"PrefixedIdMatchesByLocalName",
                                "<r xmlns:x=\"urn:x\" x:ID=\"_id1\"/>", true},
                      RootIdRow{"MixedCaseIdIsNotId", "<r Id=\"_id1\"/>", false},
                      RootIdRow{"LowerCaseIdIsNotId", "<r id=\"_id1\"/>", false},
                      RootIdRow{"IdOnAChildOnly", "<r><c ID=\"_id1\"/></r>", false},
                      RootIdRow{"ValueAlreadyTakenByAnotherElement",
                                "<!DOCTYPE r [<!ATTLIST c ID ID #IMPLIED>]><r ID=\"_id1\"><c ID=\"_id1\"/></r>",
                                false}),
    RowName());

TEST_F(RecordingTest, VerificationContextHoldsTheNamedCertificateKeyAndRestrictsUris) {
    boost::shared_ptr<xmlSecDSigCtx> ctx(corvane::getSignatureVerificationContext(idpCert()),
                                         corvane::myXmlSecDSigCtxDestroy);
    ASSERT_TRUE(ctx);
    ASSERT_NE(ctx->signKey, nullptr);
    EXPECT_STREQ(reinterpret_cast<const char*>(xmlSecKeyGetName(ctx->signKey)), "IdP public key");
    EXPECT_EQ(ctx->enabledReferenceUris,
              xmlSecTransformUriTypeEmpty | xmlSecTransformUriTypeSameDocument);
    EXPECT_TRUE(Recorder::errors().empty());

    EXPECT_EQ(corvane::getSignatureVerificationContext("junk"), nullptr);
    EXPECT_EQ(Recorder::errors(), std::vector<std::string>{kKeyNotLoaded});
}

// The template is the caller's text: the context lets its References name
// only this document (never a file or a network resource).
TEST_F(RecordingTest, SigningContextHoldsTheNamedPrivateKeyAndOnlySameDocumentReferences) {
    boost::shared_ptr<xmlSecDSigCtx> ctx(corvane::getSigningContext(spKeyAndCert()),
                                         corvane::myXmlSecDSigCtxDestroy);
    ASSERT_TRUE(ctx);
    ASSERT_NE(ctx->signKey, nullptr);
    EXPECT_STREQ(reinterpret_cast<const char*>(xmlSecKeyGetName(ctx->signKey)), "SP private key + cert");
    EXPECT_EQ(ctx->enabledReferenceUris,
              xmlSecTransformUriTypeEmpty | xmlSecTransformUriTypeSameDocument);
    EXPECT_TRUE(Recorder::errors().empty());
}

TEST_F(RecordingTest, SigningRefusesAReferenceToAFile) {
    std::string text = "<r>" + signatureTemplate("file:///dev/zero") + "</r>";
    const std::string before = text;
    EXPECT_EQ(corvane::signDocument(&text, spKeyAndCert()), -8);
    EXPECT_EQ(text, before);
    EXPECT_EQ(Recorder::errors(),
              std::vector<std::string>{"Can not digitally sign resulting XML document"});
}

TEST(Deleters, AcceptNull) {
    EXPECT_EXIT(
        {
            corvane::myXmlFreeDoc(nullptr);
            corvane::myXmlSecDSigCtxDestroy(nullptr);
            std::fprintf(stderr, "deleters returned\n");
            std::fflush(stderr);
            std::_Exit(0);
        },
        ::testing::ExitedWithCode(0), "deleters returned");
}

// ---- signDocument -------------------------------------------------------

struct SignRow {
    const char* name;
    std::function<std::string()> xml;
    std::function<std::string()> key;
    const char* message;
    bool keyLogged;  // whether the signing context was reached
};

void PrintTo(const SignRow& row, std::ostream* os) { *os << row.name; }

class SignDocumentFailures : public RecordingTest, public ::testing::WithParamInterface<SignRow> {};

TEST_P(SignDocumentFailures, MinusEightOneMessageAndTheTextUnchanged) {
    const SignRow& row = GetParam();
    const std::string original = row.xml();
    const std::string key = row.key();
    Recorder::reset();
    std::string text = original;

    EXPECT_EQ(corvane::signDocument(&text, key), -8);
    EXPECT_EQ(text, original);
    EXPECT_EQ(Recorder::errors(), std::vector<std::string>{row.message});
    // Level 3 also carries the parser's diagnostics; the key has its own line.
    std::vector<std::string> keyLines;
    for (const std::string& line : Recorder::logAt(3))
        if (line.rfind("Private cert: ", 0) == 0) keyLines.push_back(line);
    if (row.keyLogged) {
        ASSERT_EQ(keyLines.size(), 1u);
        EXPECT_EQ(keyLines[0], limitedMessage("Private cert: " + withPrivateKeysWithheld(key)));
    } else {
        EXPECT_TRUE(keyLines.empty()) << "the key must not be touched before the document is usable";
    }
    for (const std::string& bodyLine : privateKeyBodyLines(key))
        EXPECT_FALSE(Recorder::anyMessageContains(bodyLine)) << "private key text leaked: " << bodyLine;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SignDocumentFailures,
    ::testing::Values(
        SignRow{"EmptyText", [] { return std::string(); }, spKeyAndCert, kSignNotWellFormed, false},
        SignRow{"UnclosedElement", [] { return "<r>" + signatureTemplate(); }, spKeyAndCert,
                kSignNotWellFormed, false},
        SignRow{"NoTemplate", [] { return std::string("<r><v/></r>"); }, spKeyAndCert, kNoPlaceholder,
                false},
        SignRow{"TemplateInNoNamespace",
                [] { return replaceAll(unsignedDoc(), "ds:", ""); }, spKeyAndCert, kNoPlaceholder, false},
        SignRow{"TemplateInAnotherNamespace",
                [] {
                    return replaceAll(unsignedDoc(), "http://www.w3.org/2000/09/xmldsig#\"",
                                      "urn:corvane-test:other\"");
                },
                spKeyAndCert, kNoPlaceholder, false},
        SignRow{"EmptyKey", [] { return unsignedDoc(); }, [] { return std::string(); }, kSpKeyNotLoaded,
                true},
        SignRow{"CertificateOnly", [] { return unsignedDoc(); }, spCert, kSpKeyNotLoaded, true},
        SignRow{"KeyThatIsNotPem", [] { return unsignedDoc(); }, [] { return std::string("no key"); },
                kSpKeyNotLoaded, true},
        SignRow{"CorruptedPrivateKey", [] { return unsignedDoc(); },
                [] { return flipFirstCharOf(spKeyAndCert(), "PRIVATE KEY-----\nMIIE"); }, kSpKeyNotLoaded,
                true},
        SignRow{"PublicKeyOnly", [] { return unsignedDoc(); },
                [] { return readFixture("test-sp-pubkey.pem"); }, kNotSigned, true},
        SignRow{"EcKeyForAnRsaTemplate", [] { return unsignedDoc(); },
                [] { return readFixture("test-ec-key.pem"); }, kNotSigned, true},
        SignRow{"UnknownSignatureAlgorithm",
                [] {
                    return replaceAll(unsignedDoc(), "http://www.w3.org/2000/09/xmldsig#rsa-sha1",
                                      "urn:corvane-test:unknown-algorithm");
                },
                spKeyAndCert, kNotSigned, true},
        SignRow{"ReferenceToAnUnregisteredId",
                [] { return unsignedDoc(" ID=\"_r1\"", signatureTemplate("#_r1")); }, spKeyAndCert,
                kNotSigned, true}),
    RowName());

// libxml2's own declaration, as xmlDocDumpMemory writes it.
std::string libxmlDeclaration() {
    boost::shared_ptr<xmlDoc> doc(xmlNewDoc(BAD_CAST "1.0"), corvane::myXmlFreeDoc);
    xmlChar* text = nullptr;
    int size = 0;
    xmlDocDumpMemory(doc.get(), &text, &size);
    std::string declaration(reinterpret_cast<const char*>(text), static_cast<size_t>(size));
    xmlFree(text);
    return declaration;
}

TEST_F(RecordingTest, SignedTextIsLibxmlSerializationWithValuesFilledIn) {
    std::string text = unsignedDoc();
    ASSERT_EQ(corvane::signDocument(&text, spKeyAndCert()), 0);
    EXPECT_EQ(text.rfind(libxmlDeclaration(), 0), 0u) << text;
    const std::vector<std::string> digests = elementTexts(text, "DigestValue");
    const std::vector<std::string> signatures = elementTexts(text, "SignatureValue");
    ASSERT_EQ(digests.size(), 1u);
    ASSERT_EQ(signatures.size(), 1u);
    EXPECT_FALSE(digests[0].empty());
    EXPECT_FALSE(signatures[0].empty());
    EXPECT_TRUE(Recorder::errors().empty());
    EXPECT_EQ(corvane::verifySignature(text, spCert()), 0);
    EXPECT_EQ(corvane::verifySignature(text, idpCert()), 1);
}

// The namespace name of the element called local in text, as libxml2 reads
// it back; "(not well-formed)" when the text does not parse.
std::string namespaceNameOf(const std::string& text, const char* local) {
    boost::shared_ptr<xmlDoc> doc(
        xmlReadMemory(text.data(), static_cast<int>(text.size()), nullptr, nullptr,
                      XML_PARSE_NONET | XML_PARSE_NOENT | XML_PARSE_NOERROR | XML_PARSE_NOWARNING),
        corvane::myXmlFreeDoc);
    if (!doc) return "(not well-formed)";
    for (xmlNode* n = xmlDocGetRootElement(doc.get())->children; n != nullptr; n = n->next) {
        if (n->type == XML_ELEMENT_NODE && xmlStrEqual(n->name, BAD_CAST local) && n->ns)
            return reinterpret_cast<const char*>(n->ns->href);
    }
    return "(no such element)";
}

TEST_F(RecordingTest, NamespaceNamesWithReferencesComeOutAsTheyWereReadAndStillVerify) {
    const struct {
        const char* written;
        int status;
        const char* name;  // as read back from the signed text
    } rows[] = {
        {"urn:plain", 0, "urn:plain"},  // control: nothing to escape
        // '&' may stand in a URI: libxml2 writes it back unescaped unless the
        // signer escapes it.
        {"http://ns.example.test/?a=1&amp;b=2", 0, "http://ns.example.test/?a=1&b=2"},
        {"http://ns.example.test/?q=&amp;amp;", 0, "http://ns.example.test/?q=&amp;"},
        // '<' and white space are no URI characters: the parse refuses them.
        {"urn:a&lt;b", -8, nullptr},
        {"urn:line&#10;break", -8, nullptr},
    };
    for (const auto& row : rows) {
        const std::string unsignedText = std::string("<r><x:v xmlns:x=\"") + row.written +
                                         "\">value</x:v>" + signatureTemplate() + "</r>";
        std::string text = unsignedText;
        ASSERT_EQ(corvane::signDocument(&text, spKeyAndCert()), row.status) << row.written;
        if (row.status != 0) {
            EXPECT_EQ(text, unsignedText);
            continue;
        }
        EXPECT_EQ(namespaceNameOf(text, "v"), row.name) << text;
        EXPECT_EQ(corvane::verifySignature(text, spCert()), 0) << text;
    }
}

TEST_F(RecordingTest, FirstOfTwoTemplatesIsFilledAndTheSecondLeftEmpty) {
    std::string text = "<r><a>" + signatureTemplate() + "</a><b>" + signatureTemplate() + "</b></r>";
    ASSERT_EQ(corvane::signDocument(&text, spKeyAndCert()), 0);
    const std::vector<std::string> digests = elementTexts(text, "DigestValue");
    const std::vector<std::string> signatures = elementTexts(text, "SignatureValue");
    ASSERT_EQ(digests.size(), 2u);
    ASSERT_EQ(signatures.size(), 2u);
    EXPECT_FALSE(digests[0].empty());
    EXPECT_FALSE(signatures[0].empty());
    EXPECT_EQ(digests[1], "");
    EXPECT_EQ(signatures[1], "");
}

TEST_F(RecordingTest, EveryUnencryptedRsaKeyFormSigns) {
    for (const char* keyFile : {"test-sp-key.pem", "test-sp-key-pkcs1.pem", "test-sp-key-and-cert.pem"}) {
        std::string text = unsignedDoc();
        EXPECT_EQ(corvane::signDocument(&text, readFixture(keyFile)), 0) << keyFile;
        EXPECT_EQ(corvane::verifySignature(text, spCert()), 0) << keyFile;
    }
    EXPECT_TRUE(Recorder::errors().empty());
}

// ---- the signing context's log line never carries private-key text -----

struct KeyTextRow {
    const char* name;
    std::function<std::string()> text;
    bool loads;
};

void PrintTo(const KeyTextRow& row, std::ostream* os) { *os << row.name; }

class PrivateKeyWithheld : public RecordingTest, public ::testing::WithParamInterface<KeyTextRow> {};

TEST_P(PrivateKeyWithheld, LogLineKeepsEverythingButThePrivateKeyBlocks) {
    const KeyTextRow& row = GetParam();
    const std::string keyText = row.text();
    ASSERT_FALSE(privateKeyBodyLines(keyText).empty());

    boost::shared_ptr<xmlSecDSigCtx> ctx(corvane::getSigningContext(keyText),
                                         corvane::myXmlSecDSigCtxDestroy);
    EXPECT_EQ(static_cast<bool>(ctx), row.loads);
    EXPECT_EQ(Recorder::logAt(3), std::vector<std::string>{limitedMessage(
                                      "Private cert: " + withPrivateKeysWithheld(keyText))});
    for (const std::string& bodyLine : privateKeyBodyLines(keyText))
        EXPECT_FALSE(Recorder::anyMessageContains(bodyLine)) << "private key text leaked: " << bodyLine;
    if (!row.loads) {
        EXPECT_EQ(Recorder::errors(), std::vector<std::string>{kSpKeyNotLoaded});
    }

    // The line keeps its place: before anything xmlsec1 says about the key.
    if (!Recorder::log().empty()) {
        EXPECT_EQ(Recorder::log()[0].level, 3);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, PrivateKeyWithheld,
    ::testing::Values(
        KeyTextRow{"Pkcs8KeyThenCertificate", spKeyAndCert, true},
        KeyTextRow{"CertificateThenPkcs8Key", [] { return spCert() + spKey(); }, true},
        KeyTextRow{"Pkcs1Key", [] { return readFixture("test-sp-key-pkcs1.pem"); }, true},
        KeyTextRow{"EcKeyBetweenOtherText",
                   [] { return "label: test\n" + readFixture("test-ec-key.pem") + "trailing text\n"; }, true},
        KeyTextRow{"TwoKeysAndACertificate",
                   [] { return readFixture("test-ec-key.pem") + spCert() + spKey(); }, true},
        KeyTextRow{"CorruptedKey",
                   [] { return flipFirstCharOf(spKey(), "PRIVATE KEY-----\nMIIE"); }, false},
        KeyTextRow{"KeyWithoutTrailingNewline",
                   [] {
                       std::string k = spKey();
                       return k.substr(0, k.find_last_not_of('\n') + 1);
                   },
                   true}),
    RowName());

TEST_F(RecordingTest, TruncatedKeyWithoutEndLineLeaksNoKeyText) {
    const std::string key = spKey();
    const std::string truncated = key.substr(0, key.find("-----END"));
    std::vector<std::string> body = privateKeyBodyLines(key);
    ASSERT_FALSE(body.empty());

    EXPECT_EQ(corvane::getSigningContext(truncated), nullptr);
    EXPECT_EQ(Recorder::errors(), std::vector<std::string>{kSpKeyNotLoaded});
    ASSERT_EQ(Recorder::logAt(3).size(), 1u);
    for (const std::string& bodyLine : body)
        EXPECT_FALSE(Recorder::anyMessageContains(bodyLine)) << "private key text leaked: " << bodyLine;
}

TEST_F(RecordingTest, SuccessfulSigningLeaksNoKeyText) {
    std::string text = unsignedDoc();
    ASSERT_EQ(corvane::signDocument(&text, spKeyAndCert()), 0);
    ASSERT_EQ(Recorder::logAt(3).size(), 1u);
    EXPECT_NE(Recorder::logAt(3)[0].find(kWithheldMarker), std::string::npos);
    for (const std::string& bodyLine : privateKeyBodyLines(spKeyAndCert())) {
        EXPECT_FALSE(Recorder::anyMessageContains(bodyLine)) << "private key text leaked: " << bodyLine;
        EXPECT_EQ(text.find(bodyLine), std::string::npos);
    }
}

// An encrypted key cannot be loaded without a pass phrase. OpenSSL would
// ask for one on the controlling terminal, so the child drops its terminal.
TEST(PrivateKeyWithheldEncrypted, EncryptedKeyFailsAndLeaksNoKeyText) {
    EXPECT_EXIT(
        {
            setsid();
            Recorder::reset();
            const std::string keyText = readFixture("test-sp-key-encrypted.pem");
            xmlSecDSigCtx* ctx = corvane::getSigningContext(keyText);
            const char* broken = nullptr;
            if (ctx != nullptr) broken = "encrypted key loaded";
            else if (Recorder::errors() != std::vector<std::string>{kSpKeyNotLoaded})
                broken = "wrong error messages";
            else if (Recorder::logAt(3) !=
                     std::vector<std::string>{"Private cert: " + withPrivateKeysWithheld(keyText)})
                broken = "wrong level-3 line";
            for (const std::string& bodyLine : privateKeyBodyLines(keyText))
                if (Recorder::anyMessageContains(bodyLine)) broken = "private key text leaked";
            std::fprintf(stderr, "%s\n", broken ? broken : "encrypted key withheld");
            std::fflush(stderr);
            std::_Exit(broken ? 1 : 0);
        },
        ::testing::ExitedWithCode(0), "encrypted key withheld");
}

}  // namespace
