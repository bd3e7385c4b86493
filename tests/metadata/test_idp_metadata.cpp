// IdP metadata in, verified: documents signed at test time by the xmlsec1
// tool with a key generated at test time (the pinned metadata signer),
// read through loadIdpMetadata and loadIdpDescriptor. Every refusal is
// checked for its status and its one exact message, with an honest control
// beside it that differs only in what the refusal is about.
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include <corvane/corvane.h>

#include "corvane_test_support.h"
#include "generated_keys.h"
#include "login_samples.h"
#include "xml/screening.h"
#include "xml/time.h"

namespace {

using namespace corvane_test;
using corvane::IdpDescriptor;
using corvane::IdpMetadataOptions;
using corvane::IdpMetadataPtr;
using corvane::KeyPtr;
using corvane::Result;
using corvane::Status;

const char kMdNs[] = "urn:oasis:names:tc:SAML:2.0:metadata";
const char kRedirect[] = "urn:oasis:names:tc:SAML:2.0:bindings:HTTP-Redirect";
const char kPost[] = "urn:oasis:names:tc:SAML:2.0:bindings:HTTP-POST";
const char kTransient[] = "urn:oasis:names:tc:SAML:2.0:nameid-format:transient";
const char kPersistent[] = "urn:oasis:names:tc:SAML:2.0:nameid-format:persistent";
const char kAesGcm[] = "http://www.w3.org/2009/xmlenc11#aes256-gcm";
const char kRsaOaep[] = "http://www.w3.org/2001/04/xmlenc#rsa-oaep-mgf1p";

// "YYYY-MM-DDThh:mm:ssZ" as seconds since the epoch.
long long utc(const char* text) {
    long long seconds = 0;
    bool fractional = false;
    if (!corvane::internal::parseDateTime(text, &seconds, &fractional))
        ADD_FAILURE() << "bad test time " << text;
    return seconds;
}
const long long kNow = utc("2025-06-01T00:00:00Z");
const char kValidUntil[] = "2025-06-08T00:00:00Z";  // 7 days after kNow

// ---- Certificates and keys ----------------------------------------------------

// The base64 body of a PEM certificate, on one line.
std::string certificateBody(const std::string& pem) {
    std::string body;
    std::string::size_type at = pem.find("-----BEGIN CERTIFICATE-----");
    at = pem.find('\n', at) + 1;
    const std::string::size_type end = pem.find("-----END CERTIFICATE-----", at);
    for (; at < end; ++at)
        if (pem[at] != '\n' && pem[at] != '\r') body += pem[at];
    return body;
}

// The pinned metadata signer: generated at test time.
const GeneratedKey& signerKey() { return generatedRsaKey(2048); }
// A second IdP signing certificate (rollover), also generated.
const GeneratedKey& rolloverKey() { return generatedEcKey("prime256v1"); }

KeyPtr loaded(const std::string& pem) {
    const Result<KeyPtr> key = corvane::Key::loadCertificate(pem);
    EXPECT_TRUE(key.ok()) << key.message();
    return key.ok() ? key.value() : KeyPtr();
}

// ---- Signing with the xmlsec1 tool --------------------------------------------

struct ScratchDir {
    std::string path;
    ScratchDir() {
        char pattern[] = "/tmp/corvane-metadata-XXXXXX";
        const char* made = mkdtemp(pattern);
        path = made ? made : "";
    }
    ~ScratchDir() {
        for (const char* name : {"in.xml", "out.xml", "tool.txt", "signer.pem", "other.pem"})
            unlink((path + "/" + name).c_str());
        rmdir(path.c_str());
    }
};
std::string scratch(const char* name) {
    static ScratchDir dir;
    return dir.path + "/" + name;
}

enum class Signer { Pinned, Other };

// The first ds:Signature template of xml signed by the xmlsec1 tool, with
// registerIds the ID attributes of both metadata descriptors registered.
std::string xmlsec1Sign(const std::string& xml, Signer signer, bool registerIds) {
    static std::map<std::string, std::string> cache;
    const std::string cacheKey =
        (signer == Signer::Pinned ? "P" : "O") + std::string(registerIds ? "I" : "") + xml;
    if (cache.count(cacheKey)) return cache[cacheKey];
    std::string keyFile = scratch("other.pem");
    if (signer == Signer::Pinned) {
        keyFile = scratch("signer.pem");
        writeFile(keyFile, signerKey().privateKeyPem);
    } else {
        writeFile(keyFile, spKey());
    }
    writeFile(scratch("in.xml"), xml);
    std::vector<std::string> args = {"--sign", "--privkey-pem", keyFile};
    if (registerIds) {
        args.insert(args.end(), {"--id-attr:ID", std::string(kMdNs) + ":EntitiesDescriptor",
                                 "--id-attr:ID", std::string(kMdNs) + ":EntityDescriptor"});
    }
    args.insert(args.end(), {"--output", scratch("out.xml"), scratch("in.xml")});
    std::string output;
    if (runProgram(CORVANE_XMLSEC1_PROGRAM, args, scratch("tool.txt"), &output) != 0) {
        ADD_FAILURE() << "xmlsec1 could not sign:\n" << output << "\n" << xml.substr(0, 400);
        return std::string();
    }
    return cache[cacheKey] = readFile(scratch("out.xml"));
}

enum class Alg { RsaSha256, RsaSha1 };

std::string signatureTemplate(const std::string& uri, Alg alg = Alg::RsaSha256) {
    const bool sha1 = alg == Alg::RsaSha1;
    return std::string(
               "<ds:Signature xmlns:ds=\"http://www.w3.org/2000/09/xmldsig#\"><ds:SignedInfo>"
               "<ds:CanonicalizationMethod Algorithm=\"http://www.w3.org/2001/10/xml-exc-c14n#\"/>"
               "<ds:SignatureMethod Algorithm=\"") +
           (sha1 ? "http://www.w3.org/2000/09/xmldsig#rsa-sha1"
                 : "http://www.w3.org/2001/04/xmldsig-more#rsa-sha256") +
           "\"/><ds:Reference URI=\"" + uri +
           "\"><ds:Transforms><ds:Transform Algorithm=\"http://www.w3.org/2000/09/"
           "xmldsig#enveloped-signature\"/><ds:Transform Algorithm=\"http://www.w3.org/2001/10/"
           "xml-exc-c14n#\"/></ds:Transforms><ds:DigestMethod Algorithm=\"" +
           (sha1 ? "http://www.w3.org/2000/09/xmldsig#sha1"
                 : "http://www.w3.org/2001/04/xmlenc#sha256") +
           "\"/><ds:DigestValue/></ds:Reference></ds:SignedInfo><ds:SignatureValue/></"
           "ds:Signature>";
}

// Replaces the {{SIGNATURE}} marker with a template referring to uri and
// signs it; the marker is simply removed for Unsigned.
enum class Signing { Pinned, Other, Unsigned };
std::string signedAt(const std::string& text, const std::string& uri,
                     Signing signing = Signing::Pinned, Alg alg = Alg::RsaSha256) {
    if (signing == Signing::Unsigned) return replaceAll(text, "{{SIGNATURE}}", "");
    // An empty URI covers the whole document: no ID needs registering.
    return xmlsec1Sign(replaceAll(text, "{{SIGNATURE}}", signatureTemplate(uri, alg)),
                       signing == Signing::Pinned ? Signer::Pinned : Signer::Other, !uri.empty());
}

// ---- Metadata texts -----------------------------------------------------------

const char kNamespaces[] =
    " xmlns:md=\"urn:oasis:names:tc:SAML:2.0:metadata\""
    " xmlns:ds=\"http://www.w3.org/2000/09/xmldsig#\"";

std::string keyDescriptor(const std::string& useAttribute, const std::string& certificate,
                          const std::string& extra = "") {
    return "<md:KeyDescriptor" + useAttribute + "><ds:KeyInfo><ds:X509Data><ds:X509Certificate>\n" +
           certificate + "\n</ds:X509Certificate></ds:X509Data></ds:KeyInfo>" + extra +
           "</md:KeyDescriptor>";
}

// An IdP entity on host: two signing certificates (use="signing" and no
// use), an encryption certificate with two methods, SLO and SSO by both
// bindings, two NameIDFormats. rootAttributes go into its start tag, and
// {{SIGNATURE}} follows the start tag when it is the root.
std::string idpEntity(const std::string& host, const std::string& rootAttributes = "",
                      bool signatureMarker = false) {
    return "<md:EntityDescriptor entityID=\"https://" + host + "/idp\" ID=\"_" + host + "\"" +
           rootAttributes + ">" + (signatureMarker ? "{{SIGNATURE}}" : "") +
           "<md:IDPSSODescriptor WantAuthnRequestsSigned=\"true\" "
           "protocolSupportEnumeration=\"urn:oasis:names:tc:SAML:2.0:protocol\">" +
           keyDescriptor(" use=\"signing\"", certificateBody(idpCert())) +
           keyDescriptor("", certificateBody(rolloverKey().certificatePem)) +
           keyDescriptor(" use=\"encryption\"", certificateBody(spCert()),
                         std::string("<md:EncryptionMethod Algorithm=\"") + kAesGcm +
                             "\"/><md:EncryptionMethod Algorithm=\"" + kRsaOaep + "\"/>") +
           "<md:SingleLogoutService Binding=\"" + kRedirect + "\" Location=\"https://" + host +
           "/slo\" ResponseLocation=\"https://" + host + "/slo-response\"/>" +
           "<md:NameIDFormat>\n  " + kTransient + "\n</md:NameIDFormat><md:NameIDFormat>" +
           kPersistent + "</md:NameIDFormat>" + "<md:SingleSignOnService Binding=\"" + kRedirect +
           "\" Location=\"https://" + host + "/sso/redirect\"/><md:SingleSignOnService Binding=\"" +
           kPost + "\" Location=\"https://" + host + "/sso/post\"/>" +
           "</md:IDPSSODescriptor></md:EntityDescriptor>";
}

std::string spEntity(const std::string& host) {
    return "<md:EntityDescriptor entityID=\"https://" + host +
           "/sp\"><md:SPSSODescriptor "
           "protocolSupportEnumeration=\"urn:oasis:names:tc:SAML:2.0:protocol\">"
           "<md:AssertionConsumerService Binding=\"" +
           std::string(kPost) + "\" Location=\"https://" + host +
           "/acs\" index=\"0\"/></md:SPSSODescriptor></md:EntityDescriptor>";
}

// One IdP's own file, signed over its root ("#_idp.one.test").
std::string singleIdpText(const std::string& validity = std::string(" validUntil=\"") +
                                                        kValidUntil + "\" cacheDuration=\"PT6H\"") {
    return idpEntity("idp.one.test", kNamespaces + validity, true);
}
std::string signedSingleIdp() { return signedAt(singleIdpText(), "#_idp.one.test"); }

// A federation's aggregate: an SP, IdP a, a nested group (earlier
// validUntil, shorter cacheDuration) with IdP b and another SP, then IdP c.
std::string aggregateText(const std::string& body = "",
                          const std::string& validity = std::string(" validUntil=\"") +
                                                        kValidUntil + "\" cacheDuration=\"P1D\"") {
    return std::string("<md:EntitiesDescriptor") + kNamespaces + " ID=\"_aggregate\"" +
           " Name=\"urn:test:federation\"" + validity + ">{{SIGNATURE}}" + spEntity("sp.one.test") +
           idpEntity("idp.a.test") +
           "<md:EntitiesDescriptor Name=\"urn:test:group\" validUntil=\"2025-06-05T00:00:00Z\" "
           "cacheDuration=\"PT1H\">" +
           idpEntity("idp.b.test") + spEntity("sp.two.test") + "</md:EntitiesDescriptor>" +
           idpEntity("idp.c.test") + body + "</md:EntitiesDescriptor>";
}
std::string signedAggregate(const std::string& body = "") {
    return signedAt(aggregateText(body), "#_aggregate");
}

IdpMetadataOptions pinned() {
    IdpMetadataOptions options;
    options.signerKeys = {loaded(signerKey().certificatePem)};
    options.now = kNow;
    return options;
}

// The call's status and message, for table rows.
struct Outcome {
    Status status;
    std::string message;
};
template <typename T>
Outcome outcomeOf(const Result<T>& result) {
    return {result.status(), result.message()};
}
void expectOutcome(const Outcome& got, Status status, const std::string& message) {
    EXPECT_EQ(got.status, status) << got.message;
    EXPECT_EQ(got.message, message);
}

class IdpMetadataTest : public RecordingTest {};

// ---- Honest documents ---------------------------------------------------------

TEST_F(IdpMetadataTest, SingleIdpSignedOverItsRootGivesEveryField) {
    const Result<IdpDescriptor> idp =
        corvane::loadIdpDescriptor(signedSingleIdp(), pinned(), "https://idp.one.test/idp");
    ASSERT_TRUE(idp.ok()) << idp.message();
    const IdpDescriptor& d = idp.value();
    EXPECT_EQ(d.entityId, "https://idp.one.test/idp");
    ASSERT_EQ(d.singleSignOnServices.size(), 2u);
    EXPECT_EQ(d.singleSignOnServices[0].binding, kRedirect);
    EXPECT_EQ(d.singleSignOnServices[0].location, "https://idp.one.test/sso/redirect");
    EXPECT_EQ(d.singleSignOnServices[1].binding, kPost);
    EXPECT_EQ(d.singleSignOnServices[1].location, "https://idp.one.test/sso/post");
    ASSERT_EQ(d.singleLogoutServices.size(), 1u);
    EXPECT_EQ(d.singleLogoutServices[0].location, "https://idp.one.test/slo");
    EXPECT_EQ(d.singleLogoutServices[0].responseLocation, "https://idp.one.test/slo-response");
    // use="signing" and the KeyDescriptor without use, in order.
    ASSERT_EQ(d.signingKeys.size(), 2u);
    EXPECT_EQ(d.signingKeys[0]->certificateBase64(), certificateBody(idpCert()));
    EXPECT_EQ(d.signingKeys[1]->certificateBase64(), certificateBody(rolloverKey().certificatePem));
    // The KeyDescriptor without use also serves encryption, without methods.
    ASSERT_EQ(d.encryptionCertificates.size(), 2u);
    EXPECT_EQ(d.encryptionCertificates[0].key->certificateBase64(),
              certificateBody(rolloverKey().certificatePem));
    EXPECT_TRUE(d.encryptionCertificates[0].encryptionMethods.empty());
    EXPECT_EQ(d.encryptionCertificates[1].key->certificateBase64(), certificateBody(spCert()));
    EXPECT_EQ(d.encryptionCertificates[1].encryptionMethods,
              (std::vector<std::string>{kAesGcm, kRsaOaep}));
    EXPECT_EQ(d.nameIdFormats, (std::vector<std::string>{kTransient, kPersistent}));
    EXPECT_TRUE(d.wantAuthnRequestsSigned);
    EXPECT_EQ(d.validUntil, utc(kValidUntil));
    EXPECT_EQ(d.cacheDurationSeconds, 6 * 3600);
}

TEST_F(IdpMetadataTest, AggregateListsEveryIdpAndFindsEachByItsOwnId) {
    const Result<IdpMetadataPtr> metadata = corvane::loadIdpMetadata(signedAggregate(), pinned());
    ASSERT_TRUE(metadata.ok()) << metadata.message();
    const corvane::IdpMetadata& m = *metadata.value();
    EXPECT_EQ(m.idpEntityIds(),
              (std::vector<std::string>{"https://idp.a.test/idp", "https://idp.b.test/idp",
                                        "https://idp.c.test/idp"}));
    EXPECT_EQ(m.entityCount(), 5u);
    EXPECT_EQ(m.validUntil(), utc(kValidUntil));
    EXPECT_EQ(m.cacheDurationSeconds(), 86400);
    for (const char* host : {"idp.a.test", "idp.b.test", "idp.c.test"}) {
        const Result<IdpDescriptor> idp = m.idp(std::string("https://") + host + "/idp");
        ASSERT_TRUE(idp.ok()) << idp.message();
        EXPECT_EQ(idp.value().entityId, std::string("https://") + host + "/idp");
        EXPECT_EQ(idp.value().singleSignOnServices[0].location,
                  std::string("https://") + host + "/sso/redirect");
    }
    // The nested group's earlier validUntil and shorter cacheDuration apply
    // to its IdP alone.
    EXPECT_EQ(m.idp("https://idp.b.test/idp").value().validUntil, utc("2025-06-05T00:00:00Z"));
    EXPECT_EQ(m.idp("https://idp.b.test/idp").value().cacheDurationSeconds, 3600);
    EXPECT_EQ(m.idp("https://idp.c.test/idp").value().validUntil, utc(kValidUntil));
    EXPECT_EQ(m.idp("https://idp.c.test/idp").value().cacheDurationSeconds, 86400);
}

TEST_F(IdpMetadataTest, AggregateSignedWithAnEmptyReferenceIsAccepted) {
    const Result<IdpMetadataPtr> metadata =
        corvane::loadIdpMetadata(signedAt(aggregateText(), ""), pinned());
    ASSERT_TRUE(metadata.ok()) << metadata.message();
    EXPECT_EQ(metadata.value()->idpEntityIds().size(), 3u);
}

TEST_F(IdpMetadataTest, SecondPinnedKeyAcceptsForRollover) {
    IdpMetadataOptions options = pinned();
    options.signerKeys.insert(options.signerKeys.begin(), loaded(spCert()));
    const Result<IdpMetadataPtr> metadata = corvane::loadIdpMetadata(signedAggregate(), options);
    EXPECT_TRUE(metadata.ok()) << metadata.message();
}

// ---- Trust: refusals and their controls -----------------------------------------

struct TrustRow {
    std::string name;
    std::function<std::string()> text;
    std::function<void(IdpMetadataOptions&)> adjust;
    Status status;
    std::string message;  // empty: accepted
};

std::string wrappedInnerEntity() {
    // An entity signed over its own ID by the pinned key, put inside an
    // unsigned aggregate beside an IdP nobody signed.
    const std::string signedEntity = signedSingleIdp();
    const std::string entity = signedEntity.substr(signedEntity.find("<md:EntityDescriptor"));
    return std::string("<md:EntitiesDescriptor") + kNamespaces + ">" +
           replaceAll(entity, kNamespaces, "") + idpEntity("evil.test") +
           "</md:EntitiesDescriptor>";
}

std::string twoRootSignatures() {
    const std::string once = signedSingleIdp();
    const std::string::size_type start = once.find("<ds:Signature");
    const std::string::size_type end = once.find("</ds:Signature>") + 15;
    const std::string signature = once.substr(start, end - start);
    return once.substr(0, end) + signature + once.substr(end);
}

const std::vector<TrustRow>& trustRows() {
    static const std::vector<TrustRow> rows = {
        {"SignedByThePinnedKey", signedSingleIdp, nullptr, Status::Ok, ""},
        {"Unsigned", [] { return signedAt(singleIdpText(), "", Signing::Unsigned); }, nullptr,
         Status::NotAuthentic, "IdP metadata is not signed"},
        {"UnsignedWithTrustUnsignedMetadata",
         [] { return signedAt(singleIdpText(), "", Signing::Unsigned); },
         [](IdpMetadataOptions& o) {
             o.signerKeys.clear();
             o.trustUnsignedMetadata = true;
         },
         Status::Ok, ""},
        {"SignedByAnotherKey",
         [] { return signedAt(singleIdpText(), "#_idp.one.test", Signing::Other); }, nullptr,
         Status::NotAuthentic, "IdP metadata signature does not verify with any pinned signer key"},
        {"SignedByAnotherKeyThatIsPinnedToo",
         [] { return signedAt(singleIdpText(), "#_idp.one.test", Signing::Other); },
         [](IdpMetadataOptions& o) { o.signerKeys.push_back(loaded(spCert())); }, Status::Ok, ""},
        {"SignedOnlyOnAnInnerEntityUnderAnUnsignedRoot", wrappedInnerEntity, nullptr,
         Status::NotAuthentic,
         "IdP metadata is signed only on an element inside its root, not on the root"},
        {"SignatureReferringToAnInnerEntity",
         [] { return signedAt(aggregateText(), "#_idp.a.test"); }, nullptr, Status::NotAuthentic,
         "IdP metadata signature does not refer to its root element"},
        {"TwoSignaturesOnTheRoot", twoRootSignatures, nullptr, Status::NotAuthentic,
         "IdP metadata carries more than one signature on its root element"},
        {"TamperedAfterSigning",
         [] {
             return replaceAll(signedSingleIdp(), "https://idp.one.test/sso/post",
                               "https://evil.test/sso");
         },
         nullptr, Status::NotAuthentic,
         "IdP metadata signature does not verify with any pinned signer key"},
        {"SignedWithSha1",
         [] { return signedAt(singleIdpText(), "#_idp.one.test", Signing::Pinned, Alg::RsaSha1); },
         nullptr, Status::NotAuthentic,
         "IdP metadata signature uses SHA-1, which is refused unless allowSha1 is set"},
        {"SignedWithSha1AndAllowSha1",
         [] { return signedAt(singleIdpText(), "#_idp.one.test", Signing::Pinned, Alg::RsaSha1); },
         [](IdpMetadataOptions& o) { o.allowSha1 = true; }, Status::Ok, ""},
        {"AnIdGivenTwice",
         // Signed over the whole document: the xmlsec1 tool itself
         // refuses to register an ID twice.
         [] {
             return signedAt(aggregateText(idpEntity("idp.d.test") +
                                           "<md:EntitiesDescriptor ID=\"_idp.d.test\"/>"),
                             "");
         },
         nullptr, Status::NotAuthentic,
         "IdP metadata contains the ID \"_idp.d.test\" more than once"},
        {"EveryIdOnce", [] { return signedAggregate(idpEntity("idp.d.test")); }, nullptr,
         Status::Ok, ""},
        {"NoKeysAndNoTrust", signedSingleIdp, [](IdpMetadataOptions& o) { o.signerKeys.clear(); },
         Status::BadOptions,
         "IdP metadata options are incomplete: give a pinned signer key, or trust unsigned "
         "metadata"},
        {"KeysAndTrustUnsignedAtOnce", signedSingleIdp,
         [](IdpMetadataOptions& o) { o.trustUnsignedMetadata = true; }, Status::BadOptions,
         "IdP metadata options are not usable: pinned signer keys and trustUnsignedMetadata "
         "exclude each other"},
        {"NullSignerKey", signedSingleIdp,
         [](IdpMetadataOptions& o) { o.signerKeys.push_back(KeyPtr()); }, Status::BadOptions,
         "IdP metadata options are not usable: a signer key is null"},
        {"NegativeValidityBound", signedSingleIdp,
         [](IdpMetadataOptions& o) { o.maxValidityAheadSeconds = -1; }, Status::BadOptions,
         "IdP metadata options are not usable: maxValidityAheadSeconds is negative"},
        {"NotMetadata",
         [] {
             return signedAt(std::string("<md:AffiliationDescriptor") + kNamespaces +
                                 " ID=\"_a\">{{SIGNATURE}}</md:AffiliationDescriptor>",
                             "");
         },
         nullptr, Status::Unusable,
         "SAML metadata is neither an md:EntityDescriptor nor an md:EntitiesDescriptor"},
        {"NotWellFormed", [] { return std::string("<md:EntityDescriptor"); }, nullptr,
         Status::Unusable, "IdP metadata is not well-formed XML"},
    };
    return rows;
}

// Rows print by name (valgrind sees no padding bytes read).
void PrintTo(const TrustRow& row, std::ostream* out) { *out << row.name; }

class TrustTest : public ::testing::TestWithParam<TrustRow> {
protected:
    void SetUp() override { Recorder::reset(); }
};

TEST_P(TrustTest, DocumentIsReadOnlyWhenSignedOverItsRootByAPinnedKey) {
    const TrustRow& row = GetParam();
    IdpMetadataOptions options = pinned();
    if (row.adjust) row.adjust(options);
    const Result<IdpMetadataPtr> metadata = corvane::loadIdpMetadata(row.text(), options);
    expectOutcome(outcomeOf(metadata), row.status, row.message);
    if (metadata.ok()) {
        EXPECT_FALSE(metadata.value()->idpEntityIds().empty());
        for (const std::string& id : metadata.value()->idpEntityIds())
            EXPECT_EQ(id.find("evil"), std::string::npos) << id;
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, TrustTest, ::testing::ValuesIn(trustRows()), RowName());

// ---- Validity and entities: refusals and their controls ---------------------------

struct ProfileRow {
    std::string name;
    std::string text;  // signed over "#_aggregate" / "#_idp.one.test" by the pinned key
    std::function<void(IdpMetadataOptions&)> adjust;
    Status status;
    std::string message;
};

std::string singleWith(const std::string& validity) {
    return signedAt(singleIdpText(validity), "#_idp.one.test");
}
const char kTwoWeeks[] = "IdP metadata validUntil %s lies more than 1209600 seconds ahead";

const std::vector<ProfileRow>& profileRows() {
    static const std::vector<ProfileRow> rows = {
        {"ValidUntilAhead", singleWith(" validUntil=\"2025-06-01T00:00:01Z\""), nullptr, Status::Ok,
         ""},
        {"ValidUntilNow", singleWith(" validUntil=\"2025-06-01T00:00:00Z\""), nullptr,
         Status::ProfileRefused,
         "IdP metadata expired: validUntil 2025-06-01T00:00:00Z has passed"},
        {"ValidUntilPast", singleWith(" validUntil=\"2020-01-01T00:00:00Z\""), nullptr,
         Status::ProfileRefused,
         "IdP metadata expired: validUntil 2020-01-01T00:00:00Z has passed"},
        {"NoValidUntilNotRequired", singleWith(""), nullptr, Status::Ok, ""},
        {"NoValidUntilRequired", singleWith(""),
         [](IdpMetadataOptions& o) { o.requireValidUntil = true; }, Status::ProfileRefused,
         "IdP metadata has no validUntil, which the options require"},
        {"ValidUntilRequiredAndPresent",
         singleWith(std::string(" validUntil=\"") + kValidUntil + "\""),
         [](IdpMetadataOptions& o) { o.requireValidUntil = true; }, Status::Ok, ""},
        {"ValidUntilFourteenDaysAhead", singleWith(" validUntil=\"2025-06-15T00:00:00Z\""),
         [](IdpMetadataOptions& o) { o.maxValidityAheadSeconds = 14 * 86400; }, Status::Ok, ""},
        {"ValidUntilTooFarAhead", singleWith(" validUntil=\"2025-06-15T00:00:01Z\""),
         [](IdpMetadataOptions& o) { o.maxValidityAheadSeconds = 14 * 86400; },
         Status::ProfileRefused,
         "IdP metadata validUntil 2025-06-15T00:00:01Z lies more than 1209600 seconds ahead"},
        {"ValidUntilNotATimeStamp", singleWith(" validUntil=\"tomorrow\""), nullptr,
         Status::Unusable, "IdP metadata validUntil \"tomorrow\" is not a time stamp"},
        {"CacheDurationNotADuration", singleWith(" cacheDuration=\"6 hours\""), nullptr,
         Status::Unusable, "IdP metadata cacheDuration \"6 hours\" is not a duration"},
        {"EntityIdGivenTwice",
         signedAggregate(
             replaceAll(idpEntity("idp.a.test"), "ID=\"_idp.a.test\"", "ID=\"_second\"")),
         nullptr, Status::ProfileRefused,
         "IdP metadata contains the entity ID \"https://idp.a.test/idp\" more than once"},
        {"AnotherEntityId", signedAggregate(idpEntity("idp.d.test")), nullptr, Status::Ok, ""},
        {"EntityWithoutEntityId",
         signedAggregate("<md:EntityDescriptor><md:SPSSODescriptor protocolSupportEnumeration="
                         "\"urn:oasis:names:tc:SAML:2.0:protocol\"/></md:EntityDescriptor>"),
         nullptr, Status::Unusable, "IdP metadata has an EntityDescriptor without entityID"},
        {"MoreEntitiesThanAllowed", signedAggregate(),
         [](IdpMetadataOptions& o) { o.maxEntities = 4; }, Status::Unusable,
         "IdP metadata holds more than 4 entities"},
        {"AsManyEntitiesAsAllowed", signedAggregate(),
         [](IdpMetadataOptions& o) { o.maxEntities = 5; }, Status::Ok, ""},
    };
    return rows;
}

void PrintTo(const ProfileRow& row, std::ostream* out) { *out << row.name; }

class ProfileTest : public ::testing::TestWithParam<ProfileRow> {
protected:
    void SetUp() override { Recorder::reset(); }
};

TEST_P(ProfileTest, ValidityAndEntityIdsAsTheOptionsRequire) {
    const ProfileRow& row = GetParam();
    IdpMetadataOptions options = pinned();
    if (row.adjust) row.adjust(options);
    expectOutcome(outcomeOf(corvane::loadIdpMetadata(row.text, options)), row.status, row.message);
}

INSTANTIATE_TEST_SUITE_P(Rows, ProfileTest, ::testing::ValuesIn(profileRows()), RowName());

// ---- Lookups: refusals and their controls ------------------------------------------

struct LookupRow {
    std::string name;
    std::string body;  // entities added to the aggregate
    std::string entityId;
    Status status;
    std::string message;
};

std::string withoutSigningKey(const std::string& host) {
    std::string entity = idpEntity(host);
    entity = cutOut(entity, "<md:KeyDescriptor use=\"signing\">", "</md:KeyDescriptor>");
    return cutOut(entity, "<md:KeyDescriptor>", "</md:KeyDescriptor>");
}

const std::vector<LookupRow>& lookupRows() {
    static const std::vector<LookupRow> rows = {
        {"AnIdp", "", "https://idp.a.test/idp", Status::Ok, ""},
        {"AnSp", "", "https://sp.one.test/sp", Status::ProfileRefused,
         "IdP metadata entity \"https://sp.one.test/sp\" has no IDPSSODescriptor for SAML 2.0"},
        {"AnIdpRoleForAnotherProtocolOnly",
         replaceAll(idpEntity("idp.d.test"),
                    "protocolSupportEnumeration=\"urn:oasis:names:tc:SAML:2.0:protocol\"",
                    "protocolSupportEnumeration=\"urn:oasis:names:tc:SAML:1.1:protocol\""),
         "https://idp.d.test/idp", Status::ProfileRefused,
         "IdP metadata entity \"https://idp.d.test/idp\" has no IDPSSODescriptor for SAML 2.0"},
        {"AnIdpRoleAmongSeveralProtocols",
         replaceAll(idpEntity("idp.d.test"),
                    "protocolSupportEnumeration=\"urn:oasis:names:tc:SAML:2.0:protocol\"",
                    "protocolSupportEnumeration=\"urn:oasis:names:tc:SAML:1.1:protocol "
                    "urn:oasis:names:tc:SAML:2.0:protocol\""),
         "https://idp.d.test/idp", Status::Ok, ""},
        {"NoEntityOfThatId", "", "https://idp.a.test/idp/", Status::BadOptions,
         "IdP metadata holds no entity \"https://idp.a.test/idp/\""},
        {"NoSigningKey", withoutSigningKey("idp.d.test"), "https://idp.d.test/idp",
         Status::ProfileRefused,
         "IdP metadata entity \"https://idp.d.test/idp\" has no signing certificate"},
        {"OnlyAKeyDescriptorWithoutUse",
         cutOut(idpEntity("idp.d.test"), "<md:KeyDescriptor use=\"signing\">",
                "</md:KeyDescriptor>"),
         "https://idp.d.test/idp", Status::Ok, ""},
        {"ExpiredEntityInAValidAggregate",
         replaceAll(idpEntity("idp.d.test"), "ID=\"_idp.d.test\"",
                    "ID=\"_idp.d.test\" validUntil=\"2025-05-31T00:00:00Z\""),
         "https://idp.d.test/idp", Status::ProfileRefused,
         "IdP metadata entity \"https://idp.d.test/idp\" expired: validUntil 2025-05-31T00:00:00Z "
         "has passed"},
        {"ExpiredIdpRole",
         replaceAll(idpEntity("idp.d.test"), "<md:IDPSSODescriptor ",
                    "<md:IDPSSODescriptor validUntil=\"2025-05-31T00:00:00Z\" "),
         "https://idp.d.test/idp", Status::ProfileRefused,
         "IdP metadata entity \"https://idp.d.test/idp\" expired: validUntil 2025-05-31T00:00:00Z "
         "has passed"},
        {"CertificateThatDoesNotLoad",
         replaceAll(idpEntity("idp.d.test"), certificateBody(idpCert()), "QUJDRA=="),
         "https://idp.d.test/idp", Status::Unusable,
         "IdP metadata entity \"https://idp.d.test/idp\": Can not load IDP public key"},
        {"EntityValidUntilUnreadable",
         replaceAll(idpEntity("idp.d.test"), "ID=\"_idp.d.test\"",
                    "ID=\"_idp.d.test\" validUntil=\"soon\""),
         "https://idp.d.test/idp", Status::Unusable,
         "IdP metadata entity \"https://idp.d.test/idp\": IdP metadata validUntil \"soon\" is not "
         "a "
         "time stamp"},
        {"TwoIdpRoles",
         replaceAll(idpEntity("idp.d.test"), "</md:IDPSSODescriptor>",
                    "</md:IDPSSODescriptor><md:IDPSSODescriptor protocolSupportEnumeration="
                    "\"urn:oasis:names:tc:SAML:2.0:protocol\"/>"),
         "https://idp.d.test/idp", Status::ProfileRefused,
         "IdP metadata entity \"https://idp.d.test/idp\" has more than one IDPSSODescriptor for "
         "SAML 2.0"},
    };
    return rows;
}

void PrintTo(const LookupRow& row, std::ostream* out) { *out << row.name; }

class LookupTest : public ::testing::TestWithParam<LookupRow> {
protected:
    void SetUp() override { Recorder::reset(); }
};

TEST_P(LookupTest, EachEntityIsUsableOnlyAsTheIdpItDescribes) {
    const LookupRow& row = GetParam();
    const Result<IdpMetadataPtr> metadata =
        corvane::loadIdpMetadata(signedAggregate(row.body), pinned());
    ASSERT_TRUE(metadata.ok()) << metadata.message();
    const Result<IdpDescriptor> idp = metadata.value()->idp(row.entityId);
    expectOutcome(outcomeOf(idp), row.status, row.message);
    if (idp.ok()) {
        EXPECT_EQ(idp.value().entityId, row.entityId);
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, LookupTest, ::testing::ValuesIn(lookupRows()), RowName());

TEST_F(IdpMetadataTest, WithoutAnEntityIdOnlyTheDocumentsOneIdpIsChosen) {
    expectOutcome(outcomeOf(corvane::loadIdpDescriptor(signedAggregate(), pinned())),
                  Status::BadOptions, "IdP metadata holds 3 IdPs: name the entity ID of one");
    const Result<IdpDescriptor> only = corvane::loadIdpDescriptor(signedSingleIdp(), pinned());
    ASSERT_TRUE(only.ok()) << only.message();
    EXPECT_EQ(only.value().entityId, "https://idp.one.test/idp");
    const std::string spOnly = signedAt(std::string("<md:EntitiesDescriptor") + kNamespaces +
                                            " ID=\"_sps\">{{SIGNATURE}}" + spEntity("sp.one.test") +
                                            "</md:EntitiesDescriptor>",
                                        "#_sps");
    expectOutcome(outcomeOf(corvane::loadIdpDescriptor(spOnly, pinned())), Status::BadOptions,
                  "IdP metadata holds no IdP");
}

// ---- Straight into use ----------------------------------------------------------

// The login fixture's IdP, described by signed metadata alone.
std::string loginIdpMetadata() {
    std::string entity =
        replaceAll(idpEntity("idp.example.test"), "https://idp.example.test/idp", kLoginIdp);
    entity = replaceAll(entity, "<md:EntityDescriptor ",
                        std::string("<md:EntityDescriptor") + kNamespaces + " ");
    entity =
        replaceAll(entity, "ID=\"_idp.example.test\">", "ID=\"_idp.example.test\">{{SIGNATURE}}");
    return signedAt(entity, "#_idp.example.test");
}

TEST_F(IdpMetadataTest, LoginConfiguredFromMetadataAloneVerifies) {
    const Result<IdpDescriptor> idp = corvane::loadIdpDescriptor(loginIdpMetadata(), pinned());
    ASSERT_TRUE(idp.ok()) << idp.message();
    corvane::LoginExpectations expectations = loginExpectations(KeyPtr());
    expectations.idpEntityId.clear();
    expectations.idpCertificates.clear();
    ASSERT_TRUE(corvane::useIdpForLogin(idp.value(), &expectations).ok());
    EXPECT_EQ(expectations.idpEntityId, kLoginIdp);
    EXPECT_EQ(expectations.idpCertificates.size(), 2u);
    const Result<corvane::VerifiedLogin> login =
        corvane::verifyLoginResponse(signedLoginResponse(), expectations);
    ASSERT_TRUE(login.ok()) << login.message();
    EXPECT_EQ(login.value().nameId, kLoginNameId);

    // Control: a descriptor with another signing key refuses the same response.
    IdpDescriptor other = idp.value();
    other.signingKeys = {loaded(spCert())};
    ASSERT_TRUE(corvane::useIdpForLogin(other, &expectations).ok());
    const Result<corvane::VerifiedLogin> refused =
        corvane::verifyLoginResponse(signedLoginResponse(), expectations);
    EXPECT_EQ(refused.status(), Status::NotAuthentic);
}

TEST_F(IdpMetadataTest, RequestDestinationIsTheSsoUrlOfTheChosenBinding) {
    const Result<IdpDescriptor> idp = corvane::loadIdpDescriptor(signedSingleIdp(), pinned());
    ASSERT_TRUE(idp.ok()) << idp.message();
    corvane::StandardRequestOptions request;
    ASSERT_TRUE(corvane::useIdpForRequest(idp.value(), kRedirect, &request).ok());
    EXPECT_EQ(request.destination, "https://idp.one.test/sso/redirect");
    ASSERT_TRUE(corvane::useIdpForRequest(idp.value(), kPost, &request).ok());
    EXPECT_EQ(request.destination, "https://idp.one.test/sso/post");

    IdpDescriptor postOnly = idp.value();
    postOnly.singleSignOnServices.erase(postOnly.singleSignOnServices.begin());
    request.destination = "unchanged";
    const Result<void> none = corvane::useIdpForRequest(postOnly, kRedirect, &request);
    expectOutcome({none.status(), none.message()}, Status::BadOptions,
                  std::string("IdP \"https://idp.one.test/idp\" has no SingleSignOnService for the "
                              "binding ") +
                      kRedirect);
    EXPECT_EQ(request.destination, "unchanged");
}

TEST_F(IdpMetadataTest, LogoutGoesToTheLocationAndIsAnsweredAtTheResponseLocation) {
    const Result<IdpDescriptor> idp = corvane::loadIdpDescriptor(signedSingleIdp(), pinned());
    ASSERT_TRUE(idp.ok()) << idp.message();
    corvane::LogoutExpectations expectations;
    ASSERT_TRUE(corvane::useIdpForLogout(idp.value(), &expectations).ok());
    EXPECT_EQ(expectations.idpEntityId, "https://idp.one.test/idp");
    EXPECT_EQ(expectations.idpCertificates.size(), 2u);

    corvane::LogoutRequestOptions request;
    ASSERT_TRUE(corvane::useIdpForLogoutRequest(idp.value(), kRedirect, &request).ok());
    EXPECT_EQ(request.destination, "https://idp.one.test/slo");
    corvane::LogoutResponseOptions response;
    ASSERT_TRUE(corvane::useIdpForLogoutResponse(idp.value(), kRedirect, &response).ok());
    EXPECT_EQ(response.destination, "https://idp.one.test/slo-response");

    // Without a ResponseLocation the answer goes to the Location.
    IdpDescriptor locationOnly = idp.value();
    locationOnly.singleLogoutServices[0].responseLocation.clear();
    ASSERT_TRUE(corvane::useIdpForLogoutResponse(locationOnly, kRedirect, &response).ok());
    EXPECT_EQ(response.destination, "https://idp.one.test/slo");

    // A binding the IdP has no logout endpoint for fills nothing.
    request.destination = "unchanged";
    const Result<void> none = corvane::useIdpForLogoutRequest(idp.value(), kPost, &request);
    expectOutcome({none.status(), none.message()}, Status::BadOptions,
                  std::string("IdP \"https://idp.one.test/idp\" has no SingleLogoutService for "
                              "the binding ") +
                      kPost);
    EXPECT_EQ(request.destination, "unchanged");
    const Result<void> noTarget = corvane::useIdpForLogoutResponse(idp.value(), kRedirect, nullptr);
    EXPECT_EQ(noTarget.status(), Status::BadOptions);
}

TEST_F(IdpMetadataTest, IncompleteDescriptorsFillNothing) {
    corvane::LoginExpectations expectations;
    IdpDescriptor empty;
    const Result<void> noId = corvane::useIdpForLogin(empty, &expectations);
    expectOutcome({noId.status(), noId.message()}, Status::BadOptions,
                  "IdP descriptor is incomplete: the entity ID is missing");
    empty.entityId = "https://idp.one.test/idp";
    const Result<void> noKey = corvane::useIdpForLogin(empty, &expectations);
    expectOutcome({noKey.status(), noKey.message()}, Status::BadOptions,
                  "IdP descriptor is incomplete: a signing key is missing");
    EXPECT_TRUE(expectations.idpEntityId.empty());
    corvane::LogoutExpectations logout;
    const Result<void> noLogoutKey = corvane::useIdpForLogout(empty, &logout);
    expectOutcome({noLogoutKey.status(), noLogoutKey.message()}, Status::BadOptions,
                  "IdP descriptor is incomplete: a signing key is missing");
    EXPECT_TRUE(logout.idpEntityId.empty());
    const Result<void> noTarget = corvane::useIdpForLogin(empty, nullptr);
    expectOutcome({noTarget.status(), noTarget.message()}, Status::BadOptions,
                  "IdP settings have nowhere to go: the target is null");
}

TEST_F(IdpMetadataTest, BareBase64CertificateLoadsAsMetadataCarriesIt) {
    const std::string body = certificateBody(idpCert());
    const Result<KeyPtr> key = corvane::loadCertificateFromBase64("\n  " + body + "\n");
    ASSERT_TRUE(key.ok()) << key.message();
    EXPECT_EQ(key.value()->certificateBase64(), body);
    expectOutcome(outcomeOf(corvane::loadCertificateFromBase64("not base64!")), Status::Unusable,
                  "Can not load IDP public key");
    expectOutcome(outcomeOf(corvane::loadCertificateFromBase64(idpCert())), Status::Unusable,
                  "Can not load IDP public key");
}

// ---- MDQ ------------------------------------------------------------------------

TEST(MdqPaths, EntityIdUrlEncodedAndItsSha1Form) {
    EXPECT_EQ(corvane::mdqEntityPath("https://idp.example.org/idp/shibboleth"),
              "/entities/https%3A%2F%2Fidp.example.org%2Fidp%2Fshibboleth");
    EXPECT_EQ(corvane::mdqEntityPath("urn:x a~b_c-d.e"), "/entities/urn%3Ax%20a~b_c-d.e");
    // printf '%s' https://idp.example.org/idp/shibboleth | sha1sum
    EXPECT_EQ(corvane::mdqSha1Path("https://idp.example.org/idp/shibboleth"),
              "/entities/%7Bsha1%7D1bec942a9ca29787c26924440ad4cb8208f9b9e4");
}

TEST_F(IdpMetadataTest, MdqAnswerIsVerifiedAndNamesTheEntityAskedFor) {
    IdpMetadataOptions options = pinned();
    options.requireValidUntil = true;
    options.maxValidityAheadSeconds = 14 * 86400;
    const Result<IdpMetadataPtr> answer = corvane::loadIdpMetadata(signedSingleIdp(), options);
    ASSERT_TRUE(answer.ok()) << answer.message();
    EXPECT_TRUE(answer.value()->idp("https://idp.one.test/idp").ok());
    expectOutcome(outcomeOf(answer.value()->idp("https://idp.two.test/idp")), Status::BadOptions,
                  "IdP metadata holds no entity \"https://idp.two.test/idp\"");
}

// ---- Size and hostile text --------------------------------------------------------

TEST_F(IdpMetadataTest, SizeLimitIsTheOptionsOwn) {
    const std::string text = signedSingleIdp();
    IdpMetadataOptions options = pinned();
    options.maxMetadataBytes = text.size();
    EXPECT_TRUE(corvane::loadIdpMetadata(text, options).ok());
    options.maxMetadataBytes = text.size() - 1;
    expectOutcome(outcomeOf(corvane::loadIdpMetadata(text, options)), Status::TooLarge,
                  "SAML message of " + std::to_string(text.size()) +
                      " bytes is larger than the limit of " + std::to_string(text.size() - 1) +
                      " bytes");
    // The default admits far more than a response's 2 MiB.
    EXPECT_EQ(IdpMetadataOptions().maxMetadataBytes, 128u << 20);
}

std::string deeplyNested(int depth) {
    std::string text = std::string("<md:EntitiesDescriptor") + kNamespaces + ">";
    for (int i = 0; i < depth; ++i) text += "<md:Extensions>";
    for (int i = 0; i < depth; ++i) text += "</md:Extensions>";
    return text + "</md:EntitiesDescriptor>";
}

std::string billionLaughs() {
    std::string text =
        "<?xml version=\"1.0\"?><!DOCTYPE md:EntitiesDescriptor [<!ENTITY l0 \"ha\">";
    for (int i = 1; i < 10; ++i) {
        text += "<!ENTITY l" + std::to_string(i) + " \"";
        for (int j = 0; j < 10; ++j) text += "&l" + std::to_string(i - 1) + ";";
        text += "\">";
    }
    return text + "]><md:EntitiesDescriptor" + kNamespaces + " Name=\"&l9;\"/>";
}

std::string manyEntities(int count) {
    std::string text = std::string("<md:EntitiesDescriptor") + kNamespaces + ">";
    text.reserve(static_cast<std::size_t>(count) * 48 + 200);
    for (int i = 0; i < count; ++i)
        text += "<md:EntityDescriptor entityID=\"https://e" + std::to_string(i) + "\"/>";
    return text + "</md:EntitiesDescriptor>";
}

struct HostileRow {
    std::string name;
    std::function<std::string()> text;
    Status status;
    std::string message;
};

TEST_F(IdpMetadataTest, HostileTextIsRefusedQuicklyWithoutCrashing) {
    const std::vector<HostileRow> rows = {
        {"BillionLaughs", billionLaughs, Status::Unusable, "SAML metadata must not contain a DTD"},
        {"DeepNesting100000", [] { return deeplyNested(100000); }, Status::Unusable,
         "Malformed XML in SAML metadata: elements nested too deeply line: 1 col: 3943"},
        {"ProcessingInstruction",
         [] { return std::string("<?xml version=\"1.0\"?><?evil?>") + singleIdpText(); },
         Status::Unusable, "SAML metadata must not contain processing instructions"},
        // Honest control: the same nesting within the bound parses (and is
        // then refused for want of a signature, not for its shape).
        {"NestingWithinTheBound", [] { return deeplyNested(200); }, Status::NotAuthentic,
         "IdP metadata is not signed"},
        {"MillionEntities", [] { return manyEntities(1000000); }, Status::NotAuthentic,
         "IdP metadata is not signed"},
    };
    for (const HostileRow& row : rows) {
        SCOPED_TRACE(row.name);
        expectOutcome(outcomeOf(corvane::loadIdpMetadata(row.text(), pinned())), row.status,
                      row.message);
    }
}

TEST_F(IdpMetadataTest, MillionEntitiesTrustedUnsignedStopAtTheEntityBound) {
    IdpMetadataOptions options;
    options.trustUnsignedMetadata = true;
    options.now = kNow;
    expectOutcome(outcomeOf(corvane::loadIdpMetadata(manyEntities(1000000), options)),
                  Status::Unusable, "IdP metadata holds more than 100000 entities");
    // Control: at the bound they are indexed.
    options.maxEntities = 1000;
    const Result<IdpMetadataPtr> atBound = corvane::loadIdpMetadata(manyEntities(1000), options);
    ASSERT_TRUE(atBound.ok()) << atBound.message();
    EXPECT_EQ(atBound.value()->entityCount(), 1000u);
    EXPECT_TRUE(atBound.value()->idpEntityIds().empty());
}

// The node budget grows with the text: a metadata text may hold far more
// than a response's 262,144 nodes, but not one per few bytes.
TEST(MetadataScreening, NodeBudgetScalesWithTheTextSize) {
    using corvane::internal::kMetadataScreening;
    using corvane::internal::screenText;
    // 400,000 entities of 57 bytes each: 800,000 nodes, one per 28.5 bytes.
    std::string honest = "<a>";
    const std::string entity = "<e entityID=\"https://entity.example.test/aaaaaaaaaaaaa\"/>";
    for (int i = 0; i < 400000; ++i) honest += entity;
    honest += "</a>";
    EXPECT_TRUE(screenText(honest, kMetadataScreening));
    EXPECT_FALSE(corvane::internal::screenResponseText(honest));
    // Empty elements, one node per 4 bytes, past the budget.
    std::string dense = "<a>";
    for (int i = 0; i < 1000000; ++i) dense += "<e/>";
    dense += "</a>";
    EXPECT_FALSE(screenText(dense, kMetadataScreening));
}

// ---- A real IdP's metadata --------------------------------------------------------

std::string simpleSamlPhpFixture() {
    return readFile(std::string(CORVANE_TEST_DATA_DIR) + "/simplesamlphp/idp-metadata.xml");
}

TEST_F(IdpMetadataTest, SimpleSamlPhpIdpMetadataReadsAsPublished) {
    IdpMetadataOptions options;
    options.trustUnsignedMetadata = true;  // as the IdP publishes it, over TLS
    options.now = kNow;
    const Result<IdpDescriptor> idp = corvane::loadIdpDescriptor(simpleSamlPhpFixture(), options);
    ASSERT_TRUE(idp.ok()) << idp.message();
    const IdpDescriptor& d = idp.value();
    EXPECT_EQ(d.entityId, "https://idp.example.test/simplesaml/saml2/idp/metadata.php");
    ASSERT_EQ(d.singleSignOnServices.size(), 1u);
    EXPECT_EQ(d.singleSignOnServices[0].binding, kRedirect);
    EXPECT_EQ(d.singleSignOnServices[0].location,
              "https://idp.example.test/simplesaml/saml2/idp/SSOService.php");
    ASSERT_EQ(d.singleLogoutServices.size(), 1u);
    EXPECT_EQ(d.singleLogoutServices[0].location,
              "https://idp.example.test/simplesaml/saml2/idp/SingleLogoutService.php");
    EXPECT_EQ(d.nameIdFormats, (std::vector<std::string>{kTransient}));
    ASSERT_EQ(d.signingKeys.size(), 1u);
    EXPECT_EQ(d.signingKeys[0]->certificateBase64(), certificateBody(idpCert()));
    ASSERT_EQ(d.encryptionCertificates.size(), 1u);
    EXPECT_FALSE(d.wantAuthnRequestsSigned);
    EXPECT_EQ(d.validUntil, -1);

    // Signed by the federation's key at test time, the same text verifies.
    std::string text = simpleSamlPhpFixture();
    text = replaceAll(text, "/saml2/idp/metadata.php\">",
                      "/saml2/idp/metadata.php\" ID=\"pfx41d8ef22-e612-8c50-9960-1b16f15741b3\">"
                      "{{SIGNATURE}}");
    const Result<IdpDescriptor> signedIdp = corvane::loadIdpDescriptor(
        signedAt(text, "#pfx41d8ef22-e612-8c50-9960-1b16f15741b3"), pinned());
    ASSERT_TRUE(signedIdp.ok()) << signedIdp.message();
    EXPECT_EQ(signedIdp.value().entityId, d.entityId);
    // Control: unsigned, with a pinned key, it is refused.
    expectOutcome(outcomeOf(corvane::loadIdpDescriptor(simpleSamlPhpFixture(), pinned())),
                  Status::NotAuthentic, "IdP metadata is not signed");
}

// ---- xs:duration ----------------------------------------------------------------

TEST(Duration, CacheDurationTextsAsSeconds) {
    const struct {
        const char* text;
        long long seconds;  // -1: refused
    } rows[] = {
        {"PT6H", 21600},
        {"P1D", 86400},
        {"PT21600S", 21600},
        {"P1DT2H3M4S", 93784},
        {"P1Y", 31536000},
        {"P1M", 2592000},
        {"PT1.5S", 1},
        {"PT0S", 0},
        {"P", -1},
        {"PT", -1},
        {"P1DT", -1},
        {"-PT6H", -1},
        {"PT6", -1},
        {"P1H", -1},
        {"PT1D", -1},
        {"P1D1Y", -1},
        {"P1.5D", -1},
        {"6H", -1},
        {"", -1},
        {"P99999999999999999999Y", -1},
        {"P100000Y", -1},
    };
    for (const auto& row : rows) {
        long long seconds = -1;
        const bool read = corvane::internal::parseDuration(row.text, &seconds);
        EXPECT_EQ(read, row.seconds >= 0) << row.text;
        if (read) {
            EXPECT_EQ(seconds, row.seconds) << row.text;
        }
    }
}

}  // namespace
