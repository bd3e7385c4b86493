// corvane::Library: one holder of the shared start-up, with its log sink.
#include "corvane/library.h"

#include <new>

#include "frame/assertions.h"
#include "frame/call_scope.h"

namespace corvane {

namespace internal {

void resultHasNoValue() {
    CORVANE_ASSERT(false && "value() of a failed corvane::Result");
    __builtin_unreachable();
}

}  // namespace internal

// What a started Library holds: its share of the start-up and, by its
// address, its registered sink.
struct Library::Registration {
    explicit Registration(bool hasSink) : m_hasSink(hasSink) {}
    ~Registration() {
        if (m_hasSink) internal::unregisterLogSink(this);
        if (m_started) internal::releaseLibraries();
    }
    const bool m_hasSink;
    bool m_started = false;
};

Result<Library> Library::start(LogSink sink) {
    const bool hasSink = static_cast<bool>(sink);
    std::unique_ptr<Registration> registration(new Registration(hasSink));
    // Registered first, so the sink hears why a start-up failed.
    if (hasSink) internal::registerLogSink(registration.get(), sink);
    internal::CallScope scope;
    const int status = internal::acquireLibraries();
    if (status != 0) return scope.result(status, Library(nullptr));
    registration->m_started = true;
    return Result<Library>::success(Library(std::move(registration)));
}

Library::Library(std::unique_ptr<Registration> registration)
    : m_registration(std::move(registration)) {}

Library::Library(Library&& other) noexcept = default;
Library& Library::operator=(Library&& other) noexcept = default;
Library::~Library() {}

}  // namespace corvane
