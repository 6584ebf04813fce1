// kestrane-cli on Windows, through the WinMM port, against the emulated device
// behind the virtual MIDI driver (under Wine). The driver reads its
// configuration from the environment, which the tool inherits from the test.
#include "sendupdate.h"
#include "sysexframing.h"
#include "test_cli_helpers.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#ifdef _WIN32

#include <windows.h>

namespace {

using clitest::ReadFile;
using clitest::RunProgram;
using clitest::ScratchFolder;
using clitest::WriteFile;

const char* const kDecoys = "Microsoft GS Wavetable Synth$*$Other Keyboard";

// Sets the driver's variables for the tool's next run, and clears them after.
class DriverEnvironment {
public:
    DriverEnvironment(const std::string& update, const std::string& record,
                      const std::string& script) {
        Set("KESTRANE_SIM_UPDATE", update);
        Set("KESTRANE_SIM_RECORD", record);
        Set("KESTRANE_SIM_SCRIPT", script);
        Set("KESTRANE_SIM_NUMBER", "2");
        Set("KESTRANE_SIM_DECOYS", kDecoys);
        Set("KESTRANE_SIM_SESSION", record);
    }
    ~DriverEnvironment() {
        for (const std::string& name : names)
            SetEnvironmentVariableA(name.c_str(), nullptr);
    }
    DriverEnvironment(const DriverEnvironment&) = delete;
    DriverEnvironment& operator=(const DriverEnvironment&) = delete;

private:
    void Set(const std::string& name, const std::string& value) {
        SetEnvironmentVariableA(name.c_str(), value.c_str());
        names.push_back(name);
    }
    std::vector<std::string> names;
};

// The bytes the device must receive: each portion cut as the sender cuts it
// and framed as the port frames it.
std::string ExpectedWire(const Update& update) {
    const PortSettings& settings = update.GetPortSettings();
    std::string wire;
    for (size_t index = 0; index < update.GetPortionCount(); ++index) {
        const std::vector<uint8_t>& data = update.GetPortion(index).GetData();
        ByteRange remaining = {data.data(), data.data() + data.size()};
        while (!remaining.IsEmpty()) {
            ByteRange chunk = NextChunk(remaining, settings.ideal, settings.max);
            std::vector<uint8_t> message = WireMessage(chunk.start, chunk.Size(), settings.chunks);
            wire.append(message.begin(), message.end());
            remaining.AdvanceStart(chunk.Size());
        }
    }
    return wire;
}

TEST(CliWinmmTest, PortsListsEveryDeviceAsTheSystemNamesIt) {
    ScratchFolder folder;
    DriverEnvironment driver("", folder.File("unused.rec"), "accept");
    clitest::ToolResult result = RunProgram(folder, {"ports"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "MIDI outputs:\n"
                          "  0: Microsoft GS Wavetable Synth  (the system's own; never matched)\n"
                          "  1: 2- Kestrane Virtual Device\n"
                          "  2: Other Keyboard\n"
                          "MIDI inputs:\n"
                          "  0: Microsoft GS Wavetable Synth  (the system's own; never matched)\n"
                          "  1: 2- Kestrane Virtual Device\n"
                          "  2: Other Keyboard\n");
}

// The example update, in real time: three portions with their rests.
TEST(CliWinmmTest, ExampleUpdateReachesTheDeviceWhole) {
    ScratchFolder folder;
    const std::string example = KESTRANE_SOURCE_DIR "/examples/example.upd";
    const std::string record = folder.File("example.rec");
    DriverEnvironment driver(example, record, "accept");
    clitest::ToolResult result = RunProgram(folder, {"send", example, "--yes"});
    EXPECT_EQ(result.status, 0) << result.out << result.err;
    EXPECT_EQ(result.out.substr(result.out.rfind("The '")),
              "The 'Kestrane Virtual Device' was updated sucessfully to version 1.05.\n");
    EXPECT_EQ(ReadFile(record), ExpectedWire(clitest::LoadUpdate(example)));
}

TEST(CliWinmmTest, OutcomesWithoutTheVersionQuestion) {
    ScratchFolder folder;
    const std::string path = folder.File("one.upd");
    WriteFile(path, UpdateFileBuilder()
                        .Header("Pad", 1, 5)
                        .Portion({0xF0, 0x01, 0x02, 0x03, 0xF7, 0xF0, 0x04, 0xF7}, 0)
                        .Settings("win:t:name:Kestrane Virtual Device:ideal:4:max:6:delay:0:"
                                  "unprepdelay:0")
                        .Data());
    struct Case {
        const char* script;
        int status;
        const char* outcome;
    };
    const Case cases[] = {
        {"fail", 2, kSendErrorText},
        // The WinMM port does not ask the device for its version: a silent
        // device leaves the update unchecked.
        {"silent", 3, kSentUncheckedText},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.script);
        const std::string record = folder.File(std::string(c.script) + ".rec");
        DriverEnvironment driver(path, record, c.script);
        clitest::ToolResult result = RunProgram(folder, {"send", path, "--yes"});
        EXPECT_EQ(result.status, c.status) << result.out << result.err;
        EXPECT_NE(result.out.find(std::string(c.outcome) + "\n"), std::string::npos) << result.out;
        EXPECT_EQ(ReadFile(record), ExpectedWire(clitest::LoadUpdate(path)));
    }
}

TEST(CliWinmmTest, PlainSysExFileGoesToThePortNamed) {
    ScratchFolder folder;
    const std::string path = folder.File("fw.syx");
    const std::string sysEx = "\xF0\x7D\x01\x02\xF7\xF0\x7D\x03\xF7";
    WriteFile(path, sysEx);
    const std::string record = folder.File("syx.rec");
    DriverEnvironment driver(path, record, "accept");
    // Without a port the tool will not guess one.
    clitest::ToolResult refused = RunProgram(folder, {"send", path, "--yes"});
    EXPECT_EQ(refused.status, 64);
    EXPECT_NE(refused.err.find("--port NAME"), std::string::npos) << refused.err;

    clitest::ToolResult result =
        RunProgram(folder, {"send", path, "--port", "Kestrane Virtual Device", "--yes"});
    EXPECT_EQ(result.status, 0) << result.out << result.err;
    EXPECT_EQ(ReadFile(record), sysEx);
}

} // namespace

#endif
