// corvane: start-up of the XML security libraries for the extended
// interface, and the optional log sink.
//
// Includes only the standard library.
#ifndef CORVANE_LIBRARY_H
#define CORVANE_LIBRARY_H

#include <functional>
#include <memory>
#include <string>

#include "corvane/status.h"

namespace corvane {

// Receives the diagnostics of the extended calls, on the thread that made
// the call: level 1 errors (every error xmlsec1 reports during the call,
// and any further description of a failure whose first description is in
// the call's result), 2 warnings, 3 diagnostic detail. Key text never
// reaches it. The sink must tolerate calls from several threads at once if
// the host calls the library from several threads.
using LogSink = std::function<void(int level, const std::string& message)>;

// Holds libxml2, xmlsec1 and its OpenSSL back end started. The start-up is
// shared and counted: the first holder (a Library, or the documented
// initHelper) starts them, the last one to go shuts them down, so a
// Library and the documented CorvaneBase::initHelper/finiHelper may be
// used in one process in either order without one shutting the libraries
// down under the other.
//
// Every call of the extended interface that uses the XML security
// libraries (keys, requests, redirect queries, logins, metadata) needs a
// started Library (or the documented initHelper) in the process; without
// one it fails with Status::StartupFailed and does nothing. The text work
// of the bindings (base64Encode, base64Decode, decodePostedResponse,
// postForm, redirectUrl, utcDateTime) needs none.
//
// Threads: start and destroy Library objects while no other thread is
// inside the library (as for initHelper); between the two, any number of
// threads may call the extended interface. Keys (key.h) must be released
// before the last holder goes.
class Library {
public:
    // Starts the libraries (or counts one more holder when they run
    // already) and registers sink, if not empty, for the extended calls'
    // diagnostics while this Library lives. Status::StartupFailed, with the
    // reason in the message (and in sink), when a start-up step failed.
    static Result<Library> start(LogSink sink = LogSink());

    Library(Library&& other) noexcept;
    Library& operator=(Library&& other) noexcept;
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;
    // Unregisters the sink and releases this holder's share of the start-up.
    ~Library();

private:
    struct Registration;
    explicit Library(std::unique_ptr<Registration> registration);
    std::unique_ptr<Registration> m_registration;
};

}  // namespace corvane

#endif
