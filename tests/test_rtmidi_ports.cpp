// The RtMidi port's choice of ports by name, its own ports never taken, any
// Kestrane's output known by its name (a device another one sends to is
// busy), the names of the MIDI systems, and a port whose MIDI system cannot
// be reached.
#include "midireach.h"
#include "ownports.h"
#include "portnames.h"
#include "rtmidiport.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

const std::vector<std::string> kOwn = {"kestrane 4711 out", "kestrane 4711 in"};

TEST(RtMidiPortsTest, OwnPortsAreKnownByTheirPortName) {
    struct Case {
        const char* listed;
        bool own;
    };
    const Case cases[] = {
        {"kestrane-cli:kestrane 4711 in", true},
        {"kestrane-cli-01:kestrane 4711 out", true},   // JACK renamed the client
        {"kestrane-cli:kestrane 4711 in 129:0", true}, // ALSA adds client:port numbers
        {"other:name:kestrane 4711 in", true},         // a client name with a colon
        {"kestrane-cli:kestrane 47110 in", false},     // another process
        {"kestrane-cli:kestrane 4711 input", false},
        {"kestrane 4711 in", false}, // no port part
        {"Bench Device:Bench Device", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(IsOwnPort(c.listed, kOwn), c.own) << c.listed;
    // The process's own names are its own and nobody else's.
    const std::vector<std::string> own = {OwnPortName("out"), OwnPortName("in")};
    EXPECT_NE(own[0], own[1]);
    EXPECT_TRUE(IsOwnPort("kestrane-cli:" + own[1], own));
    EXPECT_NE(own[0].find(std::to_string(static_cast<long>(getpid()))), std::string::npos);
}

TEST(RtMidiPortsTest, AnyKestranesOutputIsKnownByItsPortName) {
    struct Case {
        const char* listed;
        bool output;
    };
    const Case cases[] = {
        {"kestrane-cli:kestrane 4711 out", true},
        {"kestrane-cli-01:kestrane 98765 out", true},   // another process, a renamed client
        {"kestrane-cli:kestrane 4711 out 129:0", true}, // ALSA adds client:port numbers
        {"kestrane-cli:kestrane 4711 in", false},
        {"kestrane-cli:kestrane  out", false},
        {"kestrane-cli:kestrane 4711 output", false},
        {"kestrane-cli:kestrane x1 out", false},
        {"kestrane 4711 out", false}, // no port part
        {"Pad:Pad", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(IsKestraneOutput(c.listed), c.output) << c.listed;
    EXPECT_TRUE(IsKestraneOutput("kestrane-cli:" + OwnPortName("out")));
}

TEST(RtMidiPortsTest, TheFirstMatchingPortThatIsNotOwnWins) {
    struct Case {
        std::vector<std::string> ports;
        std::set<std::string> names;
        int index;
    };
    const Case cases[] = {
        // The port's own input is listed among the outputs: never taken, not
        // with no names at all, nor with a name that its name holds.
        {{"kestrane-cli:kestrane 4711 in", "Bench Device:Bench Device"}, {}, 1},
        {{"kestrane-cli:kestrane 4711 in", "Bench Device:Bench Device"}, {"kestrane"}, kNoDevice},
        {{"system:midi_playback_1", "Pad:Pad", "Pad-01:Pad"}, {"Pad"}, 1},
        {{"Midi Through:Midi Through Port-0 14:0", "Pad:Pad MIDI 1 20:0"}, {"Pad"}, 1},
        // A port that vanished while the list was read has no name.
        {{"", "Synth:in"}, {}, 1},
        {{"Synth:in"}, {"Pad"}, kNoDevice},
        {{}, {}, kNoDevice},
        // Names are compared as MatchesPortName does: case-sensitively, by
        // substring, the listed names as they are.
        {{"pad:pad", "Pad:Pad"}, {"Pad"}, 1},
        {{"Pad:Pad"}, {"Pad:Pad"}, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FindMidiPort(c.ports, c.names, kOwn), c.index)
            << (c.ports.empty() ? "" : c.ports.back());
}

TEST(RtMidiPortsTest, MidiSystemsByName) {
    struct Case {
        const char* name;
        bool known;
        MidiSystem system;
    };
    const Case cases[] = {
        {"alsa", true, MidiSystem::Alsa},         {"jack", true, MidiSystem::Jack},
        {"coremidi", true, MidiSystem::CoreMidi}, {"ALSA", false, MidiSystem::Alsa},
        {"core", false, MidiSystem::Alsa},        {"", false, MidiSystem::Alsa},
    };
    for (const Case& c : cases) {
        MidiSystem system = MidiSystem::Alsa;
        EXPECT_EQ(ParseMidiSystemName(c.name, system), c.known) << c.name;
        EXPECT_EQ(system, c.system) << c.name;
        if (c.known) {
            EXPECT_STREQ(MidiSystemName(c.system), c.name);
        }
    }
}

// JACK_DEFAULT_SERVER names a server that no one runs while it lives.
class NoJackServer {
public:
    NoJackServer() {
        const char* previous = std::getenv("JACK_DEFAULT_SERVER");
        hadPrevious = previous != nullptr;
        if (hadPrevious)
            previousValue = previous;
        std::random_device random;
        setenv("JACK_DEFAULT_SERVER", ("kestrane-none-" + std::to_string(random())).c_str(), 1);
    }
    ~NoJackServer() {
        if (hadPrevious)
            setenv("JACK_DEFAULT_SERVER", previousValue.c_str(), 1);
        else
            unsetenv("JACK_DEFAULT_SERVER");
    }
    NoJackServer(const NoJackServer&) = delete;
    NoJackServer& operator=(const NoJackServer&) = delete;

private:
    bool hadPrevious;
    std::string previousValue;
};

bool HasJack() {
    const std::vector<MidiSystem> compiled = CompiledMidiSystems();
    return std::find(compiled.begin(), compiled.end(), MidiSystem::Jack) != compiled.end();
}

TEST(RtMidiPortsTest, WithoutTheMidiSystemThePortLogsAndStaysUnconnected) {
    if (!HasJack())
        GTEST_SKIP() << "this RtMidi has no JACK back end";
    NoJackServer noServer;
    LogCapture log;
    EXPECT_EQ(MidiSystemProblem(MidiSystem::Jack), "no JACK server is running");
    EXPECT_TRUE(ReadMidiPorts(MidiSystem::Jack).outputs.empty());

    PortSettings settings = defaultPortSettings;
    settings.names = {"Pad"};
    RtMidiPort port(settings, MidiSystem::Jack);
    EXPECT_FALSE(port.IsConnected());
    const uint8_t block[] = {0x01, 0x02};
    port.Send(block, sizeof block);
    EXPECT_EQ(port.TakeSendFailures(), 1u);
    const uint8_t request[] = {0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7};
    EXPECT_TRUE(port.Request(5000, request, sizeof request).empty());
    port.Disconnect();
    EXPECT_TRUE(log.Contains("RtMidiPort: no JACK server is running\n")) << log.Text();
    EXPECT_TRUE(log.Contains("MIDI OUT Port failed to open.\n"));
    EXPECT_TRUE(log.Contains("Can't send MIDI, not connected\n"));
}

} // namespace
