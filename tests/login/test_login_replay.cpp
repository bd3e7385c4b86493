// One-time use of logins: verifyLoginResponse records the assertion and
// the request it answers in a replay cache (the process's own, one the
// host names, or a real redis-server shared by processes), and refuses a
// replay; the keys it records are fixed-size and namespaced by IdP, the
// expiry is the assertion's own plus the skew, capped; a cache that fails
// refuses the login unless the host allowed that by name.
#include <sys/wait.h>
#include <unistd.h>

#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <corvane/corvane.h>
#include "corvane_test_support.h"
#include "generated_keys.h"
#include "redis_server.h"

namespace {

using namespace corvane_test;
using corvane::LoginExpectations;
using corvane::ReplayCheck;
using corvane::ReplayOutcome;
using corvane::Result;
using corvane::Status;
using corvane::VerifiedLogin;

const char kIdp[] = "https://idp.example.test/login-test-only";
const char kOtherIdp[] = "https://other-idp.example.test/metadata";
const char kRequest[] = "_login-request-1";
const char kTemplateDay[] = "2024-03-01";
const long long kTemplateNow = 1709294400;  // 2024-03-01T12:00:00Z
// The earlier of the confirmation's (12:05) and the Conditions' (12:10)
// NotOnOrAfter, plus the default skew.
const long long kTemplateEntryExpiry = kTemplateNow + 300 + 180;
const char kFull[] = "Replay cache is full of live entries; no new login can be recorded until some expire";

std::string replayedMessage(const std::string& assertionId) {
    return "SAML assertion \"" + assertionId + "\" was accepted before: a replay is refused";
}
std::string requestAnsweredMessage(const std::string& requestId) {
    return "SAML response answers request \"" + requestId +
           "\", which an earlier login answered already";
}

// The login template signed over its assertion, with this assertion ID,
// answering `request` (none when empty), issued by `idp`, on `day`.
struct LoginShape {
    std::string assertionId = "_login-assertion-1";
    std::string request = kRequest;
    std::string idp = kIdp;
    std::string day = kTemplateDay;
    // Full time stamps replacing the Conditions' (12:10 on day) and the
    // confirmation's (12:05) NotOnOrAfter; empty: kept.
    std::string conditionsEnd, confirmationEnd;
};

std::string signedLogin(const LoginShape& shape) {
    std::string text = readFixture("login-response-template.xml");
    text = replaceAll(text, "{{RESPONSE_SIGNATURE}}", "");
    text = replaceAll(
        text, "{{ASSERTION_SIGNATURE}}",
        "<ds:Signature xmlns:ds=\"http://www.w3.org/2000/09/xmldsig#\"><ds:SignedInfo>"
        "<ds:CanonicalizationMethod Algorithm=\"http://www.w3.org/2001/10/xml-exc-c14n#\"/>"
        "<ds:SignatureMethod Algorithm=\"http://www.w3.org/2001/04/xmldsig-more#rsa-sha256\"/>"
        "<ds:Reference URI=\"#" + shape.assertionId +
            "\"><ds:Transforms><ds:Transform Algorithm=\"http://www.w3.org/2000/09/"
            "xmldsig#enveloped-signature\"/><ds:Transform Algorithm=\"http://www.w3.org/2001/10/"
            "xml-exc-c14n#\"/></ds:Transforms><ds:DigestMethod "
            "Algorithm=\"http://www.w3.org/2001/04/xmlenc#sha256\"/><ds:DigestValue/>"
            "</ds:Reference></ds:SignedInfo><ds:SignatureValue/></ds:Signature>");
    text = replaceAll(text, "ID=\"_login-assertion-1\"", "ID=\"" + shape.assertionId + "\"");
    text = replaceAll(text, " InResponseTo=\"_login-request-1\"",
                      shape.request.empty() ? "" : " InResponseTo=\"" + shape.request + "\"");
    text = replaceAll(text, kIdp, shape.idp);
    text = replaceAll(text, kTemplateDay, shape.day);
    if (!shape.conditionsEnd.empty()) {
        text = replaceAll(text, "NotOnOrAfter=\"" + shape.day + "T12:10:00Z\"",
                          "NotOnOrAfter=\"" + shape.conditionsEnd + "\"");
    }
    if (!shape.confirmationEnd.empty()) {
        text = replaceAll(text, "NotOnOrAfter=\"" + shape.day + "T12:05:00Z\"",
                          "NotOnOrAfter=\"" + shape.confirmationEnd + "\"");
    }
    return signTemplateInProcess(text, idpKey());
}

LoginShape assertion(const std::string& id) {
    LoginShape shape;
    shape.assertionId = id;
    return shape;
}

LoginExpectations expectations(std::shared_ptr<corvane::ReplayCache> cache) {
    LoginExpectations e;
    e.idpEntityId = kIdp;
    corvane::Result<corvane::KeyPtr> cert = corvane::Key::loadCertificate(idpCert());
    EXPECT_TRUE(cert.ok()) << cert.message();
    e.idpCertificates = {cert.ok() ? cert.value() : corvane::KeyPtr()};
    e.spEntityId = "https://sp.example.test/metadata";
    e.acsUrl = "https://sp.example.test/acs";
    e.requestId = kRequest;
    e.now = kTemplateNow;
    e.replayCache = std::move(cache);
    return e;
}

void expectAccepted(const Result<VerifiedLogin>& login, const std::string& assertionId) {
    ASSERT_TRUE(login.ok()) << login.message();
    EXPECT_EQ(login.value().assertionId, assertionId);
    EXPECT_EQ(login.value().nameId, "alice-7f3a@example.test");
}

void expectRefused(const Result<VerifiedLogin>& login, Status status, const std::string& message) {
    EXPECT_EQ(login.status(), status);
    EXPECT_EQ(login.message(), message);
}

// ---- Replays refused, honest logins accepted ---------------------------------

class LoginReplayTest : public RecordingTest {};

TEST_F(LoginReplayTest, TheSameResponseIsAcceptedOnceAndRefusedAfter) {
    const LoginExpectations e = expectations(corvane::newInProcessReplayCache());
    const std::string response = signedLogin(LoginShape());
    const Result<VerifiedLogin> first = corvane::verifyLoginResponse(response, e);
    expectAccepted(first, "_login-assertion-1");
    EXPECT_EQ(first.value().inResponseTo, kRequest);
    expectRefused(corvane::verifyLoginResponse(response, e), Status::ProfileRefused,
                  replayedMessage("_login-assertion-1"));
    expectRefused(corvane::verifyLoginResponse(response, e), Status::ProfileRefused,
                  replayedMessage("_login-assertion-1"));
    EXPECT_TRUE(Recorder::everything().empty());
}

TEST_F(LoginReplayTest, ARequestIsAnsweredOnceEvenByAnotherAssertion) {
    const LoginExpectations e = expectations(corvane::newInProcessReplayCache());
    expectAccepted(corvane::verifyLoginResponse(signedLogin(assertion("_first")), e), "_first");
    expectRefused(corvane::verifyLoginResponse(signedLogin(assertion("_second")), e),
                  Status::ProfileRefused, requestAnsweredMessage(kRequest));
    // Another request of the same user is answered as usual.
    LoginShape another = assertion("_third");
    another.request = "_login-request-2";
    LoginExpectations forAnother = e;
    forAnother.requestId = "_login-request-2";
    expectAccepted(corvane::verifyLoginResponse(signedLogin(another), forAnother), "_third");
}

TEST_F(LoginReplayTest, UnsolicitedLoginsRecordTheirAssertionOnly) {
    LoginExpectations e = expectations(corvane::newInProcessReplayCache());
    e.requestId.clear();
    e.allowUnsolicited = true;
    LoginShape first = assertion("_unsolicited-1"), second = assertion("_unsolicited-2");
    first.request.clear();
    second.request.clear();
    const Result<VerifiedLogin> login = corvane::verifyLoginResponse(signedLogin(first), e);
    expectAccepted(login, "_unsolicited-1");
    EXPECT_EQ(login.value().inResponseTo, "");
    expectAccepted(corvane::verifyLoginResponse(signedLogin(second), e), "_unsolicited-2");
    expectRefused(corvane::verifyLoginResponse(signedLogin(first), e), Status::ProfileRefused,
                  replayedMessage("_unsolicited-1"));
}

TEST_F(LoginReplayTest, OneIdpsAssertionIdsDoNotCollideWithAnothers) {
    const std::shared_ptr<corvane::ReplayCache> cache = corvane::newInProcessReplayCache();
    LoginShape other = LoginShape();
    other.idp = kOtherIdp;
    LoginExpectations forOther = expectations(cache);
    forOther.idpEntityId = kOtherIdp;
    expectAccepted(corvane::verifyLoginResponse(signedLogin(LoginShape()), expectations(cache)),
                   "_login-assertion-1");
    expectAccepted(corvane::verifyLoginResponse(signedLogin(other), forOther),
                   "_login-assertion-1");
}

TEST_F(LoginReplayTest, WithoutANamedCacheTheProcessCacheRecords) {
    const std::string response = signedLogin(assertion("_process-cache-1"));
    expectAccepted(corvane::verifyLoginResponse(response, expectations(nullptr)),
                   "_process-cache-1");
    // Another expectations object, the same process: still a replay.
    expectRefused(corvane::verifyLoginResponse(response, expectations(nullptr)),
                  Status::ProfileRefused, replayedMessage("_process-cache-1"));
}

TEST_F(LoginReplayTest, SkippingTheCheckIsANamedRelaxation) {
    LoginExpectations e = expectations(corvane::newInProcessReplayCache());
    e.skipReplayCheck = true;
    const std::string response = signedLogin(LoginShape());
    expectAccepted(corvane::verifyLoginResponse(response, e), "_login-assertion-1");
    expectAccepted(corvane::verifyLoginResponse(response, e), "_login-assertion-1");
}

TEST_F(LoginReplayTest, RefusedLoginsRecordNothing) {
    LoginExpectations e = expectations(corvane::newInProcessReplayCache());
    const std::string response = signedLogin(LoginShape());
    LoginExpectations wrongAudience = e;
    wrongAudience.spEntityId = "https://other-sp.example.test/metadata";
    EXPECT_EQ(corvane::verifyLoginResponse(response, wrongAudience).status(),
              Status::ProfileRefused);
    expectAccepted(corvane::verifyLoginResponse(response, e), "_login-assertion-1");
}

// ---- What is recorded ------------------------------------------------------

struct Insertion {
    std::string key;
    long long expiresAt, now;
};

// A cache that answers as told and remembers what it was asked.
class ScriptedCache : public corvane::ReplayCache {
public:
    explicit ScriptedCache(ReplayOutcome outcome, std::string problem = std::string())
        : outcome_(outcome), problem_(std::move(problem)) {}
    ReplayCheck insertIfAbsent(const std::string& key, long long expiresAt, long long now) override {
        asked.push_back(Insertion{key, expiresAt, now});
        ReplayCheck check;
        check.outcome = outcome_;
        check.problem = problem_;
        return check;
    }
    std::vector<Insertion> asked;

private:
    ReplayOutcome outcome_;
    std::string problem_;
};

bool isHexDigest(const std::string& text) {
    return text.size() == 64 && text.find_first_not_of("0123456789abcdef") == std::string::npos;
}

TEST_F(LoginReplayTest, KeysAreFixedSizeDigestsAndExpiryIsTheAssertionsPlusSkew) {
    const std::string longId = "_" + std::string(8191, 'a');
    for (const std::string& id : {std::string("_login-assertion-1"), longId}) {
        SCOPED_TRACE(id.size());
        auto cache = std::make_shared<ScriptedCache>(ReplayOutcome::FirstUse);
        expectAccepted(corvane::verifyLoginResponse(signedLogin(assertion(id)), expectations(cache)),
                       id);
        ASSERT_EQ(cache->asked.size(), 2u);
        EXPECT_EQ(cache->asked[0].key.substr(0, 10), "assertion:");
        EXPECT_TRUE(isHexDigest(cache->asked[0].key.substr(10))) << cache->asked[0].key;
        EXPECT_EQ(cache->asked[1].key.substr(0, 8), "request:");
        EXPECT_TRUE(isHexDigest(cache->asked[1].key.substr(8))) << cache->asked[1].key;
        for (const Insertion& insertion : cache->asked) {
            EXPECT_EQ(insertion.expiresAt, kTemplateEntryExpiry);
            EXPECT_EQ(insertion.now, kTemplateNow);
        }
    }
}

TEST_F(LoginReplayTest, TheSkewAndTheEarlierExpiryDecideHowLongAnEntryLives) {
    auto cache = std::make_shared<ScriptedCache>(ReplayOutcome::FirstUse);
    LoginExpectations e = expectations(cache);
    e.clockSkewSeconds = 0;
    LoginShape conditionsFirst = LoginShape();
    conditionsFirst.conditionsEnd = "2024-03-01T12:02:00Z";  // before the confirmation's 12:05
    expectAccepted(corvane::verifyLoginResponse(signedLogin(conditionsFirst), e),
                   "_login-assertion-1");
    ASSERT_FALSE(cache->asked.empty());
    EXPECT_EQ(cache->asked[0].expiresAt, kTemplateNow + 120);
}

TEST_F(LoginReplayTest, AnEntryLivesAtMostADay) {
    auto cache = std::make_shared<ScriptedCache>(ReplayOutcome::FirstUse);
    LoginShape longLived = LoginShape();
    longLived.conditionsEnd = longLived.confirmationEnd = "2050-01-01T00:00:00Z";
    expectAccepted(corvane::verifyLoginResponse(signedLogin(longLived), expectations(cache)),
                   "_login-assertion-1");
    ASSERT_EQ(cache->asked.size(), 2u);
    EXPECT_EQ(cache->asked[0].expiresAt, kTemplateNow + 86400);
    EXPECT_EQ(cache->asked[1].expiresAt, kTemplateNow + 86400);
}

// ---- A cache that fails --------------------------------------------------------

struct FailureRow {
    const char* name;
    ReplayOutcome outcome;
    const char* problem;
    bool allowUnavailable;
    bool accepted;
};
void PrintTo(const FailureRow& row, std::ostream* os) { *os << row.name; }

class ReplayCacheFailure : public RecordingTest, public ::testing::WithParamInterface<FailureRow> {};

TEST_P(ReplayCacheFailure, RefusedUnlessAllowedByName) {
    const FailureRow& row = GetParam();
    std::vector<std::string> logged;
    Result<corvane::Library> library =
        corvane::Library::start([&logged](int level, const std::string& message) {
            if (level == 1) logged.push_back(message);
        });
    ASSERT_TRUE(library.ok());
    LoginExpectations e = expectations(std::make_shared<ScriptedCache>(row.outcome, row.problem));
    e.allowLoginWhileReplayCacheUnavailable = row.allowUnavailable;
    const Result<VerifiedLogin> login = corvane::verifyLoginResponse(signedLogin(LoginShape()), e);
    if (row.accepted) {
        expectAccepted(login, "_login-assertion-1");
        const std::string line =
            std::string("Login accepted without a replay check, as allowed while the cache is "
                        "unavailable: ") +
            row.problem;
        EXPECT_EQ(logged, (std::vector<std::string>{line, line}));
    } else {
        expectRefused(login, Status::ReplayCacheFailed, row.problem);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Outcomes, ReplayCacheFailure,
    ::testing::Values(
        FailureRow{"Unavailable", ReplayOutcome::Unavailable,
                   "Replay cache on Redis is unavailable: Connection refused", false, false},
        FailureRow{"UnavailableAllowedByName", ReplayOutcome::Unavailable,
                   "Replay cache on Redis is unavailable: Connection refused", true, true},
        FailureRow{"Full", ReplayOutcome::Full, kFull, false, false},
        // A full cache never lets a login through: its entries are live.
        FailureRow{"FullEvenWhenUnavailableIsAllowed", ReplayOutcome::Full, kFull, true, false}),
    RowName());

TEST_F(LoginReplayTest, TheInProcessCacheAtItsBoundRefusesNewLogins) {
    // One login records two entries: its assertion and its request.
    const LoginExpectations e = expectations(corvane::newInProcessReplayCache(2));
    expectAccepted(corvane::verifyLoginResponse(signedLogin(LoginShape()), e),
                   "_login-assertion-1");
    LoginShape next = assertion("_next");
    next.request = "_login-request-2";
    LoginExpectations forNext = e;
    forNext.requestId = "_login-request-2";
    expectRefused(corvane::verifyLoginResponse(signedLogin(next), forNext),
                  Status::ReplayCacheFailed, kFull);
    // The first login stays recorded: it is still a replay.
    expectRefused(corvane::verifyLoginResponse(signedLogin(LoginShape()), e),
                  Status::ProfileRefused, replayedMessage("_login-assertion-1"));
}

// ---- Several nodes on one redis-server ---------------------------------------

class LoginReplayOnRedis : public RecordingTest {
protected:
    void SetUp() override {
        RecordingTest::SetUp();
        ASSERT_TRUE(server_.start()) << "redis-server did not start";
    }
    std::shared_ptr<corvane::ReplayCache> node() {
        corvane::RedisReplayCacheOptions options;
        options.url = server_.url();
        options.commandTimeoutMilliseconds = 500;
        std::string problem;
        std::shared_ptr<corvane::ReplayCache> cache = corvane::newRedisReplayCache(options, &problem);
        EXPECT_TRUE(cache) << problem;
        return cache;
    }
    LoginExpectations expectationsOn(std::shared_ptr<corvane::ReplayCache> cache,
                                     const std::string& request) {
        LoginExpectations e = expectations(std::move(cache));
        e.now = noonUtc(day_);
        e.requestId = request;
        return e;
    }
    std::string login(const std::string& assertionId, const std::string& request) {
        LoginShape shape = assertion(assertionId);
        shape.request = request;
        shape.day = day_;
        return signedLogin(shape);
    }
    RedisServer server_;
    const std::string day_ = tomorrowUtc();
};

TEST_F(LoginReplayOnRedis, AReplayIsRefusedInAnotherProcess) {
    const std::string response = login("_redis-1", "_redis-request-1");
    const LoginExpectations e = expectationsOn(node(), "_redis-request-1");
    std::fflush(nullptr);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // The second node: its own connection to the same server.
        const Result<VerifiedLogin> first =
            corvane::verifyLoginResponse(response, expectationsOn(node(), "_redis-request-1"));
        _exit(first.ok() ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the other node refused the login";
    expectRefused(corvane::verifyLoginResponse(response, e), Status::ProfileRefused,
                  replayedMessage("_redis-1"));
}

TEST_F(LoginReplayOnRedis, FailsClosedWhileRedisIsDownAndWorksWhenItIsBack) {
    const std::shared_ptr<corvane::ReplayCache> cache = node();
    expectAccepted(corvane::verifyLoginResponse(login("_redis-up", "_redis-request-up"),
                                                expectationsOn(cache, "_redis-request-up")),
                   "_redis-up");
    server_.stop();
    const Result<VerifiedLogin> down = corvane::verifyLoginResponse(
        login("_redis-down", "_redis-request-down"), expectationsOn(cache, "_redis-request-down"));
    EXPECT_EQ(down.status(), Status::ReplayCacheFailed);
    EXPECT_EQ(down.message().rfind("Replay cache on Redis is unavailable: ", 0), 0u)
        << down.message();
    ASSERT_TRUE(server_.start());
    expectAccepted(corvane::verifyLoginResponse(login("_redis-down", "_redis-request-down"),
                                                expectationsOn(cache, "_redis-request-down")),
                   "_redis-down");
    // The server kept nothing over the restart (no persistence in the
    // tests): what matters is that the cache answers again.
    expectRefused(corvane::verifyLoginResponse(login("_redis-down", "_redis-request-down"),
                                               expectationsOn(cache, "_redis-request-down")),
                  Status::ProfileRefused, replayedMessage("_redis-down"));
}

}  // namespace
