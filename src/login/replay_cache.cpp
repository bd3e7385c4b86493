// The in-process replay cache: a sharded map of keys to expiries, bounded
// in entries, safe for any number of threads.
#include <atomic>
#include <functional>
#include <mutex>
#include <queue>
#include <unordered_map>
#include <utility>
#include <vector>

#include "corvane/replay.h"

namespace corvane {

namespace {

const char kFull[] =
    "Replay cache is full of live entries; no new login can be recorded until some expire";

// Enough shards that two threads rarely meet on one lock.
const std::size_t kShardCount = 16;

// One shard: its entries, and their expiries in a min-heap so that expired
// entries are found without a scan. A heap item is stale when its key was
// recorded again later with another expiry; purging skips such items.
class Shard {
public:
    typedef std::pair<long long, std::string> Expiry;

    // FirstUse after recording, SeenBefore for a live entry, Full when
    // recording would pass the bound (nothing changed then).
    ReplayOutcome insert(const std::string& key, long long expiresAt, long long now,
                         std::atomic<std::size_t>& total, std::size_t bound) {
        std::lock_guard<std::mutex> lock(mutex_);
        auto found = entries_.find(key);
        if (found != entries_.end()) {
            if (found->second > now) return ReplayOutcome::SeenBefore;
            found->second = expiresAt;
            expiries_.push(Expiry(expiresAt, key));
            return ReplayOutcome::FirstUse;
        }
        if (!reserveSlot(total, bound)) {
            purgeLocked(now, total);
            if (!reserveSlot(total, bound)) return ReplayOutcome::Full;
        }
        entries_.emplace(key, expiresAt);
        expiries_.push(Expiry(expiresAt, key));
        return ReplayOutcome::FirstUse;
    }

    void purge(long long now, std::atomic<std::size_t>& total) {
        std::lock_guard<std::mutex> lock(mutex_);
        purgeLocked(now, total);
    }

private:
    // Counts one more entry unless the total is at the bound; exact under
    // any number of threads, so the bound is never passed.
    static bool reserveSlot(std::atomic<std::size_t>& total, std::size_t bound) {
        std::size_t current = total.load();
        while (current < bound) {
            if (total.compare_exchange_weak(current, current + 1)) return true;
        }
        return false;
    }

    // Drops every entry whose expiry is not after now.
    void purgeLocked(long long now, std::atomic<std::size_t>& total) {
        while (!expiries_.empty() && expiries_.top().first <= now) {
            const Expiry& oldest = expiries_.top();
            auto found = entries_.find(oldest.second);
            if (found != entries_.end() && found->second == oldest.first) {
                entries_.erase(found);
                --total;
            }
            expiries_.pop();
        }
    }

    std::mutex mutex_;
    std::unordered_map<std::string, long long> entries_;
    std::priority_queue<Expiry, std::vector<Expiry>, std::greater<Expiry>> expiries_;
};

class InProcessReplayCache : public ReplayCache {
public:
    explicit InProcessReplayCache(std::size_t maxEntries)
        : bound_(maxEntries == 0 ? 1 : maxEntries), shards_(kShardCount) {}

    ReplayCheck insertIfAbsent(const std::string& key, long long expiresAt,
                               long long now) override {
        Shard& shard = shards_[std::hash<std::string>()(key) % kShardCount];
        ReplayOutcome outcome = shard.insert(key, expiresAt, now, total_, bound_);
        if (outcome == ReplayOutcome::Full) {
            // Expired entries may sit in other shards: drop them all, one
            // shard lock at a time, and try once more.
            for (Shard& each : shards_) each.purge(now, total_);
            outcome = shard.insert(key, expiresAt, now, total_, bound_);
        }
        ReplayCheck check;
        check.outcome = outcome;
        if (outcome == ReplayOutcome::Full) check.problem = kFull;
        return check;
    }

private:
    const std::size_t bound_;
    std::atomic<std::size_t> total_{0};
    std::vector<Shard> shards_;
};

}  // namespace

std::shared_ptr<ReplayCache> newInProcessReplayCache(std::size_t maxEntries) {
    return std::make_shared<InProcessReplayCache>(maxEntries);
}

}  // namespace corvane
