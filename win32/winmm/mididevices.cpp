// The device lists as WinMM reports them.
#include "mididevices.h"

#include <cstring>

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <mmsystem.h>

namespace {

// szPname need not end in a zero when the name fills it.
template <size_t size> std::string DeviceName(const char (&name)[size]) {
    return std::string(name, strnlen(name, size));
}

} // namespace

std::vector<MidiDeviceName> ReadOutputDevices() {
    std::vector<MidiDeviceName> devices;
    const UINT count = midiOutGetNumDevs();
    for (UINT number = 0; number < count; ++number) {
        MIDIOUTCAPSA caps = {};
        if (midiOutGetDevCapsA(number, &caps, sizeof caps) == MMSYSERR_NOERROR)
            devices.push_back({DeviceName(caps.szPname), true});
        else
            devices.push_back({std::string(), false});
    }
    return devices;
}

std::vector<MidiDeviceName> ReadInputDevices() {
    std::vector<MidiDeviceName> devices;
    const UINT count = midiInGetNumDevs();
    for (UINT number = 0; number < count; ++number) {
        MIDIINCAPSA caps = {};
        if (midiInGetDevCapsA(number, &caps, sizeof caps) == MMSYSERR_NOERROR)
            devices.push_back({DeviceName(caps.szPname), true});
        else
            devices.push_back({std::string(), false});
    }
    return devices;
}

void ListInterfaces() {
    LogInterfaces(ReadOutputDevices(), ReadInputDevices());
}

int FindOutputDevice(const std::set<std::string>& names) {
    return FindMatchingDevice(ReadOutputDevices(), names);
}

int FindInputDevice(const std::set<std::string>& names) {
    return FindMatchingDevice(ReadInputDevices(), names);
}

std::vector<std::string> ListMidiOutputNames() {
    return ReadableNames(ReadOutputDevices());
}
