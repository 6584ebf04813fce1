// The WinMM port against the emulated update device, reached through Wine's
// winmm and the virtual MIDI driver (devicesim/winedrv). The driver presents
// the device among decoys and is configured through environment variables,
// which each test sets before its port first calls WinMM.
//
// The driver fixes its device lists when winmm first counts the devices, so
// every test here uses the one layout below, set before any test runs.
// Where the driver is not installed the tests skip.
#include "mididevices.h"
#include "sendupdate.h"
#include "testsupport.h"
#include "update.h"
#include "winmidiport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <mutex>
#include <random>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace {

// Outputs 0 to 4 and inputs 0 to 2, the device's own at 3 and at 1.
const char* const kOutputDecoys =
    "Microsoft GS Wavetable Synth$kestrane port pad$Other Synth$*$3- Kestrane Port Pad";
const char* const kInputDecoys = "Other In$*$3- Kestrane Port Pad In";
const char* const kDeviceName = "Kestrane Port Pad";
const char* const kInputName = "Kestrane Port Pad In";
constexpr int kOwnOutput = 3;
constexpr int kOwnInput = 1;

// The device's settings, cleared before every test.
const char* const kDeviceVariables[] = {
    "KESTRANE_SIM_UPDATE",      "KESTRANE_SIM_SCRIPT",        "KESTRANE_SIM_VERSION",
    "KESTRANE_SIM_NO_IDENTITY", "KESTRANE_SIM_APPEAR",        "KESTRANE_SIM_UNPLUG",
    "KESTRANE_SIM_BAUD",        "KESTRANE_SIM_SEND",          "KESTRANE_SIM_RECORD",
    "KESTRANE_SIM_SESSION",     "KESTRANE_SIM_REQUEUE_DELAY", "KESTRANE_SIM_ECHO",
    "KESTRANE_SIM_LONG_LIMIT",  "KESTRANE_SIM_DONE_DELAY",    "KESTRANE_SIM_IN_PIECE"};

// The MIDI wire's speed, at which the driver can play long messages.
const char* const kWireBaud = "31250";

// Polling bound for what the device does on its own threads; a correct run
// takes a fraction of it, and a loaded machine must make the tests slower,
// never red.
constexpr DWORD kPatienceMs = 60000;

void SetVariable(const char* name, const std::string& value) {
    SetEnvironmentVariableA(name, value.c_str());
}

void SetLayout() {
    SetVariable("KESTRANE_SIM_OUT_NAME", kDeviceName);
    SetVariable("KESTRANE_SIM_IN_NAME", kInputName);
    SetVariable("KESTRANE_SIM_NUMBER", "2");
    SetVariable("KESTRANE_SIM_OUT_DECOYS", kOutputDecoys);
    SetVariable("KESTRANE_SIM_IN_DECOYS", kInputDecoys);
}

// A name no earlier run has used: Wine reuses process ids quickly, and the
// device keeps its record file open until the process ends, so a name made
// of the process id alone can meet a stale file of an earlier run.
std::string TempPath(const char* suffix) {
    static int counter = 0;
    static const unsigned runId = std::random_device()();
    char folder[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, folder);
    return std::string(folder) + FormatText("kestrane-port-%lu-%08x-%d%s", GetCurrentProcessId(),
                                            runId, ++counter, suffix);
}

std::vector<uint8_t> ReadFileBytes(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(file),
                                std::istreambuf_iterator<char>());
}

std::string Hex(const std::vector<uint8_t>& bytes) {
    std::string text;
    for (uint8_t byte : bytes)
        text += FormatText("%02X", byte);
    return text;
}

// A SysEx message of the given size with data bytes that vary.
std::vector<uint8_t> Message(size_t size, uint8_t seed) {
    std::vector<uint8_t> message(size);
    for (size_t i = 0; i < size; ++i)
        message[i] = static_cast<uint8_t>((seed + i * 7) & 0x7F);
    message.front() = 0xF0;
    message.back() = 0xF7;
    return message;
}

PortSettings Settings(const std::string& name, bool chunks = true) {
    PortSettings settings = defaultPortSettings;
    settings.names = {name};
    settings.delay = 0;
    settings.unprepdelay = 0;
    settings.chunks = chunks;
    return settings;
}

// The real clock and sleep, with every requested pause recorded.
class RecordingSleeps : public TimeSource {
public:
    RecordingSleeps() : previous(SetTimeSource(this)) {}
    ~RecordingSleeps() override { SetTimeSource(previous); }
    RecordingSleeps(const RecordingSleeps&) = delete;
    RecordingSleeps& operator=(const RecordingSleeps&) = delete;

    int64_t NowMs() override { return static_cast<int64_t>(GetTickCount64()); }
    void Sleep(uint32_t ms) override {
        {
            std::lock_guard<std::mutex> lock(mutex);
            pauses.push_back(ms);
        }
        ::Sleep(ms);
    }
    std::vector<uint32_t> Pauses() {
        std::lock_guard<std::mutex> lock(mutex);
        return pauses;
    }

private:
    TimeSource* previous;
    std::mutex mutex;
    std::vector<uint32_t> pauses;
};

