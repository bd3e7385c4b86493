#include "commands.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#include <unistd.h>

#include "base64.h"
#include "exit_codes.h"
#include "inputs.h"
#include "library_session.h"

#include "CorvaneLogin.h"
#include "CorvaneStandard.h"

namespace corvane_cli {

namespace {

const char kRequestName[] = "corvane request";
const char kVerifyName[] = "corvane verify";
const char kMetadataName[] = "corvane metadata";

using KeyPtr = boost::shared_ptr<const corvane::Key>;

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

// Writes the command's result to --out (or standard output); the exit status.
int writeResult(const std::string& command, const std::string& outFile, const std::string& text) {
    std::string problem;
    if (writeOutput(outFile, text, problem)) return kExitOk;
    const bool toFile = !outFile.empty() && outFile != "-";
    return inputProblem(command, toFile ? "--out " + outFile : "output", problem);
}

// Loads a key file read before; null after the library's message and one
// line of the tool's (exit status 8, as for a key the plain request cannot use).
KeyPtr loadKey(const std::string& command, const std::string& option, const std::string& path,
               const std::string& pem, bool privateKey, int& exitCode) {
    KeyPtr key =
        privateKey ? corvane::Key::loadPrivateKey(pem) : corvane::Key::loadCertificate(pem);
    if (!key) {
        report(command + ": " + option + " " + path + ": " +
               (privateKey ? "not a usable private key" : "not a usable certificate"));
        exitCode = kExitUnusable;
    }
    return key;
}

// "corvane request: the request could not be built (library status -9)".
int libraryFailure(const std::string& command, const std::string& what, int status) {
    report(command + ": " + what + " (library status " + std::to_string(status) + ")");
    return exitCodeForStatus(status);
}

// A whole number option of verify --idp; false after the problem was reported.
bool wholeNumber(const std::string& option, const std::string& text, long long& number,
                 int& exitCode) {
    if (text.empty()) return true;
    char* end = nullptr;
    errno = 0;
    const long long value = std::strtoll(text.c_str(), &end, 10);
    if (errno != 0 || end == text.c_str() || *end != '\0') {
        exitCode = inputProblem(kVerifyName, option + " " + text, "is not a whole number");
        return false;
    }
    number = value;
    return true;
}

// A JSON string literal: quotes, backslashes and control characters escaped.
std::string jsonString(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20) {
            static const char kHex[] = "0123456789abcdef";
            out += "\\u00";
            out += kHex[byte >> 4];
            out += kHex[byte & 0x0f];
        } else {
            out += c;
        }
    }
    return out + "\"";
}

// The login's fields in a fixed order, as printed and as JSON members.
std::vector<std::pair<const char*, std::string>> loginFields(const corvane::VerifiedLogin& login) {
    return {{"nameId", login.nameId},
            {"nameIdFormat", login.nameIdFormat},
            {"nameQualifier", login.nameQualifier},
            {"spNameQualifier", login.spNameQualifier},
            {"sessionIndex", login.sessionIndex},
            {"authnInstant", login.authnInstant},
            {"sessionNotOnOrAfter", login.sessionNotOnOrAfter},
            {"authnContextClassRef", login.authnContextClassRef},
            {"assertionId", login.assertionId},
            {"idpEntityId", login.idpEntityId}};
}

// One "name: value" line per field, then "attribute NAME (FRIENDLY): value"
// per attribute value.
std::string loginText(const corvane::VerifiedLogin& login) {
    std::string text;
    for (const auto& field : loginFields(login)) {
        text += std::string(field.first) + ":" + (field.second.empty() ? "" : " " + field.second) +
                "\n";
    }
    text += "assertionExpiry: " + std::to_string(login.assertionExpiry) + "\n";
    for (const auto& attribute : login.attributes) {
        const std::string& friendly = attribute.second.friendlyName;
        const std::string label = "attribute " + attribute.first +
                                  (friendly.empty() ? "" : " (" + friendly + ")") + ":";
        for (const std::string& value : attribute.second.values) {
            text += label + (value.empty() ? "" : " " + value) + "\n";
        }
    }
    return text;
}

// The login as one JSON object on one line.
std::string loginJson(const corvane::VerifiedLogin& login) {
    std::string json = "{";
    for (const auto& field : loginFields(login)) {
        json += jsonString(field.first) + ":" + jsonString(field.second) + ",";
    }
    json += "\"assertionExpiry\":" + std::to_string(login.assertionExpiry) + ",\"attributes\":{";
    const char* separator = "";
    for (const auto& attribute : login.attributes) {
        json += separator + jsonString(attribute.first) +
                ":{\"friendlyName\":" + jsonString(attribute.second.friendlyName) +
                ",\"nameFormat\":" + jsonString(attribute.second.nameFormat) + ",\"values\":[";
        const char* valueSeparator = "";
        for (const std::string& value : attribute.second.values) {
            json += valueSeparator + jsonString(value);
            valueSeparator = ",";
        }
        json += "]}";
        separator = ",";
    }
    return json + "}}\n";
}

