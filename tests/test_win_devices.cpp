// The walk over a WinMM device list: which device number a list of port
// names picks, and how the lists are logged.
#include "mididevices.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace {

using Names = std::set<std::string>;
using Devices = std::vector<MidiDeviceName>;

MidiDeviceName Readable(const char* name) {
    return {name, true};
}

MidiDeviceName Unreadable(const char* name = "") {
    return {name, false};
}

TEST(FindMatchingDeviceTest, Table) {
    struct Case {
        const char* what;
        Devices devices;
        Names names;
        int expected;
    };
    const Case cases[] = {
        {"no device at all", {}, {}, kNoDevice},
        {"no device, a name listed", {}, {"Pad"}, kNoDevice},
        {"the system synthesizer is passed over",
         {Readable("Microsoft GS Wavetable Synth"), Readable("Keyboard")},
         {},
         1},
        {"the lowest of two matching numbers wins",
         {Readable("A"), Readable("B"), Readable("Pad One"), Readable("C"), Readable("Pad Two")},
         {"Pad"},
         2},
        {"a Windows number in front of the device name",
         {Readable("Keyboard"), Readable("2- USB MIDI")},
         {"USB MIDI"},
         1},
        {"a listed name is not normalised",
         {Readable("2- USB MIDI"), Readable("USB MIDI")},
         {"2- USB MIDI"},
         kNoDevice},
        {"letter case counts", {Readable("usb midi")}, {"USB MIDI"}, kNoDevice},
        {"substring of the device name", {Readable("USB MIDI Interface")}, {"MIDI"}, 0},
        {"the synthesizer even when it is the one listed",
         {Readable("Microsoft GS Wavetable Synth")},
         {"Microsoft GS Wavetable Synth"},
         kNoDevice},
        {"the mapper is never taken", {Readable("Microsoft MIDI Mapper"), Readable("Pad")}, {}, 1},
        {"an unreadable device is skipped although its name would match",
         {Unreadable("Pad"), Readable("Other"), Readable("Pad")},
         {"Pad"},
         2},
        {"an unreadable device is skipped with an empty list",
         {Unreadable(), Readable("X")},
         {},
         1},
        {"nothing matches", {Readable("Keyboard"), Readable("Synth")}, {"Pad"}, kNoDevice},
        {"an empty listed name matches any usable device",
         {Readable("Microsoft GS Wavetable Synth"), Readable("Anything")},
         {""},
         1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FindMatchingDevice(c.devices, c.names), c.expected) << c.what;
}

TEST(LogInterfacesTest, ListsEveryReadableDeviceWithItsNumber) {
    LogCapture log;
    LogInterfaces(
        {Readable("Microsoft GS Wavetable Synth"), Unreadable("Hidden"), Readable("2- Pad 100%")},
        {Readable("Pad In")});
    EXPECT_EQ(log.Text(), "ListInterfaces output...\n"
                          "  MIDI OUT port #0: 'Microsoft GS Wavetable Synth'\n"
                          "  MIDI OUT port #2: '2- Pad 100%'\n"
                          "ListInterfaces input...\n"
                          "  MIDI IN  port #0: 'Pad In'\n");
}

TEST(LogInterfacesTest, EmptyListsLogOnlyTheHeadings) {
    LogCapture log;
    LogInterfaces({}, {});
    EXPECT_EQ(log.Text(), "ListInterfaces output...\nListInterfaces input...\n");
}

} // namespace
