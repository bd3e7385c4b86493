// The tool's use of the library: for the documented interface its three
// callbacks, which write to standard error, and the request ID; for the
// extended interface a Library with a log sink; start-up and shutdown.
#ifndef CORVANE_CLI_LIBRARY_SESSION_H
#define CORVANE_CLI_LIBRARY_SESSION_H

#include <string>

#include <boost/shared_ptr.hpp>

#include <memory>

#include <corvane/corvane.h>

#include "Corvane.h"

namespace corvane_cli {

// Obtains the library's helper with the tool's callbacks and starts the
// XML security libraries; finiHelper runs when the session ends, if the
// start succeeded. Error messages always go to standard error, in the
// order they arrive, as "corvane: error: MESSAGE"; log lines of the levels
// that `verbosity` admits as "corvane: log LEVEL: MESSAGE".
class LibrarySession {
public:
    explicit LibrarySession(int verbosity);
    ~LibrarySession();
    LibrarySession(const LibrarySession&) = delete;
    LibrarySession& operator=(const LibrarySession&) = delete;

    // initHelper's status: 0, or -1 with the reason logged at level 1.
    int start();
    corvane::CorvaneBase& helper() { return *helper_; }

    // Draws the ID that the library's next request receives: "_" and 32 hex
    // digits from OpenSSL's CSPRNG. False when no random bytes could be had.
    static bool prepareRequestId();
    // The ID drawn last.
    static const std::string& preparedRequestId();

private:
    boost::shared_ptr<corvane::CorvaneBase> helper_;
    bool started_ = false;
};

// The extended interface's start-up: a corvane::Library whose log sink
// prints the lines that `verbosity` admits, as LibrarySession does.
class ExtendedSession {
public:
    explicit ExtendedSession(int verbosity) : verbosity_(verbosity) {}
    // The start-up's result: Ok, or StartupFailed with its message.
    corvane::Result<void> start();

private:
    const int verbosity_;
    std::unique_ptr<corvane::Library> library_;
};

// "corvane: error: MESSAGE" on standard error, one line.
void printError(const std::string& message);

}  // namespace corvane_cli

#endif
