// A real redis-server for the tests: started on a free loopback port,
// answered before use, and stopped by its PID on every path (also when
// the test process dies: the child gets SIGKILL with its parent).
#ifndef CORVANE_TEST_REDIS_SERVER_H
#define CORVANE_TEST_REDIS_SERVER_H

#include <sys/types.h>

#include <string>
#include <vector>

namespace corvane_test {

class RedisServer {
public:
    // extraArguments are added to the server's command line (for example
    // {"--requirepass", "secret"}). The port is chosen once and kept over
    // stop() and start().
    explicit RedisServer(std::vector<std::string> extraArguments = {});
    ~RedisServer();
    RedisServer(const RedisServer&) = delete;
    RedisServer& operator=(const RedisServer&) = delete;

    // Starts the server and waits until it answers PING (at most 10 s);
    // false when it never did (the server is stopped again then).
    bool start();
    // Stops it (SIGTERM, then SIGKILL after 5 s) and reaps it.
    void stop();
    bool running() const { return pid_ > 0; }

    int port() const { return port_; }
    std::string url() const { return "redis://127.0.0.1:" + std::to_string(port_); }

private:
    bool answersPing() const;

    std::vector<std::string> extraArguments_;
    int port_ = 0;
    pid_t pid_ = -1;
};

}  // namespace corvane_test

#endif
