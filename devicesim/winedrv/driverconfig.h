// The configuration of the virtual MIDI device driver, read from environment
// variables (README.md beside this file lists them): the device lists it
// presents, and how the emulated device behind its own ports behaves.
#pragma once

#include "simoptions.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// A variable of the process environment, as the program may have changed it
// since it started; empty when it is not set.
std::string EnvironmentText(const char* name);

// A path for the Windows file functions: a Unix path ("/tmp/x") becomes the
// same file on drive Z: ("Z:/tmp/x"); any other path stays as it is.
std::string WindowsPath(const std::string& path);

// The device lists, fixed once winmm has asked for the device counts.
struct DeviceLayout {
    std::vector<std::string> outputs; // names by device number
    std::vector<std::string> inputs;
    size_t ownOutput = 0; // number of the emulated device's output
    size_t ownInput = 0;
    std::string outputName; // the emulated device's names as listed
    std::string inputName;
};

DeviceLayout ReadDeviceLayout();

// How the emulated device behaves; read each time a device is created.
struct DeviceSettings {
    std::string updatePath;  // update or SysEx file whose portions it expects; none when empty
    SimOptions device;       // script, version, identity, appearing, unplug, record file
    uint32_t byteMicros = 0; // wire time of one byte; 0 plays at once
    std::string session;     // any text; a new one asks for a fresh device

    bool operator==(const DeviceSettings& other) const;
    bool operator!=(const DeviceSettings& other) const { return !(*this == other); }
};

// Throws std::invalid_argument, naming the variable, for a malformed value.
DeviceSettings ReadDeviceSettings();

// A message the device sends by itself once an input of it is started.
struct StartMessage {
    int64_t delayMs = 0;
    std::vector<uint8_t> bytes;
};

// Throws std::invalid_argument, naming the variable, for a malformed value.
std::vector<StartMessage> ReadStartMessages();

// How long the device's input holds a buffer that the program queues again
// from its input callback before queueing it (KESTRANE_SIM_REQUEUE_DELAY);
// 0 queues it at once. Throws std::invalid_argument, naming the variable, for
// a malformed value.
int64_t ReadRequeueDelayMs();

// Habits of a MIDI stack that handles long messages and input its own way
// (README.md): read when a handle of the device's output opens. Throws
// std::invalid_argument, naming the variable, for a malformed value.
struct OutputHabits {
    bool echo = false;       // what the device receives comes back on its input
    uint32_t longLimit = 0;  // longer long messages are refused; 0: none is
    int64_t doneDelayMs = 0; // a long message is done this long after delivery
};

OutputHabits ReadOutputHabits();

// The size of the pieces in which the device's input delivers what it
// receives, each piece in a buffer of its own (KESTRANE_SIM_IN_PIECE); 0
// fills whole buffers. Read when a handle of the input opens. Throws
// std::invalid_argument, naming the variable, for a malformed value.
uint32_t ReadInputPieceBytes();
