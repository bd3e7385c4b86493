#include "library_session.h"

#include <cstdio>

#include <openssl/rand.h>

namespace corvane_cli {

namespace {

int g_verbosity = 0;
std::string g_preparedId;

// One message per line: a message that ends in a line break gets no other.
void printLine(const std::string& prefix, const std::string& message) {
    std::string line = prefix + message;
    if (line.empty() || line.back() != '\n') line += '\n';
    std::fwrite(line.data(), 1, line.size(), stderr);
}

// Level 1 and 2 lines from -v on, level 3 from -vv on.
void onLog(int level, const std::string& message) {
    const int needed = level >= 3 ? 2 : 1;
    if (g_verbosity < needed) return;
    printLine("corvane: log " + std::to_string(level) + ": ", message);
}

void onError(const std::string& message) { printError(message); }

}  // namespace

void printError(const std::string& message) { printLine("corvane: error: ", message); }

namespace {

void onGenerateId(std::string& id) { id = g_preparedId; }

}  // namespace

LibrarySession::LibrarySession(int verbosity) {
    g_verbosity = verbosity;
    helper_ = corvane::CorvaneBase::getHelper(onLog, onError, onGenerateId);
}

LibrarySession::~LibrarySession() {
    if (started_) helper_->finiHelper();
}

int LibrarySession::start() {
    const int status = helper_->initHelper();
    started_ = status == 0;
    return status;
}

bool LibrarySession::prepareRequestId() {
    unsigned char random[16];
    if (RAND_bytes(random, sizeof random) != 1) return false;
    static const char kHexDigits[] = "0123456789abcdef";
    std::string id = "_";
    for (unsigned char byte : random) {
        id += kHexDigits[byte >> 4];
        id += kHexDigits[byte & 0x0f];
    }
    g_preparedId = id;
    return true;
}

const std::string& LibrarySession::preparedRequestId() { return g_preparedId; }

corvane::Result<void> ExtendedSession::start() {
    g_verbosity = verbosity_;
    corvane::Result<corvane::Library> started = corvane::Library::start(onLog);
    if (!started.ok()) return corvane::Result<void>::failure(started.status(), started.message());
    library_.reset(new corvane::Library(std::move(started).value()));
    return corvane::Result<void>::success();
}

}  // namespace corvane_cli
