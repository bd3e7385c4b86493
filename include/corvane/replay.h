// corvane: one-time use of assertions and request IDs, across threads and
// across SP nodes.
//
// A bearer assertion must be accepted once. The login verification records
// every assertion it accepts (and the request ID it answers) in a replay
// cache, through one atomic operation: insert this key if it is absent,
// until this expiry. Two nodes that see the same assertion at once share
// one cache, and exactly one of them wins.
//
// Threads: every cache made here may be used by any number of threads at
// once; a host's own cache must be too.
#ifndef CORVANE_REPLAY_H
#define CORVANE_REPLAY_H

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace corvane {

// What one insertion found.
enum class ReplayOutcome {
    // The key was absent (or its entry had expired): it is recorded now.
    FirstUse,
    // The key is recorded and not expired: this is a replay.
    SeenBefore,
    // The cache is at its bound with live entries only; nothing recorded.
    Full,
    // The backend could not answer (connection lost, timeout, error reply).
    Unavailable,
};

struct ReplayCheck {
    ReplayOutcome outcome = ReplayOutcome::Unavailable;
    // Why, for Full and Unavailable; empty otherwise.
    std::string problem;
};

// The one operation a replay cache offers. Keys reaching a cache from the
// login verification are fixed-size hashes (never the attacker-sized IDs
// themselves); expiries are seconds since the epoch.
class ReplayCache {
public:
    virtual ~ReplayCache() = default;

    // Records key until expiresAt unless a live entry for it exists, as
    // one atomic step: of any number of concurrent calls with one key,
    // exactly one returns FirstUse. now is the caller's clock (seconds
    // since the epoch), which decides what has expired in caches that keep
    // no clock of their own.
    virtual ReplayCheck insertIfAbsent(const std::string& key, long long expiresAt,
                                       long long now) = 0;

    // Records each key as insertIfAbsent does, with one outcome per key in
    // order: each key on its own is atomic, the keys together are not. A
    // login records its assertion and its request this way. Caches that
    // can send several insertions at once override it (Redis: one round
    // trip for all of them).
    virtual std::vector<ReplayCheck> insertEachIfAbsent(const std::vector<std::string>& keys,
                                                        long long expiresAt, long long now) {
        std::vector<ReplayCheck> checks;
        for (const std::string& key : keys) checks.push_back(insertIfAbsent(key, expiresAt, now));
        return checks;
    }
};

// The in-process default: entries expire, memory is bounded by maxEntries
// (a full cache refuses new keys rather than forgetting live ones), and
// the map is sharded so threads rarely wait for each other. maxEntries 0
// is taken as 1.
std::shared_ptr<ReplayCache> newInProcessReplayCache(std::size_t maxEntries = 1000000);

// A cache on Redis, for SPs on several machines: every insertion is one
// "SET key 1 NX PXAT expiry" round trip.
struct RedisReplayCacheOptions {
    // "redis://HOST:PORT[/DB]" or "redis://:PASSWORD@HOST:PORT[/DB]".
    std::string url;
    // AUTH password; overrides one in the URL when set.
    std::string password;
    // Prefix of every key the cache writes, so one Redis can serve
    // several SPs.
    std::string keyPrefix = "corvane:replay:";
    int connectTimeoutMilliseconds = 1000;
    int commandTimeoutMilliseconds = 1000;
    // Connections kept open; each serves one call at a time.
    int connections = 4;
};

// The Redis cache, or null with the reason in *problem when the options
// are not usable (bad URL, timeouts not positive). No connection is made
// here: each connection is opened on first use and opened again after it
// was lost, so a Redis that is down makes insertions Unavailable, never
// the construction fail.
std::shared_ptr<ReplayCache> newRedisReplayCache(const RedisReplayCacheOptions& options,
                                                 std::string* problem);

}  // namespace corvane

#endif
