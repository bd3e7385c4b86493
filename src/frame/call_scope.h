// The scope of one call of the extended interface: while it lives on a
// thread, CorvaneBase::setErrorMessage and writeToLog on that thread go to
// it (the first failure description becomes the call's message, log lines
// go to the Library's sinks) instead of the documented callbacks. Nothing
// crosses threads; scopes nest (an inner scope hides the outer one).
#ifndef CORVANE_FRAME_CALL_SCOPE_H
#define CORVANE_FRAME_CALL_SCOPE_H

#include <string>
#include <utility>

#include "corvane/library.h"
#include "corvane/status.h"

namespace corvane {
namespace internal {

class CallScope {
public:
    // ToCall: the call's message and log lines, as above. DetailsOnly: for
    // work whose failures must all look alike to the caller (decryption),
    // every description and log line goes to the sinks at level 3 only and
    // none becomes a message.
    enum class Delivery { ToCall, DetailsOnly };
    explicit CallScope(Delivery delivery = Delivery::ToCall);
    ~CallScope();
    CallScope(const CallScope&) = delete;
    CallScope& operator=(const CallScope&) = delete;

    // False, after the call's message was set, when no Library or
    // initHelper holds the libraries started.
    bool libraryStarted();

    // The result of the call: its value on status 0, else the status with
    // the first message described during the call.
    template <typename T>
    Result<T> result(int status, T value) const {
        if (status == 0) return Result<T>::success(std::move(value));
        return Result<T>::failure(static_cast<Status>(status), message(status));
    }
    Result<void> result(int status) const {
        if (status == 0) return Result<void>::success();
        return Result<void>::failure(static_cast<Status>(status), message(status));
    }

    // Delivery from the frame: false when no scope is active on this
    // thread (the documented callbacks apply then).
    static bool deliverError(const std::string& message);
    static bool deliverLog(int level, const std::string& message);

private:
    // The first description; else the first level-1 log line (start-up
    // failures are logged, not described); else the status's words.
    std::string message(int status) const;
    void error(const std::string& message);
    void log(int level, const std::string& message);

    CallScope* const m_outer;
    const Delivery m_delivery;
    std::string m_message;
    bool m_described = false;
    std::string m_firstLoggedError;
};

// One extended call: body(&value) returns the status and fills value; it
// runs inside a call scope, only when the libraries are started.
template <typename T, typename Body>
Result<T> runCall(Body body) {
    CallScope scope;
    T value{};
    if (!scope.libraryStarted()) return scope.result(-1, std::move(value));
    const int status = body(&value);
    return scope.result(status, std::move(value));
}

// The log sinks of the living Library objects, for the call scopes.
void registerLogSink(const void* owner, const LogSink& sink);
void unregisterLogSink(const void* owner);

// The shared, counted start-up: the first holder starts libxml2, xmlsec1
// and the OpenSSL back end (0, or -1 after the reason went to the log at
// level 1); the last release shuts them down.
// releaseLibraries with no holder shuts down all the same (the documented
// finiHelper always does). A failed start-up counts no holder.
int acquireLibraries();
void releaseLibraries();
bool librariesStarted();

}  // namespace internal
}  // namespace corvane

#endif
