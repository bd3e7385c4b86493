#include "command_line.h"

#include <algorithm>
#include <cstddef>
#include <set>
#include <vector>

namespace corvane_cli {

namespace {

// An option of a command: either it takes a value, stored in `value`, or
// it is a switch, stored in `flag`. An option with a `list` may be given
// again; each of its values is also appended to that list.
struct OptionSpec {
    const char* name;
    std::string Options::*value;
    bool Options::*flag;
    std::vector<std::string> Options::*list;
};

const OptionSpec kRequestOptions[] = {
    {"--destination", &Options::destination, nullptr, nullptr},
    {"--issuer", &Options::issuer, nullptr, nullptr},
    {"--key", &Options::keyFile, nullptr, nullptr},
    {"--out", &Options::outFile, nullptr, nullptr},
    {"--id-out", &Options::idOutFile, nullptr, nullptr},
    {"--json", nullptr, &Options::json, nullptr},
    {"--base64", nullptr, &Options::base64, nullptr},
    {"--standard", nullptr, &Options::standard, nullptr},
    {"--redirect", &Options::redirect, nullptr, nullptr},
    {"--acs", &Options::acsUrl, nullptr, nullptr},
    {"--name-id-format", &Options::nameIdFormat, nullptr, nullptr},
    {"--relay-state", &Options::relayState, nullptr, nullptr},
    {"--sha1", nullptr, &Options::sha1, nullptr},
    {"--key-info", nullptr, &Options::keyInfo, nullptr},
    {"--idp-metadata", &Options::idpMetadataFile, nullptr, nullptr},
    {"--metadata-signer", &Options::metadataSigner, nullptr, nullptr},
    {"--trust-unsigned-metadata", nullptr, &Options::trustUnsignedMetadata, nullptr},
    {"--entity", &Options::entity, nullptr, nullptr},
    {"--http-redirect", nullptr, &Options::httpRedirect, nullptr},
};

const OptionSpec kVerifyOptions[] = {
    {"--cert", &Options::certFile, nullptr, &Options::certFiles},
    {"--base64", nullptr, &Options::base64, nullptr},
    {"--nameid-only", nullptr, &Options::nameIdOnly, nullptr},
    {"--idp", &Options::idpEntityId, nullptr, nullptr},
    {"--audience", &Options::audience, nullptr, nullptr},
    {"--acs", &Options::acsUrl, nullptr, nullptr},
    {"--request-id", &Options::requestId, nullptr, nullptr},
    {"--allow-unsolicited", nullptr, &Options::allowUnsolicited, nullptr},
    {"--allow-sha1", nullptr, &Options::allowSha1, nullptr},
    {"--skew", &Options::skew, nullptr, nullptr},
    {"--now", &Options::now, nullptr, nullptr},
    {"--max-size", &Options::maxSize, nullptr, nullptr},
    {"--replay-cache", &Options::replayCache, nullptr, nullptr},
    {"--json", nullptr, &Options::json, nullptr},
    {"--idp-metadata", &Options::idpMetadataFile, nullptr, nullptr},
    {"--metadata-signer", &Options::metadataSigner, nullptr, nullptr},
    {"--trust-unsigned-metadata", nullptr, &Options::trustUnsignedMetadata, nullptr},
    {"--entity", &Options::entity, nullptr, nullptr},
    {"--decrypt-key", &Options::decryptKeyFile, nullptr, &Options::decryptKeyFiles},
    {"--allow-cbc-without-response-signature", nullptr, &Options::allowCbcWithoutResponseSignature,
     nullptr},
};

const OptionSpec kIdpMetadataOptions[] = {
    {"--metadata-signer", &Options::metadataSigner, nullptr, nullptr},
    {"--trust-unsigned-metadata", nullptr, &Options::trustUnsignedMetadata, nullptr},
    {"--entity", &Options::entity, nullptr, nullptr},
    {"--json", nullptr, &Options::json, nullptr},
};

const OptionSpec kLogoutOptions[] = {
    {"--destination", &Options::destination, nullptr, nullptr},
    {"--issuer", &Options::issuer, nullptr, nullptr},
    {"--key", &Options::keyFile, nullptr, nullptr},
    {"--name-id", &Options::nameId, nullptr, nullptr},
    {"--name-id-format", &Options::nameIdFormat, nullptr, nullptr},
    {"--name-qualifier", &Options::nameQualifier, nullptr, nullptr},
    {"--sp-name-qualifier", &Options::spNameQualifier, nullptr, nullptr},
    {"--session-index", &Options::sessionIndex, nullptr, nullptr},
    {"--in-response-to", &Options::inResponseTo, nullptr, nullptr},
    {"--status", &Options::logoutStatus, nullptr, nullptr},
    {"--status-message", &Options::statusMessage, nullptr, nullptr},
    {"--binding", &Options::binding, nullptr, nullptr},
    {"--relay-state", &Options::relayState, nullptr, nullptr},
    {"--sha1", nullptr, &Options::sha1, nullptr},
    {"--out", &Options::outFile, nullptr, nullptr},
    {"--id-out", &Options::idOutFile, nullptr, nullptr},
    {"--json", nullptr, &Options::json, nullptr},
    {"--query", &Options::query, nullptr, nullptr},
    {"--post", &Options::postFile, nullptr, nullptr},
    {"--cert", &Options::certFile, nullptr, &Options::certFiles},
    {"--idp", &Options::idpEntityId, nullptr, nullptr},
    {"--request-id", &Options::requestId, nullptr, nullptr},
    {"--allow-sha1", nullptr, &Options::allowSha1, nullptr},
    {"--allow-unsigned-response", nullptr, &Options::allowUnsignedResponse, nullptr},
    {"--skew", &Options::skew, nullptr, nullptr},
    {"--now", &Options::now, nullptr, nullptr},
    {"--max-size", &Options::maxSize, nullptr, nullptr},
    {"--idp-metadata", &Options::idpMetadataFile, nullptr, nullptr},
    {"--metadata-signer", &Options::metadataSigner, nullptr, nullptr},
    {"--trust-unsigned-metadata", nullptr, &Options::trustUnsignedMetadata, nullptr},
    {"--entity", &Options::entity, nullptr, nullptr},
};

const OptionSpec kMetadataOptions[] = {
    {"--entity-id", &Options::entityId, nullptr, nullptr},
    {"--acs", &Options::acsUrl, nullptr, nullptr},
    {"--cert", &Options::certFile, nullptr, nullptr},
    {"--name-id-format", &Options::nameIdFormat, nullptr, nullptr},
    {"--want-assertions-signed", &Options::wantAssertionsSigned, nullptr, nullptr},
    {"--out", &Options::outFile, nullptr, nullptr},
    {"--encryption-cert", &Options::encryptionCertFile, nullptr, nullptr},
};

// A required option of a command, with the placeholder shown for it.
struct RequiredOption {
    const char* name;
    std::string Options::*value;
    const char* placeholder;
};

// One form of a command: the options it takes (besides -v and -h), those
// it needs, and what is said of any other option of the command.
struct Form {
    std::vector<std::string> allowed;
    std::vector<RequiredOption> required;
    const char* refusal;  // completes "option --name ..."
    bool manyCerts;
};

const RequiredOption kDestination{"--destination", &Options::destination, "URL"};
const RequiredOption kIssuer{"--issuer", &Options::issuer, "ENTITY"};
const RequiredOption kKey{"--key", &Options::keyFile, "SP.pem"};
const RequiredOption kAcs{"--acs", &Options::acsUrl, "URL"};
const RequiredOption kCert{"--cert", &Options::certFile, "IDP.pem"};

const Form kPlainRequest{
    {"--destination", "--issuer", "--key", "--out", "--id-out", "--json", "--base64"},
    {kDestination, kIssuer, kKey},
    "needs --standard",
    false};
const Form kStandardRequest{
    {"--standard", "--destination", "--issuer", "--key", "--acs", "--sha1", "--key-info",
     "--name-id-format", "--out", "--id-out", "--json", "--base64"},
    {kDestination, kIssuer, kKey, kAcs},
    "needs --redirect",
    false};
const Form kRedirectRequest{{"--standard", "--redirect", "--issuer", "--key", "--acs", "--sha1",
                             "--name-id-format", "--relay-state", "--out", "--id-out", "--json"},
                            {{"--redirect", &Options::redirect, "SSO_URL"}, kIssuer},
                            "does not go with --redirect",
                            false};
const Form kPlainVerify{
    {"--nameid-only", "--cert", "--base64"}, {kCert}, "does not go with --nameid-only", false};
const Form kLoginVerify{
    {"--cert", "--base64", "--idp", "--audience", "--acs", "--request-id", "--allow-unsolicited",
     "--allow-sha1", "--skew", "--now", "--max-size", "--replay-cache", "--decrypt-key",
     "--allow-cbc-without-response-signature", "--json"},
    {kCert,
     {"--idp", &Options::idpEntityId, "ENTITY"},
     {"--audience", &Options::audience, "SP_ENTITY"},
     kAcs},
    "",
    true};
// The IdP's settings from its metadata instead of --destination, --cert
// and --idp.
const RequiredOption kIdpMetadata{"--idp-metadata", &Options::idpMetadataFile, "FILE"};
const Form kMetadataPostRequest{
    {"--standard", "--idp-metadata", "--metadata-signer", "--trust-unsigned-metadata", "--entity",
     "--issuer", "--key", "--acs", "--sha1", "--key-info", "--name-id-format", "--out", "--id-out",
     "--json", "--base64"},
    {kIdpMetadata, kIssuer, kKey, kAcs},
    "does not go with --idp-metadata (but with --http-redirect)",
    false};
const Form kMetadataRedirectRequest{
    {"--standard", "--idp-metadata", "--metadata-signer", "--trust-unsigned-metadata", "--entity",
     "--http-redirect", "--issuer", "--key", "--acs", "--sha1", "--name-id-format", "--relay-state",
     "--out", "--id-out", "--json"},
    {kIdpMetadata, kIssuer},
    "does not go with --http-redirect",
    false};
const Form kMetadataLoginVerify{
    {"--idp-metadata", "--metadata-signer", "--trust-unsigned-metadata", "--entity", "--base64",
     "--audience", "--acs", "--request-id", "--allow-unsolicited", "--allow-sha1", "--skew",
     "--now", "--max-size", "--replay-cache", "--decrypt-key",
     "--allow-cbc-without-response-signature", "--json"},
    {kIdpMetadata, {"--audience", &Options::audience, "SP_ENTITY"}, kAcs},
    "does not go with --idp-metadata (the IdP's settings come from the metadata)",
    false};
const Form kIdpMetadataForm{
    {"--metadata-signer", "--trust-unsigned-metadata", "--entity", "--json"}, {}, "", false};

const Form kMetadata{
    {"--entity-id", "--acs", "--cert", "--name-id-format", "--want-assertions-signed", "--out",
     "--encryption-cert"},
    {{"--entity-id", &Options::entityId, "ID"}, kAcs, {"--cert", &Options::certFile, "SP.crt"}},
    "",
    false};

const Form kLogoutRequest{{"--destination", "--issuer", "--key", "--name-id", "--name-id-format",
                           "--name-qualifier", "--sp-name-qualifier", "--session-index",
                           "--binding", "--relay-state", "--sha1", "--out", "--id-out", "--json"},
                          {kDestination, kIssuer, kKey, {"--name-id", &Options::nameId, "VALUE"}},
                          "does not go with logout request",
                          false};
const Form kLogoutVerify{
    {"--query", "--post", "--cert", "--idp", "--destination", "--request-id", "--allow-sha1",
     "--allow-unsigned-response", "--skew", "--now", "--max-size", "--json"},
    {kCert, {"--idp", &Options::idpEntityId, "ENTITY"}, kDestination},
    "does not go with logout verify",
    true};
const Form kMetadataLogoutVerify{
    {"--query", "--post", "--idp-metadata", "--metadata-signer", "--trust-unsigned-metadata",
     "--entity", "--destination", "--request-id", "--allow-sha1", "--allow-unsigned-response",
     "--skew", "--now", "--max-size", "--json"},
    {kIdpMetadata, kDestination},
    "does not go with --idp-metadata (the IdP's settings come from the metadata)",
    false};
const Form kLogoutResponse{
    {"--destination", "--issuer", "--key", "--in-response-to", "--status", "--status-message",
     "--binding", "--relay-state", "--sha1", "--out", "--json"},
    {kDestination, kIssuer, kKey, {"--in-response-to", &Options::inResponseTo, "ID"}},
    "does not go with logout response",
    false};
const Form kLogoutWithoutAction{{}, {}, "needs an action: request, verify or response", false};

bool isLogoutAction(const std::string& word) {
    return word == "request" || word == "verify" || word == "response";
}

// Adds the v's of "-v", "-vv", ... and one for "--verbose"; false for any
// other argument.
bool takeVerbosity(const std::string& arg, int& verbosity) {
    if (arg == "--verbose") {
        ++verbosity;
        return true;
    }
    if (arg.size() < 2 || arg[0] != '-' || arg.find_first_not_of('v', 1) != std::string::npos) {
        return false;
    }
    verbosity += static_cast<int>(arg.size() - 1);
    return true;
}

bool isHelp(const std::string& arg) { return arg == "-h" || arg == "--help"; }

bool isOption(const std::string& arg) { return arg.size() > 1 && arg[0] == '-'; }

Command commandFromWord(const std::string& word) {
    if (word == "request") return Command::Request;
    if (word == "verify") return Command::Verify;
    if (word == "metadata") return Command::Metadata;
    if (word == "idp-metadata") return Command::IdpMetadata;
    if (word == "logout") return Command::Logout;
    return Command::None;
}

template <std::size_t N>
const OptionSpec* findOption(const OptionSpec (&specs)[N], const std::string& name) {
    for (const OptionSpec& spec : specs) {
        if (name == spec.name) return &spec;
    }
    return nullptr;
}

// Parses the arguments after the command word into `parsed`.
class CommandParser {
public:
    CommandParser(ParsedCommandLine& parsed, int argc, const char* const* argv)
        : parsed_(parsed),
          options_(parsed.options),
          argc_(argc),
          argv_(argv),
          name_(commandName(parsed.options.command)) {}

