#include "commands.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <map>
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
const char kMetadataName[] = "corvane metadata";
const char kIdpMetadataName[] = "corvane idp-metadata";

using corvane::KeyPtr;

void report(const std::string& line) {
    const std::string text = line + "\n";
    std::fwrite(text.data(), 1, text.size(), stderr);
}

// "corvane verify: --cert idp.pem: is empty" and the usage exit status.
int inputProblem(const std::string& command, const std::string& input, const std::string& problem) {
    report(command + ": " + input + ": " + problem);
    return kExitUsage;
}

// A key, certificate or metadata file, read whole and not blank; false
// after the problem was reported.
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
// What verify was given to read: its text, the words that name it in
// messages, and whether it is XML as it stands.
struct ResponseInput {
    std::string text;
    std::string name;
    bool isXml = false;
};

// Reads the response file (or standard input); false after the problem
// (unreadable, empty) was reported.
bool readResponseInput(const Options& options, ResponseInput& in, int& exitCode) {
    const std::string path = options.responseGiven ? options.responseFile : "-";
    in.name = path == "-" ? "response (standard input)" : "response " + path;
    ReadResult response = readInput(path);
    if (!response.ok) {
        exitCode = inputProblem(kVerifyName, in.name, response.problem);
        return false;
    }
    if (isBlank(response.text)) {
        exitCode = inputProblem(kVerifyName, in.name, "is empty");
        return false;
    }
    in.isXml = !options.base64 && looksLikeXml(response.text);
    in.text.swap(response.text);
    return true;
}

