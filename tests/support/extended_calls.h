// The extended interface's request, redirect, metadata and key calls in
// the shape the request tests were written in: a status, the output
// through a pointer, and the result's message kept for the test. Each
// call also checks that nothing reached the documented callbacks.
#ifndef CORVANE_TEST_EXTENDED_CALLS_H
#define CORVANE_TEST_EXTENDED_CALLS_H

#include <string>
#include <vector>

#include <corvane/corvane.h>

namespace corvane_test {

class Extended {
public:
    // The message of the last call's result: none on success.
    static const std::vector<std::string>& messages();
    // The requestId the next request gets when its options name none.
    static void queueId(const std::string& id);
    // Requests made (each with an ID) since the last Recorder::reset().
    static int requestsMade();
    static void reset();
};

corvane::KeyPtr loadPrivateKey(const std::string& pem);
corvane::KeyPtr loadCertificate(const std::string& pem);
int createStandardAuthnRequest(std::string* request, corvane::StandardRequestOptions options,
                               const corvane::Key& spKey, std::string* requestId = nullptr);
int createUnsignedAuthnRequest(std::string* request, corvane::StandardRequestOptions options,
                               std::string* requestId = nullptr);
int encodeRedirectQuery(std::string* query, const std::string& samlRequest,
                        const std::string& relayState, const corvane::Key* spKey, bool useSha1);
int createRedirectQuery(std::string* query, corvane::StandardRequestOptions options,
                        const std::string& relayState, const corvane::Key* spKey,
                        std::string* requestId = nullptr);
int createSpMetadata(std::string* metadata, const corvane::SpMetadataOptions& options,
                     const corvane::Key& spKey);

}  // namespace corvane_test

#endif
