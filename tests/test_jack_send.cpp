// Whole updates over a JACK server: kestrane-cli sim runs the emulated device
// as one JACK client, kestrane-cli send --api jack updates it as another.
// For each outcome the device's record must hold exactly the bytes that the
// sender's rules make of the update (and the Identity Request after them
// where the outcome needs one), and the outcome text and the exit status
// must be right. Both programs run with time limits, and every process is
// stopped, also when a test fails.
//
// CTest starts the JACK server (tools/env/jack-env.sh, the dummy back end) and
// names it in JACK_DEFAULT_SERVER; without it the tests are skipped.
#include "childprocess.h"
#include "midireach.h"
#include "portionwire.h"
#include "simmessages.h"
#include "testsupport.h"
#include "update.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

// Generous limits for a loaded machine; no test depends on them being tight.
constexpr int64_t kSimReadyMs = 60000;
constexpr int64_t kSendLimitMs = 300000;

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good()) << path;
}

enum class UpdateKind {
    OnePortion,  // an update file of one portion
    TwoPortions, // the port is closed and opened again between the two
    PlainSysEx,  // a .syx file, sent with --port
};

struct SendCase {
    const char* name;
    UpdateKind kind;
    std::vector<std::string> sim; // options of the emulated device
    int status;                   // send's exit status
    std::string outcome;          // the start of its last line(s); {name} is the device's
    bool identityRequest;         // the record ends with the Identity Request
    std::string shown;            // a status line the run must show, or empty
};

void PrintTo(const SendCase& c, std::ostream* out) {
    *out << c.name;
}

std::vector<uint8_t> Message(uint8_t number, size_t size) {
    std::vector<uint8_t> message(size, static_cast<uint8_t>(number & 0x7F));
    message.front() = 0xF0;
    message.back() = 0xF7;
    return message;
}

std::vector<uint8_t> Join(std::initializer_list<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> joined;
    for (const std::vector<uint8_t>& part : parts)
        joined.insert(joined.end(), part.begin(), part.end());
    return joined;
}

class JackSendTest : public testing::TestWithParam<SendCase> {
protected:
    void SetUp() override {
        if (std::getenv("JACK_DEFAULT_SERVER") == nullptr)
            GTEST_SKIP() << "needs the JACK server that CTest starts (tools/env/jack-env.sh)";
        const std::string problem = MidiSystemProblem(MidiSystem::Jack);
        ASSERT_EQ(problem, "") << "the JACK server " << std::getenv("JACK_DEFAULT_SERVER");
        std::random_device random;
        folder = fs::temp_directory_path() / ("kestrane-jack-test-" + std::to_string(random()));
        fs::create_directories(folder);
        // Tests may run at the same time on the one server: every device has
        // a name of its own.
        deviceName = "Jack Test " + std::to_string(static_cast<long>(getpid()));
    }
    void TearDown() override {
        if (HasFailure())
            for (const char* name : {"sim.out", "sim.err", "send.out", "send.err"})
                std::cout << "---- " << name << ":\n" << ReadFile(File(name)) << "\n";
        std::error_code ignored;
        if (!folder.empty())
            fs::remove_all(folder, ignored);
    }

    std::string File(const char* name) const { return (folder / name).string(); }

    fs::path folder;
    std::string deviceName;
};

