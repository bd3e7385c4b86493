// Logout messages the SP sends: the LogoutRequest for a verified login and
// the LogoutResponse to the IdP's request, for both bindings. Each is
// valid against the protocol schema (xmllint), its signature verifies with
// the xmlsec1 tool (POST) or with OpenSSL over the exact query octets
// (Redirect), and it is read back by the library's own verification as the
// IdP's would be. Refused options leave nothing made and give one message.
#include <functional>
#include <string>
#include <vector>

#include <corvane/corvane.h>

#include "corvane_test_support.h"
#include "extended_calls.h"
#include "idp_side.h"
#include "schema_check.h"
#include "xml_read.h"

namespace {

using namespace corvane_test;
using corvane::LogoutBinding;
using corvane::Status;

const std::string kProtocolSchema =
    std::string(CORVANE_SCHEMA_DIR) + "/saml-schema-protocol-2.0.xsd";

corvane::KeyPtr spSigningKey;
corvane::KeyPtr spCertificate;

corvane::LogoutRequestOptions requestOptions() {
    corvane::LogoutRequestOptions o;
    o.destination = kIdpSlo;
    o.issuer = kSpEntity;
    return o;
}

corvane::LogoutResponseOptions responseOptions() {
    corvane::LogoutResponseOptions o;
    o.destination = kIdpSlo;
    o.issuer = kSpEntity;
    o.inResponseTo = "_idp-logout-request-1";
    return o;
}

// What the IdP expects of the SP's messages: the roles turned round, so
// the library's own verification reads them as the IdP would.
corvane::LogoutExpectations idpExpectations() {
    corvane::LogoutExpectations e;
    e.idpEntityId = kSpEntity;
    e.idpCertificates = {spCertificate};
    e.spLogoutUrl = kIdpSlo;
    e.requestId = "_idp-logout-request-1";
    e.replayCache = corvane::newInProcessReplayCache();
    return e;
}

// The octets a Redirect signature covers: everything before "&Signature=".
std::string signedOctetsOf(const std::string& query) {
    return query.substr(0, query.find("&Signature="));
}

class LogoutCreate : public RecordingTest {
protected:
    static void SetUpTestSuite() {
        spSigningKey = loadPrivateKey(spKeyAndCert());
        spCertificate = loadCertificate(spCert());
    }
    static void TearDownTestSuite() {
        spSigningKey.reset();
        spCertificate.reset();
    }
    void SetUp() override {
        RecordingTest::SetUp();
        ASSERT_TRUE(spSigningKey && spCertificate);
    }
};

TEST_F(LogoutCreate, RedirectRequestIsSchemaValidAndSignedOverTheExactQueryOctets) {
    const auto made =
        corvane::createLogoutRequest(requestOptions(), aliceLogin(), LogoutBinding::HttpRedirect,
                                     "back to /inbox", *spSigningKey);
    ASSERT_TRUE(made.ok()) << made.message();
    const corvane::OutgoingLogoutMessage& m = made.value();
    EXPECT_EQ(m.id.size(), 33u);
    EXPECT_EQ(m.id[0], '_');
    EXPECT_EQ(m.formPage, "");
    EXPECT_EQ(parameterNames(m.query),
              (std::vector<std::string>{"SAMLRequest", "RelayState", "SigAlg", "Signature"}));
    EXPECT_EQ(m.url, std::string(kIdpSlo) + "?" + m.query);
    EXPECT_EQ(urlDecoded(parameterOf(m.query, "RelayState")), "back to /inbox");
    EXPECT_EQ(urlDecoded(parameterOf(m.query, "SigAlg")), kRsaSha256);
    const std::string xml =
        rawInflated(base64Decoded(urlDecoded(parameterOf(m.query, "SAMLRequest"))));
    EXPECT_EQ(xml, m.xml);
    EXPECT_TRUE(validAgainst(kProtocolSchema, xml));
    EXPECT_EQ(xml.find("Signature"), std::string::npos);

    Doc doc(xml);
    EXPECT_EQ(attr(doc.root(), "ID"), m.id);
    EXPECT_EQ(attr(doc.root(), "Destination"), kIdpSlo);
    EXPECT_EQ(text(find(doc.root(), "Issuer")), kSpEntity);
    const xmlNode* nameId = find(doc.root(), "NameID");
    EXPECT_EQ(text(nameId), "alice-7f3a");
    EXPECT_EQ(attr(nameId, "Format"), kPersistent);
    EXPECT_EQ(attr(nameId, "NameQualifier"), kLogoutIdp);
    EXPECT_EQ(attr(nameId, "SPNameQualifier"), kSpEntity);
    EXPECT_EQ(text(find(doc.root(), "SessionIndex")), "_session-1");

    const std::string signature = base64Decoded(urlDecoded(parameterOf(m.query, "Signature")));
    EXPECT_TRUE(opensslVerifies(spCert(), kRsaSha256, signedOctetsOf(m.query), signature));
    // Honest controls: other octets, or the decoded query, do not verify.
    EXPECT_FALSE(opensslVerifies(spCert(), kRsaSha256, signedOctetsOf(m.query) + "x", signature));
    EXPECT_FALSE(
        opensslVerifies(spCert(), kRsaSha256, urlDecoded(signedOctetsOf(m.query)), signature));
}

TEST_F(LogoutCreate, PostedRequestIsSchemaValidSignedForTheXmlsec1ToolAndInItsForm) {
    corvane::LogoutRequestOptions options = requestOptions();
    options.includeKeyInfo = true;
    const auto made = corvane::createLogoutRequest(options, aliceLogin(), LogoutBinding::HttpPost,
                                                   "s-1", *spSigningKey);
    ASSERT_TRUE(made.ok()) << made.message();
    const corvane::OutgoingLogoutMessage& m = made.value();
    EXPECT_EQ(m.query, "");
    EXPECT_EQ(m.url, "");
    EXPECT_TRUE(validAgainst(kProtocolSchema, m.xml));
    EXPECT_TRUE(xmlsec1Verifies(m.xml, spCert(), "LogoutRequest"));
    // Control: the IdP's certificate does not verify it.
    EXPECT_FALSE(xmlsec1Verifies(m.xml, idpCert(), "LogoutRequest"));
    EXPECT_NE(m.formPage.find("action=\"https://idp.example.test/slo\""), std::string::npos);
    EXPECT_NE(
        m.formPage.find("name=\"SAMLRequest\" value=\"" + corvane::base64Encode(m.xml) + "\""),
        std::string::npos);
    EXPECT_NE(m.formPage.find("name=\"RelayState\" value=\"s-1\""), std::string::npos);
    Doc doc(m.xml);
    EXPECT_EQ(attr(find(doc.root(), "Reference"), "URI"), "#" + m.id);
}

TEST_F(LogoutCreate, ALoginWithoutQualifiersOrSessionGivesAPlainNameId) {
    corvane::VerifiedLogin login;
    login.nameId = "bob@example.test";
    for (const LogoutBinding binding : {LogoutBinding::HttpRedirect, LogoutBinding::HttpPost}) {
        const auto made =
            corvane::createLogoutRequest(requestOptions(), login, binding, "", *spSigningKey);
        ASSERT_TRUE(made.ok()) << made.message();
        EXPECT_TRUE(validAgainst(kProtocolSchema, made.value().xml));
        Doc doc(made.value().xml);
        const xmlNode* nameId = find(doc.root(), "NameID");
        EXPECT_EQ(text(nameId), "bob@example.test");
        for (const char* name : {"Format", "NameQualifier", "SPNameQualifier"})
            EXPECT_EQ(attr(nameId, name), "<absent>") << name;
        EXPECT_EQ(find(doc.root(), "SessionIndex"), nullptr);
        EXPECT_EQ(parameterOf(made.value().query, "RelayState"), "");
    }
}

TEST_F(LogoutCreate, TheSpsRequestReadsBackAsTheIdpWouldReadIt) {
    corvane::LogoutRequestOptions options = requestOptions();
    options.issuer = kSpEntity;
    for (const LogoutBinding binding : {LogoutBinding::HttpRedirect, LogoutBinding::HttpPost}) {
        const auto made =
            corvane::createLogoutRequest(options, aliceLogin(), binding, "rs", *spSigningKey);
        ASSERT_TRUE(made.ok()) << made.message();
        const auto read =
            binding == LogoutBinding::HttpRedirect
                ? corvane::verifyLogoutRequestQuery(made.value().query, idpExpectations())
                : corvane::verifyPostedLogoutRequest(corvane::base64Encode(made.value().xml),
                                                     idpExpectations());
        ASSERT_TRUE(read.ok()) << read.message();
        EXPECT_EQ(read.value().id, made.value().id);
        corvane::VerifiedLogin sameSession = aliceLogin();
        sameSession.idpEntityId = kSpEntity;  // the roles turned round
        EXPECT_TRUE(corvane::logoutRequestCoversLogin(read.value(), sameSession));
    }
}

TEST_F(LogoutCreate, ResponsesOfEveryAnswerAreValidAndReadBack) {
    struct AnswerRow {
        const char* name;
        corvane::LogoutAnswer answer;
        std::string message;
        std::string code;
        corvane::LogoutOutcome outcome;
    };
    const std::string ns = "urn:oasis:names:tc:SAML:2.0:status:";
    for (const AnswerRow& row :
         {AnswerRow{"success", corvane::LogoutAnswer::Success, "", ns + "Success",
                    corvane::LogoutOutcome::Success},
          AnswerRow{"responder", corvane::LogoutAnswer::Responder, "session store down",
                    ns + "Responder", corvane::LogoutOutcome::Failure},
          AnswerRow{"requester", corvane::LogoutAnswer::Requester, "", ns + "Requester",
                    corvane::LogoutOutcome::Failure}}) {
        for (const LogoutBinding binding : {LogoutBinding::HttpRedirect, LogoutBinding::HttpPost}) {
            SCOPED_TRACE(std::string(row.name) +
                         (binding == LogoutBinding::HttpPost ? " POST" : " Redirect"));
            corvane::LogoutResponseOptions options = responseOptions();
            options.answer = row.answer;
            options.statusMessage = row.message;
            const auto made =
                corvane::createLogoutResponse(options, binding, "state-2", *spSigningKey);
            ASSERT_TRUE(made.ok()) << made.message();
            const corvane::OutgoingLogoutMessage& m = made.value();
            EXPECT_TRUE(validAgainst(kProtocolSchema, m.xml));
            Doc doc(m.xml);
            EXPECT_EQ(attr(doc.root(), "InResponseTo"), "_idp-logout-request-1");
            EXPECT_EQ(attr(find(doc.root(), "StatusCode"), "Value"), row.code);
            if (binding == LogoutBinding::HttpPost) {
                EXPECT_TRUE(xmlsec1Verifies(m.xml, spCert(), "LogoutResponse"));
                EXPECT_NE(m.formPage.find("name=\"SAMLResponse\""), std::string::npos);
            } else {
                EXPECT_EQ(parameterNames(m.query),
                          (std::vector<std::string>{"SAMLResponse", "RelayState", "SigAlg",
                                                    "Signature"}));
                EXPECT_TRUE(
                    opensslVerifies(spCert(), kRsaSha256, signedOctetsOf(m.query),
                                    base64Decoded(urlDecoded(parameterOf(m.query, "Signature")))));
            }
            const auto read = binding == LogoutBinding::HttpRedirect
                                  ? corvane::verifyLogoutResponseQuery(m.query, idpExpectations())
                                  : corvane::verifyPostedLogoutResponse(
                                        corvane::base64Encode(m.xml), idpExpectations());
            ASSERT_TRUE(read.ok()) << read.message();
            EXPECT_EQ(read.value().outcome, row.outcome);
            EXPECT_EQ(read.value().statusMessage, row.message);
        }
    }
}

TEST_F(LogoutCreate, UnusableOptionsAreRefusedWithOneMessageAndNothingMade) {
    struct RefusalRow {
        const char* name;
        std::function<corvane::Result<corvane::OutgoingLogoutMessage>()> call;
        Status status;
        std::string message;
    };
    const corvane::KeyPtr certificateOnly = loadCertificate(spCert());
    auto request =
        [](std::function<void(corvane::LogoutRequestOptions&, corvane::VerifiedLogin&)> change,
           const std::string& relayState = "") {
            return [change, relayState] {
                corvane::LogoutRequestOptions o = requestOptions();
                corvane::VerifiedLogin login = aliceLogin();
                change(o, login);
                return corvane::createLogoutRequest(o, login, LogoutBinding::HttpRedirect,
                                                    relayState, *spSigningKey);
            };
        };
    auto response = [](std::function<void(corvane::LogoutResponseOptions&)> change) {
        return [change] {
            corvane::LogoutResponseOptions o = responseOptions();
            change(o);
            return corvane::createLogoutResponse(o, LogoutBinding::HttpPost, "", *spSigningKey);
        };
    };
    using RO = corvane::LogoutRequestOptions;
    using L = corvane::VerifiedLogin;
    using SO = corvane::LogoutResponseOptions;
    const std::vector<RefusalRow> rows = {
        {"control", request([](RO&, L&) {}), Status::Ok, ""},
        {"no destination", request([](RO& o, L&) { o.destination.clear(); }), Status::BadOptions,
         "LogoutRequest Destination is empty"},
        {"no issuer", request([](RO& o, L&) { o.issuer.clear(); }), Status::BadOptions,
         "LogoutRequest Issuer is empty"},
        {"no NameID", request([](RO&, L& l) { l.nameId.clear(); }), Status::BadOptions,
         "LogoutRequest NameID is empty"},
        {"NameID XML can not carry", request([](RO&, L& l) { l.nameId = "a\x01"; }),
         Status::BadOptions, "LogoutRequest NameID holds characters that XML can not carry"},
        {"RelayState of 81 bytes", request([](RO&, L&) {}, std::string(81, 'r')),
         Status::BadOptions, "RelayState is longer than 80 bytes"},
        {"control: RelayState of 80 bytes", request([](RO&, L&) {}, std::string(80, 'r')),
         Status::Ok, ""},
        {"request ID not an xs:ID", request([](RO& o, L&) { o.requestId = "9-bad"; }),
         Status::BadOptions, "LogoutRequest ID is not a valid xs:ID"},
        {"a key without its private part",
         [&] {
             return corvane::createLogoutRequest(requestOptions(), aliceLogin(),
                                                 LogoutBinding::HttpPost, "", *certificateOnly);
         },
         Status::Unusable, "SP key holds no private key"},
        {"response control", response([](SO&) {}), Status::Ok, ""},
        {"response without InResponseTo", response([](SO& o) { o.inResponseTo.clear(); }),
         Status::BadOptions, "LogoutResponse InResponseTo is empty"},
        {"response InResponseTo not an NCName", response([](SO& o) { o.inResponseTo = "a b\"c"; }),
         Status::BadOptions, "LogoutResponse InResponseTo is not an xs:NCName"},
        {"response POST to a non-http action",
         response([](SO& o) { o.destination = "javascript:alert(1)"; }), Status::BadOptions,
         "POST form action must be an http or https URL"},
    };
    for (const RefusalRow& row : rows) {
        SCOPED_TRACE(row.name);
        const auto result = row.call();
        EXPECT_EQ(result.status(), row.status);
        EXPECT_EQ(result.message(), row.message);
    }
}

}  // namespace
