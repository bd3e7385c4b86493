#include "command_line.h"

#include <cstddef>
#include <set>

namespace corvane_cli {

namespace {

// An option of a command: either it takes a value, stored in `value`, or
// it is a switch, stored in `flag`.
struct OptionSpec {
    const char* name;
    std::string Options::*value;
    bool Options::*flag;
};

const OptionSpec kRequestOptions[] = {
    {"--destination", &Options::destination, nullptr},
    {"--issuer", &Options::issuer, nullptr},
    {"--key", &Options::keyFile, nullptr},
    {"--out", &Options::outFile, nullptr},
    {"--base64", nullptr, &Options::base64},
};

const OptionSpec kVerifyOptions[] = {
    {"--cert", &Options::certFile, nullptr},
    {"--base64", nullptr, &Options::base64},
};

// A required option of a command, with the placeholder shown for it.
struct RequiredOption {
    const char* name;
    std::string Options::*value;
    const char* placeholder;
};

const RequiredOption kRequestRequired[] = {
    {"--destination", &Options::destination, "URL"},
    {"--issuer", &Options::issuer, "ENTITY"},
    {"--key", &Options::keyFile, "SP.pem"},
};

const RequiredOption kVerifyRequired[] = {
    {"--cert", &Options::certFile, "IDP.pem"},
};

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

    // Every required option given, with a non-empty value.
    template <std::size_t N>
    bool checkRequired(const RequiredOption (&required)[N]) {
        for (const RequiredOption& option : required) {
            if (seen_.count(option.name) == 0) {
                return fail(name_ + ": missing " + option.name + " " + option.placeholder);
            }
            if ((options_.*(option.value)).empty()) {
                return fail(name_ + ": " + option.name + " is empty");
            }
        }
        return true;
    }

private:
    bool fail(const std::string& problem) {
        parsed_.problem = problem;
        return false;
    }

    bool takePositional(const std::string& arg) {
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
        const OptionSpec* spec = options_.command == Command::Request
                                     ? findOption(kRequestOptions, name)
                                     : findOption(kVerifyOptions, name);
        if (spec == nullptr) {
            return fail(name_ + ": unknown option '" + name + "' (try '" + name_ + " --help')");
        }
        if (!seen_.insert(name).second) return fail(name_ + ": option " + name + " given twice");
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
        return true;
    }

    ParsedCommandLine& parsed_;
    Options& options_;
    const int argc_;
    const char* const* argv_;
    const std::string name_;
    int index_ = 0;
    std::set<std::string> seen_;
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
    CommandParser parser(parsed, argc, argv);
    if (!parser.parse(index + 1)) return parsed;
    if (options.verbosity > 2) options.verbosity = 2;
    if (options.help) return parsed;
    if (options.command == Command::Request) {
        parser.checkRequired(kRequestRequired);
    } else {
        parser.checkRequired(kVerifyRequired);
    }
    return parsed;
}

}  // namespace corvane_cli
