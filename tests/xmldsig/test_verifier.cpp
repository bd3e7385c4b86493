// The one signer and verifier: key strength on every path (keys made at
// test time), digest work that does not grow with the number of keys, the
// bound on inclusive canonicalization, and Redirect-binding signatures
// over exact octets. Each refusal has an honest control beside it.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <corvane/corvane.h>
#include "Corvane.h"
#include "corvane_test_support.h"
#include "generated_keys.h"
#include "xml/build.h"
#include "xmldsig/signer.h"
#include "xmldsig/verifier.h"

namespace {

using namespace corvane_test;
using corvane::Key;
using corvane::KeyPtr;
using corvane::KeyStrength;
using corvane::internal::Verdict;

const char kCertRefused[] = "Can not load IDP public key";
const char kSpKeyRefused[] = "Can not load SP private key and certificate";
const char kRsa1024Strict[] =
    "RSA key of 1024 bits, at least 2048 required (1024 with KeyStrength::AllowRsa1024)";
const char kRsa512[] = "RSA key of 512 bits, at least 1024 required";
const char kP192[] = "EC key on a curve of 192 bits, at least 256 (P-256) required";

boost::shared_ptr<corvane::CorvaneBase> helper() {
    return corvane::CorvaneBase::getHelper(nullptr, nullptr, nullptr);
}

// ---- Key strength when a key is loaded ---------------------------------------

struct GeneratedKeyKind {
    const char* name;
    int rsaBits;        // 0 for EC
    const char* curve;  // EC curve name when rsaBits is 0
};
const GeneratedKey& generated(const GeneratedKeyKind& kind) {
    return kind.rsaBits ? generatedRsaKey(kind.rsaBits) : generatedEcKey(kind.curve);
}

struct StrengthRow {
    const char* name;
    GeneratedKeyKind kind;
    KeyStrength strength;
    std::string certificateMessage;  // empty: the certificate loads
    std::string privateKeyMessage;   // empty: the private key loads
};
void PrintTo(const StrengthRow& row, std::ostream* os) { *os << row.name; }

class KeyStrengthTest : public RecordingTest, public ::testing::WithParamInterface<StrengthRow> {};

void expectLoaded(const corvane::Result<KeyPtr>& loaded, const std::string& message) {
    if (message.empty()) {
        EXPECT_TRUE(loaded.ok()) << loaded.message();
    } else {
        EXPECT_EQ(loaded.status(), corvane::Status::Unusable);
        EXPECT_EQ(loaded.message(), message);
    }
}

TEST_P(KeyStrengthTest, LoadersRefuseWhatTheStrengthDoesNotAllow) {
    const StrengthRow& row = GetParam();
    const GeneratedKey& key = generated(row.kind);
    expectLoaded(Key::loadCertificate(key.certificatePem, row.strength), row.certificateMessage);
    expectLoaded(Key::loadPrivateKey(key.privateKeyPem + key.certificatePem, row.strength),
                 row.privateKeyMessage);
    EXPECT_TRUE(Recorder::everything().empty());
}

const GeneratedKeyKind kRsa2048{"rsa2048", 2048, nullptr};
const GeneratedKeyKind kRsa1024{"rsa1024", 1024, nullptr};
const GeneratedKeyKind kRsa512Key{"rsa512", 512, nullptr};
const GeneratedKeyKind kP256{"p256", 0, "prime256v1"};
const GeneratedKeyKind kP384{"p384", 0, "secp384r1"};
const GeneratedKeyKind kP192Key{"p192", 0, "prime192v1"};

std::string certRefused(const char* why) { return std::string(kCertRefused) + ": " + why; }
std::string spKeyRefused(const char* why) { return std::string(kSpKeyRefused) + ": " + why; }

INSTANTIATE_TEST_SUITE_P(
    Keys, KeyStrengthTest,
    ::testing::Values(
        StrengthRow{"Rsa2048Strict", kRsa2048, KeyStrength::Strict, "", ""},
        StrengthRow{"Rsa1024Strict", kRsa1024, KeyStrength::Strict, certRefused(kRsa1024Strict),
                    spKeyRefused(kRsa1024Strict)},
        StrengthRow{"Rsa1024AllowedByName", kRsa1024, KeyStrength::AllowRsa1024, "", ""},
        StrengthRow{"Rsa512Strict", kRsa512Key, KeyStrength::Strict, certRefused(kRsa512),
                    spKeyRefused(kRsa512)},
        StrengthRow{"Rsa512EvenWithTheOptIn", kRsa512Key, KeyStrength::AllowRsa1024,
                    certRefused(kRsa512), spKeyRefused(kRsa512)},
        // The library signs with RSA only: an EC private key is refused as
        // a key of the wrong kind whatever its curve.
        StrengthRow{"P256", kP256, KeyStrength::Strict, "", kSpKeyRefused},
        StrengthRow{"P384", kP384, KeyStrength::Strict, "", kSpKeyRefused},
        StrengthRow{"P192", kP192Key, KeyStrength::AllowRsa1024, certRefused(kP192),
                    kSpKeyRefused}),
    RowName());

// ---- The documented operations keep their floor ------------------------------

struct DocumentedFloorRow {
    const char* name;
    int rsaBits;
    int status;
    std::vector<std::string> errors;
    std::vector<std::string> errorLog;
};
void PrintTo(const DocumentedFloorRow& row, std::ostream* os) { *os << row.name; }

class DocumentedFloorTest : public RecordingTest,
                            public ::testing::WithParamInterface<DocumentedFloorRow> {};

TEST_P(DocumentedFloorTest, VerificationUsesNoKeyBelowTheFloor) {
    const DocumentedFloorRow& row = GetParam();
    const GeneratedKey& key = generatedRsaKey(row.rsaBits);
    const std::string response =
        signTemplateInProcess(responseTemplate("floor@example.test"), key.privateKeyPem);
    Recorder::reset();
    std::string nameId = "untouched";
    EXPECT_EQ(helper()->verifySamlResponse(nameId, response, key.certificatePem), row.status);
    EXPECT_EQ(nameId, row.status == 0 ? "floor@example.test" : "untouched");
    EXPECT_EQ(Recorder::errors(), row.errors);
    EXPECT_EQ(Recorder::logAt(1), row.errorLog);
}

TEST_P(DocumentedFloorTest, SigningUsesNoKeyBelowTheFloor) {
    const DocumentedFloorRow& row = GetParam();
    const GeneratedKey& key = generatedRsaKey(row.rsaBits);
    std::string request;
    EXPECT_EQ(helper()->createAuthnRequest(&request, "https://idp.example.test/sso",
                                           "https://sp.example.test/metadata",
                                           key.privateKeyPem + key.certificatePem),
              row.status == 0 ? 0 : -8);
    if (row.status == 0) return;
    EXPECT_EQ(Recorder::errors(), std::vector<std::string>{kSpKeyRefused});
    EXPECT_EQ(Recorder::logAt(1), std::vector<std::string>{"SP private key refused: " +
                                                           std::string(kRsa512)});
}

INSTANTIATE_TEST_SUITE_P(
    Keys, DocumentedFloorTest,
    ::testing::Values(
        // What the documented operations accepted before stays accepted.
        DocumentedFloorRow{"Rsa1024", 1024, 0, {}, {}},
        DocumentedFloorRow{"Rsa2048", 2048, 0, {}, {}},
        // A key that does not load fails the signature, as documented.
        DocumentedFloorRow{"Rsa512", 512, -7, {kCertRefused, "Signature verification failed"},
                           {"IdP public key refused: " + std::string(kRsa512)}}),
    RowName());

// ---- Digest work does not grow with the number of keys -----------------------

const char kLoginIdp[] = "https://idp.example.test/login-test-only";
const char kAssertionNotVerified[] =
    "SAML response signature over the Assertion does not verify with any IdP certificate";

std::string loginSignatureTemplate(const std::string& id, const std::string& c14n) {
    return "<ds:Signature xmlns:ds=\"http://www.w3.org/2000/09/xmldsig#\"><ds:SignedInfo>"
           "<ds:CanonicalizationMethod Algorithm=\"http://www.w3.org/2001/10/xml-exc-c14n#\"/>"
           "<ds:SignatureMethod Algorithm=\"http://www.w3.org/2001/04/xmldsig-more#rsa-sha256\"/>"
           "<ds:Reference URI=\"#" +
           id +
           "\"><ds:Transforms><ds:Transform Algorithm=\"http://www.w3.org/2000/09/"
           "xmldsig#enveloped-signature\"/><ds:Transform Algorithm=\"" +
           c14n +
           "\"/></ds:Transforms><ds:DigestMethod "
           "Algorithm=\"http://www.w3.org/2001/04/xmlenc#sha256\"/><ds:DigestValue/>"
           "</ds:Reference></ds:SignedInfo><ds:SignatureValue/></ds:Signature>";
}
const char kExclusive[] = "http://www.w3.org/2001/10/xml-exc-c14n#";
const char kInclusive[] = "http://www.w3.org/TR/2001/REC-xml-c14n-20010315";

// The login template with one signature: over the Assertion, or over the
// Response (with extra content in its Extensions).
std::string signedLogin(bool overResponse, const std::string& c14n = kExclusive,
                        const std::string& extensions = "") {
    std::string text = readFixture("login-response-template.xml");
    text = replaceAll(text, "{{ASSERTION_SIGNATURE}}",
                      overResponse ? "" : loginSignatureTemplate("_login-assertion-1", c14n));
    text = replaceAll(text, "{{RESPONSE_SIGNATURE}}",
                      overResponse ? loginSignatureTemplate("_login-response-1", c14n) +
                                         (extensions.empty() ? ""
                                                             : "<samlp:Extensions>" + extensions +
                                                                   "</samlp:Extensions>")
                                   : "");
    return signTemplateInProcess(text, idpKey());
}

KeyPtr certificateKey(const std::string& pem) {
    corvane::Result<KeyPtr> key = Key::loadCertificate(pem);
    EXPECT_TRUE(key.ok()) << key.message();
    return key.ok() ? key.value() : KeyPtr();
}

corvane::LoginExpectations loginExpectations(std::vector<KeyPtr> keys) {
    corvane::LoginExpectations e;
    e.replayCache = corvane::newInProcessReplayCache();
    e.idpEntityId = kLoginIdp;
    e.idpCertificates = std::move(keys);
    e.spEntityId = "https://sp.example.test/metadata";
    e.acsUrl = "https://sp.example.test/acs";
    e.requestId = "_login-request-1";
    e.now = 1709294400;  // 2024-03-01T12:00:00Z, the template's IssueInstant
    return e;
}

enum class KeyRole { Right, OtherRsa, OtherRsaGenerated, Ec };
KeyPtr keyFor(KeyRole role) {
    switch (role) {
        case KeyRole::Right:
            return certificateKey(idpCert());
        case KeyRole::OtherRsa:
            return certificateKey(spCert());
        case KeyRole::OtherRsaGenerated:
            return certificateKey(generatedRsaKey(2048).certificatePem);
        case KeyRole::Ec:
            return certificateKey(generatedEcKey("prime256v1").certificatePem);
    }
    return KeyPtr();
}

struct KeyOrderRow {
    const char* name;
    std::vector<KeyRole> keys;
    bool accepted;
};
void PrintTo(const KeyOrderRow& row, std::ostream* os) { *os << row.name; }

class KeyOrderTest : public RecordingTest, public ::testing::WithParamInterface<KeyOrderRow> {};

// Every key position gives the same verdict as the right key alone would,
// and the one Reference is digested once whatever the number of keys.
TEST_P(KeyOrderTest, OneDigestPassWhateverTheKeys) {
    const KeyOrderRow& row = GetParam();
    const std::string response = signedLogin(false);
    std::vector<KeyPtr> keys;
    for (KeyRole role : row.keys) keys.push_back(keyFor(role));
    const unsigned long before = corvane::internal::referencePassesSoFar();
    const corvane::Result<corvane::VerifiedLogin> login =
        corvane::verifyLoginResponse(response, loginExpectations(keys));
    EXPECT_EQ(corvane::internal::referencePassesSoFar() - before, 1u);
    if (row.accepted) {
        EXPECT_TRUE(login.ok()) << login.message();
        EXPECT_EQ(login.ok() ? login.value().nameId : "", "alice-7f3a@example.test");
    } else {
        EXPECT_EQ(login.status(), corvane::Status::NotAuthentic);
        EXPECT_EQ(login.message(), kAssertionNotVerified);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Keys, KeyOrderTest,
    ::testing::Values(
        KeyOrderRow{"RightKeyAlone", {KeyRole::Right}, true},
        KeyOrderRow{"RightKeyFirst", {KeyRole::Right, KeyRole::OtherRsa, KeyRole::OtherRsaGenerated},
                    true},
        KeyOrderRow{"RightKeyLast", {KeyRole::OtherRsa, KeyRole::OtherRsaGenerated, KeyRole::Right},
                    true},
        KeyOrderRow{"RightKeyAfterAnEcKey", {KeyRole::Ec, KeyRole::Right}, true},
        KeyOrderRow{"RightKeyBetweenKinds", {KeyRole::Ec, KeyRole::OtherRsa, KeyRole::Right,
                    KeyRole::Ec}, true},
        KeyOrderRow{"OneWrongKey", {KeyRole::OtherRsa}, false},
        KeyOrderRow{"ThreeWrongKeys",
                    {KeyRole::OtherRsa, KeyRole::OtherRsaGenerated, KeyRole::Ec}, false}),
    RowName());

// ---- Inclusive canonicalization is bounded -----------------------------------

const std::string kInclusiveRefused =
    "Signature refused: its Reference uses inclusive canonicalization over a document whose "
    "canonical form would exceed 8388608 bytes";

// A chain of elements: the first `declaring` each declare 62 prefixes (so
// the scope holds up to 1984, under the parser's bounds), then `below`
// plain elements under them, each of which an inclusive canonical form
// re-emits every declaration in scope for.
std::string namespaceChain(int declaring, int below) {
    std::string open, close;
    for (int level = 0; level < declaring; ++level) {
        open += "<d" + std::to_string(level);
        for (int i = 0; i < 62; ++i) {
            const std::string name = std::to_string(level) + "x" + std::to_string(i);
            open += " xmlns:p" + name + "=\"urn:corvane:test:ns:" + name + "\"";
        }
        open += ">";
        close = "</d" + std::to_string(level) + ">" + close;
    }
    for (int level = 0; level < below; ++level) {
        open += "<e>";
        close = "</e>" + close;
    }
    return open + close;
}

std::string signedChainDocument(const std::string& c14n, int declaring, int below) {
    const std::string text = "<doc xmlns=\"urn:corvane:test:chain\" ID=\"_chain-1\">" +
                             loginSignatureTemplate("_chain-1", c14n) +
                             namespaceChain(declaring, below) + "</doc>";
    return signTemplateInProcess(text, idpKey());
}

struct InclusiveRow {
    const char* name;
    const char* c14n;
    int declaring, below;
    bool refused;
};
void PrintTo(const InclusiveRow& row, std::ostream* os) { *os << row.name; }

class InclusiveBoundTest : public RecordingTest,
                           public ::testing::WithParamInterface<InclusiveRow> {};

// The documented verification: refused with -8 and the bound's message
// before any digest; the controls verify.
TEST_P(InclusiveBoundTest, DocumentedVerification) {
    const InclusiveRow& row = GetParam();
    const std::string document = signedChainDocument(row.c14n, row.declaring, row.below);
    Recorder::reset();
    const unsigned long before = corvane::internal::referencePassesSoFar();
    EXPECT_EQ(corvane::verifySignature(document, idpCert()), row.refused ? -8 : 0);
    EXPECT_EQ(corvane::internal::referencePassesSoFar() - before, row.refused ? 0u : 1u);
    EXPECT_EQ(Recorder::errors(),
              row.refused ? std::vector<std::string>{kInclusiveRefused} : std::vector<std::string>{});
}

// The login: the same shapes inside the signed Response's Extensions.
TEST_P(InclusiveBoundTest, LoginVerification) {
    const InclusiveRow& row = GetParam();
    const std::string response =
        signedLogin(true, row.c14n, namespaceChain(row.declaring, row.below));
    const unsigned long before = corvane::internal::referencePassesSoFar();
    const corvane::Result<corvane::VerifiedLogin> login =
        corvane::verifyLoginResponse(response, loginExpectations({keyFor(KeyRole::Right)}));
    EXPECT_EQ(corvane::internal::referencePassesSoFar() - before, row.refused ? 0u : 1u);
    if (row.refused) {
        EXPECT_EQ(login.status(), corvane::Status::NotAuthentic);
        EXPECT_EQ(login.message(), kInclusiveRefused);
    } else {
        EXPECT_TRUE(login.ok()) << login.message();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, InclusiveBoundTest,
    ::testing::Values(
        // About 1984 declarations re-emitted by 150 elements: over 8 MiB.
        InclusiveRow{"InclusiveOverTheBound", kInclusive, 32, 150, true},
        InclusiveRow{"ExclusiveOnTheSameShape", kExclusive, 32, 150, false},
        InclusiveRow{"InclusiveOnASmallShape", kInclusive, 4, 10, false}),
    RowName());

// ---- A reference to the root read as the whole document -------------------

const char kExclusiveWithComments[] = "http://www.w3.org/2001/10/xml-exc-c14n#WithComments";
const char kResponseNotVerified[] =
    "SAML response signature over the Response does not verify with any IdP certificate";

// text with what goes before its root element (after the XML declaration,
// when there is one) and after its end.
std::string aroundTheRoot(const std::string& text, const std::string& before,
                          const std::string& after) {
    const std::size_t declarationEnd = text.compare(0, 5, "<?xml") == 0 ? text.find("?>") + 2 : 0;
    return text.substr(0, declarationEnd) + before + text.substr(declarationEnd) + after;
}

struct WholeDocumentRow {
    const char* name;
    std::string text;
    bool readAsWholeDocument;  // the XPointer transform left out
    bool accepted;
    std::string message;  // when refused
};

// Leaving xmlsec1's XPointer transform out of a reference to the root
// digests the same octets: every signature verifies or fails as before,
// and the shortcut is taken only where nothing it would select differs.
TEST(RootReferenceAsWholeDocument, SameVerdictsAndOnlyWhereNothingDiffers) {
    const std::string overResponse = signedLogin(true);
    const std::string tampered =
        replaceAll(overResponse, "alice-7f3a@example.test", "mallory@example.test");
    const std::vector<WholeDocumentRow> rows = {
        {"ResponseSignedExclusive", overResponse, true, true, ""},
        {"TamperedAfterSigning", tampered, true, false, kResponseNotVerified},
        {"CommentsBesideTheRoot",
         aroundTheRoot(overResponse, "<!-- before -->\n", "\n<!-- after -->"), true, true, ""},
        {"CommentInsideTheRootAfterSigning",
         replaceAll(overResponse, "alice-7f3a@example.test</saml:NameID>",
                    "alice-7f3a@example.test</saml:NameID><!-- x -->"),
         true, true, ""},
        // Comments are canonicalized: the XPointer transform's tree without
        // comments matters, so it stays.
        {"ExclusiveWithComments", signedLogin(true, kExclusiveWithComments), false, true, ""},
        {"Inclusive", signedLogin(true, kInclusive), false, true, ""},
        // The reference names the Assertion, not the root.
        {"AssertionSigned", signedLogin(false), false, true, ""},
    };
    for (const WholeDocumentRow& row : rows) {
        SCOPED_TRACE(row.name);
        const unsigned long before = corvane::internal::rootReferencesReadAsWholeDocumentSoFar();
        const corvane::Result<corvane::VerifiedLogin> login =
            corvane::verifyLoginResponse(row.text, loginExpectations({keyFor(KeyRole::Right)}));
        EXPECT_EQ(corvane::internal::rootReferencesReadAsWholeDocumentSoFar() - before,
                  row.readAsWholeDocument ? 1u : 0u);
        EXPECT_EQ(login.ok(), row.accepted) << login.message();
        if (!row.accepted) {
            EXPECT_EQ(login.status(), corvane::Status::NotAuthentic);
            EXPECT_EQ(login.message(), row.message);
        }
    }
}

// The documented verification parses without the screening: a processing
// instruction beside the root, which a whole-document canonicalization
// would render, keeps the XPointer transform, and the signature verifies
// as before; without it the shortcut is taken.
TEST(RootReferenceAsWholeDocument, ProcessingInstructionBesideTheRootKeepsTheXPointer) {
    const std::string signedDocument = signedChainDocument(kExclusive, 1, 1);
    struct Row {
        const char* name;
        std::string text;
        bool readAsWholeDocument;
    };
    const std::vector<Row> rows = {
        {"RootAlone", signedDocument, true},
        {"InstructionAfterTheRoot", aroundTheRoot(signedDocument, "", "<?app note?>"), false},
        {"InstructionBeforeTheRoot", aroundTheRoot(signedDocument, "<?app note?>", ""), false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const unsigned long before = corvane::internal::rootReferencesReadAsWholeDocumentSoFar();
        EXPECT_EQ(corvane::verifySignature(row.text, idpCert()), 0);
        EXPECT_EQ(corvane::internal::rootReferencesReadAsWholeDocumentSoFar() - before,
                  row.readAsWholeDocument ? 1u : 0u);
    }
}

// ---- HTTP-Redirect signatures over exact octets -----------------------------

const char kOctets[] =
    "SAMLRequest=fZFdT8IwFIb%2FStP7rV3nxmhYkwkxkqASmF5407RdjY39mD3F6L8X&RelayState=s%3D1&"
    "SigAlg=http%3A%2F%2Fwww.w3.org%2F2001%2F04%2Fxmldsig-more%23rsa-sha256";
const char kRsaSha256[] = "http://www.w3.org/2001/04/xmldsig-more#rsa-sha256";
const char kRsaSha1[] = "http://www.w3.org/2000/09/xmldsig#rsa-sha1";

std::string redirectSignature(const std::string& octets, bool useSha1) {
    corvane::Result<KeyPtr> key = Key::loadPrivateKey(spKeyAndCert());
    std::string signature;
    EXPECT_TRUE(key.ok() && corvane::internal::signOctets(
                                octets, *key.value(),
                                corvane::internal::rsaSignatureAlgorithm(useSha1), &signature));
    return corvane::internal::base64Encode(signature);
}

enum class Signed { Sha256, Sha1, NotBase64, Empty };
enum class Certs { Sp, IdpThenSp, Idp, None };

struct RedirectRow {
    const char* name;
    std::string (*received)(const std::string& octets);  // what arrives
    std::string sigAlg;
    Signed signature;
    Certs certificates;
    Verdict verdict;
    std::vector<std::string> errors;
};
void PrintTo(const RedirectRow& row, std::ostream* os) { *os << row.name; }

class RedirectSignatureTest : public RecordingTest,
                              public ::testing::WithParamInterface<RedirectRow> {};

std::string signatureText(Signed kind) {
    switch (kind) {
        case Signed::Sha256:
            return redirectSignature(kOctets, false);
        case Signed::Sha1:
            return redirectSignature(kOctets, true);
        case Signed::NotBase64:
            return "!!not base64!!";
        case Signed::Empty:
            break;
    }
    return std::string();
}

std::vector<KeyPtr> certificateKeys(Certs which) {
    switch (which) {
        case Certs::Sp:
            return {certificateKey(spCert())};
        case Certs::IdpThenSp:
            return {certificateKey(idpCert()), certificateKey(spCert())};
        case Certs::Idp:
            return {certificateKey(idpCert())};
        case Certs::None:
            break;
    }
    return {};
}

TEST_P(RedirectSignatureTest, VerdictAndMessage) {
    const RedirectRow& row = GetParam();
    const std::string signature = signatureText(row.signature);
    const corvane::internal::KeySet keys =
        corvane::internal::verificationKeys(certificateKeys(row.certificates));
    Recorder::reset();
    EXPECT_EQ(corvane::internal::verifyRedirectSignature(row.received(kOctets), row.sigAlg,
                                                         signature, keys),
              row.verdict);
    EXPECT_EQ(Recorder::errors(), row.errors);
}

std::string asSigned(const std::string& octets) { return octets; }
std::string oneOctetChanged(const std::string& octets) {
    std::string changed = octets;
    changed[changed.find("s%3D1") + 4] = '2';
    return changed;
}
std::string reencoded(const std::string& octets) { return replaceAll(octets, "%3D", "%3d"); }

const std::string kSigAlgRefused =
    "HTTP-Redirect SigAlg is not an allowed signature algorithm";

INSTANTIATE_TEST_SUITE_P(
    Octets, RedirectSignatureTest,
    ::testing::Values(
        RedirectRow{"Sha256", asSigned, kRsaSha256, Signed::Sha256, Certs::Sp, Verdict::Verified,
                    {}},
        RedirectRow{"Sha1", asSigned, kRsaSha1, Signed::Sha1, Certs::Sp, Verdict::Verified, {}},
        RedirectRow{"RightKeySecond", asSigned, kRsaSha256, Signed::Sha256, Certs::IdpThenSp,
                    Verdict::Verified, {}},
        RedirectRow{"WrongKey", asSigned, kRsaSha256, Signed::Sha256, Certs::Idp,
                    Verdict::Invalid, {}},
        RedirectRow{"OneOctetChanged", oneOctetChanged, kRsaSha256, Signed::Sha256, Certs::Sp,
                    Verdict::Invalid, {}},
        // The octets are verified as received: re-encoding breaks them.
        RedirectRow{"OctetsReencoded", reencoded, kRsaSha256, Signed::Sha256, Certs::Sp,
                    Verdict::Invalid, {}},
        RedirectRow{"SigAlgOfAnotherMethod", asSigned, kRsaSha1, Signed::Sha256, Certs::Sp,
                    Verdict::Invalid, {}},
        RedirectRow{"SigAlgHmac", asSigned, "http://www.w3.org/2000/09/xmldsig#hmac-sha1",
                    Signed::Sha256, Certs::Sp, Verdict::Refused, {kSigAlgRefused}},
        RedirectRow{"SigAlgWithNul", asSigned, std::string(kRsaSha256) + std::string(1, '\0'),
                    Signed::Sha256, Certs::Sp, Verdict::Refused, {kSigAlgRefused}},
        RedirectRow{"SignatureNotBase64", asSigned, kRsaSha256, Signed::NotBase64, Certs::Sp,
                    Verdict::Invalid, {}},
        RedirectRow{"SignatureEmpty", asSigned, kRsaSha256, Signed::Empty, Certs::Sp,
                    Verdict::Invalid, {}},
        RedirectRow{"NoKeys", asSigned, kRsaSha256, Signed::Sha256, Certs::None, Verdict::Invalid,
                    {}}),
    RowName());

}  // namespace