    // Consumes argv from index `next`; false after recording a problem.
    bool parse(int next) {
        bool optionsEnded = false;
        for (index_ = next; index_ < argc_; ++index_) {
            const std::string arg = argv_[index_];
            if (!optionsEnded && arg == "--") {
                optionsEnded = true;
            } else if (optionsEnded || !isOption(arg)) {
                if (!takePositional(arg)) return false;
            } else if (!takeVerbosity(arg, options_.verbosity)) {
                if (isHelp(arg)) {
                    options_.help = true;
                } else if (!takeOption(arg)) {
                    return false;
                }
            }
        }
        return true;
    }

    // The form the given options select: each option one it takes, no
    // second --cert unless it takes several, every required one given with
    // a non-empty value.
    bool checkForm() {
        const Form& form = selectedForm();
        for (const std::string& name : order_) {
            if (needsMetadata(name))
                return fail(name_ + ": option " + name + " needs --idp-metadata");
        }
        for (const std::string& name : order_) {
            if (std::find(form.allowed.begin(), form.allowed.end(), name) == form.allowed.end()) {
                return fail(name_ + ": option " + name + " " + form.refusal);
            }
        }
        if (!form.manyCerts && options_.certFiles.size() > 1) {
            return fail(name_ + ": option --cert given twice");
        }
        for (const RequiredOption& option : form.required) {
            if (seen_.count(option.name) == 0) {
                return fail(name_ + ": missing " + option.name + " " + option.placeholder);
            }
            if ((options_.*(option.value)).empty()) {
                return fail(name_ + ": " + option.name + " is empty");
            }
        }
        return checkValues(form);
    }

private:
    // What the form's options need beyond being given: a request rule for
    // the login, non-empty optional values, true or false.
    bool checkValues(const Form& form) {
        if (&form == &kLogoutWithoutAction) {
            return fail(name_ + ": missing action (request, verify or response)");
        }
        if (!checkMetadataTrust(form)) return false;
        if ((&form == &kLoginVerify || &form == &kMetadataLoginVerify) &&
            seen_.count("--request-id") == 0 && !options_.allowUnsolicited) {
            return fail(name_ +
                        ": missing --request-id ID (or --allow-unsolicited for a login the "
                        "IdP started)");
        }
        for (const char* name :
             {"--request-id", "--id-out", "--max-size", "--skew", "--now", "--replay-cache",
              "--encryption-cert", "--metadata-signer", "--entity"}) {
            const OptionSpec* spec = findSpec(name);
            if (seen_.count(name) != 0 && spec != nullptr && spec->value != nullptr &&
                (options_.*(spec->value)).empty()) {
                return fail(name_ + ": " + name + " is empty");
            }
        }
        if ((&form == &kLogoutVerify || &form == &kMetadataLogoutVerify) && !checkLogoutInput())
            return false;
        if (options_.command == Command::Logout && !checkLogoutChoices()) return false;
        const std::string& signedValue = options_.wantAssertionsSigned;
        if (signedValue != "true" && signedValue != "false") {
            return fail(name_ + ": --want-assertions-signed must be true or false");
        }
        return true;
    }

