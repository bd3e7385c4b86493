// The tool's command line: `corvane [-v|-vv] COMMAND [OPTIONS] [ARGS]`.
#ifndef CORVANE_CLI_COMMAND_LINE_H
#define CORVANE_CLI_COMMAND_LINE_H

#include <string>

namespace corvane_cli {

enum class Command { None, Request, Verify };

struct Options {
    Command command = Command::None;
    bool help = false;
    bool version = false;
    int verbosity = 0;  // 0: no log lines, 1: levels 1 and 2, 2: levels 1 to 3
    bool base64 = false;
    // request
    std::string destination;
    std::string issuer;
    std::string keyFile;
    std::string outFile;  // empty or "-": standard output
    // verify
    std::string certFile;
    std::string responseFile;  // empty or "-": standard input
    bool responseGiven = false;
};

struct ParsedCommandLine {
    Options options;
    // One line naming what is wrong, empty when the command line is usable.
    std::string problem;
};

// Reads the options of argv. Options take their value from the next
// argument or after '='; "--" ends the options. The command's required
// options are checked unless help or the version was asked for.
ParsedCommandLine parseCommandLine(int argc, const char* const* argv);

// "corvane", "corvane request" or "corvane verify": the prefix of messages.
std::string commandName(Command command);

}  // namespace corvane_cli

#endif