// The tool's line after the library's messages for a refused response.
void reportRefusal(int status) {
    std::string what;
    switch (status) {
        case -7:
            what = "the response is not acceptable";
            break;
        case -8:
            what = "the response is unusable or its signature could not be checked";
            break;
        case -9:
            what = "the expectations are incomplete or not usable";
            break;
        case -10:
            what = "the response is authentic but the login is refused";
            break;
        default:
            what = "failed";
    }
    report(std::string(kVerifyName) + ": " + what + " (library status " + std::to_string(status) +
           ")");
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
        case -9:
            return kExitUnusableOptions;
        case -10:
            return kExitRefusedLogin;
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

// The request options of both --standard forms.
corvane::StandardRequestOptions standardRequestOptions(const Options& options) {
    corvane::StandardRequestOptions request;
    request.destination = options.redirect.empty() ? options.destination : options.redirect;
    request.issuer = options.issuer;
    request.acsUrl = options.acsUrl;
    request.nameIdFormat = options.nameIdFormat;
    request.useSha1 = options.sha1;
    request.includeKeyInfo = options.keyInfo;
    return request;
}

int runStandardRequest(const Options& options) {
    int exitCode = kExitOk;
    std::string pem;
    const bool signs = !options.keyFile.empty();
    if (signs && !readKeyFile(kRequestName, "--key", options.keyFile, pem, exitCode)) {
        return exitCode;
    }
    if (!LibrarySession::prepareRequestId()) {
        report(std::string(kRequestName) + ": no random bytes for the request ID");
        return kExitOtherFailure;
    }
    LibrarySession session(options.verbosity);
    if (!startLibrary(session, kRequestName, options.verbosity, exitCode)) return exitCode;
    // Declared after the session: released before its finiHelper.
    KeyPtr key;
    if (signs) {
        key = loadKey(kRequestName, "--key", options.keyFile, pem, true, exitCode);
        if (!key) return exitCode;
    }
    const corvane::StandardRequestOptions request = standardRequestOptions(options);
    if (!options.redirect.empty()) {
        std::string query;
        const int status =
            corvane::createRedirectQuery(&query, request, options.relayState, key.get());
        if (status != 0) return libraryFailure(kRequestName, "the redirect could not be built", status);
        return writeResult(kRequestName, options.outFile,
                           corvane::redirectUrl(options.redirect, query) + "\n");
    }
    std::string signedRequest;
    const int status = corvane::createStandardAuthnRequest(&signedRequest, request, *key);
    if (status != 0) return libraryFailure(kRequestName, "the request could not be signed", status);
    return writeResult(kRequestName, options.outFile,
                       options.base64 ? base64Encode(signedRequest) + "\n" : signedRequest);
}

int runMetadata(const Options& options) {
    int exitCode = kExitOk;
    std::string pem;
    if (!readKeyFile(kMetadataName, "--cert", options.certFile, pem, exitCode)) return exitCode;
    LibrarySession session(options.verbosity);
    if (!startLibrary(session, kMetadataName, options.verbosity, exitCode)) return exitCode;
    // Declared after the session: released before its finiHelper.
    const KeyPtr cert = loadKey(kMetadataName, "--cert", options.certFile, pem, false, exitCode);
    if (!cert) return exitCode;
    corvane::SpMetadataOptions metadataOptions;
    metadataOptions.entityId = options.entityId;
    metadataOptions.acsUrl = options.acsUrl;
    metadataOptions.nameIdFormat = options.nameIdFormat;
    std::string metadata;
    const int status = corvane::createSpMetadata(&metadata, metadataOptions, *cert);
    if (status != 0) return libraryFailure(kMetadataName, "the metadata could not be built", status);
    return writeResult(kMetadataName, options.outFile, metadata);
}

int runLoginVerify(const Options& options) {
    int exitCode = kExitOk;
    std::vector<std::string> pems(options.certFiles.size());
    for (std::size_t i = 0; i < pems.size(); ++i) {
        if (!readKeyFile(kVerifyName, "--cert", options.certFiles[i], pems[i], exitCode)) {
            return exitCode;
        }
    }
    long long skew = 180;
    long long now = -1;
    if (!wholeNumber("--skew", options.skew, skew, exitCode) ||
        !wholeNumber("--now", options.now, now, exitCode)) {
        return exitCode;
    }
    if (!options.responseGiven && isatty(STDIN_FILENO)) {
        report(std::string(kVerifyName) +
               ": missing RESPONSE (a file, or '-' to read standard input)");
        return kExitUsage;
    }
    std::string xml;
    if (!responseXml(options, xml, exitCode)) return exitCode;
    LibrarySession session(options.verbosity);
    if (!startLibrary(session, kVerifyName, options.verbosity, exitCode)) return exitCode;

    // Declared after the session: the certificates are released before its finiHelper.
    corvane::LoginExpectations expectations;
    for (std::size_t i = 0; i < pems.size(); ++i) {
        KeyPtr cert = loadKey(kVerifyName, "--cert", options.certFiles[i], pems[i], false, exitCode);
        if (!cert) return exitCode;
        expectations.idpCertificates.push_back(cert);
    }
    expectations.idpEntityId = options.idpEntityId;
    expectations.spEntityId = options.audience;
    expectations.acsUrl = options.acsUrl;
    expectations.requestId = options.requestId;
    expectations.allowUnsolicited = options.allowUnsolicited;
    // Beyond the library's range either way, whatever the width of long.
    expectations.clockSkewSeconds = static_cast<long>(skew < -1 ? -1 : skew > 86401 ? 86401 : skew);
    expectations.now = now;

    corvane::VerifiedLogin login;
    const int status = corvane::verifyLoginResponse(&login, xml, expectations);
    if (status != 0) {
        reportRefusal(status);
        return exitCodeForStatus(status);
    }
    return writeResult(kVerifyName, "-", options.json ? loginJson(login) : loginText(login));
}

}  // namespace corvane_cli