    // An option of the metadata forms given without --idp-metadata.
    bool needsMetadata(const std::string& name) const {
        if (options_.command == Command::IdpMetadata || seen_.count("--idp-metadata") != 0) {
            return false;
        }
        for (const char* option :
             {"--metadata-signer", "--trust-unsigned-metadata", "--entity", "--http-redirect"}) {
            if (name == option) return true;
        }
        return false;
    }

    // Metadata is read only with a trust: exactly one of a pinned signer
    // and the named opt-in; a FILE for idp-metadata.
    bool checkMetadataTrust(const Form& form) {
        const bool readsMetadata = &form == &kMetadataPostRequest ||
                                   &form == &kMetadataRedirectRequest ||
                                   &form == &kMetadataLoginVerify ||
                                   &form == &kMetadataLogoutVerify || &form == &kIdpMetadataForm;
        if (!readsMetadata) return true;
        if (&form == &kIdpMetadataForm && options_.idpMetadataFile.empty()) {
            return fail(name_ + ": missing FILE (the IdP's or the federation's metadata)");
        }
        const bool signer = seen_.count("--metadata-signer") != 0;
        if (signer && options_.trustUnsignedMetadata) {
            return fail(name_ +
                        ": --metadata-signer and --trust-unsigned-metadata exclude each other");
        }
        if (!signer && !options_.trustUnsignedMetadata) {
            return fail(name_ +
                        ": missing --metadata-signer CERT.pem (or --trust-unsigned-metadata for "
                        "an IdP's own metadata fetched over TLS)");
        }
        return true;
    }

