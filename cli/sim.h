// The sim command (builds with the RtMidi back end only): the emulated device
// as a MIDI device of the system until it is stopped.
#pragma once

#include "commands.h"

#include <ostream>

int RunSim(const CommandArguments& args, std::ostream& out, std::ostream& err);
