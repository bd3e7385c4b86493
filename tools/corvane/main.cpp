// corvane: builds signed SAML 2.0 AuthnRequests and verifies SAML Responses
// with libcorvane from a shell. Usage and exit statuses: help.cpp and
// README.md. Nothing escapes as a crash: a usage or input problem is one
// line on standard error, and an exception (out of memory) is reported as
// an internal error.
#include <cstdio>
#include <exception>
#include <string>

#include "command_line.h"
#include "commands.h"
#include "exit_codes.h"
#include "help.h"

namespace {

void print(std::FILE* stream, const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stream);
}

int run(int argc, const char* const* argv) {
    using namespace corvane_cli;
    const ParsedCommandLine parsed = parseCommandLine(argc, argv);
    if (!parsed.problem.empty()) {
        print(stderr, parsed.problem + "\n");
        return kExitUsage;
    }
    const Options& options = parsed.options;
    if (options.help) {
        print(stdout, helpText(options.command));
        return kExitOk;
    }
    if (options.version) {
        print(stdout, versionText());
        return kExitOk;
    }
    switch (options.command) {
        case Command::Request:
            return options.standard ? runStandardRequest(options) : runRequest(options);
        case Command::Verify:
            return options.nameIdOnly ? runVerify(options) : runLoginVerify(options);
        case Command::IdpMetadata:
            return runIdpMetadata(options);
        case Command::Logout:
            return runLogout(options);
        default:
            return runMetadata(options);
    }
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return run(argc, argv);
    } catch (const std::exception& error) {
        print(stderr, std::string("corvane: internal error: ") + error.what() + "\n");
    } catch (...) {
        print(stderr, "corvane: internal error\n");
    }
    return corvane_cli::kExitOtherFailure;
}
