#include "inputs.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

namespace corvane_cli {

namespace {

std::string withReason(const char* what, int error) {
    return std::string(what) + ": " + std::strerror(error);
}

// Appends everything the descriptor delivers; false with errno set.
bool readAll(int fd, std::string& text) {
    char buffer[65536];
    for (;;) {
        const ssize_t count = ::read(fd, buffer, sizeof buffer);
        if (count == 0) return true;
        if (count < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        text.append(buffer, static_cast<std::size_t>(count));
    }
}

bool writeAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t count = ::write(fd, text.data() + done, text.size() - done);
        if (count < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<std::size_t>(count);
    }
    return true;
}

}  // namespace

ReadResult readInput(const std::string& path) {
    ReadResult result;
    if (path == "-") {
        result.ok = readAll(STDIN_FILENO, result.text);
        if (!result.ok) result.problem = withReason("cannot read", errno);
        return result;
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        result.problem = withReason("cannot read", errno);
        return result;
    }
    result.ok = readAll(fd, result.text);
    if (!result.ok) result.problem = withReason("cannot read", errno);  // e.g. a directory
    ::close(fd);
    return result;
}

bool isBlank(const std::string& text) {
    return text.find_first_not_of(" \t\r\n\f\v") == std::string::npos;
}

bool writeOutput(const std::string& path, const std::string& text, std::string& problem) {
    if (path.empty() || path == "-") {
        if (!writeAll(STDOUT_FILENO, text)) {
            problem = withReason("cannot write to standard output", errno);
            return false;
        }
        return true;
    }
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        problem = withReason("cannot write", errno);
        return false;
    }
    bool ok = writeAll(fd, text);
    if (!ok) problem = withReason("cannot write", errno);
    if (::close(fd) != 0 && ok) {
        problem = withReason("cannot write", errno);
        ok = false;
    }
    return ok;
}

}  // namespace corvane_cli
