// kestrane-cli as a whole, for its entry point and the tests that drive it in
// this process.
#pragma once

#include <ostream>
#include <string>
#include <vector>

// Runs the tool on its arguments (without the program name) and returns the
// exit status: [--verbose] COMMAND [ARGUMENTS]. The diagnostic log is dropped,
// or written to `err` with --verbose, while the command runs.
int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
