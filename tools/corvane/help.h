// The tool's --help texts and version line.
#ifndef CORVANE_CLI_HELP_H
#define CORVANE_CLI_HELP_H

#include <string>

#include "command_line.h"

namespace corvane_cli {

// The help of a command, or the tool's overview for Command::None.
std::string helpText(Command command);
std::string versionText();

}  // namespace corvane_cli

#endif