// Each log text with the thread that wrote it.
class ThreadLog : public LogSink {
public:
    ThreadLog() : previous(SetLogSink(this)) {}
    ~ThreadLog() override { SetLogSink(previous); }
    ThreadLog(const ThreadLog&) = delete;
    ThreadLog& operator=(const ThreadLog&) = delete;

    void Write(const char* text) override {
        std::lock_guard<std::mutex> lock(mutex);
        lines.emplace_back(GetCurrentThreadId(), text);
    }
    std::vector<std::pair<DWORD, std::string>> Lines() {
        std::lock_guard<std::mutex> lock(mutex);
        return lines;
    }

private:
    LogSink* previous;
    std::mutex mutex;
    std::vector<std::pair<DWORD, std::string>> lines;
};

// The log, watched for the port's input callback taking reply bytes on the
// driver's thread; it can also hold the owning thread at the first buffer
// that a reset hands back there, so that a callback still running on the
// driver's thread goes on meanwhile.
class ReplyWatch : public LogSink {
public:
    ReplyWatch() : owner(GetCurrentThreadId()), previous(SetLogSink(this)) {}
    ~ReplyWatch() override { SetLogSink(previous); }
    ReplyWatch(const ReplyWatch&) = delete;
    ReplyWatch& operator=(const ReplyWatch&) = delete;

    void Write(const char* text) override {
        static const char kLongData[] = "MIM longdata message(";
        const bool longData = std::strncmp(text, kLongData, sizeof kLongData - 1) == 0;
        const bool empty = std::strcmp(text, "MIM longdata message(0)\n") == 0;
        DWORD hold = 0;
        {
            std::lock_guard<std::mutex> lock(mutex);
            log += text;
            if (longData && !empty && GetCurrentThreadId() != owner) {
                replied = true;
                changed.notify_all();
            }
            if (empty && GetCurrentThreadId() == owner) {
                hold = holdAtReset;
                holdAtReset = 0;
            }
        }
        if (hold > 0)
            Sleep(hold);
    }

    // Waits until reply bytes have reached the callback since the last Clear.
    bool WaitForReply() {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, std::chrono::milliseconds(kPatienceMs),
                                [&] { return replied; });
    }
    // Holds the owning thread for ms at the next empty buffer returned to it.
    void HoldAtNextReset(DWORD ms) {
        std::lock_guard<std::mutex> lock(mutex);
        holdAtReset = ms;
    }
    void Clear() {
        std::lock_guard<std::mutex> lock(mutex);
        log.clear();
        replied = false;
    }
    std::string Text() {
        std::lock_guard<std::mutex> lock(mutex);
        return log;
    }
    size_t Count(const std::string& part) {
        std::lock_guard<std::mutex> lock(mutex);
        size_t count = 0;
        for (size_t at = log.find(part); at != std::string::npos; at = log.find(part, at + 1))
            ++count;
        return count;
    }

private:
    const DWORD owner;
    LogSink* previous;
    std::mutex mutex;
    std::condition_variable changed;
    std::string log;
    bool replied = false;
    DWORD holdAtReset = 0;
};

// After a Disconnect: the input closed once, no buffer was queued again after
// the port stopped listening, and nothing failed.
void ExpectClosedCleanly(ReplyWatch& log, const std::string& label) {
    const std::string text = log.Text();
    EXPECT_EQ(log.Count("MIM close message\n"), 1u) << label << ":\n" << text;
    EXPECT_EQ(text.find("Error recycling buffer"), std::string::npos)
        << label << ": a buffer was queued after the port stopped listening:\n"
        << text;
    EXPECT_EQ(text.find("Failed to"), std::string::npos) << label << ":\n" << text;
}

// The port's output handle, as its Connect logs it.
HMIDIOUT LoggedOutputHandle(const std::string& log) {
    const std::string mark = "  opened handles are ";
    const size_t at = log.rfind(mark);
    if (at == std::string::npos)
        return nullptr;
    return reinterpret_cast<HMIDIOUT>(
        static_cast<uintptr_t>(std::strtoull(log.c_str() + at + mark.size(), nullptr, 16)));
}

// A time source under which the port's output handle fails: at the first
// sleep, which the port asks for while the driver still plays its block, the
// handle is closed behind the port's back. Wine's winmm forgets a handle even
// when the driver refuses to close it, so every later request on it answers
// MMSYSERR_INVALHANDLE, while the driver plays the block on and marks it done
// when its last byte has gone out. That first sleep is cut short; the later
// ones really sleep, or pass at once on a fake clock.
class OutputFailingSleeps : public TimeSource {
public:
    OutputFailingSleeps(HMIDIOUT output, bool realSleeps)
        : handle(output), real(realSleeps), previous(SetTimeSource(this)) {}
    ~OutputFailingSleeps() override { SetTimeSource(previous); }
    OutputFailingSleeps(const OutputFailingSleeps&) = delete;
    OutputFailingSleeps& operator=(const OutputFailingSleeps&) = delete;

