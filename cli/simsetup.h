// The emulated device's options that `send --device sim` and `sim` share.
#pragma once

#include "commands.h"
#include "devicesim.h"

#include <string>

// How the device answers: --sim (its script), --sim-version and
// --sim-no-identity. Throws UsageError naming the option for a bad value.
void ConfigureAnswers(DeviceSim& device, const CommandArguments& args);

// The record file is emptied as the device starts, so it must not be the
// update under another name (another spelling, a link): throws UsageError
// when it is. A record file that does not exist yet is not the update.
void CheckRecordIsNotUpdate(const std::string& record, const std::string& updatePath);
