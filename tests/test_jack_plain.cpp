// kestrane-cli sim as a device that other MIDI software updates: a plain
// JACK sender of the tests' own (one SysEx message per event, at cable
// speed, the way programs send a .syx file) sends the example update's exact
// wire bytes. The device judges the bytes, not how they were cut into
// events, and accepts every portion; the same stream against a device that
// needs each block in one delivery (--sim-whole-blocks) is refused, with
// the reason in its summary.
#include "childprocess.h"
#include "midireach.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr int64_t kLimitMs = 120000;

size_t CountOf(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

class PlainSenderTest : public testing::Test {
protected:
    void SetUp() override {
        if (std::getenv("JACK_DEFAULT_SERVER") == nullptr)
            GTEST_SKIP() << "needs the JACK server that CTest starts (tools/env/jack-env.sh)";
        ASSERT_EQ(MidiSystemProblem(MidiSystem::Jack), "");
        std::random_device random;
        folder = fs::temp_directory_path() / ("kestrane-plain-test-" + std::to_string(random()));
        fs::create_directories(folder);
        deviceName = "Plain Test " + std::to_string(static_cast<long>(getpid()));
        // The exact wire of the example update: what the emulated device in
        // this process recorded of a send.
        ChildProcess record({KESTRANE_CLI_PATH, "send", KESTRANE_EXAMPLE_UPDATE, "--device", "sim",
                             "--virtual-time", "--yes", "--sim-record", File("wire.syx")},
                            File("record.out"), File("record.err"));
        ASSERT_EQ(record.Wait(kLimitMs), 0) << ReadFile(File("record.err"));
        ASSERT_FALSE(ReadFile(File("wire.syx")).empty());
    }
    void TearDown() override {
        if (HasFailure())
            for (const char* name : {"sim.out", "sim.err", "sender.out", "sender.err"})
                std::cout << "---- " << name << ":\n" << ReadFile(File(name)) << "\n";
        std::error_code ignored;
        if (!folder.empty())
            fs::remove_all(folder, ignored);
    }

    std::string File(const char* name) const { return (folder / name).string(); }

    // Starts the device with the extra options and waits until it is ready.
    std::unique_ptr<ChildProcess> StartDevice(const std::vector<std::string>& options) {
        std::vector<std::string> args = {
            KESTRANE_CLI_PATH, "--verbose", "sim",        KESTRANE_EXAMPLE_UPDATE,
            "--api",           "jack",      "--sim-name", deviceName};
        args.insert(args.end(), options.begin(), options.end());
        auto sim = std::make_unique<ChildProcess>(args, File("sim.out"), File("sim.err"));
        const int64_t readyBy = NowMs() + kLimitMs;
        while (ReadFile(File("sim.out")).find("Stop it with Ctrl+C.") == std::string::npos) {
            if (!sim->Running() || NowMs() >= readyBy) {
                ADD_FAILURE() << "the emulated device did not get ready";
                return nullptr;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return sim;
    }

    // Runs the device with the extra options, lets the plain sender send the
    // file to it (the wire unless told), stops it and returns its summary.
    std::string SendToDevice(const std::vector<std::string>& options,
                             const std::string& sent = "") {
        const std::unique_ptr<ChildProcess> sim = StartDevice(options);
        if (!sim)
            return "";
        ChildProcess sender(
            {KESTRANE_PLAIN_JACK_SENDER, deviceName, sent.empty() ? File("wire.syx") : sent},
            File("sender.out"), File("sender.err"));
        EXPECT_EQ(sender.Wait(kLimitMs), 0) << ReadFile(File("sender.err"));
        EXPECT_EQ(sim->Stop(), 0);
        return ReadFile(File("sim.out"));
    }

    fs::path folder;
    std::string deviceName;
};

TEST_F(PlainSenderTest, OneMessagePerEventIsAcceptedWhole) {
    const std::string summary = SendToDevice({});
    for (int portion = 1; portion <= 3; ++portion)
        EXPECT_NE(
            summary.find("Portion " + std::to_string(portion) + " of 3: received, as expected.\n"),
            std::string::npos)
            << summary;
    EXPECT_NE(ReadFile(File("sender.out")).find("sent "), std::string::npos);
    // The device answered every portion with acceptance.
    EXPECT_EQ(CountOf(ReadFile(File("sim.err")), ", answering accept\n"), 3u);
}

TEST_F(PlainSenderTest, DeviceThatNeedsWholeBlocksRefusesTheSameStream) {
    const std::string summary = SendToDevice({"--sim-whole-blocks"});
    EXPECT_NE(summary.find("Portion 1 of 3: received, differs at wire byte "), std::string::npos)
        << summary;
    EXPECT_EQ(summary.find("received, as expected"), std::string::npos) << summary;
    EXPECT_NE(ReadFile(File("sim.err")).find(", answering fail\n"), std::string::npos);
}

TEST_F(PlainSenderTest, ACutOffMessageAndNoiseDoNotSpoilTheUpdate) {
    // A sender that went away after the first bytes of a message, a note
    // and active sensing from another program, then the whole update again.
    const std::string wire = ReadFile(File("wire.syx"));
    const std::string sent = wire.substr(0, 5) + std::string("\x90\x3C\x40\xFE", 4) + wire;
    std::ofstream(File("sent.syx"), std::ios::binary) << sent;
    const std::string summary = SendToDevice({}, File("sent.syx"));
    EXPECT_NE(summary.find("Portion 1 of 3: received, as expected (started over once, after a "
                           "message was cut off).\n"),
              std::string::npos)
        << summary;
    EXPECT_NE(summary.find("Portion 3 of 3: received, as expected.\n"), std::string::npos)
        << summary;
    EXPECT_NE(summary.find("Ignored 4 bytes"), std::string::npos) << summary;
}

TEST_F(PlainSenderTest, DeviceWhoseJackServerStopsSaysSoAndFails) {
    // A server of this test's own, so that stopping it disturbs no other test.
    const std::string shared = std::getenv("JACK_DEFAULT_SERVER");
    const std::string own = shared + "-simgone";
    const std::string jackEnv = std::string(KESTRANE_JACK_ENV) + " ";
    ASSERT_EQ(std::system((jackEnv + "start " + own + " " + folder.string()).c_str()), 0);
    setenv("JACK_DEFAULT_SERVER", own.c_str(), 1);
    const std::unique_ptr<ChildProcess> sim = StartDevice({});
    setenv("JACK_DEFAULT_SERVER", shared.c_str(), 1);
    EXPECT_EQ(std::system((jackEnv + "stop " + own + " " + folder.string()).c_str()), 0);
    ASSERT_TRUE(sim);
    EXPECT_EQ(sim->Wait(kLimitMs), 1);
    EXPECT_NE(ReadFile(File("sim.err"))
                  .find("kestrane-cli: the JACK server stopped; the emulated "
                        "device is gone."),
              std::string::npos);
    EXPECT_NE(ReadFile(File("sim.out")).find("Stopped. Received 0 bytes."), std::string::npos);
}

} // namespace
