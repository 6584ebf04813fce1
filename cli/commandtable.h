// The commands of kestrane-cli. One table describes every command (its name,
// arguments, options and handler); the same table drives the parsing of the
// command line, the checks of required options and operand counts, the help
// texts, the manual page and the bash completion. A new command is one more
// entry in commandtable.cpp, with its handler in a file of its own.
#pragma once

#include "commands.h"

#include <ostream>
#include <string>
#include <vector>

// Every command, in the order of the help text.
const std::vector<CommandInfo>& Commands();
const CommandInfo* FindCommand(const std::string& name);

// The help command: the tool's help, or one command's.
int RunHelp(const CommandArguments& args, std::ostream& out, std::ostream& err);
