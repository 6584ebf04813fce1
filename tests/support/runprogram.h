// Runs a built program as a separate process, the way a person's shell would,
// with each argument reaching the program unchanged.
#pragma once

#include <string>
#include <vector>

// Runs `program` with `args`, its standard input empty and its standard output
// and standard error written to the files `outPath` and `errPath`. Returns the
// program's exit status, or -1 when it could not be started or did not exit
// by itself.
int RunProgramToFiles(const std::string& program, const std::vector<std::string>& args,
                      const std::string& outPath, const std::string& errPath);

// The command line that hands `args` to a Windows program unchanged, as the C
// runtime splits it: each argument quoted where it has to be, with the
// backslashes before a quote doubled. Portable, so it is tested everywhere.
std::string WindowsCommandLine(const std::vector<std::string>& args);