    // logout verify reads exactly one message: a query or a posted file.
    bool checkLogoutInput() {
        const bool query = seen_.count("--query") != 0;
        const bool post = seen_.count("--post") != 0;
        if (query == post) {
            return fail(name_ + (query ? ": --query and --post do not go together"
                                       : ": missing --query RAW_QUERY or --post FILE"));
        }
        if ((query ? options_.query : options_.postFile).empty()) {
            return fail(name_ + ": " + (query ? "--query" : "--post") + " is empty");
        }
        return true;
    }

    bool checkLogoutChoices() {
        const std::string& binding = options_.binding;
        if (binding != "redirect" && binding != "post") {
            return fail(name_ + ": --binding must be redirect or post");
        }
        const std::string& status = options_.logoutStatus;
        if (status != "success" && status != "requester" && status != "responder") {
            return fail(name_ + ": --status must be success, requester or responder");
        }
        return true;
    }

    const Form& selectedForm() const {
        const bool metadata = seen_.count("--idp-metadata") != 0;
        switch (options_.command) {
            case Command::Logout:
                if (options_.logoutAction == "request") return kLogoutRequest;
                if (options_.logoutAction == "verify")
                    return metadata ? kMetadataLogoutVerify : kLogoutVerify;
                if (options_.logoutAction == "response") return kLogoutResponse;
                return kLogoutWithoutAction;
            case Command::Request:
                if (!options_.standard) return kPlainRequest;
                if (metadata) {
                    return options_.httpRedirect ? kMetadataRedirectRequest : kMetadataPostRequest;
                }
                return seen_.count("--redirect") != 0 ? kRedirectRequest : kStandardRequest;
            case Command::Verify:
                if (options_.nameIdOnly) return kPlainVerify;
                return metadata ? kMetadataLoginVerify : kLoginVerify;
            case Command::IdpMetadata:
                return kIdpMetadataForm;
            default:
                return kMetadata;
        }
    }

