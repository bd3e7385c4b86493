// Logout messages from the IdP, made at test time by the IdP's side
// (idp_side.h): Redirect queries signed with OpenSSL over their exact
// octets, POST messages signed with the xmlsec1 tool, both with generated
// keys. Every hostile row stands beside its honest control and is checked
// for its status and its one exact message.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <corvane/corvane.h>

#include "corvane_test_support.h"
#include "extended_calls.h"
#include "generated_keys.h"
#include "idp_side.h"
#include "schema_check.h"

namespace {

using namespace corvane_test;
using corvane::LogoutExpectations;
using corvane::LogoutOutcome;
using corvane::Status;

const std::string kProtocolSchema =
    std::string(CORVANE_SCHEMA_DIR) + "/saml-schema-protocol-2.0.xsd";
const char kNotVerified[] = "HTTP-Redirect signature does not verify with any IdP certificate";

const GeneratedKey& rsaIdp() { return generatedRsaKey(2048); }
const GeneratedKey& ecIdp() { return generatedEcKey("prime256v1"); }

corvane::KeyPtr rsaIdpCert;
corvane::KeyPtr ecIdpCert;

struct Row {
    std::string name;
    std::string input;  // a raw query or a posted value
    Status status;
    std::string message;
};

class LogoutVerify : public RecordingTest {
protected:
    static void SetUpTestSuite() {
        rsaIdpCert = loadCertificate(rsaIdp().certificatePem);
        ecIdpCert = loadCertificate(ecIdp().certificatePem);
    }
    static void TearDownTestSuite() {
        rsaIdpCert.reset();
        ecIdpCert.reset();
    }
    void SetUp() override {
        RecordingTest::SetUp();
        ASSERT_TRUE(rsaIdpCert && ecIdpCert);
    }

    // What the SP expects, with a replay cache of its own per call.
    static LogoutExpectations expected() {
        LogoutExpectations e;
        e.idpEntityId = kLogoutIdp;
        e.idpCertificates = {rsaIdpCert, ecIdpCert};
        e.spLogoutUrl = kSpSlo;
        e.requestId = kSpRequestId;
        e.now = kInstantSeconds;
        e.replayCache = corvane::newInProcessReplayCache();
        return e;
    }

    static EncodedQuery responseQuery(const IdpMessage& m = IdpMessage(),
                                      const std::string& relayState = "state-1",
                                      Hex hex = Hex::Upper) {
        return idpQuery("SAMLResponse", m.xml(), true, relayState, kRsaSha256,
                        rsaIdp().privateKeyPem, hex);
    }
    static EncodedQuery requestQuery(const IdpMessage& m = IdpMessage::request()) {
        return idpQuery("SAMLRequest", m.xml(), true, "state-2", kRsaSha256,
                        rsaIdp().privateKeyPem);
    }

