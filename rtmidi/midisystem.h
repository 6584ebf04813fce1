// The MIDI systems that RtMidi reaches (ALSA and JACK on Linux, CoreMIDI on
// macOS) and their names: as the tool's --api takes them, and as a person
// calls them. Which of them this build and this machine can reach is in
// midireach.h.
#pragma once

#include <string>
#include <vector>

enum class MidiSystem { Alsa, Jack, CoreMidi };

// Every MIDI system, in the order of MidiSystem.
std::vector<MidiSystem> AllMidiSystems();
// "alsa", "jack", "coremidi".
const char* MidiSystemName(MidiSystem api);
// How a person calls it: "ALSA", "JACK", "CoreMIDI".
const char* MidiSystemTitle(MidiSystem api);
// False for any other name.
bool ParseMidiSystemName(const std::string& name, MidiSystem& api);
