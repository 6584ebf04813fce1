// What the emulated device made of an update's portions, told in words: the
// summary that kestrane-cli's sim command prints when it stops, and that the
// device in the browser tests gives.
#pragma once

#include "devicesim.h"

#include <string>
#include <vector>

// One line per portion, each ending in a newline, as
// "Portion 1 of 3: received, as expected.", "Portion 2 of 3: incomplete
// (120 bytes).", "Portion 3 of 3: not received." or "... received, differs at
// wire byte 7.", with the times the device started over after a cut-off
// message added in parentheses.
std::string PortionSummary(const std::vector<PortionReport>& reports);
