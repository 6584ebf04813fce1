// Which MIDI systems can be reached (midisystem.h names them): those this
// build of RtMidi has, and whether one can be reached now, and the ports it
// lists.
//
// Port names are the MIDI system's own, as RtMidi gives them: "client:port"
// on JACK, "client:port 20:0" on ALSA. A device's input (where data goes to
// it) is listed among the outputs, and its output among the inputs. The
// ports this program opens itself are listed too; they carry the process's
// own names (ownports.h) and are never taken for a device's.
#pragma once

#include "midisystem.h"

#include <string>
#include <vector>

// The systems this build of RtMidi can reach, in the order of MidiSystem.
std::vector<MidiSystem> CompiledMidiSystems();
// The platform's usual one: ALSA on Linux, CoreMIDI on macOS (or the first
// compiled one where that one is not).
MidiSystem DefaultMidiSystem();

// Empty when the system can be reached now; otherwise one sentence for the
// user that says why not ("no JACK server is running").
std::string MidiSystemProblem(MidiSystem api);

struct MidiPortLists {
    std::vector<std::string> outputs; // where data can be sent (a device's input)
    std::vector<std::string> inputs;  // where data comes from (a device's output)
};

// The ports of the system now, in RtMidi's order; empty lists when the
// system cannot be reached (the reason goes to the log).
MidiPortLists ReadMidiPorts(MidiSystem api);
