// The help texts of kestrane-cli, made from the command table and the tool's
// own options.
#pragma once

#include "commands.h"

#include <ostream>
#include <vector>

// The tool's help: what it does, its usage, the commands given (the table's,
// in its order) and the tool's options.
void PrintToolHelp(const std::vector<CommandInfo>& commands, std::ostream& out);
// One command's help: its usage, description, options and details.
void PrintCommandHelp(const CommandInfo& command, std::ostream& out);