    int64_t NowMs() override {
        return real ? static_cast<int64_t>(GetTickCount64()) : fakeNow.load();
    }
    void Sleep(uint32_t ms) override {
        ++sleeps;
        if (handle != nullptr) {
            closeResult = midiOutClose(handle);
            handle = nullptr;
            return;
        }
        if (real)
            ::Sleep(ms);
        else
            fakeNow += ms;
    }
    MMRESULT CloseResult() const { return closeResult; }
    int Sleeps() const { return sleeps; }

private:
    HMIDIOUT handle;
    const bool real;
    TimeSource* previous;
    MMRESULT closeResult = MMSYSERR_ERROR;
    std::atomic<int> sleeps{0};
    std::atomic<int64_t> fakeNow{0};
};

// Whether a stored message is the reply, after replies that were cut short
// (the collector keeps a 0xF0 inside a message, so a reply cut short by a
// Disconnect runs on into the next one): each piece from an 0xF0 on must be
// the start of the reply, and the last must be all of it. A buffer's bytes
// collected twice, lost or mixed up break this.
bool IsReplyAfterCutReplies(const std::vector<uint8_t>& taken, const std::vector<uint8_t>& reply) {
    size_t start = 0;
    while (start < taken.size()) {
        size_t end = start + 1;
        while (end < taken.size() && taken[end] != 0xF0)
            ++end;
        const size_t size = end - start;
        if (taken[start] != 0xF0 || size > reply.size() ||
            !std::equal(taken.begin() + static_cast<std::ptrdiff_t>(start),
                        taken.begin() + static_cast<std::ptrdiff_t>(end), reply.begin()))
            return false;
        if (end == taken.size())
            return size == reply.size();
        start = end;
    }
    return false;
}

// Polls the port until a message is stored, or gives up.
std::vector<uint8_t> WaitForSysEx(WindowsMidiPort& port) {
    const ULONGLONG start = GetTickCount64();
    while (GetTickCount64() - start < kPatienceMs) {
        std::vector<uint8_t> message = port.GetSysEx();
        if (!message.empty())
            return message;
        Sleep(20);
    }
    return {};
}

// Asks IsConnected every 100 ms until it is true, or gives up; counts the
// false answers.
bool WaitForConnection(WindowsMidiPort& port, int& refusals) {
    const ULONGLONG start = GetTickCount64();
    while (GetTickCount64() - start < kPatienceMs) {
        if (port.IsConnected())
            return true;
        ++refusals;
        Sleep(100);
    }
    return false;
}

// Sets the layout before any test of the program calls WinMM, whatever runs
// first.
class LayoutEnvironment : public testing::Environment {
public:
    void SetUp() override { SetLayout(); }
};

testing::Environment* const layoutEnvironment =
    testing::AddGlobalTestEnvironment(new LayoutEnvironment);

class WinePortTest : public testing::Test {
protected:
    void SetUp() override {
        SetLayout();
        for (const char* name : kDeviceVariables)
            SetEnvironmentVariableA(name, nullptr);
        recordPath = TempPath(".rec");
        SetVariable("KESTRANE_SIM_RECORD", recordPath);
        // A new session gives each test a device of its own.
        SetVariable("KESTRANE_SIM_SESSION", recordPath);

        std::vector<MidiDeviceName> outputs = ReadOutputDevices();
        if (outputs.size() <= kOwnOutput || outputs[kOwnOutput].name != "2- Kestrane Port Pad") {
            bool driverListed = false;
            for (const MidiDeviceName& output : outputs)
                driverListed = driverListed || output.name.find("Kestrane") != std::string::npos;
            if (driverListed)
                FAIL() << "the virtual MIDI driver shows another device layout: an earlier test "
                          "of this process fixed it (run one test per process, as CTest does)";
            GTEST_SKIP() << "the virtual MIDI driver (winekestrane.drv) is not installed here";
        }
    }

    void TearDown() override { DeleteFileA(recordPath.c_str()); }

    std::vector<uint8_t> Record() const { return ReadFileBytes(recordPath); }

    std::string recordPath;
};

TEST_F(WinePortTest, FindsTheDevicePastDecoysAndNumberedNames) {
    LogCapture log;
    EXPECT_EQ(FindOutputDevice({kDeviceName}), kOwnOutput);
    EXPECT_EQ(FindInputDevice({kDeviceName}), kOwnInput);
    EXPECT_EQ(FindOutputDevice({}), 1) << "an empty list takes the first usable output";
    EXPECT_EQ(FindOutputDevice({"Absent"}), kNoDevice);
    EXPECT_EQ(FindInputDevice({"Absent"}), kNoDevice);

    log.Clear();
    ListInterfaces();
    EXPECT_EQ(log.Text(), "ListInterfaces output...\n"
                          "  MIDI OUT port #0: 'Microsoft GS Wavetable Synth'\n"
                          "  MIDI OUT port #1: 'kestrane port pad'\n"
                          "  MIDI OUT port #2: 'Other Synth'\n"
                          "  MIDI OUT port #3: '2- Kestrane Port Pad'\n"
                          "  MIDI OUT port #4: '3- Kestrane Port Pad'\n"
                          "ListInterfaces input...\n"
                          "  MIDI IN  port #0: 'Other In'\n"
                          "  MIDI IN  port #1: '2- Kestrane Port Pad In'\n"
                          "  MIDI IN  port #2: '3- Kestrane Port Pad In'\n");
}

