// Sending an update to a real device through the platform's MIDI services,
// and listing the devices the platform offers. Only builds with a MIDI back
// end (Windows: WinMM; elsewhere RtMidi, where it was found) have them.
#pragma once

#include "commands.h"
#include "update.h"

#include <ostream>

#ifdef KESTRANE_HAVE_RTMIDI
#include "midisystem.h"

// The MIDI system that --api names, or the platform's usual one; throws
// UsageError for a name that this build cannot reach.
MidiSystem MidiSystemOption(const CommandArguments& args);

// Whether the MIDI system can be reached now; when it cannot, says so on
// `err` in one sentence.
bool CheckMidiSystem(MidiSystem api, std::ostream& err);
#endif

// Whether this build can reach real MIDI devices; what the tool says when not.
bool HasMidiBackEnd();
extern const char* const kNoMidiBackEndText;

// Sends the update through the MIDI port found by the update's port names,
// or by the one name --port gives, with the progress display; returns the
// exit status of the outcome. Throws UsageError for a port choice that cannot
// work.
int SendThroughMidiPort(const Update& update, const CommandArguments& args, std::ostream& out,
                        std::ostream& err);
