#include "redis_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <thread>

#include <hiredis/hiredis.h>

namespace corvane_test {

namespace {

// A port the kernel just handed out on 127.0.0.1, free at that moment.
int freeLoopbackPort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return 0;
    sockaddr_in address = sockaddr_in();
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = 0;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
        port = ntohs(address.sin_port);
    }
    close(fd);
    return port;
}

// In the child: dies with the test process, prints nothing, becomes the
// server. Never returns.
[[noreturn]] void becomeServer(const std::vector<std::string>& arguments) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    const int devNull = open("/dev/null", O_RDWR);
    if (devNull >= 0) {
        dup2(devNull, STDIN_FILENO);
        dup2(devNull, STDOUT_FILENO);
        dup2(devNull, STDERR_FILENO);
    }
    std::vector<char*> argv;
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
}

}  // namespace

RedisServer::RedisServer(std::vector<std::string> extraArguments)
    : extraArguments_(std::move(extraArguments)), port_(freeLoopbackPort()) {}

RedisServer::~RedisServer() { stop(); }

bool RedisServer::start() {
    if (running()) return true;
    std::vector<std::string> arguments = {
        CORVANE_REDIS_SERVER, "--port", std::to_string(port_), "--bind", "127.0.0.1", "--save", "",
        "--appendonly",       "no",     "--daemonize",         "no"};
    arguments.insert(arguments.end(), extraArguments_.begin(), extraArguments_.end());
    const pid_t pid = fork();
    if (pid < 0) return false;
    if (pid == 0) becomeServer(arguments);
    pid_ = pid;
    for (int attempt = 0; attempt < 500; ++attempt) {
        if (answersPing()) return true;
        if (waitpid(pid_, nullptr, WNOHANG) == pid_) {  // exited early
            pid_ = -1;
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    stop();
    return false;
}

void RedisServer::stop() {
    if (!running()) return;
    kill(pid_, SIGTERM);
    for (int attempt = 0; attempt < 250; ++attempt) {
        if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
            pid_ = -1;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
}

// Any reply counts: a server with a password answers NOAUTH.
bool RedisServer::answersPing() const {
    timeval timeout = {1, 0};
    redisContext* context = redisConnectWithTimeout("127.0.0.1", port_, timeout);
    if (context == nullptr) return false;
    bool answered = false;
    if (context->err == 0) {
        redisReply* reply = static_cast<redisReply*>(redisCommand(context, "PING"));
        answered = reply != nullptr;
        if (reply) freeReplyObject(reply);
    }
    redisFree(context);
    return answered;
}

}  // namespace corvane_test
