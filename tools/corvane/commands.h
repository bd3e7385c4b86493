// The tool's commands. Each reads and checks all its inputs before it
// starts the library, and returns the tool's exit status.
#ifndef CORVANE_CLI_COMMANDS_H
#define CORVANE_CLI_COMMANDS_H

#include "command_line.h"

namespace corvane_cli {

// corvane request: prints (or writes to --out) the signed AuthnRequest.
int runRequest(const Options& options);

// corvane request --standard: the standard signed request of
// <corvane/request.h>, or with --redirect the HTTP-Redirect URL.
int runStandardRequest(const Options& options);

// corvane verify --nameid-only: prints the NameID of an accepted response
// (the documented check of Corvane.h).
int runVerify(const Options& options);

// corvane verify: checks the response against the SSO profile and prints
// the verified login.
int runLoginVerify(const Options& options);

// corvane metadata: prints the SP's metadata.
int runMetadata(const Options& options);

// corvane idp-metadata: verifies an IdP's (or a federation's) metadata and
// prints its IdPs' entity IDs, or with --entity that IdP's settings.
int runIdpMetadata(const Options& options);
// corvane logout request|verify|response: single logout, the action in
// options.logoutAction.
int runLogout(const Options& options);

}  // namespace corvane_cli

#endif
