// Per-call messages of the extended interface under threads: eight threads
// make failing calls whose messages quote something of their own (the SP
// entity ID or request ID expected, an offset) between succeeding calls,
// on one Library, one signed login and one pair of keys. Each result must
// carry exactly its own call's message, successes none, nothing may reach
// the documented callbacks, and the Library's sink must hear each call's
// log lines on the thread that made it.
#include <cstdlib>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include <corvane/corvane.h>
#include "corvane_test_support.h"
#include "login_samples.h"

namespace {

using namespace corvane_test;
using corvane::KeyPtr;
using corvane::Result;
using corvane::Status;

const int kThreads = 8;

// 100 rounds per thread; CORVANE_THREAD_TEST_ITERATIONS lowers them (for
// slow instrumented or emulated builds), as for test_threads.
int roundsPerThread() {
    const char* text = std::getenv("CORVANE_THREAD_TEST_ITERATIONS");
    const int rounds = text ? std::atoi(text) : 0;
    return rounds > 0 && rounds < 100 ? rounds : 100;
}

// The documented callbacks, recording into the Recorder under one lock:
// a misrouted message from any thread is recorded, not raced over.
std::mutex& recorderMutex() {
    static std::mutex mutex;
    return mutex;
}
void lockedLog(int level, const std::string& message) {
    std::lock_guard<std::mutex> lock(recorderMutex());
    recordLog(level, message);
}
void lockedError(const std::string& message) {
    std::lock_guard<std::mutex> lock(recorderMutex());
    recordError(message);
}
void lockedId(std::string& id) {
    std::lock_guard<std::mutex> lock(recorderMutex());
    supplyId(id);
}

// The Library's sink: each line with the thread it arrived on.
class ThreadSink {
public:
    void add(const std::string& message) {
        std::lock_guard<std::mutex> lock(mutex_);
        lines_[std::this_thread::get_id()].push_back(message);
    }
    std::map<std::thread::id, std::vector<std::string>> take() {
        std::lock_guard<std::mutex> lock(mutex_);
        std::map<std::thread::id, std::vector<std::string>> lines;
        lines.swap(lines_);
        return lines;
    }

private:
    std::mutex mutex_;
    std::map<std::thread::id, std::vector<std::string>> lines_;
};

// Mismatches seen by the workers: counted, the first few kept.
class Mismatches {
public:
    template <typename T>
    void check(const Result<T>& result, Status status, const std::string& message,
               const std::string& call) {
        if (result.status() == status && result.message() == message) return;
        std::lock_guard<std::mutex> lock(mutex_);
        if (first_.size() < 10)
            first_.push_back(call + ": status " + std::to_string(corvane::toInt(result.status())) +
                             " \"" + result.message() + "\", expected " +
                             std::to_string(corvane::toInt(status)) + " \"" + message + "\"");
        ++count_;
    }
    void fail(const std::string& what) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (first_.size() < 10) first_.push_back(what);
        ++count_;
    }
    int count() {
        std::lock_guard<std::mutex> lock(mutex_);
        return count_;
    }
    std::string report() {
        std::lock_guard<std::mutex> lock(mutex_);
        std::string text;
        for (const std::string& line : first_) text += line + "\n";
        return text;
    }

private:
    std::mutex mutex_;
    std::vector<std::string> first_;
    int count_ = 0;
};

struct Shared {
    std::string signedLogin;
    KeyPtr idpCertificate;
    KeyPtr spKey;
};

// One round of calls for `tag` ("t3r17": thread 3, round 17); `offset`
// places the bad character and the bad escape.
void oneRound(const Shared& shared, const std::string& tag, std::size_t offset, Mismatches& seen) {
    const std::string sp = "https://sp.example.test/" + tag;
    corvane::LoginExpectations otherSp = loginExpectations(shared.idpCertificate);
    otherSp.spEntityId = sp;
    seen.check(corvane::verifyLoginResponse(shared.signedLogin, otherSp), Status::ProfileRefused,
               "SAML assertion AudienceRestriction does not name the SP \"" + sp + "\"",
               tag + " wrong audience");

    const Result<corvane::VerifiedLogin> honest =
        corvane::verifyLoginResponse(shared.signedLogin, loginExpectations(shared.idpCertificate));
    seen.check(honest, Status::Ok, "", tag + " honest login");
    if (honest.ok() && honest.value().nameId != kLoginNameId)
        seen.fail(tag + " honest login with NameID " + honest.value().nameId);

    corvane::LoginExpectations otherRequest = loginExpectations(shared.idpCertificate);
    otherRequest.requestId = "_" + tag;
    seen.check(corvane::verifyLoginResponse(shared.signedLogin, otherRequest),
               Status::ProfileRefused,
               "SAML response answers request \"_login-request-1\", not \"_" + tag + "\"",
               tag + " wrong request");

    seen.check(corvane::base64Decode(std::string(offset, 'A') + "!AAA"), Status::Unusable,
               "Base64 text holds the character '!' at offset " + std::to_string(offset),
               tag + " bad base64");
    const Result<std::string> decoded = corvane::base64Decode(corvane::base64Encode(tag));
    seen.check(decoded, Status::Ok, "", tag + " base64");
    if (decoded.ok() && decoded.value() != tag) seen.fail(tag + " base64 decoded wrongly");

    seen.check(corvane::decodePostedResponse(std::string(offset, 'A') + "%4", true),
               Status::Unusable,
               "SAMLResponse form value holds a bad percent-escape at offset " +
                   std::to_string(offset),
               tag + " bad escape");

    // libxml2's report of this text names the thread's tag: it must reach
    // the sink on this thread.
    seen.check(corvane::verifyLoginResponse("<a><" + tag + "></a>",
                                            loginExpectations(shared.idpCertificate)),
               Status::Unusable, "XML document with SAML token is not well-formed",
               tag + " not well-formed");

    corvane::StandardRequestOptions options;
    options.destination = "https://idp.example.test/sso";
    options.issuer = kLoginSp;
    options.requestId = "_" + tag;
    const Result<corvane::AuthnRequest> request =
        corvane::createSignedAuthnRequest(options, *shared.spKey);
    seen.check(request, Status::Ok, "", tag + " request");
    if (request.ok() && request.value().id != "_" + tag) seen.fail(tag + " request ID changed");
    options.requestId = "1" + tag;
    seen.check(corvane::createSignedAuthnRequest(options, *shared.spKey), Status::BadOptions,
               "AuthnRequest ID is not a valid xs:ID", tag + " bad request ID");
}

