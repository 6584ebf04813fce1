// kestrane-cli: installs firmware updates into MIDI devices by sending SysEx,
// and inspects and writes update files.
#include "commands.h"

#include <iostream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    std::vector<std::string> args;
    for (int index = 1; index < argc; ++index)
        args.emplace_back(argv[index]);
    return RunCli(args, std::cout, std::cerr);
}