TEST_F(WinePortTest, ConnectsToTheDeviceAndClosesCleanly) {
    LogCapture log;
    {
        WindowsMidiPort port(Settings(kDeviceName));
        EXPECT_TRUE(port.IsConnected());
        EXPECT_TRUE(log.Contains("MIDI OUT Port opened OK.\n"));
        EXPECT_TRUE(log.Contains("MIDI IN Port opened OK (1).\n"));
        EXPECT_TRUE(log.Contains(" connected=yes (handle="));
        EXPECT_EQ(log.Count("MOM open message\n"), 1u);
        EXPECT_EQ(log.Count("MIM open message\n"), 1u);
        // Connected: asking again opens nothing more.
        EXPECT_TRUE(port.IsConnected());
        EXPECT_EQ(log.Count("WindowsMidiPort::Connect\n"), 1u);
    }
    EXPECT_EQ(log.Count("MOM close message\n"), 1u);
    EXPECT_EQ(log.Count("MIM close message\n"), 1u);
    EXPECT_FALSE(log.Contains("Failed to")) << log.Text();
}

TEST_F(WinePortTest, SendPutsExactlyTheFramedBytesOnTheWire) {
    using Bytes = std::vector<uint8_t>;
    struct Case {
        bool chunks;
        Bytes data;
        Bytes wire;
    };
    const Case cases[] = {
        {true, {0x01, 0x02}, {0xF0, 0x01, 0x02, 0xF7}},
        {true, {0xF0, 0x01, 0x02, 0xF7}, {0xF0, 0x01, 0x02, 0xF7}},
        {true, {0xF0, 0x01}, {0xF0, 0x01, 0xF7}},
        {true, {0x01, 0xF7}, {0xF0, 0x01, 0xF7}},
        {true, {0xF0}, {0xF0, 0xF7}},
        {true, {0xF7}, {0xF0, 0xF7}},
        {true, {}, {}},
        {false, {0x01, 0x02}, {0x01, 0x02}},
        {false, {0xF0, 0x01}, {0xF0, 0x01}},
        {false, {0x05, 0xF7}, {0x05, 0xF7}},
    };
    LogCapture log;
    for (bool chunks : {true, false}) {
        WindowsMidiPort port(Settings(kDeviceName, chunks));
        for (const Case& c : cases) {
            if (c.chunks != chunks)
                continue;
            const size_t before = Record().size();
            port.Send(c.data.data(), static_cast<uint32_t>(c.data.size()));
            Bytes record = Record();
            ASSERT_GE(record.size(), before);
            EXPECT_EQ(Bytes(record.begin() + static_cast<std::ptrdiff_t>(before), record.end()),
                      c.wire)
                << "chunks " << chunks << ", data " << Hex(c.data);
        }
        EXPECT_EQ(port.TakeSendFailures(), 0u);
    }
    // The driver reports each message done inside midiOutLongMsg; the port
    // only logs that.
    EXPECT_EQ(log.Count("MOM done message (NOT pausing)\n"), 9u);
}

TEST_F(WinePortTest, PausesFollowTheSettings) {
    struct Case {
        int32_t delay;
        int32_t unprepdelay;
        std::vector<uint32_t> pauses;
    };
    const Case cases[] = {
        {7, 3, {7, 3}},
        {0, 0, {}},
        {-5, 4, {4}},
        {6, -1, {6}},
    };
    LogCapture log;
    const uint8_t block[] = {0x01, 0x02, 0x03};
    for (const Case& c : cases) {
        PortSettings settings = Settings(kDeviceName);
        settings.delay = c.delay;
        settings.unprepdelay = c.unprepdelay;
        WindowsMidiPort port(settings);
        ASSERT_TRUE(port.IsConnected());
        RecordingSleeps sleeps;
        port.Send(block, sizeof block);
        EXPECT_EQ(sleeps.Pauses(), c.pauses)
            << "delay " << c.delay << ", unprepdelay " << c.unprepdelay;
    }
}

