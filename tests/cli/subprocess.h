// Runs a program as a child process with the given standard input and
// collects its standard output, standard error and exit status.
#ifndef CORVANE_CLI_TEST_SUBPROCESS_H
#define CORVANE_CLI_TEST_SUBPROCESS_H

#include <string>
#include <vector>

namespace corvane_cli_test {

struct Finished {
    bool exited = false;  // false: killed by a signal, or not run at all
    int exitCode = -1;
    int signal = 0;
    std::string out;
    std::string err;
    std::string problem;  // why the child could not be run or waited for
};

// argv[0] is the program's path. The child is killed after timeoutSeconds.
Finished runProcess(const std::vector<std::string>& argv, const std::string& input,
                    int timeoutSeconds = 120);

}  // namespace corvane_cli_test

#endif