TEST_P(JackSendTest, DeviceRecordsTheExactWireAndTheOutcomeIsRight) {
    const SendCase& c = GetParam();
    std::string path;
    if (c.kind == UpdateKind::PlainSysEx) {
        path = File("update.syx");
        const std::vector<uint8_t> data = Join({Message(1, 600), Message(2, 900), Message(3, 5)});
        WriteFile(path, std::string(data.begin(), data.end()));
    } else {
        path = File("update.upd");
        UpdateFileBuilder builder;
        builder.Header(deviceName, 1, 5)
            .Portion(Join({Message(1, 100), Message(2, 100), Message(3, 100)}), 0)
            .Settings("win:t:ideal:128:max:256:delay:5:unprepdelay:5");
        if (c.kind == UpdateKind::TwoPortions)
            builder.Portion(Message(4, 40), 0);
        WriteFile(path, builder.Data());
    }
    std::ifstream file(path, std::ios::binary);
    const Update update(file);
    std::vector<uint8_t> expected;
    for (size_t index = 0; index < update.GetPortionCount(); ++index)
        for (const std::vector<uint8_t>& message :
             PortionWireImage(update.GetPortion(index).GetData(), update.GetPortSettings()))
            expected.insert(expected.end(), message.begin(), message.end());
    if (c.identityRequest)
        expected.insert(expected.end(), IdentityRequest().begin(), IdentityRequest().end());

    const std::string record = File("record.bin");
    // The device's log (--verbose) goes to its standard error, which is shown
    // when the test fails.
    std::vector<std::string> simArgs = {KESTRANE_CLI_PATH, "--verbose", "sim",        path,
                                        "--api",           "jack",      "--sim-name", deviceName,
                                        "--sim-record",    record};
    simArgs.insert(simArgs.end(), c.sim.begin(), c.sim.end());
    ChildProcess sim(simArgs, File("sim.out"), File("sim.err"));
    ASSERT_TRUE(sim.Started());
    const int64_t readyBy = NowMs() + kSimReadyMs;
    while (ReadFile(File("sim.out")).find("Stop it with Ctrl+C.") == std::string::npos) {
        ASSERT_TRUE(sim.Running()) << "the emulated device ended:\n" << ReadFile(File("sim.err"));
        ASSERT_LT(NowMs(), readyBy) << "the emulated device did not get ready";
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }

    std::vector<std::string> sendArgs = {KESTRANE_CLI_PATH, "send", path, "--api", "jack", "--yes"};
    if (c.kind == UpdateKind::PlainSysEx) {
        sendArgs.push_back("--port");
        sendArgs.push_back(deviceName);
    }
    ChildProcess send(sendArgs, File("send.out"), File("send.err"));
    ASSERT_TRUE(send.Started());
    const int status = send.Wait(kSendLimitMs);
    const std::string out = ReadFile(File("send.out"));
    const std::string err = ReadFile(File("send.err"));
    ASSERT_NE(status, ChildProcess::kStillRunning) << "send did not end in time:\n" << out;
    EXPECT_EQ(status, c.status) << out << err;
    // The outcome is the last thing printed, and nothing else reached
    // standard error (no word from JACK or RtMidi).
    std::string outcome = c.outcome;
    const size_t mark = outcome.find("{name}");
    if (mark != std::string::npos)
        outcome.replace(mark, 6, deviceName);
    const size_t at = out.rfind(outcome);
    ASSERT_NE(at, std::string::npos) << out;
    EXPECT_EQ(out.find("\n\n", at), std::string::npos) << out;
    EXPECT_EQ(err, "");
    if (!c.shown.empty()) {
        EXPECT_NE(out.find(c.shown + "\n"), std::string::npos) << out;
    }

    EXPECT_EQ(sim.Stop(), 0) << ReadFile(File("sim.err"));
    const std::string summary = ReadFile(File("sim.out"));
    for (size_t index = 0; index < update.GetPortionCount(); ++index) {
        const std::string line = "Portion " + std::to_string(index + 1) + " of " +
                                 std::to_string(update.GetPortionCount()) +
                                 ": received, as expected.";
        EXPECT_NE(summary.find(line), std::string::npos) << summary;
    }
    const std::string recorded = ReadFile(record);
    EXPECT_EQ(std::vector<uint8_t>(recorded.begin(), recorded.end()), expected);
}

// {name} stands for the device's name, which is the update's product name.
const char* const kUpdatedTo105 = "The '{name}' was updated sucessfully to version 1.05.";

const SendCase kCases[] = {
    {"Accept", UpdateKind::TwoPortions, {"--sim", "accept"}, 0, kUpdatedTo105, false, ""},
    {"Fail",
     UpdateKind::OnePortion,
     {"--sim", "fail"},
     2,
     "There was an error sending the update file.\nPlease restart the device and try again.",
     false,
     ""},
    {"Installing",
     UpdateKind::TwoPortions,
     {"--sim", "install2"},
     0,
     kUpdatedTo105,
     false,
     "Waiting for device to complete update installation..."},
    {"SilentWithVersion",
     UpdateKind::OnePortion,
     {"--sim", "silent", "--sim-version", "1.05"},
     0,
     kUpdatedTo105,
     true,
     "Verifying update status..."},
    {"SilentWithoutVersion",
     UpdateKind::OnePortion,
     {"--sim", "silent", "--sim-no-identity"},
     3,
     "The update has been sent.\nPlease check your device for update status.",
     true,
     "Verifying update status..."},
    {"PlainSysExWithPort",
     UpdateKind::PlainSysEx,
     {"--sim", "accept"},
     0,
     "The '<SysEx Update Device>' was updated sucessfully to version 0.00.",
     false,
     ""},
};

INSTANTIATE_TEST_SUITE_P(Outcomes, JackSendTest, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<SendCase>& info) {
                             return std::string(info.param.name);
                         });

} // namespace