TEST_F(WinePortTest, SendAtWireSpeedBlocksUntilTheDriverHasPlayedIt) {
    SetVariable("KESTRANE_SIM_BAUD", kWireBaud);
    PortSettings settings = Settings(kDeviceName);
    settings.delay = 7;
    settings.unprepdelay = 3;
    // About 1.3 s on the wire: the driver still plays it when first asked.
    std::vector<uint8_t> data = Message(4000, 5);
    data.front() = 0x11;
    data.back() = 0x22;
    LogCapture log;
    WindowsMidiPort port(settings);
    ASSERT_TRUE(port.IsConnected());
    RecordingSleeps sleeps;
    port.Send(data.data(), static_cast<uint32_t>(data.size()));

    // Whole on the device's record when Send returns.
    std::vector<uint8_t> expected = {0xF0};
    expected.insert(expected.end(), data.begin(), data.end());
    expected.push_back(0xF7);
    EXPECT_EQ(Record(), expected);
    EXPECT_EQ(port.TakeSendFailures(), 0u);

    const size_t stillPlaying = log.Count("WindowsMidiPort::SendVerbatim: Still playing\n");
    EXPECT_GE(stillPlaying, 1u);
    // delay, one 1000 ms poll per "Still playing", unprepdelay.
    std::vector<uint32_t> pauses = {7};
    pauses.insert(pauses.end(), stillPlaying, 1000u);
    pauses.push_back(3);
    EXPECT_EQ(sleeps.Pauses(), pauses);
    EXPECT_FALSE(log.Contains("Error unpreparing"));
}

TEST_F(WinePortTest, LongReplyIsCollectedOnTheCallbackThread) {
    // Twelve buffers' worth: more than the ten queued, so the reply arrives
    // whole only if each buffer is queued again from the callback.
    const std::vector<uint8_t> reply = Message(3000, 9);
    SetVariable("KESTRANE_SIM_SEND", "50:" + Hex(reply));
    ThreadLog log;
    WindowsMidiPort port(Settings(kDeviceName));
    ASSERT_TRUE(port.IsConnected());
    EXPECT_EQ(WaitForSysEx(port), reply);

    size_t full = 0;
    size_t last = 0;
    for (const auto& line : log.Lines()) {
        if (line.second.rfind("MIM longdata message(", 0) != 0)
            continue;
        EXPECT_NE(line.first, GetCurrentThreadId()) << "input delivered on the sender's thread";
        full += line.second == "MIM longdata message(256)\n";
        last += line.second == "MIM longdata message(184)\n";
    }
    EXPECT_EQ(full, 11u);
    EXPECT_EQ(last, 1u);
    for (const auto& line : log.Lines())
        EXPECT_EQ(line.second.find("Error recycling buffer"), std::string::npos);
}

TEST_F(WinePortTest, RequestSendsNothingAndReturnsTheStoredReply) {
    const std::vector<uint8_t> identityRequest = {0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7};
    LogCapture log;
    WindowsMidiPort port(Settings(kDeviceName));
    ASSERT_TRUE(port.IsConnected());
    EXPECT_TRUE(port.Request(5000, identityRequest.data(), 6).empty());
    EXPECT_TRUE(Record().empty()) << "Request sent something";

    // Sent as data, the request is answered, and Request then returns the answer.
    port.Send(identityRequest.data(), 6);
    std::vector<uint8_t> reply = WaitForSysEx(port);
    ASSERT_GE(reply.size(), 2u);
    EXPECT_EQ(reply[1], 0x7E);
    EXPECT_EQ(port.Request(5000, identityRequest.data(), 6), reply);
    EXPECT_EQ(Record(), identityRequest);
}

TEST_F(WinePortTest, DisconnectTakesTheBuffersBackWithoutQueueingThemAgain) {
    const std::vector<uint8_t> hello = {0xF0, 0x7D, 0x01, 0xF7};
    SetVariable("KESTRANE_SIM_SEND", "0:" + Hex(hello));
    LogCapture log;
    WindowsMidiPort port(Settings(kDeviceName));
    ASSERT_TRUE(port.IsConnected());
    ASSERT_EQ(WaitForSysEx(port), hello);

    log.Clear();
    port.Disconnect();
    // The reset hands back the ten queued buffers, empty; none is queued
    // again, so the input closes (a driver refuses while buffers are queued).
    EXPECT_EQ(log.Count("MIM longdata message(0)\n"), 10u);
    EXPECT_FALSE(log.Contains("Error recycling buffer"));
    EXPECT_FALSE(log.Contains("Failed to unprepare"));
    EXPECT_EQ(log.Count("MIM close message\n"), 1u);

    // A buffer that comes back with bytes after Disconnect is still collected.
    port.ClearSysEx();
    std::vector<uint8_t> late = {0xF0, 0x7D, 0x02, 0xF7};
    MIDIHDR header = {};
    header.lpData = reinterpret_cast<LPSTR>(late.data());
    header.dwBufferLength = static_cast<DWORD>(late.size());
    header.dwBytesRecorded = static_cast<DWORD>(late.size());
    WindowsMidiPort::MidiInProc(nullptr, MIM_LONGDATA, reinterpret_cast<DWORD_PTR>(&port),
                                reinterpret_cast<DWORD_PTR>(&header), 0);
    EXPECT_EQ(port.GetSysEx(), late);
    EXPECT_FALSE(log.Contains("Error recycling buffer"));

    // Connecting again queues all ten afresh, and input arrives again.
    port.ClearSysEx();
    ASSERT_TRUE(port.IsConnected());
    EXPECT_EQ(WaitForSysEx(port), hello);
    EXPECT_FALSE(log.Contains("Failed to")) << log.Text();
}

