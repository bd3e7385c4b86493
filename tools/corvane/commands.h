// The tool's two commands. Each reads and checks all its inputs before it
// starts the library, and returns the tool's exit status.
#ifndef CORVANE_CLI_COMMANDS_H
#define CORVANE_CLI_COMMANDS_H

#include "command_line.h"

namespace corvane_cli {

// corvane request: prints (or writes to --out) the signed AuthnRequest.
int runRequest(const Options& options);

// corvane verify: prints the NameID of an accepted response.
int runVerify(const Options& options);

}  // namespace corvane_cli

#endif
