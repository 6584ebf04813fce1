// The names of this program's own MIDI ports, and finding a device's port
// among the ports a MIDI system lists without taking an own one for it.
#pragma once

#include <set>
#include <string>
#include <vector>

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
