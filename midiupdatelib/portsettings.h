// Port settings and port-name lists carried in update files: which MIDI ports
// reach the device and how the data must be paced for them.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

struct PortSettings {
    std::set<std::string> names; // port names under which the device is found
    int32_t ideal;               // bytes at which a chunk starts
    int32_t max;                 // largest chunk, in bytes
    int32_t delay;               // ms to pause after each long message sent
    int32_t unprepdelay;         // ms to pause after a sent buffer is released
    bool chunks;                 // frame every piece as one complete SysEx message
};

extern const PortSettings defaultPortSettings;

// Applies one "win:<anything>:key:value:..." text; texts for other platforms
// and malformed pairs change nothing.
void ParsePortSettings(PortSettings& settings, const std::string& text);

// Adds every name of a "$"-separated list (empty fields as empty names).
void AddPortNames(std::set<std::string>& names, const std::string& text);

// Fields between separators; a separator at the very end adds no empty field,
// and an empty text has no fields.
std::vector<std::string> Split(const std::string& text, char separator);

// "yes"/"true" in any letter case, or any non-zero number.
bool ParseBool(const std::string& text);

// Lowers ASCII letters only, as the C library's tolower does.
std::string ToLower(const std::string& text);

// Settings are stored exactly as read, with no range check. These are the
// points where they are consumed, so that no value can stall a transfer:
// a pause below zero waits nothing, and no pause waits longer than a minute.
constexpr uint32_t kMaxPortPauseMs = 60000;
uint32_t PortPauseMs(int32_t configuredMs);
