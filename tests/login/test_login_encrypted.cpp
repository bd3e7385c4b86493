// verifyLoginResponse on encrypted logins: the login fixture's assertion
// encrypted at test time with OpenSSL for generated SP keys, in every shape
// IdPs send (AES-GCM and AES-CBC, both RSA-OAEP forms with each digest,
// the key inside the data's KeyInfo or beside it, Response and assertion
// signatures in every combination, key rollover), EncryptedID and
// EncryptedAttribute; and the refusals, each with an honest control of the
// same shape. Last, the responses that real IdPs (SimpleSAMLphp, samlify)
// made for the test-only keys of data/idp-encrypted.
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include <corvane/corvane.h>
#include "corvane_test_support.h"
#include "encryption.h"
#include "generated_keys.h"
#include "login_samples.h"
#include "xmldsig/decryption.h"

namespace {

using namespace corvane_test;
using corvane::Key;
using corvane::KeyPtr;
using corvane::LoginExpectations;
using corvane::Result;
using corvane::Status;
using corvane::VerifiedLogin;

const char kNotDecrypted[] =
    "SAML EncryptedAssertion could not be decrypted with the SP decryption keys";
const char kNotSigned[] =
    "SAML response is signed neither over the Response nor over the Assertion";
const char kCbcRefused[] =
    "SAML response encrypts its assertion with AES-CBC but the Response is not signed: the IdP "
    "must sign the Response or encrypt with AES-GCM (allowCbcWithoutResponseSignature accepts it "
    "as it is)";
const char kSamlNs[] = " xmlns:saml=\"urn:oasis:names:tc:SAML:2.0:assertion\"";

// ---- Making encrypted responses ---------------------------------------------

std::string slice(const std::string& text, const std::string& begin, const std::string& end) {
    const std::size_t from = text.find(begin);
    const std::size_t to = from == std::string::npos ? from : text.find(end, from);
    if (to == std::string::npos) ADD_FAILURE() << "'" << begin << "' not found in test text";
    return to == std::string::npos ? "" : text.substr(from, to + end.size() - from);
}

std::string withoutDeclaration(const std::string& xml) {
    const std::size_t end = xml.compare(0, 5, "<?xml") == 0 ? xml.find("?>") : std::string::npos;
    return end == std::string::npos ? xml : xml.substr(xml.find('<', end));
}

std::string templateText() { return readFixture("login-response-template.xml"); }

// The fixture's assertion as a document of its own (the saml prefix
// declared on it), with `change` applied, signed over its ID or not.
std::string assertionText(
    bool sign,
    const std::function<std::string(std::string)>& change = [](std::string text) { return text; }) {
    std::string assertion = slice(templateText(), "<saml:Assertion ", "</saml:Assertion>");
    assertion =
        replaceAll(assertion, "<saml:Assertion ", std::string("<saml:Assertion") + kSamlNs + " ");
    assertion = change(assertion);
    if (!sign) return replaceAll(assertion, "{{ASSERTION_SIGNATURE}}", "");
    assertion = replaceAll(assertion, "{{ASSERTION_SIGNATURE}}",
                           signatureTemplate("#_login-assertion-1", SigAlg::RsaSha256));
    return withoutDeclaration(signTemplateInProcess(assertion, idpKey()));
}

// The fixture response with its assertion replaced by `inPlace`, signed
// over the Response or not.
std::string responseWith(const std::string& inPlace, bool signResponse) {
    std::string text = templateText();
    text = replaceAll(text, slice(text, "<saml:Assertion ", "</saml:Assertion>"), inPlace);
    if (!signResponse) return replaceAll(text, "{{RESPONSE_SIGNATURE}}", "");
    text = replaceAll(text, "{{RESPONSE_SIGNATURE}}",
                      signatureTemplate("#_login-response-1", SigAlg::RsaSha256));
    return signTemplateInProcess(text, idpKey());
}

const GeneratedKey& spKeyPair() { return generatedRsaKey(2048); }
const GeneratedKey& oldSpKeyPair() { return generatedRsaKey(3072); }

KeyPtr loaded(const GeneratedKey& pair) {
    const Result<KeyPtr> key = Key::loadPrivateKey(pair.privateKeyPem + pair.certificatePem);
    EXPECT_TRUE(key.ok()) << key.message();
    return key.ok() ? key.value() : KeyPtr();
}

// An encrypted response: the assertion (signed or not) encrypted as `how`
// says, the Response signed or not.
std::string encryptedResponse(const Encryption& how, bool signAssertion, bool signResponse) {
    return responseWith(
        encryptedElement(assertionText(signAssertion), spKeyPair().certificatePem, how),
        signResponse);
}

LoginExpectations expectations() {
    LoginExpectations e = loginExpectations(Key::loadCertificate(idpCert()).value());
    e.spDecryptionKeys = {loaded(spKeyPair())};
    return e;
}

struct Outcome {
    int status;
    std::string message;
    VerifiedLogin login;
    unsigned long rsaOperations;
};

Outcome verify(const std::string& xml, const LoginExpectations& e) {
    const unsigned long before = corvane::internal::keyTransportDecryptionsSoFar();
    Result<VerifiedLogin> result = corvane::verifyLoginResponse(xml, e);
    Outcome outcome{corvane::toInt(result.status()), result.ok() ? "" : result.message(),
                    result.ok() ? result.value() : VerifiedLogin(),
                    corvane::internal::keyTransportDecryptionsSoFar() - before};
    return outcome;
}

void expectTheFixturesLogin(const Outcome& o) {
    EXPECT_EQ(o.status, 0) << o.message;
    EXPECT_EQ(o.login.nameId, kLoginNameId);
    EXPECT_EQ(o.login.sessionIndex, "_session-42");
    EXPECT_EQ(o.login.inResponseTo, kLoginRequestId);
    ASSERT_EQ(o.login.attributes.count("groups"), 1u);
    EXPECT_EQ(o.login.attributes.at("groups").values,
              (std::vector<std::string>{"staff", "admins"}));
}

// ---- Every accepted shape ----------------------------------------------------

struct Shape {
    const char* name;
    Encryption how;
    bool signAssertion;
    bool signResponse;
    bool allowCbcWithoutResponseSignature;
};

Encryption with(const char* data, const char* transport = kRsaOaepMgf1p, const char* digest = "",
                const char* mgf = "", const char* label = "") {
    Encryption how;
    how.dataAlgorithm = data;
    how.keyTransport = transport;
    how.oaepDigest = digest;
    how.mgf = mgf;
    how.oaepLabel = label;
    return how;
}
Encryption keyBesideData(Encryption how) {
    how.keyBesideData = true;
    return how;
}
Encryption certificateNamed(Encryption how) {
    how.nameCertificate = true;
    return how;
}

const Shape kAccepted[] = {
    {"Gcm128ResponseSigned", with(kAes128Gcm), false, true, false},
    {"Gcm192ResponseSigned", with(kAes192Gcm), false, true, false},
    {"Gcm256ResponseSignedKeyBesideData", keyBesideData(with(kAes256Gcm)), false, true, false},
    {"Gcm256AssertionSignedOnly", with(kAes256Gcm), true, false, false},
    {"Gcm256BothSigned", with(kAes256Gcm), true, true, false},
    {"Cbc128Mgf1pSha256ResponseSigned", with(kAes128Cbc, kRsaOaepMgf1p, kDigestSha256), false, true,
     false},
    {"Cbc192Mgf1pSha1ExplicitResponseSigned", with(kAes192Cbc, kRsaOaepMgf1p, kDigestSha1), false,
     true, false},
    {"Cbc256BothSignedCertificateNamed", certificateNamed(with(kAes256Cbc)), true, true, false},
    {"Cbc256AssertionSignedOnlyWithOptIn", with(kAes256Cbc), true, false, true},
    {"Oaep11Sha1Mgf1Sha1", with(kAes256Gcm, kRsaOaep, kDigestSha1, kMgf1Sha1), false, true, false},
    {"Oaep11Sha256Mgf1Sha256", with(kAes256Gcm, kRsaOaep, kDigestSha256, kMgf1Sha256), false, true,
     false},
    {"Oaep11Sha384Mgf1Sha384", with(kAes128Gcm, kRsaOaep, kDigestSha384, kMgf1Sha384), false, true,
     false},
    {"Oaep11Sha512Mgf1Sha512Label", with(kAes256Gcm, kRsaOaep, kDigestSha512, kMgf1Sha512, "label"),
     false, true, false},
    {"Oaep11Sha256DefaultMgf", with(kAes256Cbc, kRsaOaep, kDigestSha256), false, true, false},
    {"Mgf1pLabel", with(kAes128Gcm, kRsaOaepMgf1p, "", "", "\x01\x02params"), false, true, false},
};

void PrintTo(const Shape& row, std::ostream* out) { *out << row.name; }

class AcceptedShape : public ::testing::TestWithParam<Shape> {};

TEST_P(AcceptedShape, DecryptsToTheFixturesLogin) {
    const Shape& shape = GetParam();
    LoginExpectations e = expectations();
    e.allowCbcWithoutResponseSignature = shape.allowCbcWithoutResponseSignature;
    const Outcome o =
        verify(encryptedResponse(shape.how, shape.signAssertion, shape.signResponse), e);
    expectTheFixturesLogin(o);
    EXPECT_TRUE(o.login.assertionEncrypted);
    EXPECT_EQ(o.rsaOperations, 1u);
}

INSTANTIATE_TEST_SUITE_P(Shapes, AcceptedShape, ::testing::ValuesIn(kAccepted),
                         [](const ::testing::TestParamInfo<Shape>& row) { return row.param.name; });

TEST(EncryptedLogin, APlainLoginSaysItWasNotEncrypted) {
    const Outcome o = verify(responseWith(assertionText(false), true), expectations());
    expectTheFixturesLogin(o);
    EXPECT_FALSE(o.login.assertionEncrypted);
    EXPECT_EQ(o.rsaOperations, 0u);
}

// ---- Key rollover ----------------------------------------------------------

TEST(EncryptedLogin, RolloverTriesEachKeyUnlessTheCertificateNamesOne) {
    LoginExpectations e = expectations();
    e.spDecryptionKeys = {loaded(oldSpKeyPair()), loaded(spKeyPair())};
    const Outcome unnamed = verify(encryptedResponse(with(kAes256Gcm), false, true), e);
    expectTheFixturesLogin(unnamed);
    EXPECT_EQ(unnamed.rsaOperations, 2u) << "the old key first, then the new one";
    const Outcome named =
        verify(encryptedResponse(certificateNamed(with(kAes256Gcm)), false, true), e);
    expectTheFixturesLogin(named);
    EXPECT_EQ(named.rsaOperations, 1u) << "the named key alone";
}

TEST(EncryptedLogin, WithoutAnSpKeyTheLoginIsIncomplete) {
    LoginExpectations e = expectations();
    e.spDecryptionKeys.clear();
    const Outcome o = verify(encryptedResponse(with(kAes256Gcm), false, true), e);
    EXPECT_EQ(o.status, corvane::toInt(Status::BadOptions));
    EXPECT_EQ(o.message,
              "Login expectations are incomplete: the response carries an EncryptedAssertion, but "
              "no SP decryption key is given");
    e.spDecryptionKeys = {KeyPtr()};
    EXPECT_EQ(verify(encryptedResponse(with(kAes256Gcm), false, true), e).message,
              "Login expectations are not usable: an SP decryption key is null or holds no private "
              "key");
    e.spDecryptionKeys = {Key::loadCertificate(spKeyPair().certificatePem).value()};
    EXPECT_EQ(verify(encryptedResponse(with(kAes256Gcm), false, true), e).status,
              corvane::toInt(Status::BadOptions));
}

// ---- Refused before any decryption ------------------------------------------

struct Refusal {
    const char* name;
    std::function<std::string()> response;
    std::function<void(LoginExpectations*)> expect;
    int status;
    std::string message;
};

std::string signedGcm() { return encryptedResponse(with(kAes256Gcm), false, true); }
void asIs(LoginExpectations*) {}

// The encrypted assertion of a response whose Response is signed after
// `change` was applied to the EncryptedAssertion's text.
std::string changedThenSigned(const Encryption& how,
                              const std::function<std::string(std::string)>& change) {
    return responseWith(
        change(encryptedElement(assertionText(false), spKeyPair().certificatePem, how)), true);
}

const Refusal kRefusedUnopened[] = {
    {"Rsa15KeyTransport", [] { return encryptedResponse(with(kAes256Gcm, kRsa15), false, true); },
     asIs, -7,
     "SAML EncryptedAssertion key transport RSA-1.5 is always refused: it is open to padding "
     "oracle attacks"},
    {"TripleDesData", [] { return encryptedResponse(with(kTripleDes), false, true); }, asIs, -7,
     "SAML EncryptedAssertion data encryption algorithm "
     "\"http://www.w3.org/2001/04/xmlenc#tripledes-cbc\" is not allowed (AES-GCM or AES-CBC only)"},
    {"UnknownDataAlgorithm",
     [] { return encryptedResponse(with("urn:example:cipher"), false, true); }, asIs, -7,
     "SAML EncryptedAssertion data encryption algorithm \"urn:example:cipher\" is not allowed "
     "(AES-GCM or AES-CBC only)"},
    {"UnknownKeyTransport",
     [] {
         return changedThenSigned(with(kAes256Gcm), [](std::string text) {
             return replaceAll(text, kRsaOaepMgf1p, "http://www.w3.org/2001/04/xmlenc#kw-aes256");
         });
     },
     asIs, -7,
     "SAML EncryptedAssertion key transport algorithm "
     "\"http://www.w3.org/2001/04/xmlenc#kw-aes256\" is not allowed (RSA-OAEP only)"},
    {"Mgf1pWithSha384Digest",
     [] { return encryptedResponse(with(kAes256Gcm, kRsaOaepMgf1p, kDigestSha384), false, true); },
     asIs, -7,
     "SAML EncryptedAssertion key transport digest "
     "\"http://www.w3.org/2001/04/xmldsig-more#sha384\" is not allowed"},
    {"UnknownMgf",
     [] {
         return encryptedResponse(with(kAes256Gcm, kRsaOaep, kDigestSha256, "urn:example:mgf"),
                                  false, true);
     },
     asIs, -7,
     "SAML EncryptedAssertion key transport mask generation function \"urn:example:mgf\" is not "
     "allowed"},
    {"FlippedCipherTextUnderSignedResponse",
     [] { return withCipherByteFlipped(signedGcm(), "</xenc:EncryptedKey>", 20); }, asIs, -7,
     "SAML response signature over the Response does not verify with any IdP certificate"},
    {"CbcWithoutResponseSignature", [] { return encryptedResponse(with(kAes128Cbc), true, false); },
     asIs, -7, kCbcRefused},
    {"TwoEncryptedAssertions",
     [] {
         const std::string one = encryptedElement(assertionText(false), spKeyPair().certificatePem);
         return responseWith(one + one, true);
     },
     asIs, -10, "SAML response carries 2 assertions, not exactly one"},
    {"AssertionBesideEncryptedAssertion",
     [] {
         return responseWith(encryptedElement(assertionText(false), spKeyPair().certificatePem) +
                                 assertionText(false),
                             true);
     },
     asIs, -10, "SAML response carries 2 assertions, not exactly one"},
    {"CipherReferenceToALocalFile",
     [] {
         return changedThenSigned(with(kAes256Gcm), [](std::string text) {
             const std::string value = slice(text.substr(text.find("</xenc:EncryptedKey>")),
                                             "<xenc:CipherValue>", "</xenc:CipherValue>");
             return replaceAll(text, value, "<xenc:CipherReference URI=\"file:///etc/passwd\"/>");
         });
     },
     asIs, -7,
     "SAML EncryptedAssertion refers to its cipher data by CipherReference, which is never "
     "followed"},
    {"RetrievalMethodToAKeyOutsideTheEncryptedAssertion",
     [] {
         std::string encrypted = encryptedElement(assertionText(false), spKeyPair().certificatePem,
                                                  keyBesideData(with(kAes256Gcm)));
         const std::string key = slice(encrypted, "<xenc:EncryptedKey ", "</xenc:EncryptedKey>");
         encrypted = replaceAll(encrypted, key, "");
         std::string text = responseWith(encrypted, false);
         return replaceAll(text, "<samlp:Status>",
                           "<samlp:Extensions>" + key + "</samlp:Extensions><samlp:Status>");
     },
     asIs, -7,
     "SAML EncryptedAssertion RetrievalMethod URI \"#_encrypted-key-1\" does not name exactly one "
     "EncryptedKey beside its EncryptedData"},
    {"RetrievalMethodToADuplicatedId",
     [] {
         const std::string encrypted = encryptedElement(
             assertionText(false), spKeyPair().certificatePem, keyBesideData(with(kAes256Gcm)));
         std::string text = templateText();
         text = replaceAll(text, slice(text, "<saml:Assertion ", "</saml:Assertion>"), encrypted);
         text = replaceAll(text, "<samlp:Status>",
                           "<samlp:Extensions><x:Decoy xmlns:x=\"urn:example:decoy\" "
                           "Id=\"_encrypted-key-1\"/></samlp:Extensions><samlp:Status>");
         text = replaceAll(text, "{{RESPONSE_SIGNATURE}}",
                           signatureTemplate("#_login-response-1", SigAlg::RsaSha256));
         return signTemplateInProcess(text, idpKey());
     },
     asIs, -7,
     "SAML EncryptedAssertion RetrievalMethod URI \"#_encrypted-key-1\" does not name exactly one "
     "EncryptedKey beside its EncryptedData"},
    {"TwoEncryptedData",
     [] {
         return changedThenSigned(with(kAes256Gcm), [](std::string text) {
             const std::string data = slice(text, "<xenc:EncryptedData ", "</xenc:EncryptedData>");
             return replaceAll(text, data, data + data);
         });
     },
     asIs, -7, "SAML EncryptedAssertion must hold exactly one EncryptedData"},
    {"EncryptedDataOfContentType",
     [] {
         return changedThenSigned(with(kAes256Gcm), [](std::string text) {
             return replaceAll(text, "xmlenc#Element", "xmlenc#Content");
         });
     },
     asIs, -7,
     "SAML EncryptedAssertion EncryptedData Type \"http://www.w3.org/2001/04/xmlenc#Content\" is "
     "not Element"},
};

void PrintTo(const Refusal& row, std::ostream* out) { *out << row.name; }

// The row's response verified under its expectations: refused with the
// row's status and message, and no login handed out.
Outcome refusedAsTheRowSays(const Refusal& row) {
    LoginExpectations e = expectations();
    row.expect(&e);
    const Outcome o = verify(row.response(), e);
    EXPECT_EQ(o.status, row.status);
    EXPECT_EQ(o.message, row.message);
    EXPECT_EQ(o.login.nameId, "");
    return o;
}

class RefusedUnopened : public ::testing::TestWithParam<Refusal> {};

TEST_P(RefusedUnopened, RefusedWithItsMessageAndNoRsaOperation) {
    EXPECT_EQ(refusedAsTheRowSays(GetParam()).rsaOperations, 0u)
        << "nothing may be decrypted for a refused structure";
}

INSTANTIATE_TEST_SUITE_P(Rows, RefusedUnopened, ::testing::ValuesIn(kRefusedUnopened),
                         [](const ::testing::TestParamInfo<Refusal>& row) {
                             return row.param.name;
                         });

// The honest controls of the rows above: the same shapes, left whole.
TEST(EncryptedLogin, ControlsOfTheRefusedShapesAreAccepted) {
    expectTheFixturesLogin(verify(signedGcm(), expectations()));
    expectTheFixturesLogin(verify(
        changedThenSigned(with(kAes256Gcm), [](std::string t) { return t; }), expectations()));
    LoginExpectations cbc = expectations();
    cbc.allowCbcWithoutResponseSignature = true;
    expectTheFixturesLogin(verify(encryptedResponse(with(kAes128Cbc), true, false), cbc));
    expectTheFixturesLogin(
        verify(encryptedResponse(with(kAes128Gcm), true, false), expectations()));
}

// ---- One answer for every decryption failure --------------------------------

// The assertion text for a plaintext row: what the IdP would have encrypted.
std::string encryptedPlaintext(const std::string& plaintext) {
    return responseWith(encryptedElement(plaintext, spKeyPair().certificatePem), true);
}

std::string deeplyNested(int depth) {
    std::string text;
    for (int i = 0; i < depth; ++i) text += "<a>";
    for (int i = 0; i < depth; ++i) text += "</a>";
    return text;
}

const Refusal kOneAnswer[] = {
    {"WrongSpKey", signedGcm,
     [](LoginExpectations* e) { e->spDecryptionKeys = {loaded(oldSpKeyPair())}; }, -7,
     kNotDecrypted},
    {"FlippedGcmTag",
     [] {
         return withCipherByteFlipped(encryptedResponse(with(kAes256Gcm), true, false),
                                      "</xenc:EncryptedKey>", -1);
     },
     asIs, -7, kNotDecrypted},
    {"CorruptedCbcPadding",
     [] {
         return withCipherByteFlipped(encryptedResponse(with(kAes128Cbc), true, false),
                                      "</xenc:EncryptedKey>", -17, 0x80);
     },
     [](LoginExpectations* e) { e->allowCbcWithoutResponseSignature = true; }, -7, kNotDecrypted},
    {"WrappedKeyOfTheWrongLength",
     [] {
         Encryption how = with(kAes256Gcm);
         return changedThenSigned(
             how, [](std::string text) { return replaceAll(text, kAes256Gcm, kAes128Gcm); });
     },
     asIs, -7, kNotDecrypted},
    {"PlaintextWithDoctype",
     [] {
         return encryptedPlaintext("<!DOCTYPE saml:Assertion [<!ENTITY x \"y\">]>" +
                                   assertionText(false));
     },
     asIs, -7, kNotDecrypted},
    {"PlaintextOfTwoAssertions",
     [] { return encryptedPlaintext(assertionText(false) + assertionText(false)); }, asIs, -7,
     kNotDecrypted},
    {"PlaintextWithANonSamlRoot",
     [] { return encryptedPlaintext("<x:Assertion xmlns:x=\"urn:example:evil\"/>"); }, asIs, -7,
     kNotDecrypted},
    {"PlaintextNotWellFormed", [] { return encryptedPlaintext("<saml:Assertion"); }, asIs, -7,
     kNotDecrypted},
    {"PlaintextNested100000Deep",
     [] {
         return encryptedPlaintext(std::string("<saml:Assertion") + kSamlNs + ">" +
                                   deeplyNested(100000) + "</saml:Assertion>");
     },
     asIs, -7, kNotDecrypted},
};

class OneAnswer : public ::testing::TestWithParam<Refusal> {};

TEST_P(OneAnswer, EveryDecryptionFailureLooksTheSame) {
    EXPECT_GE(refusedAsTheRowSays(GetParam()).rsaOperations, 1u)
        << "the failure must come from decryption itself";
}

INSTANTIATE_TEST_SUITE_P(Rows, OneAnswer, ::testing::ValuesIn(kOneAnswer),
                         [](const ::testing::TestParamInfo<Refusal>& row) {
                             return row.param.name;
                         });

TEST(EncryptedLogin, AnUnsignedPlaintextInAnUnsignedResponseIsRefused) {
    const Outcome o = verify(encryptedResponse(with(kAes256Gcm), false, false), expectations());
    EXPECT_EQ(o.status, -7);
    EXPECT_EQ(o.message, kNotSigned);
    EXPECT_EQ(o.login.nameId, "");
}

TEST(EncryptedLogin, AForgedSignatureInsideThePlaintextIsRefused) {
    // The assertion was signed, then changed: with the Response unsigned,
    // its own signature is all that vouches for it.
    std::string assertion = assertionText(true);
    assertion = replaceAll(assertion, kLoginNameId, "admin@example.test");
    const std::string text =
        responseWith(encryptedElement(assertion, spKeyPair().certificatePem), false);
    const Outcome o = verify(text, expectations());
    EXPECT_EQ(o.status, -7);
    EXPECT_EQ(
        o.message,
        "SAML response signature over the Assertion does not verify with any IdP certificate");
}

// ---- EncryptedID and EncryptedAttribute --------------------------------------

std::string nameIdElement() {
    std::string nameId = slice(templateText(), "<saml:NameID ", "</saml:NameID>");
    return replaceAll(nameId, "<saml:NameID ", std::string("<saml:NameID") + kSamlNs + " ");
}
std::string groupsAttribute() {
    std::string attribute =
        slice(templateText(), "<saml:Attribute Name=\"groups\"", "</saml:Attribute>");
    return replaceAll(attribute, "<saml:Attribute ",
                      std::string("<saml:Attribute") + kSamlNs + " ");
}

// The plain assertion, signed, with its NameID and groups attribute
// encrypted in place.
std::string responseWithEncryptedIdentifiers(const std::string& certificatePem) {
    Encryption id = with(kAes128Cbc);
    id.element = "saml:EncryptedID";
    Encryption attribute = with(kAes256Gcm);
    attribute.element = "saml:EncryptedAttribute";
    const std::string assertion = assertionText(true, [&](std::string text) {
        text = replaceAll(text, slice(text, "<saml:NameID ", "</saml:NameID>"),
                          encryptedElement(nameIdElement(), certificatePem, id));
        return replaceAll(text, slice(text, "<saml:Attribute Name=\"groups\"", "</saml:Attribute>"),
                          encryptedElement(groupsAttribute(), certificatePem, attribute));
    });
    return responseWith(assertion, false);
}

TEST(EncryptedLogin, EncryptedIdAndEncryptedAttributeAreDecryptedInPlace) {
    const Outcome o =
        verify(responseWithEncryptedIdentifiers(spKeyPair().certificatePem), expectations());
    expectTheFixturesLogin(o);
    EXPECT_FALSE(o.login.assertionEncrypted);
    EXPECT_EQ(o.login.nameIdFormat, "urn:oasis:names:tc:SAML:2.0:nameid-format:persistent");
    EXPECT_EQ(o.rsaOperations, 2u);
}

TEST(EncryptedLogin, EncryptedIdForAnotherKeyOrWithoutKeysIsRefused) {
    const std::string text = responseWithEncryptedIdentifiers(oldSpKeyPair().certificatePem);
    const Outcome wrong = verify(text, expectations());
    EXPECT_EQ(wrong.status, -7);
    EXPECT_EQ(wrong.message, "SAML EncryptedID could not be decrypted with the SP decryption keys");
    LoginExpectations none = expectations();
    none.spDecryptionKeys.clear();
    const Outcome missing = verify(text, none);
    EXPECT_EQ(missing.status, -9);
    EXPECT_EQ(missing.message,
              "Login expectations are incomplete: the response carries an EncryptedID, but no SP "
              "decryption key is given");
}

// ---- Responses made by real IdPs -------------------------------------------

const std::string kIdpDir = CORVANE_IDP_ENCRYPTED_DIR;

struct IdpResponse {
    const char* name;
    const char* file;
    bool accepted;
    std::string message;  // the refusal
    bool qualified;       // NameQualifier and SPNameQualifier given
};

const IdpResponse kIdpResponses[] = {
    {"SimpleSamlPhpCbcBothSigned",
     "simplesamlphp-aes128cbc-rsaoaep-response-and-assertion-signed.xml", true, "", true},
    {"SimpleSamlPhpCbcResponseSigned",
     "simplesamlphp-aes128cbc-rsaoaep-response-signed-assertion-unsigned.xml", true, "", true},
    {"SimpleSamlPhpLibraryGcm",
     "simplesamlphp-library-aes256gcm-rsaoaep-response-and-assertion-signed.xml", true, "", true},
    {"SimpleSamlPhpSharedKeyHasNoEncryptedKey",
     "simplesamlphp-aes256gcm-sharedkey-response-and-assertion-signed.xml", false,
     "SAML EncryptedAssertion carries no single EncryptedKey for its data", true},
    {"SamlifyCbcResponseSigned", "samlify-aes256cbc-rsaoaep-response-signed.xml", true, "", false},
    {"SamlifyCbcBothSigned", "samlify-aes256cbc-rsaoaep-response-and-assertion-signed.xml", true,
     "", false},
    {"SamlifyGcmResponseSigned", "samlify-aes256gcm-rsaoaep-response-signed.xml", true, "", false},
    {"SamlifySignedThenEncryptedBreaksItsSignature",
     "samlify-aes256cbc-rsaoaep-sign-then-encrypt-response-signature-broken.xml", false,
     "SAML response signature over the Response does not verify with any IdP certificate", false},
};

LoginExpectations idpExpectations() {
    LoginExpectations e;
    e.idpEntityId = "https://idp.example.test/metadata";
    e.idpCertificates = {
        Key::loadCertificate(readFile(kIdpDir + "/test-only-idp-signing.crt.pem")).value()};
    e.spEntityId = "https://sp.example.test/metadata";
    e.acsUrl = "https://sp.example.test/acs";
    e.requestId = "_request-0123456789abcdef";
    e.now = 1796817600;  // 2026-12-09T12:00:00Z, inside every file's window
    e.skipReplayCheck = true;
    e.spDecryptionKeys = {
        Key::loadPrivateKey(readFile(kIdpDir + "/test-only-sp-encryption.key.pem") +
                            readFile(kIdpDir + "/test-only-sp-encryption.crt.pem"))
            .value()};
    return e;
}

void PrintTo(const IdpResponse& row, std::ostream* out) { *out << row.name; }

class RealIdp : public ::testing::TestWithParam<IdpResponse> {};

TEST_P(RealIdp, EncryptedResponseGivesTheUsersLogin) {
    const IdpResponse& row = GetParam();
    const Outcome o = verify(readFile(kIdpDir + "/" + row.file), idpExpectations());
    if (!row.accepted) {
        EXPECT_EQ(o.status, -7);
        EXPECT_EQ(o.message, row.message);
        EXPECT_EQ(o.rsaOperations, 0u);
        return;
    }
    ASSERT_EQ(o.status, 0) << o.message;
    EXPECT_TRUE(o.login.assertionEncrypted);
    EXPECT_EQ(o.login.nameId, "zo\xc3\xab-persistent-42");
    EXPECT_EQ(o.login.nameIdFormat, "urn:oasis:names:tc:SAML:2.0:nameid-format:persistent");
    EXPECT_EQ(o.login.spNameQualifier, row.qualified ? "https://sp.example.test/metadata" : "");
    EXPECT_EQ(o.login.inResponseTo, "_request-0123456789abcdef");
    ASSERT_EQ(o.login.attributes.count("displayName"), 1u);
    EXPECT_EQ(o.login.attributes.at("displayName").values,
              std::vector<std::string>{"Zo\xc3\xab \xc3\x85str\xc3\xb6m"});
    ASSERT_EQ(o.login.attributes.count("eduPersonAffiliation"), 1u);
    EXPECT_EQ(o.login.attributes.at("eduPersonAffiliation").values,
              (std::vector<std::string>{"member", "student"}));
    EXPECT_EQ(o.login.attributes.at("mail").values,
              std::vector<std::string>{"zoe.astrom@example.test"});
}

INSTANTIATE_TEST_SUITE_P(Files, RealIdp, ::testing::ValuesIn(kIdpResponses),
                         [](const ::testing::TestParamInfo<IdpResponse>& row) {
                             return row.param.name;
                         });

// The control of the CBC rule on real output: SimpleSAMLphp's CBC with the
// Response signature taken out is refused until the host allows it.
TEST(RealIdpCbc, WithoutTheResponseSignatureCbcNeedsTheOptIn) {
    std::string text =
        readFile(kIdpDir + "/simplesamlphp-aes128cbc-rsaoaep-response-and-assertion-signed.xml");
    const std::size_t from = text.find("<ds:Signature");
    const std::size_t to = text.find("</ds:Signature>", from);
    ASSERT_NE(to, std::string::npos);
    text.erase(from, to + std::string("</ds:Signature>").size() - from);
    LoginExpectations e = idpExpectations();
    const Outcome refused = verify(text, e);
    EXPECT_EQ(refused.status, -7);
    EXPECT_EQ(refused.message, kCbcRefused);
    e.allowCbcWithoutResponseSignature = true;
    const Outcome allowed = verify(text, e);
    EXPECT_EQ(allowed.status, 0) << allowed.message;
    EXPECT_EQ(allowed.login.nameId, "zo\xc3\xab-persistent-42");
}

}  // namespace
