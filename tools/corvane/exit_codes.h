// Exit statuses of the corvane tool (README.md lists them for users).
#ifndef CORVANE_CLI_EXIT_CODES_H
#define CORVANE_CLI_EXIT_CODES_H

namespace corvane_cli {

enum ExitCode : int {
    kExitOk = 0,
    kExitOtherFailure = 1,   // a library status without a code of its own, an internal error
    kExitUsage = 2,          // command line, an input file or the output unusable
    kExitStartup = 3,        // initHelper failed (-1)
    kExitNotAcceptable = 7,  // verifySamlResponse: -7
    kExitUnusable = 8,       // -8: document unusable, or the signature work failed
    kExitUnusableOptions = 9,  // -9: options or expectations incomplete or not usable
    kExitRefusedLogin = 10,    // -10: verifyLoginResponse: the profile refuses the login
    kExitTooLarge = 11,        // -11: the message is larger than the size limit
    kExitReplayCache = 12,     // -12: the replay cache could not record the login
};

// The exit status that reports a library status.
int exitCodeForStatus(int status);

}  // namespace corvane_cli

#endif
