// The RtMidi back end's choice of MIDI system, which the sim command shares
// with send and ports.
#pragma once

#include "commands.h"
#include "midireach.h"

#include <ostream>

// The MIDI system that --api names, or the platform's usual one; throws
// UsageError for a name that this build cannot reach.
MidiSystem MidiSystemOption(const CommandArguments& args);

// Whether the MIDI system can be reached now; when it cannot, says so on
// `err` in one sentence.
bool CheckMidiSystem(MidiSystem api, std::ostream& err);
