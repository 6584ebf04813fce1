// The send command: an update to a real device through the MIDI back end, or
// to the emulated device in this process (--device sim).
#pragma once

#include "commands.h"

#include <ostream>

int RunSend(const CommandArguments& args, std::ostream& out, std::ostream& err);
