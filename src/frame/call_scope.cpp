// Per-thread, per-call delivery of failure descriptions and log lines for
// the extended interface, and the log sinks of the living Library objects.
#include "frame/call_scope.h"

#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "frame/assertions.h"

namespace corvane {
namespace internal {

namespace {

const char kNotStarted[] = "The library is not started: hold a corvane::Library while calling it";

thread_local CallScope* t_currentScope = nullptr;

struct SinkEntry {
    const void* owner;
    LogSink sink;
};
typedef std::vector<SinkEntry> Sinks;

// Copy on write: a call reads the list under the lock; writers replace it.
std::mutex& sinksMutex() {
    static std::mutex mutex;
    return mutex;
}
std::shared_ptr<const Sinks>& sinksHolder() {
    static std::shared_ptr<const Sinks> sinks = std::make_shared<const Sinks>();
    return sinks;
}
std::shared_ptr<const Sinks> currentSinks() {
    std::lock_guard<std::mutex> lock(sinksMutex());
    return sinksHolder();
}

}  // namespace

void registerLogSink(const void* owner, const LogSink& sink) {
    std::lock_guard<std::mutex> lock(sinksMutex());
    std::shared_ptr<Sinks> next = std::make_shared<Sinks>(*sinksHolder());
    next->push_back(SinkEntry{owner, sink});
    sinksHolder() = next;
}

void unregisterLogSink(const void* owner) {
    std::lock_guard<std::mutex> lock(sinksMutex());
    std::shared_ptr<Sinks> next = std::make_shared<Sinks>();
    for (const SinkEntry& entry : *sinksHolder())
        if (entry.owner != owner) next->push_back(entry);
    sinksHolder() = next;
}

CallScope::CallScope(Delivery delivery) : m_outer(t_currentScope), m_delivery(delivery) {
    t_currentScope = this;
}

CallScope::~CallScope() {
    CORVANE_ASSERT(t_currentScope == this);
    t_currentScope = m_outer;
}

bool CallScope::libraryStarted() {
    if (librariesStarted()) return true;
    error(kNotStarted);
    return false;
}

std::string CallScope::message(int status) const {
    if (m_described) return m_message;
    if (!m_firstLoggedError.empty()) return m_firstLoggedError;
    return describeStatus(static_cast<Status>(status));
}

bool CallScope::deliverError(const std::string& message) {
    if (t_currentScope == nullptr) return false;
    t_currentScope->error(message);
    return true;
}

bool CallScope::deliverLog(int level, const std::string& message) {
    if (t_currentScope == nullptr) return false;
    t_currentScope->log(level, message);
    return true;
}

// The first description is the call's message: it comes from the check
// that detected the failure. Later ones add context and go to the log.
void CallScope::error(const std::string& message) {
    if (m_delivery == Delivery::DetailsOnly) {
        log(3, message);
        return;
    }
    if (!m_described) {
        m_message = message;
        m_described = true;
        return;
    }
    log(1, message);
}

void CallScope::log(int level, const std::string& message) {
    if (m_delivery == Delivery::DetailsOnly) level = 3;
    if (level == 1 && m_firstLoggedError.empty()) m_firstLoggedError = message;
    const std::shared_ptr<const Sinks> sinks = currentSinks();
    for (const SinkEntry& entry : *sinks) entry.sink(level, message);
}

}  // namespace internal
}  // namespace corvane
