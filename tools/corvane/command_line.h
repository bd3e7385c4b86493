// The tool's command line: `corvane [-v|-vv] COMMAND [OPTIONS] [ARGS]`.
#ifndef CORVANE_CLI_COMMAND_LINE_H
#define CORVANE_CLI_COMMAND_LINE_H

#include <string>
#include <vector>

namespace corvane_cli {

enum class Command { None, Request, Verify, Metadata, IdpMetadata, Logout };

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
    std::string idOutFile;  // request: where the request ID goes
    // request --standard: a signed request built from the options below;
    // with --redirect SSO_URL the HTTP-Redirect URL instead
    bool standard = false;
    std::string redirect;
    std::string acsUrl;  // also metadata and verify --idp
    std::string nameIdFormat;  // also metadata
    std::string relayState;
    bool sha1 = false;
    bool keyInfo = false;
    // metadata
    std::string entityId;
    std::string wantAssertionsSigned = "true";  // "true" or "false"
    std::string encryptionCertFile;
    // verify (and metadata: one --cert); every --cert in order in certFiles
    std::string certFile;
    std::vector<std::string> certFiles;
    // verify --nameid-only: the documented NameID-only check
    bool nameIdOnly = false;
    // verify (the default): the profile-checked login
    std::string idpEntityId;
    std::string audience;
    std::string requestId;
    std::string skew;  // checked as a number by the command
    std::string now;
    bool allowUnsolicited = false;
    bool allowSha1 = false;
    std::string replayCache;  // a Redis URL
    std::string maxSize;      // checked as a number by the command
    // verify: the SP's decryption keys, every --decrypt-key in order
    std::string decryptKeyFile;
    std::vector<std::string> decryptKeyFiles;
    bool allowCbcWithoutResponseSignature = false;
    bool json = false;         // also request
    std::string responseFile;  // empty or "-": standard input
    bool responseGiven = false;
    // IdP metadata: idp-metadata FILE, and verify and request --standard
    // --idp-metadata FILE, trusted by --metadata-signer CERT.pem or
    // --trust-unsigned-metadata; --entity names the IdP of an aggregate
    std::string idpMetadataFile;
    std::string metadataSigner;
    bool trustUnsignedMetadata = false;
    std::string entity;
    // request --standard --idp-metadata: the HTTP-Redirect URL to the
    // IdP's HTTP-Redirect SSO URL instead of the HTTP-POST request
    bool httpRedirect = false;
    // logout: the action after the command word ("request", "verify",
    // "response"); request and response reuse destination, issuer,
    // keyFile, relayState, sha1, nameIdFormat, outFile, idOutFile and json,
    // verify reuses certFiles, idpEntityId, destination (the SP's logout
    // URL), requestId, allowSha1, skew, now, maxSize and json
    std::string logoutAction;
    std::string binding = "redirect";  // "redirect" or "post"
    std::string nameId;
    std::string nameQualifier;
    std::string spNameQualifier;
    std::string sessionIndex;
    std::string inResponseTo;
    std::string logoutStatus = "success";  // "success", "requester", "responder"
    std::string statusMessage;
    std::string query;     // logout verify --query: the raw query string
    std::string postFile;  // logout verify --post: the posted message
    bool allowUnsignedResponse = false;
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

// "corvane", "corvane request", ...: the prefix of messages.
std::string commandName(Command command);

}  // namespace corvane_cli

#endif
