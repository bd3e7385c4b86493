#include "subprocess.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace corvane_cli_test {

namespace {

// Both ends of a pipe, closed when the object goes.
struct Pipe {
    int fds[2] = {-1, -1};
    bool open() { return ::pipe2(fds, O_CLOEXEC) == 0; }
    void close(int end) {
        if (fds[end] >= 0) ::close(fds[end]);
        fds[end] = -1;
    }
    ~Pipe() {
        close(0);
        close(1);
    }
};

// In the child: wire the pipes to descriptors 0-2 and run the program.
// Only async-signal-safe calls between fork and exec.
[[noreturn]] void execChild(Pipe& in, Pipe& out, Pipe& err, char* const* argv) {
    if (::dup2(in.fds[0], 0) < 0 || ::dup2(out.fds[1], 1) < 0 || ::dup2(err.fds[1], 2) < 0) {
        ::_exit(126);
    }
    ::execv(argv[0], argv);
    ::_exit(127);
}

// Feeds the input and drains both outputs until the child closes them.
bool exchange(int inFd, int outFd, int errFd, const std::string& input, Finished& result,
              int timeoutSeconds) {
    std::size_t written = 0;
    const std::time_t deadline = std::time(nullptr) + timeoutSeconds;
    std::string* sinks[] = {&result.out, &result.err};
    int sources[] = {outFd, errFd};
    if (input.empty()) {
        ::close(inFd);
        inFd = -1;
    }
    while (sources[0] >= 0 || sources[1] >= 0) {
        pollfd polls[3] = {{sources[0], POLLIN, 0}, {sources[1], POLLIN, 0}, {inFd, POLLOUT, 0}};
        if (std::time(nullptr) > deadline) {
            result.problem = "timed out";
            if (inFd >= 0) ::close(inFd);
            return false;
        }
        if (::poll(polls, 3, 1000) < 0 && errno != EINTR) {
            result.problem = std::string("poll: ") + std::strerror(errno);
            if (inFd >= 0) ::close(inFd);
            return false;
        }
        for (int i = 0; i < 2; ++i) {
            if (sources[i] < 0 || polls[i].revents == 0) continue;
            char buffer[65536];
            const ssize_t count = ::read(sources[i], buffer, sizeof buffer);
            if (count > 0) {
                sinks[i]->append(buffer, static_cast<std::size_t>(count));
            } else if (count == 0 || errno != EINTR) {
                sources[i] = -1;  // closed by the caller's Pipe
            }
        }
        if (inFd >= 0 && polls[2].revents != 0) {
            const ssize_t count = ::write(inFd, input.data() + written, input.size() - written);
            if (count > 0) written += static_cast<std::size_t>(count);
            if ((count < 0 && errno != EINTR) || written == input.size()) {
                ::close(inFd);  // EPIPE: the child did not read all of it
                inFd = -1;
            }
        }
    }
    if (inFd >= 0) ::close(inFd);
    return true;
}

}  // namespace

Finished runProcess(const std::vector<std::string>& argv, const std::string& input,
                    int timeoutSeconds) {
    Finished result;
    std::signal(SIGPIPE, SIG_IGN);  // a child that exits early must not kill the tests
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);

    Pipe in, out, err;
    if (!in.open() || !out.open() || !err.open()) {
        result.problem = std::string("pipe: ") + std::strerror(errno);
        return result;
    }
    const pid_t pid = ::fork();
    if (pid < 0) {
        result.problem = std::string("fork: ") + std::strerror(errno);
        return result;
    }
    if (pid == 0) execChild(in, out, err, args.data());
    in.close(0);
    out.close(1);
    err.close(1);
    const int inFd = in.fds[1];
    in.fds[1] = -1;  // exchange() closes it
    const bool finished = exchange(inFd, out.fds[0], err.fds[0], input, result, timeoutSeconds);
    if (!finished) ::kill(pid, SIGKILL);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    result.exited = finished && WIFEXITED(status);
    if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
    return result;
}

}  // namespace corvane_cli_test
