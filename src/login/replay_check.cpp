// One-time use of a verified login: its assertion and the request it
// answers are recorded in the replay cache, each once, before the login is
// handed out.
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
const char kNoKey[] = "Replay cache key could not be computed";

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

// The cache of every verification that names none.
ReplayCache& processReplayCache() {
    static const std::shared_ptr<ReplayCache> cache = newInProcessReplayCache();
    return *cache;
}

enum class Recorded { FirstUse, Replayed, Failed };

// One insertion; for Failed, the cache's message has been set (unless the
// host allowed an unavailable cache, which makes it a logged FirstUse).
Recorded record(ReplayCache& cache, const std::string& key, long long expiresAt, long long now,
                const LoginExpectations& expected) {
    if (key.empty()) {
        CorvaneBase::setErrorMessage(kNoKey);
        return Recorded::Failed;
    }
    const ReplayCheck check = cache.insertIfAbsent(key, expiresAt, now);
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

int statusOf(Recorded recorded) {
    switch (recorded) {
        case Recorded::FirstUse:
            return 0;
        case Recorded::Replayed:
            return toInt(Status::ProfileRefused);
        case Recorded::Failed:
            break;
    }
    return toInt(Status::ReplayCacheFailed);
}

}  // namespace

int recordFirstUse(const VerifiedLogin& login, const LoginExpectations& expected, long long now) {
    if (expected.skipReplayCheck) return 0;
    ReplayCache& cache = expected.replayCache ? *expected.replayCache : processReplayCache();
    // Kept while a clock behind by the skew would still accept it, and not
    // longer than the cap.
    long long expiresAt = login.assertionExpiry + expected.clockSkewSeconds;
    if (expiresAt - now > kMaxRecordSeconds) expiresAt = now + kMaxRecordSeconds;
    Recorded recorded = record(cache, replayKey("assertion", login.idpEntityId, login.assertionId),
                               expiresAt, now, expected);
    if (recorded == Recorded::Replayed) {
        CorvaneBase::setErrorMessage(kAssertionReplayed,
                                     escapedForMessage(login.assertionId).c_str());
    }
    if (recorded == Recorded::FirstUse && !login.inResponseTo.empty()) {
        recorded = record(cache, replayKey("request", login.idpEntityId, login.inResponseTo),
                          expiresAt, now, expected);
        if (recorded == Recorded::Replayed) {
            CorvaneBase::setErrorMessage(kRequestAnsweredBefore,
                                         escapedForMessage(login.inResponseTo).c_str());
        }
    }
    return statusOf(recorded);
}

}  // namespace internal
}  // namespace corvane
