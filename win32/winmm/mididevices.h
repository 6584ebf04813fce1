// MIDI device lookup: lists the system's MIDI outputs and inputs to the log
// and finds the device whose name an update asks for, over the lists WinMM
// reports now (the walk itself: devicelist.h).
#pragma once

#include "devicelist.h"

#include <set>
#include <string>
#include <vector>

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

// The names of every MIDI output whose capabilities can be read, in device
// order, excluded names included. A name that fills its field has no
// terminating zero, and is taken up to the field's end, not beyond it.
std::vector<std::string> ListMidiOutputNames();
