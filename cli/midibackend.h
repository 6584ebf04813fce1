// The real MIDI back end of kestrane-cli: sending an update to a real device
// through the platform's MIDI services, and listing the devices the platform
// offers. Exactly one back end is built in (cli/CMakeLists.txt picks it):
// WinMM on Windows (winmmbackend.cpp), RtMidi elsewhere where it was found
// (rtmidibackend.cpp), or none (nobackend.cpp). What they share is here.
#pragma once

#include "commands.h"
#include "portsettings.h"
#include "update.h"

#include <ostream>
#include <string>

// Whether this build can reach real MIDI devices; what the tool says when not.
bool HasMidiBackEnd();
extern const char* const kNoMidiBackEndText;

// Sends the update through the MIDI port found by the update's port names,
// or by the one name --port gives, with the progress display; returns the
// exit status of the outcome. Throws UsageError for a port choice that cannot
// work.
int SendThroughMidiPort(const Update& update, const CommandArguments& args, std::ostream& out,
                        std::ostream& err);

// The ports command: every MIDI output and input, as the system names them.
int RunPorts(const CommandArguments& args, std::ostream& out, std::ostream& err);

// The port settings that a send to a real device looks for: the update's, or
// the one port that --port names in place of every name the update gives, as
// when the user picks a port in the application. A --port name that `usable`
// refuses is a UsageError: "the port 'NAME' " and then `refusal`. A plain
// SysEx file names no port, so it needs --port.
PortSettings ChosenPortSettings(const Update& update, const CommandArguments& args,
                                bool (*usable)(const std::string& port), const char* refusal);
