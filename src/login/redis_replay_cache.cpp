// The replay cache on Redis: one "SET key 1 NX PXAT expiry" round trip per
// insertion, which Redis carries out atomically, so of two SP nodes that
// record one key at once exactly one gets "OK".
#include <sys/time.h>

#include <atomic>
#include <cstdarg>
#include <climits>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <vector>

#include <hiredis/hiredis.h>

#include "corvane/replay.h"

namespace corvane {

namespace {

const char kBadUrl[] = "Redis URL must be redis://[:PASSWORD@]HOST[:PORT][/DB]";
const char kBadTimeouts[] = "Redis timeouts and connection count must be positive";
const char kUnavailable[] = "Replay cache on Redis is unavailable: ";

const int kDefaultRedisPort = 6379;
// PXAT takes milliseconds; the latest instant the library reads is the
// end of the year 9999, far inside what the milliseconds can hold.
const long long kLatestExpiry = 253402300799LL;

struct RedisContextFree {
    void operator()(redisContext* context) const { redisFree(context); }
};
typedef std::unique_ptr<redisContext, RedisContextFree> RedisContextPtr;

struct RedisReplyFree {
    void operator()(redisReply* reply) const { freeReplyObject(reply); }
};
typedef std::unique_ptr<redisReply, RedisReplyFree> RedisReplyPtr;

struct RedisAddress {
    std::string host;
    int port = kDefaultRedisPort;
    int database = 0;
    std::string password;
};

// Decimal digits only, within limit.
bool readNumber(const std::string& text, int limit, int* value) {
    if (text.empty() || text.size() > 9) return false;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
    }
    const long number = std::strtol(text.c_str(), nullptr, 10);
    if (number > limit) return false;
    *value = static_cast<int>(number);
    return true;
}

// "redis://[[USER]:PASSWORD@]HOST[:PORT][/DB]"; HOST may be "[IPv6]".
bool parseRedisUrl(const std::string& url, RedisAddress* address) {
    const std::string scheme = "redis://";
    if (url.compare(0, scheme.size(), scheme) != 0) return false;
    std::string rest = url.substr(scheme.size());
    const std::string::size_type at = rest.rfind('@');
    if (at != std::string::npos) {
        const std::string credentials = rest.substr(0, at);
        const std::string::size_type colon = credentials.find(':');
        if (colon == std::string::npos) return false;
        address->password = credentials.substr(colon + 1);
        rest = rest.substr(at + 1);
    }
    const std::string::size_type slash = rest.find('/');
    if (slash != std::string::npos) {
        if (!readNumber(rest.substr(slash + 1), 1000000, &address->database)) return false;
        rest = rest.substr(0, slash);
    }
    std::string::size_type portColon = rest.rfind(':');
    if (!rest.empty() && rest[0] == '[') {
        const std::string::size_type close = rest.find(']');
        if (close == std::string::npos) return false;
        address->host = rest.substr(1, close - 1);
        portColon =
            close + 1 < rest.size() && rest[close + 1] == ':' ? close + 1 : std::string::npos;
        if (portColon == std::string::npos && close + 1 != rest.size()) return false;
    } else {
        address->host = rest.substr(0, portColon);
    }
    if (portColon != std::string::npos &&
        (!readNumber(rest.substr(portColon + 1), 65535, &address->port) || address->port == 0)) {
        return false;
    }
    return !address->host.empty() && address->host.find_first_of(" \t\r\n/@") == std::string::npos;
}

timeval millisecondsAsTimeval(int milliseconds) {
    timeval tv;
    tv.tv_sec = milliseconds / 1000;
    tv.tv_usec = (milliseconds % 1000) * 1000;
    return tv;
}

// What went wrong on a context, as one line.
std::string contextProblem(const redisContext* context, const char* fallback) {
    if (context != nullptr && context->err != 0 && context->errstr[0] != '\0') {
        return std::string(kUnavailable) + context->errstr;
    }
    return std::string(kUnavailable) + fallback;
}

// One connection, used by one call at a time, opened on first use and
// again after any failure left it unusable.
class Connection {
public:
    std::vector<ReplayCheck> insert(const RedisAddress& address,
                                    const RedisReplayCacheOptions& options,
                                    const std::vector<std::string>& keys, long long expiresAt) {
        std::lock_guard<std::mutex> lock(mutex_);
        const bool wasOpen = context_ != nullptr;
        std::vector<ReplayCheck> checks = attempt(address, options, keys, expiresAt);
        // A connection kept open may have been closed by the server or the
        // network meanwhile: one fresh connection is tried before the call
        // fails. Repeating SET NX is safe: when the first one was applied
        // after all, the second finds the key and the login is refused,
        // never accepted twice.
        if (wasOpen && !context_) checks = attempt(address, options, keys, expiresAt);
        return checks;
    }

private:
    // Every key's SET NX written at once, then the replies read in order:
    // one round trip for all of them.
    std::vector<ReplayCheck> attempt(const RedisAddress& address,
                                     const RedisReplayCacheOptions& options,
                                     const std::vector<std::string>& keys, long long expiresAt) {
        std::vector<ReplayCheck> checks(keys.size());
        std::string problem;
        if (!context_ && !connect(address, options, &problem)) return allUnavailable(keys, problem);
        const long long expiry = expiresAt < 1               ? 1
                                 : expiresAt > kLatestExpiry ? kLatestExpiry
                                                             : expiresAt;
        for (const std::string& key : keys) {
            if (redisAppendCommand(context_.get(), "SET %b 1 NX PXAT %lld", key.data(), key.size(),
                                   expiry * 1000LL) != REDIS_OK) {
                problem = contextProblem(context_.get(), "cannot write the command");
                context_.reset();
                return allUnavailable(keys, problem);
            }
        }
        for (std::size_t i = 0; i < keys.size(); ++i) {
            void* raw = nullptr;
            const int status = redisGetReply(context_.get(), &raw);
            RedisReplyPtr reply(static_cast<redisReply*>(raw));
            checks[i] = judge(status == REDIS_OK ? reply.get() : nullptr);
            if (!context_) {
                // The connection is gone: the rest have no answer either.
                for (std::size_t j = i + 1; j < keys.size(); ++j) checks[j].problem = checks[i].problem;
                break;
            }
        }
        return checks;
    }

