// The replay caches: the in-process default and the one on a real
// redis-server, each checked for one-time use, expiry, its bound or its
// failure modes, and races between threads and between processes.
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <ctime>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <hiredis/hiredis.h>

#include "corvane/replay.h"
#include "redis_server.h"

namespace {

using corvane::ReplayCache;
using corvane::ReplayCheck;
using corvane::ReplayOutcome;

const long long kNow = 1700000000;
const long long kLater = kNow + 300;

ReplayOutcome insert(ReplayCache& cache, const std::string& key, long long expiresAt = kLater,
                     long long now = kNow) {
    return cache.insertIfAbsent(key, expiresAt, now).outcome;
}

// Each of `racers` threads records the same `keys` keys; returns, per key,
// how many of them won it.
std::vector<int> raceThreads(ReplayCache& cache, int racers, int keys, const std::string& tag) {
    std::vector<std::atomic<int>> wins(static_cast<std::size_t>(keys));
    std::vector<std::thread> threads;
    for (int racer = 0; racer < racers; ++racer) {
        threads.emplace_back([&] {
            for (int key = 0; key < keys; ++key) {
                const long long expiry = static_cast<long long>(std::time(nullptr)) + 600;
                if (cache.insertIfAbsent(tag + std::to_string(key), expiry, kNow).outcome ==
                    ReplayOutcome::FirstUse) {
                    ++wins[static_cast<std::size_t>(key)];
                }
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    return std::vector<int>(wins.begin(), wins.end());
}

void expectExactlyOneWinnerEach(const std::vector<int>& wins) {
    int wrong = 0;
    for (int count : wins) wrong += count != 1;
    EXPECT_EQ(wrong, 0) << "keys won by no racer or by several";
}

// ---- In process ----

TEST(InProcessReplayCache, RecordsOnceAndRefusesTheSecondUse) {
    auto cache = corvane::newInProcessReplayCache();
    EXPECT_EQ(insert(*cache, "assertion-1"), ReplayOutcome::FirstUse);
    EXPECT_EQ(insert(*cache, "assertion-1"), ReplayOutcome::SeenBefore);
    EXPECT_EQ(insert(*cache, "assertion-2"), ReplayOutcome::FirstUse);
    EXPECT_EQ(insert(*cache, std::string(8192, 'x')), ReplayOutcome::FirstUse);
    EXPECT_EQ(insert(*cache, std::string(8192, 'x')), ReplayOutcome::SeenBefore);
}

TEST(InProcessReplayCache, KeepsAnEntryUntilItsExpiryAndThenDropsIt) {
    auto cache = corvane::newInProcessReplayCache();
    ASSERT_EQ(insert(*cache, "k", kNow + 10, kNow), ReplayOutcome::FirstUse);
    EXPECT_EQ(insert(*cache, "k", kNow + 20, kNow + 9), ReplayOutcome::SeenBefore);
    // At its expiry the entry is gone: the key is recorded afresh.
    EXPECT_EQ(insert(*cache, "k", kNow + 20, kNow + 10), ReplayOutcome::FirstUse);
    EXPECT_EQ(insert(*cache, "k", kNow + 30, kNow + 19), ReplayOutcome::SeenBefore);
}

TEST(InProcessReplayCache, AtItsBoundRefusesNewKeysAndForgetsNoLiveOne) {
    auto cache = corvane::newInProcessReplayCache(3);
    ASSERT_EQ(insert(*cache, "a", kNow + 10), ReplayOutcome::FirstUse);
    ASSERT_EQ(insert(*cache, "b", kNow + 100), ReplayOutcome::FirstUse);
    ASSERT_EQ(insert(*cache, "c", kNow + 100), ReplayOutcome::FirstUse);
    const ReplayCheck full = cache->insertIfAbsent("d", kNow + 100, kNow);
    EXPECT_EQ(full.outcome, ReplayOutcome::Full);
    EXPECT_EQ(full.problem,
              "Replay cache is full of live entries; no new login can be recorded until some "
              "expire");
    for (const char* live : {"a", "b", "c"}) {
        EXPECT_EQ(insert(*cache, live), ReplayOutcome::SeenBefore) << live;
    }
    // Once "a" has expired there is room again, wherever "d" lands.
    EXPECT_EQ(insert(*cache, "d", kNow + 100, kNow + 10), ReplayOutcome::FirstUse);
    EXPECT_EQ(insert(*cache, "e", kNow + 100, kNow + 10), ReplayOutcome::Full);
}

TEST(InProcessReplayCache, ManyThreadsRacingEachKeyLeaveExactlyOneWinner) {
    auto cache = corvane::newInProcessReplayCache();
    expectExactlyOneWinnerEach(raceThreads(*cache, 8, 1000, "race-"));
}

// ---- On Redis ----

std::shared_ptr<ReplayCache> redisCache(const std::string& url, std::string password = "") {
    corvane::RedisReplayCacheOptions options;
    options.url = url;
    options.password = std::move(password);
    options.connectTimeoutMilliseconds = 500;
    options.commandTimeoutMilliseconds = 500;
    std::string problem;
    std::shared_ptr<ReplayCache> cache = corvane::newRedisReplayCache(options, &problem);
    EXPECT_TRUE(cache) << problem;
    return cache;
}

long long inAMinute() { return static_cast<long long>(std::time(nullptr)) + 60; }

class RedisReplayCacheTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(server_.start()) << "redis-server did not start"; }
    corvane_test::RedisServer server_;
};

TEST_F(RedisReplayCacheTest, RecordsOnceAcrossTwoNodesSharingTheServer) {
    auto node1 = redisCache(server_.url());
    auto node2 = redisCache(server_.url());
    ASSERT_TRUE(node1 && node2);
    EXPECT_EQ(insert(*node1, "assertion-1", inAMinute()), ReplayOutcome::FirstUse);
    EXPECT_EQ(insert(*node1, "assertion-1", inAMinute()), ReplayOutcome::SeenBefore);
    EXPECT_EQ(insert(*node2, "assertion-1", inAMinute()), ReplayOutcome::SeenBefore);
    EXPECT_EQ(insert(*node2, std::string(8192, 'y'), inAMinute()), ReplayOutcome::FirstUse);
    EXPECT_EQ(insert(*node1, std::string(8192, 'y'), inAMinute()), ReplayOutcome::SeenBefore);
}

TEST_F(RedisReplayCacheTest, AnotherProcessSeesWhatThisOneRecorded) {
    auto cache = redisCache(server_.url());
    ASSERT_TRUE(cache);
    ASSERT_EQ(insert(*cache, "assertion-p", inAMinute()), ReplayOutcome::FirstUse);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        auto second = redisCache(server_.url());
        const bool refused =
            second && insert(*second, "assertion-p", inAMinute()) == ReplayOutcome::SeenBefore;
        const bool fresh =
            second && insert(*second, "assertion-q", inAMinute()) == ReplayOutcome::FirstUse;
        _exit(refused && fresh ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(insert(*cache, "assertion-q", inAMinute()), ReplayOutcome::SeenBefore);
}

TEST_F(RedisReplayCacheTest, TwoThreadsAndTwoProcessesRacingLeaveExactlyOneWinner) {
    auto cache = redisCache(server_.url());
    ASSERT_TRUE(cache);
    expectExactlyOneWinnerEach(raceThreads(*cache, 2, 1000, "threads-"));

    // Two processes, each with its own connections, race 1,000 keys; each
    // writes a byte per key it won into its pipe.
    const int kKeys = 1000;
    int pipes[2][2];
    pid_t children[2];
    for (int p = 0; p < 2; ++p) {
        ASSERT_EQ(pipe(pipes[p]), 0);
        children[p] = fork();
        ASSERT_GE(children[p], 0);
        if (children[p] == 0) {
            close(pipes[p][0]);
            auto own = redisCache(server_.url());
            std::string won(kKeys, '0');
            for (int key = 0; own && key < kKeys; ++key) {
                if (insert(*own, "processes-" + std::to_string(key), inAMinute()) ==
                    ReplayOutcome::FirstUse) {
                    won[static_cast<std::size_t>(key)] = '1';
                }
            }
            const bool written =
                write(pipes[p][1], won.data(), won.size()) == static_cast<ssize_t>(won.size());
            _exit(own && written ? 0 : 1);
        }
        close(pipes[p][1]);
    }
    std::vector<int> wins(kKeys, 0);
    for (int p = 0; p < 2; ++p) {
        std::string won(kKeys, '0');
        std::size_t got = 0;
        while (got < won.size()) {
            const ssize_t n = read(pipes[p][0], &won[got], won.size() - got);
            if (n <= 0) break;
            got += static_cast<std::size_t>(n);
        }
        close(pipes[p][0]);
        int status = 0;
        waitpid(children[p], &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        EXPECT_EQ(got, won.size());
        for (int key = 0; key < kKeys; ++key) wins[key] += won[key] == '1';
    }
    expectExactlyOneWinnerEach(wins);
}

TEST_F(RedisReplayCacheTest, KeepsAnEntryUntilItsExpiryAndThenDropsIt) {
    auto cache = redisCache(server_.url());
    ASSERT_TRUE(cache);
    const long long expiry = static_cast<long long>(std::time(nullptr)) + 1;
    ASSERT_EQ(insert(*cache, "short-lived", expiry), ReplayOutcome::FirstUse);
    EXPECT_EQ(insert(*cache, "short-lived", expiry), ReplayOutcome::SeenBefore);
    // Wait (on the clock, not for a duration) until the expiry has passed.
    while (static_cast<long long>(std::time(nullptr)) <= expiry) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(insert(*cache, "short-lived", expiry + 60), ReplayOutcome::FirstUse);
}

// Closes every client connection of the server from a connection of its own.
void killClientConnections(int port) {
    timeval timeout = {1, 0};
    redisContext* admin = redisConnectWithTimeout("127.0.0.1", port, timeout);
    ASSERT_TRUE(admin != nullptr && admin->err == 0);
    redisReply* reply = static_cast<redisReply*>(redisCommand(admin, "CLIENT KILL TYPE normal"));
    ASSERT_TRUE(reply != nullptr);
    EXPECT_EQ(reply->type, REDIS_REPLY_INTEGER);
    EXPECT_GE(reply->integer, 1);  // at least the cache's connection
    freeReplyObject(reply);
    redisFree(admin);
}

TEST_F(RedisReplayCacheTest, ALostConnectionIsOpenedAgainAndAReplayStillRefused) {
    corvane::RedisReplayCacheOptions options;
    options.url = server_.url();
    options.connections = 1;
    std::string problem;
    auto cache = corvane::newRedisReplayCache(options, &problem);
    ASSERT_TRUE(cache) << problem;
    ASSERT_EQ(insert(*cache, "before-the-cut", inAMinute()), ReplayOutcome::FirstUse);
    killClientConnections(server_.port());
    EXPECT_EQ(insert(*cache, "before-the-cut", inAMinute()), ReplayOutcome::SeenBefore);
    EXPECT_EQ(insert(*cache, "after-the-cut", inAMinute()), ReplayOutcome::FirstUse);
}

TEST_F(RedisReplayCacheTest, FailsClosedWhileTheServerIsDownAndRecoversWhenItIsBack) {
    auto cache = redisCache(server_.url());
    ASSERT_TRUE(cache);
    ASSERT_EQ(insert(*cache, "up", inAMinute()), ReplayOutcome::FirstUse);
    server_.stop();
    for (int attempt = 0; attempt < 10; ++attempt) {
        const ReplayCheck down = cache->insertIfAbsent("while-down", inAMinute(), kNow);
        EXPECT_EQ(down.outcome, ReplayOutcome::Unavailable);
        EXPECT_EQ(down.problem.rfind("Replay cache on Redis is unavailable: ", 0), 0u)
            << down.problem;
    }
    ASSERT_TRUE(server_.start());
    // The restarted server keeps nothing (no persistence): a fresh key
    // and the one refused while it was down are both recorded now.
    EXPECT_EQ(insert(*cache, "while-down", inAMinute()), ReplayOutcome::FirstUse);
    EXPECT_EQ(insert(*cache, "while-down", inAMinute()), ReplayOutcome::SeenBefore);
}

std::vector<ReplayOutcome> outcomes(const std::vector<ReplayCheck>& checks) {
    std::vector<ReplayOutcome> found;
    for (const ReplayCheck& check : checks) found.push_back(check.outcome);
    return found;
}

// Several keys in one call (one round trip on Redis): each answered in
// order, a key repeated within the call seen by its second insertion.
TEST_F(RedisReplayCacheTest, SeveralKeysInOneCallAreAnsweredInOrder) {
    auto cache = redisCache(server_.url());
    auto inProcess = corvane::newInProcessReplayCache();
    ASSERT_TRUE(cache);
    const std::vector<std::string> keys = {"batch-a", "batch-b", "batch-a"};
    const std::vector<ReplayOutcome> first = {ReplayOutcome::FirstUse, ReplayOutcome::FirstUse,
                                              ReplayOutcome::SeenBefore};
    EXPECT_EQ(outcomes(cache->insertEachIfAbsent(keys, inAMinute(), kNow)), first);
    EXPECT_EQ(outcomes(inProcess->insertEachIfAbsent(keys, inAMinute(), kNow)), first);
    const std::vector<ReplayOutcome> again(3, ReplayOutcome::SeenBefore);
    EXPECT_EQ(outcomes(cache->insertEachIfAbsent(keys, inAMinute(), kNow)), again);
    EXPECT_TRUE(cache->insertEachIfAbsent({}, inAMinute(), kNow).empty());
    server_.stop();
    const std::vector<ReplayCheck> down =
        cache->insertEachIfAbsent({"batch-c", "batch-d"}, inAMinute(), kNow);
    ASSERT_EQ(down.size(), 2u);
    for (const ReplayCheck& check : down) {
        EXPECT_EQ(check.outcome, ReplayOutcome::Unavailable);
        EXPECT_EQ(check.problem.rfind("Replay cache on Redis is unavailable: ", 0), 0u)
            << check.problem;
    }
}

TEST(RedisReplayCachePassword, AuthenticatesWithItsPasswordAndFailsClosedWithout) {
    corvane_test::RedisServer server({"--requirepass", "test-only-password"});
    ASSERT_TRUE(server.start());
    auto withPassword = redisCache(server.url(), "test-only-password");
    auto inUrl =
        redisCache("redis://:test-only-password@127.0.0.1:" + std::to_string(server.port()) + "/2");
    auto without = redisCache(server.url());
    ASSERT_TRUE(withPassword && inUrl && without);
    EXPECT_EQ(insert(*withPassword, "authed", inAMinute()), ReplayOutcome::FirstUse);
    // Database 2 is another key space.
    EXPECT_EQ(insert(*inUrl, "authed", inAMinute()), ReplayOutcome::FirstUse);
    const ReplayCheck refused = without->insertIfAbsent("authed-not", inAMinute(), kNow);
    EXPECT_EQ(refused.outcome, ReplayOutcome::Unavailable);
    EXPECT_NE(refused.problem.find("NOAUTH"), std::string::npos) << refused.problem;
}

struct UrlRow {
    const char* name;
    const char* url;
    bool usable;
};

class RedisUrl : public ::testing::TestWithParam<UrlRow> {};

TEST_P(RedisUrl, IsTakenOrRefusedWithTheMessage) {
    corvane::RedisReplayCacheOptions options;
    options.url = GetParam().url;
    std::string problem;
    auto cache = corvane::newRedisReplayCache(options, &problem);
    EXPECT_EQ(cache != nullptr, GetParam().usable);
    EXPECT_EQ(problem,
              GetParam().usable ? "" : "Redis URL must be redis://[:PASSWORD@]HOST[:PORT][/DB]");
}

const UrlRow kUrls[] = {
    {"HostAndPort", "redis://127.0.0.1:6379", true},
    {"HostOnly", "redis://localhost", true},
    {"PasswordAndDatabase", "redis://:pw@127.0.0.1:6379/3", true},
    {"UserPasswordAndDatabase", "redis://user:pw@127.0.0.1:6379/3", true},
    {"Ipv6", "redis://[::1]:6379", true},
    {"OtherScheme", "http://127.0.0.1:6379", false},
    {"NoHost", "redis://", false},
    {"PortZero", "redis://127.0.0.1:0", false},
    {"PortTooLarge", "redis://127.0.0.1:65536", false},
    {"PortNotANumber", "redis://127.0.0.1:63a9", false},
    {"DatabaseNotANumber", "redis://127.0.0.1:6379/x", false},
    {"UnclosedIpv6", "redis://[::1:6379", false},
    {"UserWithoutPassword", "redis://user@127.0.0.1", false},
    {"SpaceInHost", "redis://127.0.0 .1", false},
};

INSTANTIATE_TEST_SUITE_P(Table, RedisUrl, ::testing::ValuesIn(kUrls),
                         [](const ::testing::TestParamInfo<UrlRow>& row) {
                             return std::string(row.param.name);
                         });

TEST(RedisReplayCacheOptions, TimeoutsAndConnectionsMustBePositive) {
    corvane::RedisReplayCacheOptions options;
    options.url = "redis://127.0.0.1:6379";
    options.commandTimeoutMilliseconds = 0;
    std::string problem;
    EXPECT_FALSE(corvane::newRedisReplayCache(options, &problem));
    EXPECT_EQ(problem, "Redis timeouts and connection count must be positive");
}

}  // namespace
