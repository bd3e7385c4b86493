// Checking documents with command-line tools: xmllint against the OASIS
// schemas (offline), and any tool run with its output captured.
#ifndef CORVANE_TEST_SCHEMA_CHECK_H
#define CORVANE_TEST_SCHEMA_CHECK_H

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "corvane_test_support.h"

namespace corvane_test {

// A file holding text, removed when the object goes.
class TempFile {
public:
    explicit TempFile(const std::string& text) {
        char name[] = "/tmp/corvane-test-XXXXXX";
        const int fd = mkstemp(name);
        if (fd >= 0) close(fd);
        m_path = name;
        writeFile(m_path, text);
    }
    ~TempFile() { std::remove(m_path.c_str()); }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    const std::string& path() const { return m_path; }

private:
    std::string m_path;
};

struct ToolOutcome {
    int exitStatus;
    std::string output;  // standard output and error together
};

inline ToolOutcome runTool(const std::string& command) {
    ToolOutcome outcome{-1, ""};
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr) return outcome;
    char buffer[4096];
    std::size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0) outcome.output.append(buffer, got);
    const int status = pclose(pipe);
    outcome.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return outcome;
}

// xmllint --nonet --schema SCHEMA accepts the document.
inline ::testing::AssertionResult validAgainst(const std::string& schema, const std::string& xml) {
    TempFile file(xml);
    const ToolOutcome o = runTool(std::string(CORVANE_XMLLINT) + " --nonet --noout --schema " +
                                  schema + " " + file.path());
    if (o.exitStatus == 0) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << o.output << "\n" << xml;
}

}  // namespace corvane_test

#endif