    const OptionSpec* findSpec(const std::string& name) const {
        switch (options_.command) {
            case Command::Request:
                return findOption(kRequestOptions, name);
            case Command::Verify:
                return findOption(kVerifyOptions, name);
            case Command::IdpMetadata:
                return findOption(kIdpMetadataOptions, name);
            case Command::Logout:
                return findOption(kLogoutOptions, name);
            default:
                return findOption(kMetadataOptions, name);
        }
    }

    bool fail(const std::string& problem) {
        parsed_.problem = problem;
        return false;
    }

    bool takePositional(const std::string& arg) {
        if (options_.command == Command::IdpMetadata) {
            if (!options_.idpMetadataFile.empty()) {
                return fail(name_ + ": unexpected argument '" + arg +
                            "' (one metadata file at most)");
            }
            options_.idpMetadataFile = arg;
            return true;
        }
        if (options_.command != Command::Verify) {
            return fail(name_ + ": unexpected argument '" + arg + "'");
        }
        if (options_.responseGiven) {
            return fail(name_ + ": unexpected argument '" + arg + "' (one response at most)");
        }
        options_.responseFile = arg;
        options_.responseGiven = true;
        return true;
    }

    // "--name VALUE", "--name=VALUE" or a switch "--name".
    bool takeOption(const std::string& arg) {
        std::string name = arg;
        std::string value;
        const std::size_t equals = arg.find('=');
        const bool inlineValue = arg.compare(0, 2, "--") == 0 && equals != std::string::npos;
        if (inlineValue) {
            name = arg.substr(0, equals);
            value = arg.substr(equals + 1);
        }
        const OptionSpec* spec = findSpec(name);
        if (spec == nullptr) {
            return fail(name_ + ": unknown option '" + name + "' (try '" + name_ + " --help')");
        }
        const bool repeated = !seen_.insert(name).second;
        if (repeated && spec->list == nullptr)
            return fail(name_ + ": option " + name + " given twice");
        if (!repeated) order_.push_back(name);
        if (spec->flag != nullptr) {
            if (inlineValue) return fail(name_ + ": option " + name + " takes no value");
            options_.*(spec->flag) = true;
            return true;
        }
        if (!inlineValue) {
            if (index_ + 1 >= argc_) return fail(name_ + ": option " + name + " needs a value");
            value = argv_[++index_];
        }
        options_.*(spec->value) = value;
        if (spec->list != nullptr) {
            if (value.empty()) return fail(name_ + ": " + name + " is empty");
            (options_.*(spec->list)).push_back(value);
        }
        return true;
    }