    // Each row's query through verifyLogoutResponseQuery with e: its
    // status and message, and on success the outcome and RelayState.
    static void runResponseRows(const std::vector<Row>& rows,
                                const LogoutExpectations& e = expected()) {
        for (const Row& row : rows) {
            SCOPED_TRACE(row.name);
            LogoutExpectations fresh = e;
            fresh.replayCache = corvane::newInProcessReplayCache();
            const auto result = corvane::verifyLogoutResponseQuery(row.input, fresh);
            EXPECT_EQ(result.status(), row.status) << result.message();
            EXPECT_EQ(result.message(), row.message);
        }
    }
    static void runRequestRows(const std::vector<Row>& rows, bool posted) {
        for (const Row& row : rows) {
            SCOPED_TRACE(row.name);
            const auto result = posted ? corvane::verifyPostedLogoutRequest(row.input, expected())
                                       : corvane::verifyLogoutRequestQuery(row.input, expected());
            EXPECT_EQ(result.status(), row.status) << result.message();
            EXPECT_EQ(result.message(), row.message);
        }
    }
};

// --- Honest messages ---------------------------------------------------------

TEST_F(LogoutVerify, TheIdpMessagesOfTheseTestsAreSchemaValid) {
    IdpMessage partial;
    partial.secondStatusCode = "urn:oasis:names:tc:SAML:2.0:status:PartialLogout";
    partial.statusMessage = "one service did not answer";
    IdpMessage expiring = IdpMessage::request();
    expiring.notOnOrAfter = "2026-01-01T00:05:00Z";
    IdpMessage signedRequest = IdpMessage::request();
    signedRequest.signatureTemplate = true;
    for (const std::string& xml :
         {IdpMessage().xml(), partial.xml(), IdpMessage::request().xml(), expiring.xml(),
          xmlsec1Signed(signedRequest.xml(), rsaIdp().privateKeyPem, "LogoutRequest")})
        EXPECT_TRUE(validAgainst(kProtocolSchema, xml));
}

TEST_F(LogoutVerify, SignedResponseQueryIsAcceptedWithItsStatusAndRelayState) {
    const auto result = corvane::verifyLogoutResponseQuery(responseQuery().query(), expected());
    ASSERT_TRUE(result.ok()) << result.message();
    const corvane::VerifiedLogoutResponse& r = result.value();
    EXPECT_EQ(r.id, "_idp-message-1");
    EXPECT_EQ(r.inResponseTo, kSpRequestId);
    EXPECT_EQ(r.outcome, LogoutOutcome::Success);
    EXPECT_EQ(r.statusCode, "urn:oasis:names:tc:SAML:2.0:status:Success");
    EXPECT_EQ(r.secondStatusCode, "");
    EXPECT_TRUE(r.signedByIdp);
    EXPECT_EQ(r.relayState, "state-1");
}

TEST_F(LogoutVerify, TheIdpsStatusIsReportedAsSent) {
    struct StatusRow {
        const char* name;
        std::string code, second, message;
        LogoutOutcome outcome;
    };
    const std::string ns = "urn:oasis:names:tc:SAML:2.0:status:";
    for (const StatusRow& row :
         {StatusRow{"success", ns + "Success", "", "", LogoutOutcome::Success},
          StatusRow{"partial", ns + "Success", ns + "PartialLogout", "",
                    LogoutOutcome::PartialLogout},
          StatusRow{"responder error", ns + "Responder", ns + "UnknownPrincipal", "no such session",
                    LogoutOutcome::Failure},
          StatusRow{"requester error", ns + "Requester", "", "", LogoutOutcome::Failure}}) {
        SCOPED_TRACE(row.name);
        IdpMessage m;
        m.statusCode = row.code;
        m.secondStatusCode = row.second;
        m.statusMessage = row.message;
        const auto result =
            corvane::verifyLogoutResponseQuery(responseQuery(m).query(), expected());
        ASSERT_TRUE(result.ok()) << result.message();
        EXPECT_EQ(result.value().outcome, row.outcome);
        EXPECT_EQ(result.value().statusCode, row.code);
        EXPECT_EQ(result.value().secondStatusCode, row.second);
        EXPECT_EQ(result.value().statusMessage, row.message);
    }
}

// --- The query as received: order, encodings, parameters ----------------------

TEST_F(LogoutVerify, EveryAllowedSigAlgVerifiesAndShaOneOnlyWhenNamed) {
    struct AlgRow {
        const char* sigAlg;
        const GeneratedKey& key;
    };
    for (const AlgRow& row : {AlgRow{kRsaSha256, rsaIdp()}, AlgRow{kRsaSha384, rsaIdp()},
                              AlgRow{kRsaSha512, rsaIdp()}, AlgRow{kEcdsaSha256, ecIdp()}}) {
        SCOPED_TRACE(row.sigAlg);
        const EncodedQuery q = idpQuery("SAMLResponse", IdpMessage().xml(), false, "", row.sigAlg,
                                        row.key.privateKeyPem);
        const auto result = corvane::verifyLogoutResponseQuery(q.query(), expected());
        EXPECT_TRUE(result.ok()) << result.message();
    }
    const EncodedQuery sha1 =
        idpQuery("SAMLResponse", IdpMessage().xml(), false, "", kRsaSha1, rsaIdp().privateKeyPem);
    LogoutExpectations allowing = expected();
    allowing.allowSha1 = true;
    runResponseRows({{"RSA-SHA1 refused by default", sha1.query(), Status::NotAuthentic,
                      "HTTP-Redirect SigAlg http://www.w3.org/2000/09/xmldsig#rsa-sha1 uses "
                      "SHA-1, which is refused unless allowSha1 is set"}});
    runResponseRows({{"RSA-SHA1 with allowSha1", sha1.query(), Status::Ok, ""}}, allowing);
}

TEST_F(LogoutVerify, HostileQueriesAreRefusedBesideTheirHonestControls) {
    const EncodedQuery q = responseQuery();
    const std::string sha256 = "SigAlg=" + urlEncoded(kRsaSha256, Hex::Upper);
    const std::string hmac =
        "SigAlg=" + urlEncoded("http://www.w3.org/2001/04/xmldsig-more#hmac-sha256", Hex::Upper);
    const EncodedQuery hmacSigned = idpQuery("SAMLResponse", IdpMessage().xml(), true, "state-1",
                                             kRsaSha256, rsaIdp().privateKeyPem);
    runResponseRows({
        {"honest, binding order", q.query(), Status::Ok, ""},
        {"shuffled parameters", joined({q.signature, q.relayState, q.sigAlg, q.message}),
         Status::Ok, ""},
        {"missing Signature", joined({q.message, q.relayState, q.sigAlg}), Status::NotAuthentic,
         "HTTP-Redirect query carries no Signature"},
        {"missing SigAlg", joined({q.message, q.relayState, q.signature}), Status::NotAuthentic,
         "HTTP-Redirect query carries no SigAlg"},
        {"unsigned altogether", joined({q.message, q.relayState}), Status::NotAuthentic,
         "HTTP-Redirect query carries no Signature"},
        {"SigAlg outside the allowlist", joined({q.message, q.relayState, hmac, q.signature}),
         Status::NotAuthentic, "HTTP-Redirect SigAlg is not an allowed signature algorithm"},
        {"control: the allowlisted SigAlg it was signed with",
         joined({hmacSigned.message, hmacSigned.relayState, sha256, hmacSigned.signature}),
         Status::Ok, ""},
        {"SAMLResponse twice", joined({q.message, q.message, q.relayState, q.sigAlg, q.signature}),
         Status::Unusable, "HTTP-Redirect query carries SAMLResponse more than once"},
        {"SigAlg twice", joined({q.message, q.relayState, q.sigAlg, q.sigAlg, q.signature}),
         Status::Unusable, "HTTP-Redirect query carries SigAlg more than once"},
        {"RelayState twice", joined({q.message, q.relayState, q.relayState, q.sigAlg, q.signature}),
         Status::Unusable, "HTTP-Redirect query carries RelayState more than once"},
        {"Signature twice", joined({q.message, q.relayState, q.sigAlg, q.signature, q.signature}),
         Status::Unusable, "HTTP-Redirect query carries Signature more than once"},
        {"decoy xSigAlg beside the real one",
         joined({q.message, q.relayState, "x" + q.sigAlg, q.sigAlg, q.signature}), Status::Ok, ""},
        {"decoy xSigAlg instead of the real one",
         joined({q.message, q.relayState, "x" + q.sigAlg, q.signature}), Status::NotAuthentic,
         "HTTP-Redirect query carries no SigAlg"},
        {"decoy foo=SAMLResponse beside the message",
         joined({"foo=SAMLResponse", q.message, q.relayState, q.sigAlg, q.signature}), Status::Ok,
         ""},
        {"decoy foo=SAMLResponse instead of the message",
         joined({"foo=SAMLResponse", q.relayState, q.sigAlg, q.signature}), Status::Unusable,
         "HTTP-Redirect query carries no SAMLResponse"},
        {"the name spelt with an escape",
         joined({"SAML%52esponse" + q.message.substr(12), q.message, q.relayState, q.sigAlg,
                 q.signature}),
         Status::Unusable,
         "HTTP-Redirect query spells the parameter name SAML%52esponse with escapes"},
        {"a request where a response is expected",
         joined({"SAMLRequest" + q.message.substr(12), q.relayState, q.sigAlg, q.signature}),
         Status::Unusable,
         "HTTP-Redirect query carries SAMLRequest where SAMLResponse is expected"},
        {"RelayState added after signing",
         joined({q.message, "RelayState=x", q.sigAlg, q.signature}), Status::NotAuthentic,
         kNotVerified},
        {"RelayState removed after signing", joined({q.message, q.sigAlg, q.signature}),
         Status::NotAuthentic, kNotVerified},
        {"bad percent-escape", joined({q.message, "RelayState=%zz", q.sigAlg, q.signature}),
         Status::Unusable,
         "HTTP-Redirect RelayState form value holds a bad percent-escape at offset 0"},
        {"Signature not base64",
         joined({q.message, q.relayState, q.sigAlg, "Signature=%21%21%21%21"}), Status::Unusable,
         "Base64 text holds the character '!' at offset 0"},
    });
}

TEST_F(LogoutVerify, EncodingsAreVerifiedExactlyAsSent) {
    IdpMessage m;
    const std::string state = "back to /inbox?x=1&y=2";
    const EncodedQuery upper = responseQuery(m, state, Hex::Upper);
    const EncodedQuery lower = responseQuery(m, state, Hex::Lower);
    const EncodedQuery plus = idpQuery("SAMLResponse", m.xml(), true, state, kRsaSha256,
                                       rsaIdp().privateKeyPem, Hex::Upper, true);
    ASSERT_NE(upper.relayState, lower.relayState);
    ASSERT_NE(plus.relayState, upper.relayState);
    runResponseRows({
        {"upper-case escapes as signed", upper.query(), Status::Ok, ""},
        {"lower-case escapes as signed (as Entra and ADFS send)", lower.query(), Status::Ok, ""},
        {"'+' for a space as signed", plus.query(), Status::Ok, ""},
        {"lower-case signed, sent re-encoded in upper case",
         joined({upper.message, upper.relayState, upper.sigAlg, lower.signature}),
         Status::NotAuthentic, kNotVerified},
        {"upper-case signed, sent re-encoded in lower case",
         joined({lower.message, lower.relayState, lower.sigAlg, upper.signature}),
         Status::NotAuthentic, kNotVerified},
        {"'%20' signed, sent as '+'",
         joined({upper.message, plus.relayState, upper.sigAlg, upper.signature}),
         Status::NotAuthentic, kNotVerified},
        {"'+' signed, sent as '%20'",
         joined({plus.message, upper.relayState, plus.sigAlg, plus.signature}),
         Status::NotAuthentic, kNotVerified},
    });
    // The RelayState comes back decoded, whichever way it was escaped.
    for (const EncodedQuery& q : {upper, lower, plus}) {
        const auto result = corvane::verifyLogoutResponseQuery(q.query(), expected());
        ASSERT_TRUE(result.ok()) << result.message();
        EXPECT_EQ(result.value().relayState, state);
    }
}

TEST_F(LogoutVerify, RelayStateAbsentEmptyAtAndOverItsLimit) {
    const std::string xml = IdpMessage().xml();
    const std::string key = rsaIdp().privateKeyPem;
    struct StateRow {
        const char* name;
        bool present;
        std::string state;
        Status status;
        std::string message;
    };
    for (const StateRow& row : {StateRow{"absent", false, "", Status::Ok, ""},
                                StateRow{"present and empty", true, "", Status::Ok, ""},
                                StateRow{"80 bytes", true, std::string(80, 'r'), Status::Ok, ""},
                                StateRow{"81 bytes", true, std::string(81, 'r'), Status::Unusable,
                                         "HTTP-Redirect RelayState is longer than 80 bytes"}}) {
        SCOPED_TRACE(row.name);
        const EncodedQuery q =
            idpQuery("SAMLResponse", xml, row.present, row.state, kRsaSha256, key);
        const std::string query =
            row.present ? joined({q.message, q.relayState, q.sigAlg, q.signature}) : q.query();
        const auto result = corvane::verifyLogoutResponseQuery(query, expected());
        EXPECT_EQ(result.status(), row.status);
        EXPECT_EQ(result.message(), row.message);
        if (result.ok()) {
            EXPECT_EQ(result.value().relayState, row.state);
        }
    }
}

TEST_F(LogoutVerify, ADeflateBombStopsAtTheBoundAndAnHonestMessageAtItPasses) {
    const std::string key = rsaIdp().privateKeyPem;
    const std::string xml = IdpMessage().xml();
    // 16 MiB of zeros deflate to some 16 kB: a thousandfold ratio.
    const std::string bomb(16u << 20, '\0');
    const EncodedQuery bombQuery = idpQuery("SAMLResponse", bomb, false, "", kRsaSha256, key);
    EXPECT_LT(bombQuery.query().size(), 40000u);
    runResponseRows({{"bomb", bombQuery.query(), Status::TooLarge,
                      "HTTP-Redirect SAMLResponse inflates to more than 65536 bytes"}});
    const EncodedQuery honest = idpQuery("SAMLResponse", xml, false, "", kRsaSha256, key);
    LogoutExpectations atSize = expected();
    atSize.maxMessageBytes = xml.size();
    runResponseRows({{"exactly at the bound", honest.query(), Status::Ok, ""}}, atSize);
    atSize.maxMessageBytes = xml.size() - 1;
    runResponseRows({{"one byte over the bound", honest.query(), Status::TooLarge,
                      "HTTP-Redirect SAMLResponse inflates to more than " +
                          std::to_string(xml.size() - 1) + " bytes"}},
                    atSize);
}

TEST_F(LogoutVerify, TheMessageMustBeStrictBase64OfOneCompleteDeflateStream) {
    const std::string key = rsaIdp().privateKeyPem;
    auto signedMessage = [&](const std::string& encodedMessage) {
        const std::string sigAlg = "SigAlg=" + urlEncoded(kRsaSha256, Hex::Upper);
        const std::string octets = "SAMLResponse=" + encodedMessage + "&" + sigAlg;
        return octets + "&Signature=" +
               urlEncoded(base64Of(signedWith(key, kRsaSha256, octets)), Hex::Upper);
    };
    const std::string deflated = rawDeflated(IdpMessage().xml());
    runResponseRows({
        {"control: canonical base64", signedMessage(urlEncoded(base64Of(deflated), Hex::Upper)),
         Status::Ok, ""},
        {"not DEFLATE", signedMessage(urlEncoded(base64Of(IdpMessage().xml()), Hex::Upper)),
         Status::Unusable, "HTTP-Redirect SAMLResponse is not one complete raw DEFLATE stream"},
        {"DEFLATE cut short",
         signedMessage(urlEncoded(base64Of(deflated.substr(0, deflated.size() / 2)), Hex::Upper)),
         Status::Unusable, "HTTP-Redirect SAMLResponse is not one complete raw DEFLATE stream"},
        {"data after the stream",
         signedMessage(urlEncoded(base64Of(deflated + "junk"), Hex::Upper)), Status::Unusable,
         "HTTP-Redirect SAMLResponse is not one complete raw DEFLATE stream"},
        {"base64 with bits set beyond its end", signedMessage("QR%3D%3D"), Status::Unusable,
         "Base64 text has bits set beyond its last byte"},
    });
}

// --- The profile's rules ---------------------------------------------------------

TEST_F(LogoutVerify, ResponseRulesRefuseWhatBreaksThemAlone) {
    auto with = [](const std::function<void(IdpMessage&)>& change) {
        IdpMessage m;
        change(m);
        return responseQuery(m).query();
    };
    runResponseRows({
        {"control", with([](IdpMessage&) {}), Status::Ok, ""},
        {"wrong Destination",
         with([](IdpMessage& m) { m.destination = "https://evil.example.test/slo"; }),
         Status::ProfileRefused,
         "SAML LogoutResponse Destination \"https://evil.example.test/slo\" is not the SP logout "
         "URL \"https://sp.example.test/slo\""},
        {"no Destination", with([](IdpMessage& m) { m.destination.clear(); }),
         Status::ProfileRefused, "SAML LogoutResponse names no Destination"},
        {"wrong Issuer", with([](IdpMessage& m) { m.issuer = "https://evil.example.test/idp"; }),
         Status::ProfileRefused,
         "SAML LogoutResponse Issuer \"https://evil.example.test/idp\" is not the IdP "
         "\"https://idp.example.test/logout-test-only\""},
        {"no Issuer", with([](IdpMessage& m) { m.issuer.clear(); }), Status::ProfileRefused,
         "SAML LogoutResponse names no Issuer"},
        {"for another request", with([](IdpMessage& m) { m.inResponseTo = "_another-request"; }),
         Status::ProfileRefused,
         "SAML LogoutResponse answers request \"_another-request\", not \"_sp-logout-request-1\""},
        {"for no request", with([](IdpMessage& m) { m.inResponseTo.clear(); }),
         Status::ProfileRefused,
         "SAML LogoutResponse answers no request, but request \"_sp-logout-request-1\" is "
         "expected"},
        {"issued beyond the skew ago",
         with([](IdpMessage& m) { m.issueInstant = "2025-12-31T23:56:59Z"; }),
         Status::ProfileRefused,
         "SAML LogoutResponse was issued at 2025-12-31T23:56:59Z, earlier than now minus the "
         "clock skew"},
        {"control: issued the skew ago",
         with([](IdpMessage& m) { m.issueInstant = "2025-12-31T23:57:00Z"; }), Status::Ok, ""},
        {"issued beyond the skew ahead",
         with([](IdpMessage& m) { m.issueInstant = "2026-01-01T00:03:01Z"; }),
         Status::ProfileRefused,
         "SAML LogoutResponse was issued at 2026-01-01T00:03:01Z, later than now plus the clock "
         "skew"},
        {"control: issued the skew ahead",
         with([](IdpMessage& m) { m.issueInstant = "2026-01-01T00:03:00Z"; }), Status::Ok, ""},
        {"not a LogoutResponse",
         idpQuery("SAMLResponse", IdpMessage::request().xml(), false, "", kRsaSha256,
                  rsaIdp().privateKeyPem)
             .query(),
         Status::ProfileRefused, "SAML message is not a SAML 2.0 protocol LogoutResponse"},
    });
}

TEST_F(LogoutVerify, AReplayedResponseIsRefusedOnTheSecondUse) {
    LogoutExpectations e = expected();
    const std::string query = responseQuery().query();
    EXPECT_TRUE(corvane::verifyLogoutResponseQuery(query, e).ok());
    const auto again = corvane::verifyLogoutResponseQuery(query, e);
    EXPECT_EQ(again.status(), Status::ProfileRefused);
    EXPECT_EQ(again.message(),
              "SAML LogoutResponse \"_idp-message-1\" was accepted before: a replay is refused");
    // Control: another response ID from the IdP is a first use.
    IdpMessage other;
    other.id = "_idp-message-2";
    EXPECT_TRUE(corvane::verifyLogoutResponseQuery(responseQuery(other).query(), e).ok());
    e.skipReplayCheck = true;
    EXPECT_TRUE(corvane::verifyLogoutResponseQuery(query, e).ok());
}

// A cache that records what it is asked, and answers as told.
class RecordingCache : public corvane::ReplayCache {
public:
    explicit RecordingCache(corvane::ReplayOutcome answer) : m_answer(answer) {}
    corvane::ReplayCheck insertIfAbsent(const std::string& key, long long expiresAt,
                                        long long now) override {
        keys.push_back(key);
        expiries.push_back(expiresAt);
        nows.push_back(now);
        corvane::ReplayCheck check;
        check.outcome = m_answer;
        if (m_answer == corvane::ReplayOutcome::Unavailable) check.problem = "cache down";
        return check;
    }
    std::vector<std::string> keys;
    std::vector<long long> expiries, nows;

private:
    corvane::ReplayOutcome m_answer;
};

TEST_F(LogoutVerify, TheMessageIdIsRecordedPerIdpUntilTwiceTheSkewAfterItsIssueInstant) {
    auto cache = std::make_shared<RecordingCache>(corvane::ReplayOutcome::FirstUse);
    LogoutExpectations e = expected();
    e.replayCache = cache;
    e.now = kInstantSeconds + 60;
    ASSERT_TRUE(corvane::verifyLogoutResponseQuery(responseQuery().query(), e).ok());
    ASSERT_EQ(cache->keys.size(), 1u);
    EXPECT_EQ(cache->keys[0].compare(0, 15, "LogoutResponse:"), 0) << cache->keys[0];
    EXPECT_EQ(cache->keys[0].size(), 15u + 64u) << "a SHA-256 in hex, never the ID itself";
    EXPECT_EQ(cache->expiries[0], kInstantSeconds + 2 * 180 + 1);
    EXPECT_EQ(cache->nows[0], kInstantSeconds + 60);
    // A cache that cannot answer refuses the message: no relaxation.
    e.replayCache = std::make_shared<RecordingCache>(corvane::ReplayOutcome::Unavailable);
    const auto down = corvane::verifyLogoutResponseQuery(responseQuery().query(), e);
    EXPECT_EQ(down.status(), Status::ReplayCacheFailed);
    EXPECT_EQ(down.message(), "cache down");
}

TEST_F(LogoutVerify, AnUnsignedResponseOnlyByTheNamedOptInAndNeverARequest) {
    const EncodedQuery response = responseQuery();
    const EncodedQuery request = requestQuery();
    LogoutExpectations allowing = expected();
    allowing.allowUnsignedLogoutResponse = true;
    runResponseRows({{"unsigned response, strict", joined({response.message, response.relayState}),
                      Status::NotAuthentic, "HTTP-Redirect query carries no Signature"}});
    const auto accepted = corvane::verifyLogoutResponseQuery(
        joined({response.message, response.relayState}), allowing);
    ASSERT_TRUE(accepted.ok()) << accepted.message();
    EXPECT_FALSE(accepted.value().signedByIdp);
    runResponseRows(
        {{"opt-in still verifies a signature present",
          joined({response.message, response.relayState, response.sigAlg, request.signature}),
          Status::NotAuthentic, kNotVerified}},
        allowing);
    const auto refused =
        corvane::verifyLogoutRequestQuery(joined({request.message, request.relayState}), allowing);
    EXPECT_EQ(refused.status(), Status::NotAuthentic);
    EXPECT_EQ(refused.message(), "HTTP-Redirect query carries no Signature");
}

TEST_F(LogoutVerify, ExpectationsMustBeComplete) {
    struct ExpectationRow {
        const char* name;
        std::function<void(LogoutExpectations&)> change;
        std::string message;
    };
    for (const ExpectationRow& row :
         {ExpectationRow{"no IdP", [](LogoutExpectations& e) { e.idpEntityId.clear(); },
                         "Logout expectations are incomplete: the IdP entity ID is missing"},
          ExpectationRow{"no certificate", [](LogoutExpectations& e) { e.idpCertificates.clear(); },
                         "Logout expectations are incomplete: an IdP certificate is missing"},
          ExpectationRow{"no SP logout URL", [](LogoutExpectations& e) { e.spLogoutUrl.clear(); },
                         "Logout expectations are incomplete: the SP logout URL is missing"},
          ExpectationRow{"no request ID", [](LogoutExpectations& e) { e.requestId.clear(); },
                         "Logout expectations are incomplete: the ID of the LogoutRequest "
                         "answered is missing"},
          ExpectationRow{"skew over a day",
                         [](LogoutExpectations& e) { e.clockSkewSeconds = 86401; },
                         "Logout expectations are not usable: the clock skew must be 0 to 86400 "
                         "seconds"}}) {
        SCOPED_TRACE(row.name);
        LogoutExpectations e = expected();
        row.change(e);
        const auto result = corvane::verifyLogoutResponseQuery(responseQuery().query(), e);
        EXPECT_EQ(result.status(), Status::BadOptions);
        EXPECT_EQ(result.message(), row.message);
    }
}

// --- IdP-initiated requests ------------------------------------------------------

TEST_F(LogoutVerify, SignedRequestQueryHandsOverTheSubjectAndSessions) {
    IdpMessage m = IdpMessage::request();
    m.sessionIndexes =
        "<samlp:SessionIndex>_s-1</samlp:SessionIndex>"
        "<samlp:SessionIndex>_s-2</samlp:SessionIndex>";
    m.notOnOrAfter = "2026-01-01T00:05:00Z";
    const auto result = corvane::verifyLogoutRequestQuery(requestQuery(m).query(), expected());
    ASSERT_TRUE(result.ok()) << result.message();
    const corvane::VerifiedLogoutRequest& r = result.value();
    EXPECT_EQ(r.id, "_idp-logout-request-1");
    EXPECT_EQ(r.idpEntityId, kLogoutIdp);
    EXPECT_EQ(r.nameId, "alice-7f3a");
    EXPECT_EQ(r.nameIdFormat, kPersistent);
    EXPECT_EQ(r.nameQualifier, kLogoutIdp);
    EXPECT_EQ(r.spNameQualifier, kSpEntity);
    EXPECT_EQ(r.sessionIndexes, (std::vector<std::string>{"_s-1", "_s-2"}));
    EXPECT_EQ(r.notOnOrAfter, "2026-01-01T00:05:00Z");
    EXPECT_EQ(r.relayState, "state-2");
}

TEST_F(LogoutVerify, AReplayedRequestIsRefusedOnTheSecondUse) {
    LogoutExpectations e = expected();
    const std::string query = requestQuery().query();
    EXPECT_TRUE(corvane::verifyLogoutRequestQuery(query, e).ok());
    const auto again = corvane::verifyLogoutRequestQuery(query, e);
    EXPECT_EQ(again.status(), Status::ProfileRefused);
    EXPECT_EQ(again.message(),
              "SAML LogoutRequest \"_idp-logout-request-1\" was accepted before: a replay is "
              "refused");
    // Control: the cache is per IdP; the same ID from another IdP is a first use.
    IdpMessage other = IdpMessage::request();
    other.issuer = "https://other-idp.example.test/";
    LogoutExpectations otherIdp = e;
    otherIdp.idpEntityId = other.issuer;
    EXPECT_TRUE(corvane::verifyLogoutRequestQuery(requestQuery(other).query(), otherIdp).ok());
}

TEST_F(LogoutVerify, RequestRulesRefuseWhatBreaksThemAlone) {
    auto with = [](const std::function<void(IdpMessage&)>& change) {
        IdpMessage m = IdpMessage::request();
        change(m);
        return requestQuery(m).query();
    };
    runRequestRows(
        {
            {"control", with([](IdpMessage&) {}), Status::Ok, ""},
            {"expired NotOnOrAfter beyond the skew",
             with([](IdpMessage& m) { m.notOnOrAfter = "2025-12-31T23:57:00Z"; }),
             Status::ProfileRefused, "SAML LogoutRequest expired at 2025-12-31T23:57:00Z"},
            {"control: NotOnOrAfter within the skew",
             with([](IdpMessage& m) { m.notOnOrAfter = "2025-12-31T23:57:01Z"; }), Status::Ok, ""},
            {"wrong Destination", with([](IdpMessage& m) { m.destination = kIdpSlo; }),
             Status::ProfileRefused,
             "SAML LogoutRequest Destination \"https://idp.example.test/slo\" is not the SP logout "
             "URL \"https://sp.example.test/slo\""},
            {"wrong Issuer", with([](IdpMessage& m) { m.issuer = kSpEntity; }),
             Status::ProfileRefused,
             "SAML LogoutRequest Issuer \"https://sp.example.test/metadata\" is not the IdP "
             "\"https://idp.example.test/logout-test-only\""},
            {"no NameID", with([](IdpMessage& m) { m.nameId.clear(); }), Status::ProfileRefused,
             "SAML LogoutRequest carries no usable NameID (BaseID and EncryptedID are not "
             "supported)"},
            {"NameID split by a comment",
             with([](IdpMessage& m) { m.nameId = "<saml:NameID>alice<!---->-7f3a</saml:NameID>"; }),
             Status::ProfileRefused,
             "SAML LogoutRequest carries no usable NameID (BaseID and EncryptedID are not "
             "supported)"},
            {"two NameIDs",
             with([](IdpMessage& m) { m.nameId += "<saml:NameID>admin</saml:NameID>"; }),
             Status::ProfileRefused, "SAML LogoutRequest carries more than one NameID"},
            {"a response where a request is expected", "SAMLResponse=x&SigAlg=y&Signature=z",
             Status::Unusable,
             "HTTP-Redirect query carries SAMLResponse where SAMLRequest is expected"},
        },
        false);
}

// --- HTTP-POST -------------------------------------------------------------------

std::string signedRequestXml(IdpMessage m = IdpMessage::request()) {
    m.signatureTemplate = true;
    return xmlsec1Signed(m.xml(), rsaIdp().privateKeyPem, "LogoutRequest");
}

// The text from the first `begin` through the end of the next `end`.
std::string slice(const std::string& text, const std::string& begin, const std::string& end) {
    const std::size_t from = text.find(begin);
    const std::size_t to = from == std::string::npos ? from : text.find(end, from);
    if (to == std::string::npos) ADD_FAILURE() << begin << " not found";
    return to == std::string::npos ? "" : text.substr(from, to + end.size() - from);
}

std::string withoutDeclaration(const std::string& xml) {
    return xml.compare(0, 5, "<?xml") == 0 ? xml.substr(xml.find("?>") + 2) : xml;
}

TEST_F(LogoutVerify, PostedRequestsSignedByTheXmlsec1ToolAndWrappedOnesRefused) {
    const std::string genuine = signedRequestXml();
    ASSERT_TRUE(xmlsec1Verifies(genuine, rsaIdp().certificatePem, "LogoutRequest"));
    IdpMessage forged = IdpMessage::request();
    forged.id = "_forged-request";
    forged.nameId = "<saml:NameID>admin</saml:NameID>";
    // The genuine request, signature and all, wrapped in the forged one.
    IdpMessage wrapping = forged;
    wrapping.extensions =
        "<samlp:Extensions>" + withoutDeclaration(genuine) + "</samlp:Extensions>";
    // The genuine signature moved under the forged root, its Reference
    // still naming the genuine request, now wrapped in Extensions.
    const std::string signature = slice(genuine, "<ds:Signature", "</ds:Signature>");
    std::string unsignedGenuine = withoutDeclaration(genuine);
    unsignedGenuine.erase(unsignedGenuine.find(signature), signature.size());
    IdpMessage moved = forged;
    moved.extensions = signature + "<samlp:Extensions>" + unsignedGenuine + "</samlp:Extensions>";
    // A signed assertion-like element wrapped in a forged request.
    IdpMessage assertionWrap = forged;
    assertionWrap.extensions =
        "<samlp:Extensions><saml:Assertion ID=\"_a1\" Version=\"2.0\" IssueInstant=\"" +
        std::string(kInstant) + "\">" + signature + "</saml:Assertion></samlp:Extensions>";
    std::string tampered = genuine;
    tampered.replace(tampered.find(">alice-7f3a<"), 12, ">admin-0000<");
    IdpMessage sha1 = IdpMessage::request();
    sha1.signatureMethod = kRsaSha1;
    sha1.digestMethod = "http://www.w3.org/2000/09/xmldsig#sha1";
    runRequestRows(
        {
            {"control: the genuine request", corvane::base64Encode(genuine), Status::Ok, ""},
            {"unsigned", corvane::base64Encode(IdpMessage::request().xml()), Status::NotAuthentic,
             "SAML LogoutRequest is not signed"},
            {"genuine request wrapped in a forged one", corvane::base64Encode(wrapping.xml()),
             Status::NotAuthentic,
             "SAML LogoutRequest carries a signature inside LogoutRequest, where no signature "
             "belongs"},
            {"genuine signature moved to a forged root", corvane::base64Encode(moved.xml()),
             Status::NotAuthentic,
             "SAML LogoutRequest signature does not refer to the LogoutRequest it is attached to"},
            {"signed assertion wrapped in a forged request",
             corvane::base64Encode(assertionWrap.xml()), Status::NotAuthentic,
             "SAML LogoutRequest carries a signature inside Assertion, where no signature belongs"},
            {"NameID changed after signing", corvane::base64Encode(tampered), Status::NotAuthentic,
             "SAML LogoutRequest signature does not verify with any IdP certificate"},
            {"SHA-1 signature", corvane::base64Encode(signedRequestXml(sha1)), Status::NotAuthentic,
             "SAML LogoutRequest signature uses SHA-1, which is refused unless allowSha1 is set"},
        },
        true);
}

TEST_F(LogoutVerify, PostedResponseSignedByTheXmlsec1ToolIsAcceptedOnce) {
    IdpMessage m;
    m.signatureTemplate = true;
    const std::string xml = xmlsec1Signed(m.xml(), rsaIdp().privateKeyPem, "LogoutResponse");
    ASSERT_TRUE(validAgainst(kProtocolSchema, xml));
    LogoutExpectations e = expected();
    const auto result = corvane::verifyPostedLogoutResponse(corvane::base64Encode(xml), e);
    ASSERT_TRUE(result.ok()) << result.message();
    EXPECT_TRUE(result.value().signedByIdp);
    EXPECT_EQ(result.value().relayState, "");
    const auto again = corvane::verifyPostedLogoutResponse(corvane::base64Encode(xml), e);
    EXPECT_EQ(again.status(), Status::ProfileRefused);
    EXPECT_EQ(again.message(),
              "SAML LogoutResponse \"_idp-message-1\" was accepted before: a replay is refused");
    const auto unsignedOne =
        corvane::verifyPostedLogoutResponse(corvane::base64Encode(IdpMessage().xml()), expected());
    EXPECT_EQ(unsignedOne.status(), Status::NotAuthentic);
    EXPECT_EQ(unsignedOne.message(), "SAML LogoutResponse is not signed");
    const auto empty = corvane::verifyPostedLogoutResponse("", expected());
    EXPECT_EQ(empty.status(), Status::Unusable);
    EXPECT_EQ(empty.message(), "SAMLResponse form value is empty");
}

// --- Matching a request against the host's sessions ---------------------------------

TEST(LogoutMatch, ARequestCoversALoginByValueFormatQualifiersAndSession) {
    corvane::VerifiedLogin login = aliceLogin();
    login.sessionIndex = "_s-2";
    corvane::VerifiedLogoutRequest request;
    request.idpEntityId = kLogoutIdp;
    request.nameId = login.nameId;
    request.nameIdFormat = login.nameIdFormat;
    request.nameQualifier = login.nameQualifier;
    request.spNameQualifier = login.spNameQualifier;
    request.sessionIndexes = {"_s-1", "_s-2"};
    struct MatchRow {
        const char* name;
        std::function<void(corvane::VerifiedLogoutRequest&)> change;
        bool covers;
    };
    using R = corvane::VerifiedLogoutRequest;
    for (const MatchRow& row : {
             MatchRow{"same subject, its session listed", [](R&) {}, true},
             MatchRow{"same subject, no session listed: all",
                      [](R& r) { r.sessionIndexes.clear(); }, true},
             MatchRow{"its session not listed", [](R& r) { r.sessionIndexes = {"_s-9"}; }, false},
             MatchRow{"same value, other Format",
                      [](R& r) {
                          r.nameIdFormat = "urn:oasis:names:tc:SAML:2.0:nameid-format:transient";
                      },
                      false},
             MatchRow{"same value, other NameQualifier", [](R& r) { r.nameQualifier = "x"; },
                      false},
             MatchRow{"same value, other SPNameQualifier", [](R& r) { r.spNameQualifier = ""; },
                      false},
             MatchRow{"same value, other IdP", [](R& r) { r.idpEntityId = kIdpSlo; }, false},
             MatchRow{"other value", [](R& r) { r.nameId = "alice"; }, false},
         }) {
        SCOPED_TRACE(row.name);
        R changed = request;
        row.change(changed);
        EXPECT_EQ(corvane::logoutRequestCoversLogin(changed, login), row.covers);
    }
}

}  // namespace
