// Concurrent use of the one helper: after getHelper and initHelper on the
// main thread, eight threads each create and verify requests and verify
// responses (honest and hostile mixed) against the shared helper. Every
// result must be the one a single thread gets, and every message must reach
// the callbacks on the thread whose call caused it.
//
// CORVANE_THREAD_TEST_ITERATIONS lowers the 1,000 rounds per thread (for
// slow instrumented builds); the normal suite runs the full count.
#include <atomic>
#include <cstdlib>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "Corvane.h"
#include "corvane_test_support.h"
#include "idp_samples.h"

namespace {

const int kThreads = 8;

// What the callbacks received, per calling thread, under one lock.
class ThreadRecorder {
public:
    static ThreadRecorder& instance() {
        static ThreadRecorder recorder;
        return recorder;
    }

    void error(const std::string& message) {
        std::lock_guard<std::mutex> lock(mutex_);
        threads_[std::this_thread::get_id()].errors.push_back(message);
    }

    void log(int level) {
        std::lock_guard<std::mutex> lock(mutex_);
        ++threads_[std::this_thread::get_id()].logLines;
        if (level < 1 || level > 3) ++badLevels_;
    }

    // A fresh ID, unique across threads, remembered for the calling thread.
    void id(std::string& out) {
        std::lock_guard<std::mutex> lock(mutex_);
        out = "_corvane-thread-test-" + std::to_string(++ids_);
        threads_[std::this_thread::get_id()].lastId = out;
    }

    // The errors and last ID of the calling thread since its last take().
    std::vector<std::string> takeErrors() {
        std::lock_guard<std::mutex> lock(mutex_);
        std::vector<std::string> errors;
        errors.swap(threads_[std::this_thread::get_id()].errors);
        return errors;
    }

    std::string lastId() {
        std::lock_guard<std::mutex> lock(mutex_);
        return threads_[std::this_thread::get_id()].lastId;
    }

