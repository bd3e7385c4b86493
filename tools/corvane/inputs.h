// Reading the tool's input files and writing its output, with one line
// that says what went wrong.
#ifndef CORVANE_CLI_INPUTS_H
#define CORVANE_CLI_INPUTS_H

#include <string>

namespace corvane_cli {

struct ReadResult {
    bool ok = false;
    std::string text;
    std::string problem;  // e.g. "cannot read: No such file or directory"
};

// The whole file, or standard input for "-".
ReadResult readInput(const std::string& path);

// True when the text holds nothing but white space.
bool isBlank(const std::string& text);

// Writes text to the file, or to standard output for "" and "-". On
// failure returns false with the problem, e.g. "cannot write: Permission denied".
bool writeOutput(const std::string& path, const std::string& text, std::string& problem);

}  // namespace corvane_cli

#endif
