// Matching MIDI device names against an update's port names.
#include "portnames.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace {

using Names = std::set<std::string>;

TEST(NormalisePortNameTest, DropsLeadingDeviceNumber) {
    struct Case {
        const char* name;
        const char* normalised;
    };
    const Case cases[] = {
        {"2- USB MIDI", "USB MIDI"},
        {"USB MIDI", "USB MIDI"},
        {"10-Foo", "Foo"},
        {"-Foo", "Foo"},
        {"  Foo", "Foo"},
        {"12", ""},
        {"", ""},
        {"3--Foo", "-Foo"},
        {"Foo 2- Bar", "Foo 2- Bar"},
        {"4 - Foo", "- Foo"},
        {"\tFoo", "\tFoo"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(NormalisePortName(c.name), c.normalised) << '"' << c.name << '"';
}

TEST(IsUsablePortNameTest, SystemSynthesizerAndMapperAreNot) {
    EXPECT_FALSE(IsUsablePortName("Microsoft GS Wavetable Synth"));
    EXPECT_FALSE(IsUsablePortName("Microsoft MIDI Mapper"));
    EXPECT_FALSE(IsUsablePortName("My Microsoft MIDI Mapper 2"));
    EXPECT_TRUE(IsUsablePortName("microsoft gs wavetable synth"));
    EXPECT_TRUE(IsUsablePortName("USB MIDI"));
    EXPECT_TRUE(IsUsablePortName(""));
}

TEST(MatchesPortNameTest, Table) {
    struct Case {
        Names list;
        const char* device;
        bool matches;
    };
    const Case cases[] = {
        {{"USB MIDI"}, "2- USB MIDI", true},
        {{"USB MIDI"}, "USB MIDI", true},
        {{"MIDI"}, "USB MIDI Interface", true},
        {{"USB MIDI"}, "usb midi", false},
        {{"2- USB MIDI"}, "2- USB MIDI", false},
        {{"2- USB MIDI"}, "USB MIDI", false},
        {{}, "Keyboard", true},
        {{}, "Microsoft GS Wavetable Synth", false},
        {{"Microsoft GS Wavetable Synth"}, "Microsoft GS Wavetable Synth", false},
        {{"Microsoft MIDI Mapper"}, "0- Microsoft MIDI Mapper", false},
        {{}, "12", true},
        {{"x"}, "12", false},
        {{""}, "Keyboard", true},
        {{"Other", "Pad"}, "1- Pad Pro MIDI", true},
        {{"Pad Pro MIDI 2"}, "Pad Pro MIDI", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(MatchesPortName(c.list, c.device), c.matches) << '"' << c.device << '"';
}

TEST(ContainsListedNameTest, EmptyNameContainsNothing) {
    EXPECT_FALSE(ContainsListedName({""}, ""));
    EXPECT_FALSE(ContainsListedName({"A"}, ""));
    EXPECT_TRUE(ContainsListedName({""}, "A"));
    EXPECT_TRUE(ContainsListedName({"Z", "B"}, "ABC"));
    EXPECT_FALSE(ContainsListedName({}, "ABC"));
}

} // namespace
