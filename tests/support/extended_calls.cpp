#include "extended_calls.h"

#include <deque>

#include <gtest/gtest.h>

#include "corvane_test_support.h"

namespace corvane_test {

namespace {

struct State {
    std::vector<std::string> messages;
    std::deque<std::string> queuedIds;
    int requestsMade = 0;
};

State& state() {
    static State s;
    return s;
}

template <typename T>
int record(const corvane::Result<T>& result) {
    state().messages.clear();
    if (!result.ok()) state().messages.push_back(result.message());
    EXPECT_EQ(result.ok(), result.message().empty()) << "a message exactly when it failed";
    EXPECT_TRUE(Recorder::everything().empty()) << "a message reached the documented callbacks";
    return corvane::toInt(result.status());
}

void takeQueuedId(corvane::StandardRequestOptions* options) {
    if (!options->requestId.empty() || state().queuedIds.empty()) return;
    options->requestId = state().queuedIds.front();
    state().queuedIds.pop_front();
}

corvane::KeyPtr keyOf(const corvane::Result<corvane::KeyPtr>& result) {
    record(result);
    return result.ok() ? result.value() : corvane::KeyPtr();
}

}  // namespace

const std::vector<std::string>& Extended::messages() { return state().messages; }
void Extended::queueId(const std::string& id) { state().queuedIds.push_back(id); }
int Extended::requestsMade() { return state().requestsMade; }
void Extended::reset() { state() = State(); }

corvane::KeyPtr loadPrivateKey(const std::string& pem) {
    return keyOf(corvane::Key::loadPrivateKey(pem));
}

corvane::KeyPtr loadCertificate(const std::string& pem) {
    return keyOf(corvane::Key::loadCertificate(pem));
}

int createStandardAuthnRequest(std::string* request, corvane::StandardRequestOptions options,
                               const corvane::Key& spKey, std::string* requestId) {
    takeQueuedId(&options);
    const corvane::Result<corvane::AuthnRequest> result =
        corvane::createSignedAuthnRequest(options, spKey);
    if (result.ok()) {
        ++state().requestsMade;
        *request = result.value().xml;
        if (requestId) *requestId = result.value().id;
    }
    return record(result);
}

int createUnsignedAuthnRequest(std::string* request, corvane::StandardRequestOptions options,
                               std::string* requestId) {
    takeQueuedId(&options);
    const corvane::Result<corvane::AuthnRequest> result =
        corvane::createUnsignedAuthnRequest(options);
    if (result.ok()) {
        ++state().requestsMade;
        *request = result.value().xml;
        if (requestId) *requestId = result.value().id;
    }
    return record(result);
}

int encodeRedirectQuery(std::string* query, const std::string& samlRequest,
                        const std::string& relayState, const corvane::Key* spKey, bool useSha1) {
    const corvane::Result<std::string> result =
        corvane::encodeRedirectQuery(samlRequest, relayState, spKey, useSha1);
    if (result.ok()) *query = result.value();
    return record(result);
}

int createRedirectQuery(std::string* query, corvane::StandardRequestOptions options,
                        const std::string& relayState, const corvane::Key* spKey,
                        std::string* requestId) {
    takeQueuedId(&options);
    const corvane::Result<corvane::RedirectRequest> result =
        corvane::createRedirectRequest(options, relayState, spKey);
    if (result.ok()) {
        ++state().requestsMade;
        *query = result.value().query;
        EXPECT_EQ(result.value().url, corvane::redirectUrl(options.destination, *query));
        if (requestId) *requestId = result.value().id;
    }
    return record(result);
}

int createSpMetadata(std::string* metadata, const corvane::SpMetadataOptions& options,
                     const corvane::Key& spKey) {
    const corvane::Result<std::string> result = corvane::createSpMetadata(options, spKey);
    if (result.ok()) *metadata = result.value();
    return record(result);
}

}  // namespace corvane_test
