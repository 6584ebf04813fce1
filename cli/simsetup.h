// The emulated device's options that `send --device sim` and `sim` share.
#pragma once

#include "commands.h"
#include "simoptions.h"
#include "update.h"

#include <string>

// Reads the --sim options into the device's options, checking each value in
// turn: --sim (its script), --sim-version, --sim-no-identity,
// --sim-whole-blocks, --sim-appear, --sim-unplug (against the update's
// portions) and --sim-record. Throws UsageError naming the option for a bad
// value. The record file is emptied as the device starts, so it must not be
// the update at updatePath under another name (another spelling, a link); a
// record file that does not exist yet is not the update.
SimOptions ReadSimOptions(const CommandArguments& args, const Update& update,
                          const std::string& updatePath);