TEST_F(WinePortTest, DeviceThatAppearsLateIsFoundByALaterQuery) {
    SetVariable("KESTRANE_SIM_APPEAR", "1500");
    LogCapture log;
    WindowsMidiPort port(Settings(kDeviceName));
    int refusals = 0;
    ASSERT_TRUE(WaitForConnection(port, refusals));
    EXPECT_GE(refusals, 1);
    // Listed all along, but its opens fail until it is there; the input that
    // opens with the output belongs to the connection that counts.
    EXPECT_EQ(log.Count("MIDI OUT Port failed to open.\n"), static_cast<size_t>(refusals));
    EXPECT_GE(log.Count("MIDI IN Port failed to open (1).\n"), 1u);
    const std::string text = log.Text();
    const size_t outputOpened = text.find("MIDI OUT Port opened OK.\n");
    ASSERT_NE(outputOpened, std::string::npos);
    EXPECT_NE(text.find("MIDI IN Port opened OK (1).\n", outputOpened), std::string::npos);
}

TEST_F(WinePortTest, InputOpenedWithoutOutputIsClosedBeforeTheNextAttempt) {
    // The input's name alone: no output matches, the input does.
    LogCapture log;
    {
        WindowsMidiPort port(Settings(kInputName));
        EXPECT_FALSE(port.IsConnected());
        EXPECT_FALSE(port.IsConnected());
        EXPECT_EQ(log.Count("MIDI OUT Port failed to open.\n"), 2u);
        EXPECT_EQ(log.Count("MIDI IN Port opened OK (1).\n"), 2u);
        EXPECT_EQ(log.Count("MIM close message\n"), 1u) << "the first input was not closed";
    }
    EXPECT_EQ(log.Count("MIM open message\n"), 2u);
    EXPECT_EQ(log.Count("MIM close message\n"), 2u);
    EXPECT_FALSE(log.Contains("Failed to")) << log.Text();
}

TEST_F(WinePortTest, BlocksAfterAnUnpluggingAreCountedAsNotSent) {
    // The device expects one portion and is unplugged after 100 of its bytes,
    // to come back a second later.
    const std::vector<uint8_t> portion = Message(1000, 3);
    const std::string updatePath = TempPath(".syx");
    {
        std::ofstream file(updatePath, std::ios::binary);
        file.write(reinterpret_cast<const char*>(portion.data()),
                   static_cast<std::streamsize>(portion.size()));
    }
    SetVariable("KESTRANE_SIM_UPDATE", updatePath);
    SetVariable("KESTRANE_SIM_UNPLUG", "1:100:1000");
    LogCapture log;
    {
        WindowsMidiPort port(Settings(kDeviceName));
        ASSERT_TRUE(port.IsConnected());
        for (size_t at = 0; at < portion.size(); at += 250)
            port.Send(portion.data() + at, 250);
        // The block cut short by the unplugging and the three after it.
        EXPECT_EQ(port.TakeSendFailures(), 4u);
        EXPECT_EQ(log.Count("Can't send MIDI, not connected\n"), 3u);
        EXPECT_EQ(Record().size(), 100u);

        // Closed and asked again, the port finds the device once it is back.
        port.Disconnect();
        int refusals = 0;
        EXPECT_TRUE(WaitForConnection(port, refusals));
    }
    DeleteFileA(updatePath.c_str());
}

TEST_F(WinePortTest, ReplyQueuedAgainDuringDisconnectIsTakenBackBeforeTheClose) {
    // The driver holds each buffer that the callback queues again for a
    // while, and the owning thread is held inside the input's reset for
    // longer: a Disconnect that starts while the callback is on its way to
    // queue the reply's buffer again would meet that buffer being queued
    // after the reset. Each round must end with the input closed and no
    // buffer queued or refused.
    const DWORD requeueDelayMs = 300;
    const std::vector<uint8_t> hello = {0xF0, 0x7D, 0x01, 0xF7};
    SetVariable("KESTRANE_SIM_SEND", "0:" + Hex(hello));
    SetVariable("KESTRANE_SIM_REQUEUE_DELAY", std::to_string(requeueDelayMs));
    ReplyWatch log;
    WindowsMidiPort port(Settings(kDeviceName));
    for (int round = 1; round <= 4; ++round) {
        log.Clear();
        ASSERT_TRUE(port.IsConnected()) << "round " << round;
        ASSERT_TRUE(log.WaitForReply()) << "round " << round;
        // Long enough for the callback to have taken the reply and asked to
        // queue its buffer again, well within the driver's hold.
        Sleep(requeueDelayMs / 6);
        log.HoldAtNextReset(2 * requeueDelayMs);
        port.Disconnect();

        ExpectClosedCleanly(log, "round " + std::to_string(round));
        EXPECT_EQ(port.TakeSysEx(), hello) << "round " << round;
    }
}

