// Matching of MIDI device names against an update's list of port names.
#pragma once

#include <set>
#include <string>

// Device number that no device has; a lookup that finds nothing gives it.
constexpr int kNoDevice = -1066;

// Drops a leading device number ("2- USB MIDI" -> "USB MIDI").
std::string NormalisePortName(const std::string& name);

// False for the system's own synthesizer and mapper.
bool IsUsablePortName(const std::string& name);

// True when some listed name occurs in the (non-empty) name.
bool ContainsListedName(const std::set<std::string>& list, const std::string& name);

// Whether a device of this name is one the list asks for; an empty list takes
// any usable device. Listed names are compared as they are, case-sensitively.
bool MatchesPortName(const std::set<std::string>& list, const std::string& deviceName);
