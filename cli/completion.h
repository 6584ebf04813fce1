// The bash completion of kestrane-cli, made from the command table: the
// commands, each command's options, and the values of options and operands
// that can be completed (files, the MIDI systems, the emulated device's
// answers).
#pragma once

#include <ostream>
#include <string>
#include <vector>

// The words that complete an element of an answer script (--sim SCRIPT);
// "install" takes a count after it.
const std::vector<std::string>& AnswerScriptWords();

// Writes the script for bash-completion (/usr/share/bash-completion/
// completions/kestrane-cli): a function _kestrane_cli, registered for the
// tool's name. It uses bash-completion's helpers.
void WriteBashCompletion(std::ostream& out);
