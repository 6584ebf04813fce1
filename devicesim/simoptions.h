// How the emulated device behaves, in one place for everyone who sets one up:
// the command-line tool fills it from its --sim options, the Wine driver from
// its environment. The port names are not among them: each front end names
// the device after the ports it shows.
#pragma once

#include "devicesim.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

struct SimOptions {
    std::optional<std::string> script;  // answer script text; accepts every portion unless set
    std::optional<std::string> version; // firmware version text; 1.00 unless set
    bool identity = true;               // answers the Identity Request
    bool wholeBlocks = false;           // see DeviceSim::SetWholeBlocks
    int64_t appearAfterMs = 0;
    bool unplug = false;
    size_t unplugPortion = 0; // counted from 0
    uint64_t unplugAfterBytes = 0;
    int64_t replugAfterMs = 0;
    std::string recordPath; // no record file when empty

    bool operator==(const SimOptions& other) const;
    bool operator!=(const SimOptions& other) const { return !(*this == other); }
};

// An answer script or a firmware version the device cannot take; what() is
// the reason as the parser gave it, without the option's name.
class SimOptionError : public std::invalid_argument {
public:
    enum Option { Script, Version };

    SimOptionError(Option option, const std::string& reason);
    Option GetOption() const { return option; }

private:
    Option option;
};

// Checks the answer script and the firmware version without a device;
// throws SimOptionError.
void CheckSimOptions(const SimOptions& options);

// Sets the device up as the options say, before a port connects: throws
// SimOptionError as CheckSimOptions does, and std::runtime_error when the
// record file cannot be opened (it is created or emptied last, once
// everything else has been taken).
void ApplySimOptions(DeviceSim& device, const SimOptions& options);