    ParsedCommandLine& parsed_;
    Options& options_;
    const int argc_;
    const char* const* argv_;
    const std::string name_;
    int index_ = 0;
    std::set<std::string> seen_;
    std::vector<std::string> order_;  // the options given, first mention first
};

// Options before the command word: verbosity, help, version. Returns the
// index of the first other argument, or -1 after recording a problem.
int parseLeadingOptions(ParsedCommandLine& parsed, int argc, const char* const* argv) {
    Options& options = parsed.options;
    int index = 1;
    for (; index < argc; ++index) {
        const std::string arg = argv[index];
        if (!isOption(arg)) break;
        if (takeVerbosity(arg, options.verbosity)) continue;
        if (isHelp(arg)) {
            options.help = true;
        } else if (arg == "--version") {
            options.version = true;
        } else {
            parsed.problem = "corvane: unknown option '" + arg + "' (try 'corvane --help')";
            return -1;
        }
    }
    return index;
}

}  // namespace

std::string commandName(Command command) {
    switch (command) {
        case Command::Request:
            return "corvane request";
        case Command::Verify:
            return "corvane verify";
        case Command::Metadata:
            return "corvane metadata";
        case Command::IdpMetadata:
            return "corvane idp-metadata";
        case Command::Logout:
            return "corvane logout";
        case Command::None:
            break;
    }
    return "corvane";
}

ParsedCommandLine parseCommandLine(int argc, const char* const* argv) {
    ParsedCommandLine parsed;
    Options& options = parsed.options;
    int index = parseLeadingOptions(parsed, argc, argv);
    if (index < 0) return parsed;
    if (index < argc && std::string(argv[index]) == "help") {  // corvane help [COMMAND]
        options.help = true;
        ++index;
    }
    if (index == argc) {
        if (!options.help && !options.version) {
            parsed.problem = "corvane: missing command (try 'corvane --help')";
        }
        return parsed;
    }
    const std::string word = argv[index];
    options.command = commandFromWord(word);
    if (options.command == Command::None) {
        parsed.problem = "corvane: unknown command '" + word + "' (try 'corvane --help')";
        return parsed;
    }
    // corvane logout ACTION: the action word comes first.
    if (options.command == Command::Logout && index + 1 < argc && isLogoutAction(argv[index + 1])) {
        options.logoutAction = argv[++index];
    }
    CommandParser parser(parsed, argc, argv);
    if (!parser.parse(index + 1)) return parsed;
    if (options.verbosity > 2) options.verbosity = 2;
    if (options.help) return parsed;
    parser.checkForm();
    return parsed;
}

}  // namespace corvane_cli