TEST_F(WinePortTest, DisconnectAtAnyMomentOfTheInputClosesIt) {
    // The device sends a reply of two buffers every 3 ms for 60 ms after the
    // input starts, and the port disconnects a millisecond later each round,
    // from at once to past the last reply: whatever the callback is doing,
    // the input closes with nothing queued, and every message taken is made
    // of the reply's bytes in order.
    const std::vector<uint8_t> reply = Message(300, 11);
    std::string sends;
    for (int at = 0; at < 60; at += 3)
        sends += (sends.empty() ? "" : "$") + std::to_string(at) + ":" + Hex(reply);
    SetVariable("KESTRANE_SIM_SEND", sends);
    ReplyWatch log;
    WindowsMidiPort port(Settings(kDeviceName));
    for (DWORD wait = 0; wait < 70; ++wait) {
        log.Clear();
        ASSERT_TRUE(port.IsConnected()) << "wait " << wait;
        Sleep(wait);
        port.Disconnect();

        ExpectClosedCleanly(log, "wait " + std::to_string(wait));
        const std::vector<uint8_t> taken = port.TakeSysEx();
        EXPECT_TRUE(taken.empty() || IsReplyAfterCutReplies(taken, reply))
            << "wait " << wait << ": " << Hex(taken);
    }
    // Still whole after all that: the reply arrives complete.
    ASSERT_TRUE(port.IsConnected());
    EXPECT_EQ(WaitForSysEx(port), reply);
}

TEST_F(WinePortTest, BlockTheDriverStillHoldsIsKeptUntilItComesBack) {
    // About 3 s on the wire. The handle fails before the driver is done
    // with the block; the port must wait for the driver to mark it done
    // before it lets the block go and returns.
    SetVariable("KESTRANE_SIM_BAUD", kWireBaud);
    const std::vector<uint8_t> block = Message(10000, 21);
    LogCapture log;
    WindowsMidiPort port(Settings(kDeviceName));
    ASSERT_TRUE(port.IsConnected());
    OutputFailingSleeps sleeps(LoggedOutputHandle(log.Text()), true);
    port.SendVerbatim(block.data(), static_cast<uint32_t>(block.size()));
    ASSERT_EQ(sleeps.CloseResult(), static_cast<MMRESULT>(MIDIERR_STILLPLAYING))
        << "the handle did not fail under the port";

    EXPECT_EQ(Record(), block) << "the port let the block go before the driver had played it";
    EXPECT_TRUE(log.Contains("WindowsMidiPort::SendVerbatim: Error unpreparing (5:")) << log.Text();
    EXPECT_FALSE(log.Contains("never handed back")) << log.Text();
    EXPECT_EQ(port.TakeSendFailures(), 0u) << "the driver played the block whole";
}

TEST_F(WinePortTest, BlockThatNeverComesBackIsLeftToTheDriverAndCounted) {
    // About 4 s on the wire, while the port waits on a fake clock: the block
    // does not come back within the port's limit, so it must be left
    // allocated for the driver, said so in the log and counted as not sent.
    SetVariable("KESTRANE_SIM_BAUD", "600");
    const std::vector<uint8_t> block = Message(240, 31);
    LogCapture log;
    {
        WindowsMidiPort port(Settings(kDeviceName));
        ASSERT_TRUE(port.IsConnected());
        OutputFailingSleeps sleeps(LoggedOutputHandle(log.Text()), false);
        port.SendVerbatim(block.data(), static_cast<uint32_t>(block.size()));
        ASSERT_EQ(sleeps.CloseResult(), static_cast<MMRESULT>(MIDIERR_STILLPLAYING))
            << "the handle did not fail under the port";
        EXPECT_GE(sleeps.Sleeps(), 2) << "the port did not wait for the block";

        EXPECT_LT(Record().size(), block.size()) << "the driver was done before the port gave up";
        EXPECT_EQ(log.Count("WindowsMidiPort::SendVerbatim: The driver never handed back"), 1u)
            << log.Text();
        EXPECT_EQ(port.TakeSendFailures(), 1u);
    }
    // The driver plays the block to its end and marks it done, in memory
    // that is still the block's.
    const ULONGLONG start = GetTickCount64();
    while (!log.Contains("MOM done message (NOT pausing)\n") &&
           GetTickCount64() - start < kPatienceMs)
        Sleep(50);
    EXPECT_EQ(Record(), block);
    EXPECT_TRUE(log.Contains("MOM done message (NOT pausing)\n"));
}

// ---- Habits of other MIDI stacks ----
// Windows' newer MIDI service hands SysEx input to WinMM programs in small
// pieces, refuses long messages of 2049 bytes and more, and reports sent ones
// done late; a MIDI-thru loop echoes everything back. The driver plays each.

// Whether the user is told that the update went through.
bool IsSuccess(SendOutcome outcome) {
    return outcome == SendOutcome::DeviceAccepted || outcome == SendOutcome::VersionConfirmed ||
           outcome == SendOutcome::DeviceAtVersion;
}

