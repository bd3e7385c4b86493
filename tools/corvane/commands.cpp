#include "commands.h"

#include <cstdio>
#include <string>

#include <unistd.h>

#include "base64.h"
#include "exit_codes.h"
#include "inputs.h"
#include "library_session.h"

namespace corvane_cli {

namespace {

const char kRequestName[] = "corvane request";
const char kVerifyName[] = "corvane verify";

void report(const std::string& line) {
    const std::string text = line + "\n";
    std::fwrite(text.data(), 1, text.size(), stderr);
}

// "corvane verify: --cert idp.pem: is empty" and the usage exit status.
int inputProblem(const std::string& command, const std::string& input, const std::string& problem) {
    report(command + ": " + input + ": " + problem);
    return kExitUsage;
}

// A key or certificate file, read whole and not blank; false after the
// problem was reported.
bool readKeyFile(const std::string& command, const std::string& option, const std::string& path,
                 std::string& text, int& exitCode) {
    const std::string input = option + " " + path;
    ReadResult file = readInput(path);
    if (!file.ok) {
        exitCode = inputProblem(command, input, file.problem);
        return false;
    }
    if (isBlank(file.text)) {
        exitCode = inputProblem(command, input, "is empty");
        return false;
    }
    text.swap(file.text);
    return true;
}

// Starts the library; false after the failure was reported.
bool startLibrary(LibrarySession& session, const std::string& command, int verbosity,
                  int& exitCode) {
    const int status = session.start();
    if (status == 0) return true;
    report(command + ": the XML security libraries could not be started (library status " +
           std::to_string(status) + ")" + (verbosity == 0 ? "; -v shows why" : ""));
    exitCode = status == -1 ? kExitStartup : exitCodeForStatus(status);
    return false;
}

// The response text: the input itself when it is XML, else its base64
// decoding; false after the problem was reported.
bool responseXml(const Options& options, std::string& xml, int& exitCode) {
    const std::string path = options.responseGiven ? options.responseFile : "-";
    const std::string input = path == "-" ? "response (standard input)" : "response " + path;
    ReadResult response = readInput(path);
    if (!response.ok) {
        exitCode = inputProblem(kVerifyName, input, response.problem);
        return false;
    }
    if (isBlank(response.text)) {
        exitCode = inputProblem(kVerifyName, input, "is empty");
        return false;
    }
    if (!options.base64 && looksLikeXml(response.text)) {
        xml.swap(response.text);
        return true;
    }
    std::string problem;
    if (!base64Decode(response.text, xml, problem)) {
        const std::string what = options.base64 ? "not valid base64: "
                                                : "neither XML (no '<' at the start) nor base64: ";
        exitCode = inputProblem(kVerifyName, input, what + problem);
        return false;
    }
    return true;
}

}  // namespace

int exitCodeForStatus(int status) {
    switch (status) {
        case 0:
            return kExitOk;
        case -1:
            return kExitStartup;
        case -7:
            return kExitNotAcceptable;
        case -8:
            return kExitUnusable;
        default:
            return kExitOtherFailure;
    }
}

int runRequest(const Options& options) {
    int exitCode = kExitOk;
    std::string key;
    if (!readKeyFile(kRequestName, "--key", options.keyFile, key, exitCode)) return exitCode;
    if (!LibrarySession::prepareRequestId()) {
        report(std::string(kRequestName) + ": no random bytes for the request ID");
        return kExitOtherFailure;
    }
    LibrarySession session(options.verbosity);
    if (!startLibrary(session, kRequestName, options.verbosity, exitCode)) return exitCode;

    std::string request;
    const int status =
        session.helper().createAuthnRequest(&request, options.destination, options.issuer, key);
    if (status != 0) {
        report(std::string(kRequestName) + ": the request could not be signed (library status " +
               std::to_string(status) + ")");
        return exitCodeForStatus(status);
    }
    const std::string output = options.base64 ? base64Encode(request) + "\n" : request;
    std::string problem;
    if (!writeOutput(options.outFile, output, problem)) {
        const bool toFile = !options.outFile.empty() && options.outFile != "-";
        return inputProblem(kRequestName, toFile ? "--out " + options.outFile : "output", problem);
    }
    return kExitOk;
}

int runVerify(const Options& options) {
    int exitCode = kExitOk;
    std::string cert;
    if (!readKeyFile(kVerifyName, "--cert", options.certFile, cert, exitCode)) return exitCode;
    if (!options.responseGiven && isatty(STDIN_FILENO)) {
        report(std::string(kVerifyName) +
               ": missing RESPONSE (a file, or '-' to read standard input)");
        return kExitUsage;
    }
    std::string xml;
    if (!responseXml(options, xml, exitCode)) return exitCode;
    LibrarySession session(options.verbosity);
    if (!startLibrary(session, kVerifyName, options.verbosity, exitCode)) return exitCode;

    std::string nameId;
    const int status = session.helper().verifySamlResponse(nameId, xml, cert);
    if (status == -7) {
        report(std::string(kVerifyName) + ": the response is not acceptable (library status -7)");
    } else if (status == -8) {
        report(std::string(kVerifyName) +
               ": the response is unusable or its signature could not be checked (library "
               "status -8)");
    } else if (status != 0) {
        report(std::string(kVerifyName) + ": failed (library status " + std::to_string(status) +
               ")");
    }
    if (status != 0) return exitCodeForStatus(status);
    std::string problem;
    if (!writeOutput("-", nameId + "\n", problem)) {
        return inputProblem(kVerifyName, "output", problem);
    }
    return kExitOk;
}

}  // namespace corvane_cli
