// The port settings text, port-name lists and their helpers.
#include "portsettings.h"

#include <gtest/gtest.h>

#include <climits>
#include <set>
#include <string>
#include <vector>

namespace {

using Names = std::set<std::string>;

TEST(SplitTest, FieldsBetweenSeparators) {
    struct Case {
        std::string text;
        std::vector<std::string> fields;
    };
    const Case cases[] = {
        {"", {}},
        {"a", {"a"}},
        {"a:", {"a"}},
        {":a", {"", "a"}},
        {"a::b", {"a", "", "b"}},
        {"::", {"", ""}},
        {":", {""}},
        {"win:A:ideal:1:", {"win", "A", "ideal", "1"}},
        {"a$b", {"a$b"}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Split(c.text, ':'), c.fields) << '"' << c.text << '"';
}

TEST(ParseBoolTest, WordsAndNumbers) {
    struct Case {
        const char* text;
        bool value;
    };
    const Case cases[] = {
        {"yes", true},    {"Yes", true}, {"TRUE", true}, {"true", true}, {"1", true},
        {"2", true},      {"-1", true},  {" 7", true},   {"3x", true},   {"no", false},
        {"false", false}, {"0", false},  {"off", false}, {"", false},    {"yes ", false},
        {"truee", false}, {"-0", false}, {"y", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ParseBool(c.text), c.value) << '"' << c.text << '"';
}

TEST(ToLowerTest, LowersAsciiLettersOnly) {
    EXPECT_EQ(ToLower("AbC 1:Z$"), "abc 1:z$");
    EXPECT_EQ(ToLower("\xC4\xD6"), "\xC4\xD6");
    EXPECT_EQ(ToLower(""), "");
}

TEST(AddPortNamesTest, EveryFieldOnceEmptyFieldsIncluded) {
    struct Case {
        std::string text;
        Names names;
    };
    const Case cases[] = {
        {"X$Y$X", {"X", "Y"}},
        {"", {}},
        {"$", {""}},
        {"$Pad One", {"", "Pad One"}},
        {"Pad One$", {"Pad One"}},
        {"B$$A", {"A", "", "B"}},
    };
    for (const Case& c : cases) {
        Names names = {"Kept"};
        AddPortNames(names, c.text);
        Names expected = c.names;
        expected.insert("Kept");
        EXPECT_EQ(names, expected) << '"' << c.text << '"';
    }
}

// What a settings text changes, starting from the defaults.
struct SettingsCase {
    const char* text;
    int32_t ideal, max, delay, unprepdelay;
    bool chunks;
    Names names;
};

TEST(ParsePortSettingsTest, Grammar) {
    const SettingsCase cases[] = {
        {"", 1024, 3072, 200, 100, true, {}},
        {"win", 1024, 3072, 200, 100, true, {}},
        {"win:A", 1024, 3072, 200, 100, true, {}},
        {"mac:A:ideal:1", 1024, 3072, 200, 100, true, {}},
        {"WIN:A:ideal:1", 1024, 3072, 200, 100, true, {}},
        {"win:A:Ideal:512", 1024, 3072, 200, 100, true, {}},
        {"win:A:ideal:512:max", 512, 3072, 200, 100, true, {}},
        {"win::max:4000", 1024, 4000, 200, 100, true, {}},
        {"win:A:ideal:1:ideal:2", 2, 3072, 200, 100, true, {}},
        {"win:A:delay:abc", 1024, 3072, 0, 100, true, {}},
        {"win:A:delay:15ms", 1024, 3072, 15, 100, true, {}},
        {"win:A:delay:-5", 1024, 3072, -5, 100, true, {}},
        {"win:A:unprepdelay: +42", 1024, 3072, 200, 42, true, {}},
        // Number texts beyond 32 bits wrap as 32-bit integers.
        {"win:A:ideal:2147483648", INT32_MIN, 3072, 200, 100, true, {}},
        {"win:A:max:4294967297", 1024, 1, 200, 100, true, {}},
        {"win:A:delay:-2147483649", 1024, 3072, INT32_MAX, 100, true, {}},
        {"win:A:unprepdelay:99999999999999999999", 1024, 3072, 200, 1661992959, true, {}},
        {"win:A:ideal::max:9", 0, 9, 200, 100, true, {}},
        {"win:A:chunks:no", 1024, 3072, 200, 100, false, {}},
        {"win:A:chunks:off", 1024, 3072, 200, 100, false, {}},
        {"win:A:chunks::delay:5", 1024, 3072, 5, 100, false, {}},
        {"win:A:chunks:", 1024, 3072, 200, 100, true, {}}, // no value after the last ':'

        {"win:A:chunks:0:chunks:TRUE", 1024, 3072, 200, 100, true, {}},
        {"win:A:bogus:1:delay:7", 1024, 3072, 7, 100, true, {}},
        {"win:A:name:Pad One$Pad Two:name:Pad Three",
         1024,
         3072,
         200,
         100,
         true,
         {"Pad One", "Pad Three", "Pad Two"}},
        {"win:A:name:Pad One$", 1024, 3072, 200, 100, true, {"Pad One"}},
        {"win:A:name:$Pad One", 1024, 3072, 200, 100, true, {"", "Pad One"}},
        {"win:A:name:", 1024, 3072, 200, 100, true, {}},
        {"win:A:Name:X", 1024, 3072, 200, 100, true, {}},
    };
    for (const SettingsCase& c : cases) {
        PortSettings settings = defaultPortSettings;
        ParsePortSettings(settings, c.text);
        EXPECT_EQ(settings.ideal, c.ideal) << c.text;
        EXPECT_EQ(settings.max, c.max) << c.text;
        EXPECT_EQ(settings.delay, c.delay) << c.text;
        EXPECT_EQ(settings.unprepdelay, c.unprepdelay) << c.text;
        EXPECT_EQ(settings.chunks, c.chunks) << c.text;
        EXPECT_EQ(settings.names, c.names) << c.text;
    }
}

TEST(ParsePortSettingsTest, LaterTextsOverrideNumbersAndAddNames) {
    PortSettings settings = defaultPortSettings;
    settings.names = {"Y"};
    ParsePortSettings(settings, "win:A:ideal:512:chunks:no:name:X");
    ParsePortSettings(settings, "win:B:ideal:256");
    ParsePortSettings(settings, "mac:B:ideal:1:chunks:yes");
    EXPECT_EQ(settings.ideal, 256);
    EXPECT_FALSE(settings.chunks);
    EXPECT_EQ(settings.names, (Names{"X", "Y"}));
}

TEST(PortPauseMsTest, ClampsToNoneAndAMinute) {
    struct Case {
        int32_t configured;
        uint32_t pause;
    };
    const Case cases[] = {
        {INT32_MIN, 0}, {-5, 0},        {0, 0},         {1, 1},
        {200, 200},     {60000, 60000}, {60001, 60000}, {INT32_MAX, 60000},
    };
    for (const Case& c : cases)
        EXPECT_EQ(PortPauseMs(c.configured), c.pause) << c.configured;
}

} // namespace