bool responseXml(const Options& options, std::string& xml, int& exitCode) {
    ResponseInput response;
    if (!readResponseInput(options, response, exitCode)) return false;
    const std::string& input = response.name;
    if (response.isXml) {
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

// Strict base64 (white space allowed), as metadata carries a certificate.
bool looksLikeBase64(const std::string& text) { return corvane::base64Decode(text).ok(); }

// What a certificate file holds when no certificate loads from it, in a
// few words for the user.
std::string whatWasFound(const std::string& text) {
    const std::string::size_type start = text.find_first_not_of(" \t\r\n");
    if (start != std::string::npos && text[start] == '<') {
        if (text.find("EntityDescriptor") != std::string::npos) {
            return "found SAML metadata; give it with --idp-metadata FILE (and "
                   "--metadata-signer or --trust-unsigned-metadata)";
        }
        return "found XML, not a certificate";
    }
    const std::string::size_type begin = text.find("-----BEGIN ");
    if (begin != std::string::npos) {
        const std::string::size_type end = text.find("-----", begin + 11);
        const std::string label =
            end == std::string::npos ? "" : text.substr(begin + 11, end - begin - 11);
        if (label == "CERTIFICATE") return "found a PEM CERTIFICATE block that does not load";
        return "found a PEM " + (label.empty() ? std::string("block") : label + " block") +
               ", not a CERTIFICATE";
    }
    if (looksLikeBase64(text)) return "found base64 that is not an X.509 certificate";
    return "found neither a PEM certificate nor the base64 of one";
}

// Loads a key file read before; null after the library's message and one
// line of the tool's (exit status 8, as for a key the plain request cannot
// use). A certificate may also be the bare base64 of its DER, as metadata
// carries it.
KeyPtr loadKey(const std::string& command, const std::string& option, const std::string& path,
               const std::string& pem, bool privateKey, int& exitCode) {
    const bool bareBase64 =
        !privateKey && pem.find("-----BEGIN") == std::string::npos && looksLikeBase64(pem);
    const corvane::Result<KeyPtr> key = privateKey   ? corvane::Key::loadPrivateKey(pem)
                                        : bareBase64 ? corvane::loadCertificateFromBase64(pem)
                                                     : corvane::Key::loadCertificate(pem);
    if (!key.ok()) {
        printError(key.message());
        report(command + ": " + option + " " + path + ": " +
               (privateKey ? "not a usable private key"
                           : "not a usable certificate: " + whatWasFound(pem)));
        exitCode = exitCodeForStatus(corvane::toInt(key.status()));
        return KeyPtr();
    }
    return key.value();
}

// Starts the extended interface; false after the failure was reported.
bool startExtended(ExtendedSession& session, const std::string& command, int verbosity,
                   int& exitCode) {
    const corvane::Result<void> started = session.start();
    if (started.ok()) return true;
    if (verbosity > 0) printError(started.message());
    report(command + ": the XML security libraries could not be started (library status -1)" +
           (verbosity == 0 ? "; -v shows why" : ""));
    exitCode = kExitStartup;
    return false;
}

// The library's message, then "corvane request: the request could not be
// built: options not usable (library status -9)"; the exit status.
template <typename T>
int libraryFailure(const std::string& command, const std::string& what,
                   const corvane::Result<T>& result) {
    printError(result.message());
    const int status = corvane::toInt(result.status());
    report(command + ": " + what + ": " + corvane::describeStatus(result.status()) +
           " (library status " + std::to_string(status) + ")");
    return exitCodeForStatus(status);
}

// A whole number option of verify --idp (or of command); false after the
// problem was reported.
bool wholeNumber(const std::string& option, const std::string& text, long long& number,
                 int& exitCode, const char* command = kVerifyName) {
    if (text.empty()) return true;
    char* end = nullptr;
    errno = 0;
    const long long value = std::strtoll(text.c_str(), &end, 10);
    if (errno != 0 || end == text.c_str() || *end != '\0') {
        exitCode = inputProblem(command, option + " " + text, "is not a whole number");
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
            {"idpEntityId", login.idpEntityId},
            {"inResponseTo", login.inResponseTo}};
}

// A signed value made safe for one line of a terminal: backslash and
// control characters (C0, DEL) written as \\, \n, \r, \t or \xNN; other
// bytes (UTF-8 included) as they are.
std::string printable(const std::string& text) {
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    for (const char c : text) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (c == '\\') {
            out += "\\\\";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (byte < 0x20 || byte == 0x7f) {
            out += "\\x";
            out += kHex[byte >> 4];
            out += kHex[byte & 0x0f];
        } else {
            out += c;
        }
    }
    return out;
}

// "name: value", the value printable; "name:" for an empty one.
std::string textLine(const std::string& name, const std::string& value) {
    return name + ":" + (value.empty() ? "" : " " + printable(value)) + "\n";
}

// One "name: value" line per field, then "attribute NAME (FRIENDLY): value"
// per attribute value; every value printable.
std::string loginText(const corvane::VerifiedLogin& login) {
    std::string text;
    for (const auto& field : loginFields(login)) text += textLine(field.first, field.second);
    text += "assertionExpiry: " + std::to_string(login.assertionExpiry) + "\n";
    text +=
        std::string("assertionEncrypted: ") + (login.assertionEncrypted ? "true" : "false") + "\n";
    for (const auto& attribute : login.attributes) {
        const std::string& friendly = attribute.second.friendlyName;
        const std::string label = "attribute " + printable(attribute.first) +
                                  (friendly.empty() ? "" : " (" + printable(friendly) + ")");
        for (const std::string& value : attribute.second.values) text += textLine(label, value);
    }
    return text;
}

// The login as one JSON object on one line.
std::string loginJson(const corvane::VerifiedLogin& login) {
    std::string json = "{";
    for (const auto& field : loginFields(login)) {
        json += jsonString(field.first) + ":" + jsonString(field.second) + ",";
    }
    json += "\"assertionExpiry\":" + std::to_string(login.assertionExpiry) +
            ",\"assertionEncrypted\":" + (login.assertionEncrypted ? "true" : "false") +
            ",\"attributes\":{";
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

// Writes the request ID to --id-out, if given, then the request: as it is,
// or with --json as {"id": ..., "request"|"url": ...} on one line.
int writeRequest(const Options& options, const std::string& id, const char* member,
                 const std::string& text) {
    if (!options.idOutFile.empty()) {
        std::string problem;
        if (!writeOutput(options.idOutFile, id + "\n", problem)) {
            return inputProblem(kRequestName, "--id-out " + options.idOutFile, problem);
        }
    }
    std::string body = text;
    if (!body.empty() && body.back() == '\n' && options.json) body.pop_back();
    const std::string output = options.json
                                   ? "{\"id\":" + jsonString(id) + "," + jsonString(member) + ":" +
                                         jsonString(body) + "}\n"
                                   : text;
    return writeResult(kRequestName, options.outFile, output);
}

// The IdP metadata and the signer's certificate, read before the library
// starts.
struct MetadataInputs {
    std::string xml;
    std::string signerPem;
};

bool readMetadataInputs(const std::string& command, const Options& options, MetadataInputs& in,
                        int& exitCode) {
    const char* option = options.command == Command::IdpMetadata ? "metadata" : "--idp-metadata";
    return readKeyFile(command, option, options.idpMetadataFile, in.xml, exitCode) &&
           (options.metadataSigner.empty() ||
            readKeyFile(command, "--metadata-signer", options.metadataSigner, in.signerPem,
                        exitCode));
}

// The trust the command line names: the pinned signer, or the opt-in.
bool metadataOptions(const std::string& command, const Options& options, const MetadataInputs& in,
                     corvane::IdpMetadataOptions& metadataOptions, int& exitCode) {
    metadataOptions.trustUnsignedMetadata = options.trustUnsignedMetadata;
    if (options.metadataSigner.empty()) return true;
    const KeyPtr signer = loadKey(command, "--metadata-signer", options.metadataSigner,
                                  in.signerPem, false, exitCode);
    if (!signer) return false;
    metadataOptions.signerKeys = {signer};
    return true;
}

// The IdP the command line names (--entity, or the metadata's only IdP),
// verified; false after the problem was reported.
bool idpFromMetadata(const std::string& command, const Options& options, const MetadataInputs& in,
                     corvane::IdpDescriptor& idp, int& exitCode) {
    corvane::IdpMetadataOptions metadata;
    if (!metadataOptions(command, options, in, metadata, exitCode)) return false;
    corvane::Result<corvane::IdpDescriptor> found =
        corvane::loadIdpDescriptor(in.xml, metadata, options.entity);
    if (!found.ok()) {
        exitCode = libraryFailure(command, "the IdP metadata is refused", found);
        return false;
    }
    idp = std::move(found).value();
    return true;
}

// The instant as UTC xs:dateTime, or empty for none (-1).
std::string instantText(long long instant) {
    return instant < 0 ? std::string() : corvane::utcDateTime(static_cast<std::time_t>(instant));
}

// The IdP's settings as "name: value" lines, or with json as one object.
std::string idpText(const corvane::IdpDescriptor& idp, bool json) {
    std::vector<std::pair<std::string, std::string>> fields = {{"entityId", idp.entityId}};
    for (const corvane::IdpEndpoint& sso : idp.singleSignOnServices)
        fields.push_back({"singleSignOnService " + sso.binding, sso.location});
    for (const corvane::IdpEndpoint& slo : idp.singleLogoutServices) {
        fields.push_back({"singleLogoutService " + slo.binding, slo.location});
        if (!slo.responseLocation.empty())
            fields.push_back({"singleLogoutResponse " + slo.binding, slo.responseLocation});
    }
    for (const KeyPtr& key : idp.signingKeys)
        fields.push_back({"signingCertificate", key->certificateBase64()});
    for (const corvane::IdpEncryptionCertificate& certificate : idp.encryptionCertificates) {
        fields.push_back({"encryptionCertificate", certificate.key->certificateBase64()});
        for (const std::string& method : certificate.encryptionMethods)
            fields.push_back({"encryptionMethod", method});
    }
    for (const std::string& format : idp.nameIdFormats) fields.push_back({"nameIdFormat", format});
    fields.push_back({"wantAuthnRequestsSigned", idp.wantAuthnRequestsSigned ? "true" : "false"});
    fields.push_back({"validUntil", instantText(idp.validUntil)});
    fields.push_back({"cacheDurationSeconds", idp.cacheDurationSeconds < 0
                                                  ? std::string()
                                                  : std::to_string(idp.cacheDurationSeconds)});
    std::string text;
    if (!json) {
        for (const auto& field : fields) text += textLine(field.first, field.second);
        return text;
    }
    // JSON: [name, value] pairs in order, since names repeat.
    const char* separator = "";
    for (const auto& field : fields) {
        text += separator + std::string("[") + jsonString(field.first) + "," +
                jsonString(field.second) + "]";
        separator = ",";
    }
    return "{\"idp\":[" + text + "]}\n";
}

// Every IdP entity ID, one a line, or with json one object.
std::string idpListText(const corvane::IdpMetadata& metadata, bool json) {
    std::string text;
    if (!json) {
        for (const std::string& id : metadata.idpEntityIds()) text += printable(id) + "\n";
        return text;
    }
    const char* separator = "";
    for (const std::string& id : metadata.idpEntityIds()) {
        text += separator + jsonString(id);
        separator = ",";
    }
    return "{\"idpEntityIds\":[" + text +
           "],\"entityCount\":" + std::to_string(metadata.entityCount()) +
           ",\"validUntil\":" + jsonString(instantText(metadata.validUntil())) + "}\n";
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
        case -11:
            return kExitTooLarge;
        case -12:
            return kExitReplayCache;
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
    return writeRequest(options, LibrarySession::preparedRequestId(), "request",
                        options.base64 ? corvane::base64Encode(request) + "\n" : request);
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

// With --idp-metadata: the IdP's SSO URL for the binding becomes the
// destination; a redirect to an IdP that wants signed requests needs the
// key. False after the problem was reported.
bool destinationFromMetadata(const Options& options, const MetadataInputs& in, bool signs,
                             corvane::StandardRequestOptions& request, int& exitCode) {
    corvane::IdpDescriptor idp;
    if (!idpFromMetadata(kRequestName, options, in, idp, exitCode)) return false;
    const corvane::Result<void> used = corvane::useIdpForRequest(
        idp, options.httpRedirect ? corvane::kBindingHttpRedirect : corvane::kBindingHttpPost,
        &request);
    if (!used.ok()) {
        exitCode = libraryFailure(kRequestName, "the IdP metadata gives no destination", used);
        return false;
    }
    if (idp.wantAuthnRequestsSigned && !signs) {
        report(std::string(kRequestName) +
               ": the IdP's metadata asks for signed requests (WantAuthnRequestsSigned): give "
               "--key SP.pem");
        exitCode = kExitUsage;
        return false;
    }
    return true;
}

int runStandardRequest(const Options& options) {
    int exitCode = kExitOk;
    std::string pem;
    const bool signs = !options.keyFile.empty();
    if (signs && !readKeyFile(kRequestName, "--key", options.keyFile, pem, exitCode)) {
        return exitCode;
    }
    const bool fromMetadata = !options.idpMetadataFile.empty();
    MetadataInputs metadataIn;
    if (fromMetadata && !readMetadataInputs(kRequestName, options, metadataIn, exitCode)) {
        return exitCode;
    }
    ExtendedSession session(options.verbosity);
    if (!startExtended(session, kRequestName, options.verbosity, exitCode)) return exitCode;
    // Declared after the session: released before it ends.
    KeyPtr key;
    if (signs) {
        key = loadKey(kRequestName, "--key", options.keyFile, pem, true, exitCode);
        if (!key) return exitCode;
    }
    corvane::StandardRequestOptions request = standardRequestOptions(options);
    if (fromMetadata && !destinationFromMetadata(options, metadataIn, signs, request, exitCode)) {
        return exitCode;
    }
    if (!options.redirect.empty() || options.httpRedirect) {
        const corvane::Result<corvane::RedirectRequest> redirect =
            corvane::createRedirectRequest(request, options.relayState, key.get());
        if (!redirect.ok()) {
            return libraryFailure(kRequestName, "the redirect could not be built", redirect);
        }
        return writeRequest(options, redirect.value().id, "url", redirect.value().url + "\n");
    }
    const corvane::Result<corvane::AuthnRequest> made =
        corvane::createSignedAuthnRequest(request, *key);
    if (!made.ok()) return libraryFailure(kRequestName, "the request could not be signed", made);
    const std::string& xml = made.value().xml;
    return writeRequest(options, made.value().id, "request",
                        options.base64 ? corvane::base64Encode(xml) + "\n" : xml);
}

int runMetadata(const Options& options) {
    int exitCode = kExitOk;
    std::string pem;
    std::string encryptionPem;
    if (!readKeyFile(kMetadataName, "--cert", options.certFile, pem, exitCode)) return exitCode;
    const bool offersEncryption = !options.encryptionCertFile.empty();
    if (offersEncryption && !readKeyFile(kMetadataName, "--encryption-cert",
                                         options.encryptionCertFile, encryptionPem, exitCode))
        return exitCode;
    ExtendedSession session(options.verbosity);
    if (!startExtended(session, kMetadataName, options.verbosity, exitCode)) return exitCode;
    // Declared after the session: released before it ends.
    const KeyPtr cert = loadKey(kMetadataName, "--cert", options.certFile, pem, false, exitCode);
    if (!cert) return exitCode;
    corvane::SpMetadataOptions metadataOptions;
    if (offersEncryption) {
        metadataOptions.encryptionCertificate =
            loadKey(kMetadataName, "--encryption-cert", options.encryptionCertFile, encryptionPem,
                    false, exitCode);
        if (!metadataOptions.encryptionCertificate) return exitCode;
    }
    metadataOptions.entityId = options.entityId;
    metadataOptions.acsUrl = options.acsUrl;
    metadataOptions.nameIdFormat = options.nameIdFormat;
    metadataOptions.wantAssertionsSigned = options.wantAssertionsSigned == "true";
    const corvane::Result<std::string> metadata = corvane::createSpMetadata(metadataOptions, *cert);
    if (!metadata.ok()) {
        return libraryFailure(kMetadataName, "the metadata could not be built", metadata);
    }
    return writeResult(kMetadataName, options.outFile, metadata.value());
}

// The posted response as the library reads it: XML as it is, else the
// base64 form value (percent-escaped, with '+' for space, when it holds a
// '%'); false after the problem was reported.
bool loginResponseXml(const Options& options, std::size_t maxBytes, std::string& xml,
                      int& exitCode) {
    ResponseInput response;
    if (!readResponseInput(options, response, exitCode)) return false;
    const std::string& input = response.name;
    if (response.isXml) {
        xml.swap(response.text);
        return true;
    }
    const bool formEncoded = response.text.find('%') != std::string::npos;
    corvane::Result<std::string> decoded =
        corvane::decodePostedResponse(response.text, formEncoded, maxBytes);
    if (!decoded.ok()) {
        const std::string what = options.base64 ? "not valid base64: "
                                                : "neither XML (no '<' at the start) nor base64: ";
        exitCode = decoded.status() == corvane::Status::TooLarge
                       ? kExitTooLarge
                       : inputProblem(kVerifyName, input, what + decoded.message());
        if (exitCode == kExitTooLarge)
            report(std::string(kVerifyName) + ": " + input + ": " + decoded.message());
        return false;
    }
    xml = std::move(decoded).value();
    return true;
}

// The PEM text of every file of a repeatable option, in order; false after
// the problem was reported.
bool readKeyFiles(const char* option, const std::vector<std::string>& files,
                  std::vector<std::string>& pems, int& exitCode) {
    pems.assign(files.size(), std::string());
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (!readKeyFile(kVerifyName, option, files[i], pems[i], exitCode)) return false;
    }
    return true;
}

// The keys of every file of a repeatable option, loaded; false after the
// problem was reported.
bool loadKeys(const char* option, const std::vector<std::string>& files,
              const std::vector<std::string>& pems, bool privateKeys, std::vector<KeyPtr>& keys,
              int& exitCode) {
    for (std::size_t i = 0; i < pems.size(); ++i) {
        KeyPtr key = loadKey(kVerifyName, option, files[i], pems[i], privateKeys, exitCode);
        if (!key) return false;
        keys.push_back(key);
    }
    return true;
}

int runLoginVerify(const Options& options) {
    int exitCode = kExitOk;
    std::vector<std::string> pems;
    std::vector<std::string> decryptionPems;
    if (!readKeyFiles("--cert", options.certFiles, pems, exitCode) ||
        !readKeyFiles("--decrypt-key", options.decryptKeyFiles, decryptionPems, exitCode)) {
        return exitCode;
    }
    long long skew = 180;
    long long now = -1;
    long long maxSize = static_cast<long long>(corvane::LoginExpectations().maxMessageBytes);
    if (!wholeNumber("--skew", options.skew, skew, exitCode) ||
        !wholeNumber("--now", options.now, now, exitCode) ||
        !wholeNumber("--max-size", options.maxSize, maxSize, exitCode)) {
        return exitCode;
    }
    if (maxSize <= 0)
        return inputProblem(kVerifyName, "--max-size " + options.maxSize, "is not positive");
    if (!options.responseGiven && isatty(STDIN_FILENO)) {
        report(std::string(kVerifyName) +
               ": missing RESPONSE (a file, or '-' to read standard input)");
        return kExitUsage;
    }
    const bool fromMetadata = !options.idpMetadataFile.empty();
    MetadataInputs metadataIn;
    if (fromMetadata && !readMetadataInputs(kVerifyName, options, metadataIn, exitCode)) {
        return exitCode;
    }
    std::string xml;
    if (!loginResponseXml(options, static_cast<std::size_t>(maxSize), xml, exitCode)) {
        return exitCode;
    }
    ExtendedSession session(options.verbosity);
    if (!startExtended(session, kVerifyName, options.verbosity, exitCode)) return exitCode;

    // Declared after the session: the certificates are released before it ends.
    corvane::LoginExpectations expectations;
    if (!loadKeys("--cert", options.certFiles, pems, false, expectations.idpCertificates,
                  exitCode) ||
        !loadKeys("--decrypt-key", options.decryptKeyFiles, decryptionPems, true,
                  expectations.spDecryptionKeys, exitCode)) {
        return exitCode;
    }
    expectations.allowCbcWithoutResponseSignature = options.allowCbcWithoutResponseSignature;
    expectations.idpEntityId = options.idpEntityId;
    if (fromMetadata) {
        corvane::IdpDescriptor idp;
        if (!idpFromMetadata(kVerifyName, options, metadataIn, idp, exitCode)) return exitCode;
        const corvane::Result<void> used = corvane::useIdpForLogin(idp, &expectations);
        if (!used.ok()) return libraryFailure(kVerifyName, "the IdP metadata is not usable", used);
    }
    expectations.spEntityId = options.audience;
    expectations.acsUrl = options.acsUrl;
    expectations.requestId = options.requestId;
    expectations.allowUnsolicited = options.allowUnsolicited;
    expectations.allowSha1 = options.allowSha1;
    // Beyond the library's range either way, whatever the width of long.
    expectations.clockSkewSeconds = static_cast<long>(skew < -1 ? -1 : skew > 86401 ? 86401 : skew);
    expectations.now = now;
    expectations.maxMessageBytes = static_cast<std::size_t>(maxSize);
    if (!options.replayCache.empty()) {
        corvane::RedisReplayCacheOptions redis;
        redis.url = options.replayCache;
        std::string problem;
        expectations.replayCache = corvane::newRedisReplayCache(redis, &problem);
        if (!expectations.replayCache)
            return inputProblem(kVerifyName, "--replay-cache " + options.replayCache, problem);
    }

    const corvane::Result<corvane::VerifiedLogin> login =
        corvane::verifyLoginResponse(xml, expectations);
    if (!login.ok()) return libraryFailure(kVerifyName, "the login is refused", login);
    return writeResult(kVerifyName, "-",
                       options.json ? loginJson(login.value()) : loginText(login.value()));
}

int runIdpMetadata(const Options& options) {
    int exitCode = kExitOk;
    MetadataInputs in;
    if (!readMetadataInputs(kIdpMetadataName, options, in, exitCode)) return exitCode;
    ExtendedSession session(options.verbosity);
    if (!startExtended(session, kIdpMetadataName, options.verbosity, exitCode)) return exitCode;
    // Declared after the session: the keys are released before it ends.
    corvane::IdpMetadataOptions metadataOptionsGiven;
    if (!metadataOptions(kIdpMetadataName, options, in, metadataOptionsGiven, exitCode))
        return exitCode;
    const corvane::Result<corvane::IdpMetadataPtr> metadata =
        corvane::loadIdpMetadata(in.xml, metadataOptionsGiven);
    if (!metadata.ok()) {
        return libraryFailure(kIdpMetadataName, "the IdP metadata is refused", metadata);
    }
    if (options.entity.empty()) {
        return writeResult(kIdpMetadataName, "-", idpListText(*metadata.value(), options.json));
    }
    const corvane::Result<corvane::IdpDescriptor> idp = metadata.value()->idp(options.entity);
    if (!idp.ok()) return libraryFailure(kIdpMetadataName, "the IdP is refused", idp);
    return writeResult(kIdpMetadataName, "-", idpText(idp.value(), options.json));
}

// ---- corvane logout ---------------------------------------------------------

namespace {

const char kLogoutRequestName[] = "corvane logout request";
const char kLogoutVerifyName[] = "corvane logout verify";
const char kLogoutResponseName[] = "corvane logout response";

corvane::LogoutBinding logoutBinding(const Options& options) {
    return options.binding == "post" ? corvane::LogoutBinding::HttpPost
                                     : corvane::LogoutBinding::HttpRedirect;
}

// The message made: its ID to --id-out (if given), then the Redirect URL or
// the POST page, or with --json {"id": ..., "url"|"form": ...}.
int writeLogoutMessage(const char* command, const Options& options,
                       const corvane::OutgoingLogoutMessage& message) {
    if (!options.idOutFile.empty()) {
        std::string problem;
        if (!writeOutput(options.idOutFile, message.id + "\n", problem))
            return inputProblem(command, "--id-out " + options.idOutFile, problem);
    }
    const bool post = logoutBinding(options) == corvane::LogoutBinding::HttpPost;
    const std::string& body = post ? message.formPage : message.url;
    const std::string output = options.json ? "{\"id\":" + jsonString(message.id) + "," +
                                                  jsonString(post ? "form" : "url") + ":" +
                                                  jsonString(body) + "}\n"
                                            : (post ? body : body + "\n");
    return writeResult(command, options.outFile, output);
}

// The SP key read and loaded inside a started session; null after the
// problem was reported.
KeyPtr logoutSigningKey(const char* command, const Options& options, ExtendedSession& session,
                        int& exitCode) {
    std::string pem;
    if (!readKeyFile(command, "--key", options.keyFile, pem, exitCode)) return KeyPtr();
    if (!startExtended(session, command, options.verbosity, exitCode)) return KeyPtr();
    return loadKey(command, "--key", options.keyFile, pem, true, exitCode);
}

int runLogoutRequest(const Options& options) {
    int exitCode = kExitOk;
    ExtendedSession session(options.verbosity);
    // Declared after the session: released before it ends.
    const KeyPtr key = logoutSigningKey(kLogoutRequestName, options, session, exitCode);
    if (!key) return exitCode;
    corvane::LogoutRequestOptions request;
    request.destination = options.destination;
    request.issuer = options.issuer;
    request.useSha1 = options.sha1;
    corvane::VerifiedLogin login;
    login.nameId = options.nameId;
    login.nameIdFormat = options.nameIdFormat;
    login.nameQualifier = options.nameQualifier;
    login.spNameQualifier = options.spNameQualifier;
    login.sessionIndex = options.sessionIndex;
    const corvane::Result<corvane::OutgoingLogoutMessage> made = corvane::createLogoutRequest(
        request, login, logoutBinding(options), options.relayState, *key);
    if (!made.ok())
        return libraryFailure(kLogoutRequestName, "the request could not be made", made);
    return writeLogoutMessage(kLogoutRequestName, options, made.value());
}

int runLogoutResponse(const Options& options) {
    int exitCode = kExitOk;
    ExtendedSession session(options.verbosity);
    const KeyPtr key = logoutSigningKey(kLogoutResponseName, options, session, exitCode);
    if (!key) return exitCode;
    corvane::LogoutResponseOptions response;
    response.destination = options.destination;
    response.issuer = options.issuer;
    response.inResponseTo = options.inResponseTo;
    response.answer = options.logoutStatus == "requester"   ? corvane::LogoutAnswer::Requester
                      : options.logoutStatus == "responder" ? corvane::LogoutAnswer::Responder
                                                            : corvane::LogoutAnswer::Success;
    response.statusMessage = options.statusMessage;
    response.useSha1 = options.sha1;
    const corvane::Result<corvane::OutgoingLogoutMessage> made =
        corvane::createLogoutResponse(response, logoutBinding(options), options.relayState, *key);
    if (!made.ok())
        return libraryFailure(kLogoutResponseName, "the response could not be made", made);
    return writeLogoutMessage(kLogoutResponseName, options, made.value());
}

const char* outcomeName(corvane::LogoutOutcome outcome) {
    switch (outcome) {
        case corvane::LogoutOutcome::Success:
            return "Success";
        case corvane::LogoutOutcome::PartialLogout:
            return "PartialLogout";
        case corvane::LogoutOutcome::Failure:
            break;
    }
    return "Failure";
}

// Printed fields as "name: value" lines (printable), or one JSON object.
std::string fieldsText(const std::vector<std::pair<const char*, std::string>>& fields, bool json) {
    std::string text = json ? "{" : "";
    for (const auto& field : fields) {
        text += json ? (text.size() > 1 ? "," : "") + jsonString(field.first) + ":" +
                           jsonString(field.second)
                     : textLine(field.first, field.second);
    }
    return json ? text + "}\n" : text;
}

std::string logoutResponseText(const corvane::VerifiedLogoutResponse& r, bool json) {
    return fieldsText({{"outcome", outcomeName(r.outcome)},
                       {"statusCode", r.statusCode},
                       {"secondStatusCode", r.secondStatusCode},
                       {"statusMessage", r.statusMessage},
                       {"id", r.id},
                       {"inResponseTo", r.inResponseTo},
                       {"signedByIdp", r.signedByIdp ? "true" : "false"},
                       {"relayState", r.relayState}},
                      json);
}

std::string logoutRequestText(const corvane::VerifiedLogoutRequest& r, bool json) {
    std::vector<std::pair<const char*, std::string>> fields = {
        {"id", r.id},
        {"idpEntityId", r.idpEntityId},
        {"nameId", r.nameId},
        {"nameIdFormat", r.nameIdFormat},
        {"nameQualifier", r.nameQualifier},
        {"spNameQualifier", r.spNameQualifier},
        {"reason", r.reason},
        {"notOnOrAfter", r.notOnOrAfter},
        {"relayState", r.relayState}};
    for (const std::string& index : r.sessionIndexes) fields.emplace_back("sessionIndex", index);
    return fieldsText(fields, json);
}

// The expectations of logout verify, the certificates loaded inside the
// started session; false after the problem was reported.
bool logoutExpectations(const Options& options, const std::vector<std::string>& pems,
                        corvane::LogoutExpectations& expected, int& exitCode) {
    long long skew = expected.clockSkewSeconds;
    long long maxSize = static_cast<long long>(expected.maxMessageBytes);
    if (!wholeNumber("--skew", options.skew, skew, exitCode, kLogoutVerifyName) ||
        !wholeNumber("--now", options.now, expected.now, exitCode, kLogoutVerifyName) ||
        !wholeNumber("--max-size", options.maxSize, maxSize, exitCode, kLogoutVerifyName)) {
        return false;
    }
    if (maxSize <= 0) {
        exitCode =
            inputProblem(kLogoutVerifyName, "--max-size " + options.maxSize, "is not positive");
        return false;
    }
    for (std::size_t i = 0; i < pems.size(); ++i) {
        const KeyPtr cert =
            loadKey(kLogoutVerifyName, "--cert", options.certFiles[i], pems[i], false, exitCode);
        if (!cert) return false;
        expected.idpCertificates.push_back(cert);
    }
    expected.idpEntityId = options.idpEntityId;
    expected.spLogoutUrl = options.destination;
    expected.requestId = options.requestId;
    expected.allowSha1 = options.allowSha1;
    expected.allowUnsignedLogoutResponse = options.allowUnsignedResponse;
    // Beyond the library's range either way, whatever the width of long.
    expected.clockSkewSeconds = static_cast<long>(skew < -1 ? -1 : skew > 86401 ? 86401 : skew);
    expected.maxMessageBytes = static_cast<std::size_t>(maxSize);
    return true;
}

// The posted file as the form value: base64 (percent-escaped or not) as it
// stands, XML encoded.
bool postedValue(const Options& options, std::string& value, int& exitCode) {
    ReadResult file = readInput(options.postFile);
    const std::string input = "--post " + options.postFile;
    if (!file.ok || isBlank(file.text)) {
        exitCode = inputProblem(kLogoutVerifyName, input, file.ok ? "is empty" : file.problem);
        return false;
    }
    value = looksLikeXml(file.text) ? corvane::base64Encode(file.text) : file.text;
    return true;
}

int runLogoutVerify(const Options& options) {
    int exitCode = kExitOk;
    std::vector<std::string> pems(options.certFiles.size());
    for (std::size_t i = 0; i < pems.size(); ++i) {
        if (!readKeyFile(kLogoutVerifyName, "--cert", options.certFiles[i], pems[i], exitCode))
            return exitCode;
    }
    const bool fromMetadata = !options.idpMetadataFile.empty();
    MetadataInputs metadataIn;
    if (fromMetadata && !readMetadataInputs(kLogoutVerifyName, options, metadataIn, exitCode)) {
        return exitCode;
    }
    std::string posted;
    if (!options.postFile.empty() && !postedValue(options, posted, exitCode)) return exitCode;
    ExtendedSession session(options.verbosity);
    if (!startExtended(session, kLogoutVerifyName, options.verbosity, exitCode)) return exitCode;
    // Declared after the session: the certificates are released before it ends.
    corvane::LogoutExpectations expected;
    if (!logoutExpectations(options, pems, expected, exitCode)) return exitCode;
    if (fromMetadata) {
        corvane::IdpDescriptor idp;
        if (!idpFromMetadata(kLogoutVerifyName, options, metadataIn, idp, exitCode))
            return exitCode;
        const corvane::Result<void> used = corvane::useIdpForLogout(idp, &expected);
        if (!used.ok())
            return libraryFailure(kLogoutVerifyName, "the IdP metadata is not usable", used);
    }
    const bool post = !options.postFile.empty();
    // A value holding '%' is read as a form body gives it ('+' a space).
    const bool formEncoded = posted.find('%') != std::string::npos;
    // With --request-id the message is the IdP's answer; without, its request.
    if (!options.requestId.empty()) {
        const corvane::Result<corvane::VerifiedLogoutResponse> response =
            post ? corvane::verifyPostedLogoutResponse(posted, expected, formEncoded)
                 : corvane::verifyLogoutResponseQuery(options.query, expected);
        if (!response.ok())
            return libraryFailure(kLogoutVerifyName, "the LogoutResponse is refused", response);
        return writeResult(kLogoutVerifyName, "-",
                           logoutResponseText(response.value(), options.json));
    }
    const corvane::Result<corvane::VerifiedLogoutRequest> request =
        post ? corvane::verifyPostedLogoutRequest(posted, expected, formEncoded)
             : corvane::verifyLogoutRequestQuery(options.query, expected);
    if (!request.ok())
        return libraryFailure(kLogoutVerifyName, "the LogoutRequest is refused", request);
    return writeResult(kLogoutVerifyName, "-", logoutRequestText(request.value(), options.json));
}

}  // namespace

int runLogout(const Options& options) {
    if (options.logoutAction == "request") return runLogoutRequest(options);
    if (options.logoutAction == "response") return runLogoutResponse(options);
    return runLogoutVerify(options);
}

}  // namespace corvane_cli
