// The MIDI systems that RtMidi reaches (ALSA and JACK on Linux, CoreMIDI on
// macOS): choosing one by name, telling whether it can be reached, listing
// its ports, and finding a device's port among them by the update's names.
//
// Port names are the MIDI system's own, as RtMidi gives them: "client:port"
// on JACK, "client:port 20:0" on ALSA. A device's input (where data goes to
// it) is listed among the outputs, and its output among the inputs. The
// ports this program opens itself are listed too; they carry the process's
// own names (OwnPortName) and are never taken for a device's.
#pragma once

#include <set>
#include <string>
#include <vector>

enum class MidiSystem { Alsa, Jack, CoreMidi };

// "alsa", "jack", "coremidi".
const char* MidiSystemName(MidiSystem api);
// How a person calls it: "ALSA", "JACK", "CoreMIDI".
const char* MidiSystemTitle(MidiSystem api);
// False for any other name.
bool ParseMidiSystemName(const std::string& name, MidiSystem& api);
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

// The client name under which this program's ports appear.
extern const char* const kOwnClientName;
// The name of one of this program's own ports: "kestrane 4711 out" and
// "kestrane 4711 in" for process 4711, so that no other process has it.
std::string OwnPortName(const char* direction);

// Whether a listed port is one of `ownPortNames`: the port part of its name
// (after a ':') begins with an own name that ends there or before a blank.
bool IsOwnPort(const std::string& listedName, const std::vector<std::string>& ownPortNames);

// Whether a listed port is the output of some Kestrane process, this one or
// another: its port part has the form of OwnPortName("out") for any process.
bool IsKestraneOutput(const std::string& listedName);

// The index of the first listed port that is not an own one and whose name
// matches the update's names (MatchesPortName), or kNoDevice.
int FindMidiPort(const std::vector<std::string>& ports, const std::set<std::string>& names,
                 const std::vector<std::string>& ownPortNames);

// From the first call on, the messages that JACK's and ALSA's libraries
// would print to standard error go to the diagnostic log.
void RouteMidiSystemMessagesToLog();
