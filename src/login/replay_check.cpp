// One-time use of a verified login: its assertion and the request it
// answers are recorded in the replay cache, each once, before the login is
// handed out.
#include <vector>

#include <openssl/evp.h>

#include "Corvane.h"
#include "frame/escape.h"
#include "login/login_internal.h"

namespace corvane {
namespace internal {

namespace {

const char kAssertionReplayed[] =
    "SAML assertion \"%s\" was accepted before: a replay is refused";
const char kRequestAnsweredBefore[] =
    "SAML response answers request \"%s\", which an earlier login answered already";
const char kUnavailableAccepted[] =
    "Login accepted without a replay check, as allowed while the cache is unavailable: %s";
const char kMessageReplayed[] = "SAML %s \"%s\" was accepted before: a replay is refused";
const char kNoKey[] = "Replay cache key could not be computed";
const char kWrongAnswers[] = "Replay cache gave %zu answers for %zu keys";

// The longest an entry is kept, from now: what one login may cost the
// cache, whatever validity the IdP gave its assertion.
const long long kMaxRecordSeconds = 86400;

const char* const kHexDigits = "0123456789abcdef";

// kind + ':' + the SHA-256 in hex of the IdP's entity ID and the ID: a key
// of fixed size whatever the IDs' sizes, and one IdP's IDs never collide
// with another's. Empty when OpenSSL could not digest.
std::string replayKey(const char* kind, const std::string& idp, const std::string& id) {
    std::string input = idp;
    input.push_back('\0');
    input += id;
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (EVP_Digest(input.data(), input.size(), digest, &size, EVP_sha256(), nullptr) != 1)
        return std::string();
    std::string key = std::string(kind) + ":";
    for (unsigned int i = 0; i < size; ++i) {
        key.push_back(kHexDigits[digest[i] >> 4]);
        key.push_back(kHexDigits[digest[i] & 0x0f]);
    }
    return key;
}

// The replay's message for keys[index] of a login (0: its assertion,
// 1: its request), naming the ID (escaped: it is the response's).
void reportReplay(std::size_t index, const VerifiedLogin& login) {
    if (index == 0) {
        CorvaneBase::setErrorMessage(kAssertionReplayed, escapedForMessage(login.assertionId).c_str());
    } else {
        CorvaneBase::setErrorMessage(kRequestAnsweredBefore,
                                     escapedForMessage(login.inResponseTo).c_str());
    }
}

// The cache of every verification that names none.
ReplayCache& processReplayCache() {
    static const std::shared_ptr<ReplayCache> cache = newInProcessReplayCache();
    return *cache;
}

enum class Recorded { FirstUse, Replayed, Failed };

// What one insertion found; for Failed, the cache's message has been set
// (an unavailable cache the host allowed is a FirstUse after a log line).
Recorded judged(const ReplayCheck& check, const LoginExpectations& expected) {
    switch (check.outcome) {
        case ReplayOutcome::FirstUse:
            return Recorded::FirstUse;
        case ReplayOutcome::SeenBefore:
            return Recorded::Replayed;
        case ReplayOutcome::Unavailable:
            if (expected.allowLoginWhileReplayCacheUnavailable) {
                CorvaneBase::writeToLog(1, kUnavailableAccepted, check.problem.c_str());
                return Recorded::FirstUse;
            }
            break;
        case ReplayOutcome::Full:
            break;
    }
    CorvaneBase::setErrorMessage("%s", check.problem.c_str());
    return Recorded::Failed;
}

}  // namespace

int recordFirstUse(const VerifiedLogin& login, const LoginExpectations& expected, long long now) {
    if (expected.skipReplayCheck) return 0;
    ReplayCache& cache = expected.replayCache ? *expected.replayCache : processReplayCache();
    // Kept while a clock behind by the skew would still accept it, and not
    // longer than the cap.
    long long expiresAt = login.assertionExpiry + expected.clockSkewSeconds;
    if (expiresAt - now > kMaxRecordSeconds) expiresAt = now + kMaxRecordSeconds;
    // The assertion, then the request it answers: one insertion call, so a
    // shared cache answers both in one round trip.
    std::vector<std::string> keys = {replayKey("assertion", login.idpEntityId, login.assertionId)};
    if (!login.inResponseTo.empty())
        keys.push_back(replayKey("request", login.idpEntityId, login.inResponseTo));
    for (const std::string& key : keys) {
        if (key.empty()) {
            CorvaneBase::setErrorMessage(kNoKey);
            return toInt(Status::ReplayCacheFailed);
        }
    }
    const std::vector<ReplayCheck> checks = cache.insertEachIfAbsent(keys, expiresAt, now);
    if (checks.size() != keys.size()) {
        CorvaneBase::setErrorMessage(kWrongAnswers, checks.size(), keys.size());
        return toInt(Status::ReplayCacheFailed);
    }
    for (std::size_t i = 0; i < checks.size(); ++i) {
        switch (judged(checks[i], expected)) {
            case Recorded::FirstUse:
                continue;
            case Recorded::Replayed:
                reportReplay(i, login);
                return toInt(Status::ProfileRefused);
            case Recorded::Failed:
                return toInt(Status::ReplayCacheFailed);
        }
    }
    return 0;
}

int recordMessageFirstUse(const std::shared_ptr<ReplayCache>& cache, const char* kind,
                          const std::string& idp, const std::string& id, long long expiresAt,
                          long long now) {
    const std::string key = replayKey(kind, idp, id);
    if (key.empty()) {
        CorvaneBase::setErrorMessage(kNoKey);
        return toInt(Status::ReplayCacheFailed);
    }
    ReplayCache& used = cache ? *cache : processReplayCache();
    const ReplayCheck check = used.insertIfAbsent(key, expiresAt, now);
    switch (check.outcome) {
        case ReplayOutcome::FirstUse:
            return 0;
        case ReplayOutcome::SeenBefore:
            CorvaneBase::setErrorMessage(kMessageReplayed, kind, escapedForMessage(id).c_str());
            return toInt(Status::ProfileRefused);
        case ReplayOutcome::Full:
        case ReplayOutcome::Unavailable:
            break;
    }
    CorvaneBase::setErrorMessage("%s", check.problem.c_str());
    return toInt(Status::ReplayCacheFailed);
}

}  // namespace internal
}  // namespace corvane