// Polls the stored message until it reads as an identity reply, or gives up.
DeviceIdentity WaitForIdentity(WindowsMidiPort& port) {
    const ULONGLONG start = GetTickCount64();
    DeviceIdentity identity;
    while (identity.version.empty() && GetTickCount64() - start < kPatienceMs) {
        Sleep(20);
        identity = ParseDeviceEnquiryResponse(port.GetSysEx());
    }
    return identity;
}

TEST_F(WinePortTest, VerdictsHoldUnderTheHabitsOfOtherMidiStacks) {
    // One portion of two 2500-byte messages, each sent as one block (no data
    // byte is 0x0A, where the sender could cut a block short).
    std::vector<uint8_t> data;
    for (uint8_t seed : {1, 2}) {
        std::vector<uint8_t> message = Message(2500, seed);
        std::replace(message.begin() + 1, message.end() - 1, uint8_t{0x0A}, uint8_t{0x0B});
        data.insert(data.end(), message.begin(), message.end());
    }
    const std::string file = UpdateFileBuilder()
                                 .Header("Pad", 1, 23)
                                 .Portion(data, 0)
                                 .Settings(std::string("win:t:name:") + kDeviceName +
                                           ":ideal:1000:max:3000:delay:0:unprepdelay:0")
                                 .Data();
    std::istringstream stream(file);
    const Update update(stream);
    const std::string updatePath = TempPath(".upd");
    {
        std::ofstream out(updatePath, std::ios::binary);
        out << file;
    }
    SetVariable("KESTRANE_SIM_UPDATE", updatePath);
    SetVariable("KESTRANE_SIM_VERSION", "1.23");

    using Environment = std::vector<std::pair<const char*, const char*>>;
    struct Case {
        const char* name;
        Environment variables;
        bool refused; // the blocks are refused: the update must not pass for sent
    };
    const Case cases[] = {
        {"no habit", {}, false},
        {"input in pieces of 6 bytes", {{"KESTRANE_SIM_IN_PIECE", "6"}}, false},
        {"echo of everything sent", {{"KESTRANE_SIM_ECHO", "1"}}, false},
        {"MOM_DONE 300 ms late", {{"KESTRANE_SIM_DONE_DELAY", "300"}}, false},
        {"pieces, echo and late MOM_DONE together",
         {{"KESTRANE_SIM_IN_PIECE", "6"},
          {"KESTRANE_SIM_ECHO", "1"},
          {"KESTRANE_SIM_DONE_DELAY", "300"}},
         false},
        {"long messages over 2048 bytes refused", {{"KESTRANE_SIM_LONG_LIMIT", "2048"}}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string record = TempPath(".rec");
        SetVariable("KESTRANE_SIM_RECORD", record);
        SetVariable("KESTRANE_SIM_SESSION", record); // a fresh device
        for (const auto& variable : c.variables)
            SetVariable(variable.first, variable.second);

        LogCapture log;
        RecordingProgress progress;
        SendResult result;
        {
            WindowsMidiPort port(update.GetPortSettings());
            SimpleSysExSender sender(port);
            result = sender.Send(update, progress);
        }
        ASSERT_EQ(result.portions.size(), 1u);
        if (c.refused) {
            EXPECT_FALSE(IsSuccess(result.outcome)) << testing::PrintToString(progress.completed);
            EXPECT_FALSE(result.portions[0].sentWhole);
            EXPECT_TRUE(ReadFileBytes(record).empty());
            // Each refused block is named in the log, with its size, the
            // system's reason and the way out.
            char reason[MAXERRORLENGTH] = {};
            midiOutGetErrorTextA(MMSYSERR_INVALPARAM, reason, sizeof reason);
            for (int block : {1, 2}) {
                EXPECT_TRUE(log.Contains(FormatText(
                    "WindowsMidiPort::SendVerbatim: block %d of the portion (%d of the run), "
                    "2500 bytes, refused by midiOutLongMsg: %s (%d). The MIDI system may take "
                    "only shorter messages: an update with a smaller `max` chunk size may get "
                    "through.\n",
                    block, block, reason, static_cast<int>(MMSYSERR_INVALPARAM))))
                    << log.Text();
            }
        } else {
            EXPECT_EQ(result.outcome, SendOutcome::DeviceAccepted);
            EXPECT_EQ(progress.completed,
                      std::vector<std::string>{FormatText(kUpdatedFormat, "Pad", "1.23")});
            EXPECT_TRUE(result.portions[0].sentWhole);
            EXPECT_EQ(ReadFileBytes(record), data);
            EXPECT_FALSE(log.Contains("refused by")) << log.Text();
        }

        // The identity reply is read right whatever the input does.
        const std::vector<uint8_t> request = {0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7};
        WindowsMidiPort port(Settings(kDeviceName));
        port.Send(request.data(), static_cast<uint32_t>(request.size()));
        EXPECT_EQ(port.TakeSendFailures(), 0u);
        EXPECT_EQ(WaitForIdentity(port).version, "1.23");

        for (const auto& variable : c.variables)
            SetEnvironmentVariableA(variable.first, nullptr);
        DeleteFileA(record.c_str());
    }
    DeleteFileA(updatePath.c_str());
}

} // namespace