    int badLevels() {
        std::lock_guard<std::mutex> lock(mutex_);
        return badLevels_;
    }

private:
    struct PerThread {
        std::vector<std::string> errors;
        std::string lastId;
        int logLines = 0;
    };
    std::mutex mutex_;
    std::map<std::thread::id, PerThread> threads_;
    int ids_ = 0;
    int badLevels_ = 0;
};

void onLog(int level, const std::string&) { ThreadRecorder::instance().log(level); }
void onError(const std::string& message) { ThreadRecorder::instance().error(message); }
void onId(std::string& id) { ThreadRecorder::instance().id(id); }

boost::shared_ptr<corvane::CorvaneBase> helper() {
    return corvane::CorvaneBase::getHelper(onLog, onError, onId);
}

int roundsPerThread() {
    const char* text = std::getenv("CORVANE_THREAD_TEST_ITERATIONS");
    const int rounds = text ? std::atoi(text) : 0;
    return rounds > 0 ? rounds : 1000;
}

// Failures seen by the workers: counted, the first few kept for the report.
class Failures {
public:
    void add(const std::string& what) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (first_.size() < 10) first_.push_back(what);
        ++count_;
    }
    int count() const { return count_; }
    std::string report() const {
        std::string text;
        for (const std::string& line : first_) text += line + "\n";
        return text;
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::string> first_;
    std::atomic<int> count_{0};
};

std::string lastOf(const std::vector<std::string>& messages) {
    return messages.empty() ? std::string() : messages.back();
}

// One response case, checked completely: status, NameID (set on success,
// untouched otherwise) and the last error message of this thread's call.
std::string checkResponseCase(const corvane_samples::Case& c, const std::string& idpCert) {
    const std::string untouched = "untouched";
    std::string nameId = untouched;
    const int status = helper()->verifySamlResponse(nameId, c.text, idpCert);
    const std::vector<std::string> errors = ThreadRecorder::instance().takeErrors();
    const std::string expectedName = c.status == 0 ? c.nameId : untouched;
    if (status != c.status || nameId != expectedName || lastOf(errors) != c.lastError ||
        (c.status == 0) != errors.empty()) {
        return c.name + ": status " + std::to_string(status) + ", NameID '" + nameId +
               "', last error '" + lastOf(errors) + "'";
    }
    return "";
}

// A request for this thread's destination: created, carrying the ID this
// thread's callback gave and the thread's own values, and verifying with the
// SP certificate.
std::string checkRequest(int thread, int round, const std::string& spKeyAndCert,
                         const std::string& spCert) {
    const std::string destination = "https://idp.example.test/sso/" + std::to_string(thread);
    const std::string issuer = "https://sp.example.test/" + std::to_string(thread) + "/" +
                               std::to_string(round);
    std::string request;
    const int status = helper()->createAuthnRequest(&request, destination, issuer, spKeyAndCert);
    const std::vector<std::string> errors = ThreadRecorder::instance().takeErrors();
    if (status != 0 || !errors.empty()) return "createAuthnRequest: " + lastOf(errors);
    if (request.find(" ID=\"" + ThreadRecorder::instance().lastId() + "\"") == std::string::npos ||
        request.find(" Destination=\"" + destination + "\"") == std::string::npos ||
        request.find(">" + issuer + "</saml:Issuer>") == std::string::npos) {
        return "request does not carry this thread's ID and values: " + request;
    }
    const int verified = corvane::verifySignature(request, spCert);
    const std::vector<std::string> verifyErrors = ThreadRecorder::instance().takeErrors();
    if (verified != 0 || !verifyErrors.empty()) {
        return "request does not verify: " + std::to_string(verified) + " " + lastOf(verifyErrors);
    }
    return "";
}

class ConcurrentUse : public ::testing::Test {
protected:
    static void SetUpTestSuite() { cases_ = new std::vector<corvane_samples::Case>(corvane_samples::responseCases()); }
    static void TearDownTestSuite() {
        delete cases_;
        cases_ = nullptr;
    }
    static std::vector<corvane_samples::Case>* cases_;
};

std::vector<corvane_samples::Case>* ConcurrentUse::cases_ = nullptr;

// The expectations themselves hold on one thread, so a failure under
// threads is a concurrency failure.
TEST_F(ConcurrentUse, EveryCaseHoldsOnOneThread) {
    ASSERT_GE(cases_->size(), 10u);
    const std::string idpCert = corvane_test::idpCert();
    for (const corvane_samples::Case& c : *cases_) {
        ASSERT_FALSE(c.text.empty()) << c.name;
        EXPECT_EQ(checkResponseCase(c, idpCert), "") << c.name;
    }
    EXPECT_EQ(checkRequest(0, 0, corvane_test::spKeyAndCert(), corvane_test::spCert()), "");
}

TEST_F(ConcurrentUse, EightThreadsCreateAndVerifyRequestsAndResponses) {
    const int rounds = roundsPerThread();
    const std::string idpCert = corvane_test::idpCert();
    const std::string spKeyAndCert = corvane_test::spKeyAndCert();
    const std::string spCert = corvane_test::spCert();
    const std::vector<corvane_samples::Case>& cases = *cases_;
    Failures failures;
    std::atomic<int> responsesAccepted{0};
    std::atomic<int> responsesRefused{0};

    std::vector<std::thread> workers;
    for (int t = 0; t < kThreads; ++t) {
        workers.emplace_back([&, t] {
            for (int round = 0; round < rounds; ++round) {
                const std::string requestFailure = checkRequest(t, round, spKeyAndCert, spCert);
                if (!requestFailure.empty()) failures.add(requestFailure);
                const corvane_samples::Case& c = cases[(t * 7 + round) % cases.size()];
                const std::string responseFailure = checkResponseCase(c, idpCert);
                if (!responseFailure.empty()) failures.add(responseFailure);
                ++(c.status == 0 ? responsesAccepted : responsesRefused);
            }
        });
    }
    for (std::thread& worker : workers) worker.join();

    EXPECT_EQ(failures.count(), 0) << failures.report();
    EXPECT_EQ(responsesAccepted + responsesRefused, kThreads * rounds);
    EXPECT_GT(responsesAccepted.load(), 0);
    EXPECT_GT(responsesRefused.load(), 0);
    EXPECT_EQ(ThreadRecorder::instance().badLevels(), 0);
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // getHelper and initHelper complete before any other thread starts.
    if (helper()->initHelper() != 0) return 1;
    const int result = RUN_ALL_TESTS();
    helper()->finiHelper();
    return result;
}