std::string tagFor(int thread, int round) {
    return "t" + std::to_string(thread) + "r" + std::to_string(round);
}

// The thread tags ("t3r") that the lines quote.
std::vector<std::string> threadTagsIn(const std::vector<std::string>& lines) {
    std::vector<std::string> tags;
    for (const std::string& line : lines) {
        const std::size_t at = line.find("mismatch: t");
        if (at == std::string::npos) continue;
        const std::size_t end = line.find('r', at + 11);
        tags.push_back(line.substr(at + 10, end - at - 9));
    }
    return tags;
}

TEST(CallMessagesUnderThreads, EveryResultCarriesItsOwnMessageAndTheSinkHearsTheCallingThread) {
    ThreadSink sink;
    const Result<corvane::Library> library =
        corvane::Library::start([&sink](int, const std::string& message) { sink.add(message); });
    ASSERT_TRUE(library.ok()) << library.message();
    Shared shared;
    shared.signedLogin = signedLoginResponse();
    ASSERT_FALSE(shared.signedLogin.empty());
    const Result<KeyPtr> idp = corvane::Key::loadCertificate(idpCert());
    const Result<KeyPtr> sp = corvane::Key::loadPrivateKey(spKeyAndCert());
    ASSERT_TRUE(idp.ok() && sp.ok()) << idp.message() << sp.message();
    shared.idpCertificate = idp.value();
    shared.spKey = sp.value();

    // One round on this thread first: what the sink hears of a round.
    Recorder::reset();
    sink.take();
    Mismatches seen;
    oneRound(shared, "main", 3, seen);
    ASSERT_EQ(seen.count(), 0) << seen.report();
    const std::map<std::thread::id, std::vector<std::string>> mainLines = sink.take();
    ASSERT_EQ(mainLines.size(), 1u);
    ASSERT_EQ(mainLines.begin()->first, std::this_thread::get_id());
    const std::size_t linesPerRound = mainLines.begin()->second.size();
    ASSERT_GT(linesPerRound, 0u) << "the not well-formed text is reported to the sink";
    EXPECT_NE(mainLines.begin()->second.front().find("mismatch: main"), std::string::npos)
        << mainLines.begin()->second.front();

    const int rounds = roundsPerThread();
    std::vector<std::thread::id> ids(kThreads);
    std::vector<std::thread> workers;
    for (int t = 0; t < kThreads; ++t) {
        workers.emplace_back([&shared, &seen, &ids, rounds, t] {
            ids[t] = std::this_thread::get_id();
            for (int r = 0; r < rounds; ++r)
                oneRound(shared, tagFor(t, r), static_cast<std::size_t>(t * 1000 + r), seen);
        });
    }
    for (std::thread& worker : workers) worker.join();

    EXPECT_EQ(seen.count(), 0) << seen.report();
    EXPECT_TRUE(Recorder::everything().empty())
        << "a message reached the documented callbacks: "
        << ::testing::PrintToString(Recorder::everything());
    const std::map<std::thread::id, std::vector<std::string>> lines = sink.take();
    EXPECT_EQ(lines.size(), static_cast<std::size_t>(kThreads)) << "lines on other threads";
    for (int t = 0; t < kThreads; ++t) {
        SCOPED_TRACE("thread " + std::to_string(t));
        const auto heard = lines.find(ids[t]);
        ASSERT_NE(heard, lines.end());
        EXPECT_EQ(heard->second.size(), rounds * linesPerRound);
        const std::vector<std::string> tags = threadTagsIn(heard->second);
        EXPECT_EQ(tags, std::vector<std::string>(rounds, "t" + std::to_string(t) + "r"));
    }
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // The documented callbacks are installed (locked) before any call, so
    // that anything misrouted to them is seen.
    corvane::CorvaneBase::getHelper(lockedLog, lockedError, lockedId);
    return RUN_ALL_TESTS();
}