    static std::vector<ReplayCheck> allUnavailable(const std::vector<std::string>& keys,
                                                   const std::string& problem) {
        std::vector<ReplayCheck> checks(keys.size());
        for (ReplayCheck& check : checks) check.problem = problem;
        return checks;
    }

    bool connect(const RedisAddress& address, const RedisReplayCacheOptions& options,
                 std::string* problem) {
        RedisContextPtr context(
            redisConnectWithTimeout(address.host.c_str(), address.port,
                                    millisecondsAsTimeval(options.connectTimeoutMilliseconds)));
        if (!context || context->err != 0) {
            *problem = contextProblem(context.get(), "cannot connect");
            return false;
        }
        if (redisSetTimeout(context.get(), millisecondsAsTimeval(
                                               options.commandTimeoutMilliseconds)) != REDIS_OK) {
            *problem = contextProblem(context.get(), "cannot set the command timeout");
            return false;
        }
        const std::string password = options.password.empty() ? address.password : options.password;
        if (!password.empty() &&
            !commandSucceeds(context.get(), problem, "AUTH %b", password.data(), password.size())) {
            return false;
        }
        if (address.database != 0 &&
            !commandSucceeds(context.get(), problem, "SELECT %d", address.database)) {
            return false;
        }
        context_ = std::move(context);
        return true;
    }

    // A command whose reply must be a plain status.
    static bool commandSucceeds(redisContext* context, std::string* problem, const char* format,
                                ...) {
        va_list args;
        va_start(args, format);
        RedisReplyPtr reply(static_cast<redisReply*>(redisvCommand(context, format, args)));
        va_end(args);
        if (!reply) {
            *problem = contextProblem(context, "no reply");
            return false;
        }
        if (reply->type == REDIS_REPLY_ERROR) {
            *problem = std::string(kUnavailable) + std::string(reply->str, reply->len);
            return false;
        }
        return true;
    }

    // "OK": recorded now; nil: present already. Anything else, or no
    // reply at all, leaves the answer unknown: Unavailable, and a context
    // that failed is dropped so the next call connects afresh.
    ReplayCheck judge(const redisReply* reply) {
        ReplayCheck check;
        if (reply == nullptr) {
            check.problem = contextProblem(context_.get(), "no reply");
            context_.reset();
            return check;
        }
        if (reply->type == REDIS_REPLY_STATUS && std::string(reply->str, reply->len) == "OK") {
            check.outcome = ReplayOutcome::FirstUse;
        } else if (reply->type == REDIS_REPLY_NIL) {
            check.outcome = ReplayOutcome::SeenBefore;
        } else if (reply->type == REDIS_REPLY_ERROR) {
            check.problem = std::string(kUnavailable) + std::string(reply->str, reply->len);
        } else {
            check.problem = std::string(kUnavailable) + "unexpected reply to SET";
        }
        return check;
    }

    std::mutex mutex_;
    RedisContextPtr context_;
};

class RedisReplayCache : public ReplayCache {
public:
    RedisReplayCache(const RedisAddress& address, const RedisReplayCacheOptions& options)
        : address_(address),
          options_(options),
          connections_(static_cast<std::size_t>(options.connections)) {}

    // Redis keeps its own clock for the entries' expiry; now is not needed.
    ReplayCheck insertIfAbsent(const std::string& key, long long expiresAt, long long now) override {
        return insertEachIfAbsent({key}, expiresAt, now).front();
    }

    std::vector<ReplayCheck> insertEachIfAbsent(const std::vector<std::string>& keys,
                                                long long expiresAt, long long) override {
        std::vector<std::string> prefixed;
        for (const std::string& key : keys) prefixed.push_back(options_.keyPrefix + key);
        Connection& connection = connections_[next_++ % connections_.size()];
        return connection.insert(address_, options_, prefixed, expiresAt);
    }

private:
    const RedisAddress address_;
    const RedisReplayCacheOptions options_;
    std::vector<Connection> connections_;
    std::atomic<std::size_t> next_{0};
};

}  // namespace

std::shared_ptr<ReplayCache> newRedisReplayCache(const RedisReplayCacheOptions& options,
                                                 std::string* problem) {
    RedisAddress address;
    if (!parseRedisUrl(options.url, &address)) {
        if (problem) *problem = kBadUrl;
        return nullptr;
    }
    if (options.connectTimeoutMilliseconds <= 0 || options.commandTimeoutMilliseconds <= 0 ||
        options.connections <= 0 || options.connections > 1024) {
        if (problem) *problem = kBadTimeouts;
        return nullptr;
    }
    return std::make_shared<RedisReplayCache>(address, options);
}

}  // namespace corvane
