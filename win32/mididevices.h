// MIDI device lookup: lists the system's MIDI outputs and inputs to the log
// and finds the device whose name an update asks for. Names are compared by
// MatchesPortName (portnames.h): a leading Windows number ("2- ") is dropped,
// the system's synthesizer and mapper are never taken, and the first device
// in number order that matches wins.
#pragma once

#include "portnames.h"

#include <set>
#include <string>
#include <vector>

// One entry of a WinMM device list, at the index of its device number. A
// device whose capabilities cannot be read has readable false and no name; it
// is skipped everywhere.
struct MidiDeviceName {
    std::string name;
    bool readable;
};

// The walk over one device list, without WinMM: the number of the first
// readable device whose name matches the list, or kNoDevice.
int FindMatchingDevice(const std::vector<MidiDeviceName>& devices,
                       const std::set<std::string>& names);

// Logs both lists (every readable device, excluded names included), as
// ListInterfaces does.
void LogInterfaces(const std::vector<MidiDeviceName>& outputs,
                   const std::vector<MidiDeviceName>& inputs);

// The system's device lists, read now through WinMM (midiOutGetDevCapsA and
// midiInGetDevCapsA for each device number).
std::vector<MidiDeviceName> ReadOutputDevices();
std::vector<MidiDeviceName> ReadInputDevices();

// Logs every MIDI output and input of the system with its number.
void ListInterfaces();

// Device numbers for midiOutOpen and midiInOpen: the first output (input)
// whose name matches the list, or kNoDevice (-1066), which every open refuses.
int FindOutputDevice(const std::set<std::string>& names);
int FindInputDevice(const std::set<std::string>& names);
