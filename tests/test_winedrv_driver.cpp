// The virtual MIDI device driver (winekestrane.drv) as any Windows program
// reaches it under Wine: through the plain midiOut... and midiIn... calls. The
// driver must be installed in the Wine prefix the tests run in
// (devicesim/winedrv/install.sh).
//
// Each test configures the emulated device through the environment before it
// opens a port, with a session text of its own, so that it gets a fresh
// device. The device lists are fixed once winmm has counted the devices, so
// each layout is checked in a process of its own.
#include "devicesim.h"
#include "portionwire.h"
#include "simmessages.h"
#include "update.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <mmsystem.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;
using Environment = std::vector<std::pair<std::string, std::string>>;

// How long a test waits for what the driver does on its own thread. A correct
// driver takes milliseconds; the limit only ends the wait for a broken one, so
// it is generous: a loaded machine must make the tests slower, never red.
constexpr DWORD kWaitMs = 60000;
const char* const kPrintListsArgument = "--print-device-lists";

// Every variable that shapes the emulated device.
const char* const kDeviceVariables[] = {
    "KESTRANE_SIM_UPDATE",      "KESTRANE_SIM_SCRIPT",  "KESTRANE_SIM_VERSION",
    "KESTRANE_SIM_NO_IDENTITY", "KESTRANE_SIM_APPEAR",  "KESTRANE_SIM_UNPLUG",
    "KESTRANE_SIM_RECORD",      "KESTRANE_SIM_BAUD",    "KESTRANE_SIM_SEND",
    "KESTRANE_SIM_SESSION",     "KESTRANE_SIM_ECHO",    "KESTRANE_SIM_LONG_LIMIT",
    "KESTRANE_SIM_DONE_DELAY",  "KESTRANE_SIM_IN_PIECE"};

// Every variable that shapes the device lists.
const char* const kLayoutVariables[] = {"KESTRANE_SIM_NAME",     "KESTRANE_SIM_OUT_NAME",
                                        "KESTRANE_SIM_IN_NAME",  "KESTRANE_SIM_NUMBER",
                                        "KESTRANE_SIM_DECOYS",   "KESTRANE_SIM_OUT_DECOYS",
                                        "KESTRANE_SIM_IN_DECOYS"};

std::string Hex(const Bytes& bytes) {
    std::string text;
    char pair[4];
    for (uint8_t byte : bytes) {
        std::snprintf(pair, sizeof pair, "%02X ", static_cast<unsigned>(byte));
        text += pair;
    }
    return text;
}

Bytes ReadFileBytes(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

std::string TempPath(const std::string& name) {
    char folder[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, folder);
    return std::string(folder) + "kestrane-winedrv-" + std::to_string(GetCurrentProcessId()) + "-" +
           name;
}

std::vector<std::string> OutputNames() {
    std::vector<std::string> names;
    for (UINT id = 0; id < midiOutGetNumDevs(); ++id) {
        MIDIOUTCAPSA caps = {};
        names.push_back(midiOutGetDevCapsA(id, &caps, sizeof caps) == MMSYSERR_NOERROR
                            ? caps.szPname
                            : "(unreadable)");
    }
    return names;
}

std::vector<std::string> InputNames() {
    std::vector<std::string> names;
    for (UINT id = 0; id < midiInGetNumDevs(); ++id) {
        MIDIINCAPSA caps = {};
        names.push_back(midiInGetDevCapsA(id, &caps, sizeof caps) == MMSYSERR_NOERROR
                            ? caps.szPname
                            : "(unreadable)");
    }
    return names;
}

// The child process of the layout test: prints both lists, one name a line.
int PrintDeviceLists() {
    for (const std::string& name : OutputNames())
        std::printf("out:%s\n", name.c_str());
    for (const std::string& name : InputNames())
        std::printf("in:%s\n", name.c_str());
    return 0;
}

// Runs this test program again with one argument and returns what it wrote
// to its standard output. The child inherits the environment.
std::string RunSelf(const std::string& argument) {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0))
        return "(no pipe)";
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = writeEnd;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    std::string commandLine = std::string("\"") + path + "\" " + argument;
    PROCESS_INFORMATION process = {};
    BOOL started = CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr,
                                  nullptr, &startup, &process);
    CloseHandle(writeEnd);
    std::string output;
    if (started) {
        char chunk[512];
        DWORD count = 0;
        while (ReadFile(readEnd, chunk, sizeof chunk, &count, nullptr) && count > 0)
            output.append(chunk, count);
        WaitForSingleObject(process.hProcess, INFINITE);
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
    } else {
        output = "(not started)";
    }
    CloseHandle(readEnd);
    // The child's standard output is in text mode.
    output.erase(std::remove(output.begin(), output.end(), '\r'), output.end());
    return output;
}

// Sets variables for as long as it lives; unset ones are removed.
class ScopedEnvironment {
public:
    explicit ScopedEnvironment(const Environment& variables) {
        for (const auto& variable : variables) {
            names.push_back(variable.first);
            SetEnvironmentVariableA(variable.first.c_str(), variable.second.c_str());
        }
    }
    ~ScopedEnvironment() {
        for (const std::string& name : names)
            SetEnvironmentVariableA(name.c_str(), nullptr);
    }
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    std::vector<std::string> names;
};

// One callback as the program saw it; the bytes of an input buffer are copied
// at once, as the buffer may be queued again.
struct Callback {
    UINT message = 0;
    DWORD_PTR param1 = 0;
    MIDIHDR* header = nullptr;
    DWORD flags = 0;
    DWORD bytesRecorded = 0;
    Bytes data;
    DWORD thread = 0;
};

class Callbacks {
public:
    void Add(UINT message, DWORD_PTR param1) {
        Callback callback;
        callback.message = message;
        callback.param1 = param1;
        callback.thread = GetCurrentThreadId();
        if (message == MOM_DONE || message == MIM_LONGDATA) {
            callback.header = reinterpret_cast<MIDIHDR*>(param1);
            callback.flags = callback.header->dwFlags;
            callback.bytesRecorded = callback.header->dwBytesRecorded;
            if (message == MIM_LONGDATA)
                callback.data.assign(callback.header->lpData,
                                     callback.header->lpData + callback.bytesRecorded);
        }
        std::lock_guard<std::mutex> lock(mutex);
        all.push_back(std::move(callback));
        arrived.notify_all();
    }

    // The callbacks of one kind so far, after waiting up to kWaitMs for count.
    std::vector<Callback> WaitFor(UINT message, size_t count) {
        std::unique_lock<std::mutex> lock(mutex);
        arrived.wait_for(lock, std::chrono::milliseconds(kWaitMs),
                         [&] { return OfLocked(message).size() >= count; });
        return OfLocked(message);
    }

    std::vector<Callback> Of(UINT message) {
        std::lock_guard<std::mutex> lock(mutex);
        return OfLocked(message);
    }

private:
    std::vector<Callback> OfLocked(UINT message) const {
        std::vector<Callback> found;
        std::copy_if(all.begin(), all.end(), std::back_inserter(found),
                     [message](const Callback& callback) { return callback.message == message; });
        return found;
    }

    std::mutex mutex;
    std::condition_variable arrived;
    std::vector<Callback> all;
};

void CALLBACK OutputProc(HMIDIOUT, UINT message, DWORD_PTR instance, DWORD_PTR param1, DWORD_PTR) {
    reinterpret_cast<Callbacks*>(instance)->Add(message, param1);
}

void CALLBACK InputProc(HMIDIIN, UINT message, DWORD_PTR instance, DWORD_PTR param1, DWORD_PTR) {
    reinterpret_cast<Callbacks*>(instance)->Add(message, param1);
}

UINT FindDevice(const std::vector<std::string>& names, const std::string& name) {
    for (size_t id = 0; id < names.size(); ++id) {
        if (names[id] == name)
            return static_cast<UINT>(id);
    }
    ADD_FAILURE() << "no MIDI device '" << name
                  << "': is winekestrane.drv installed in this Wine prefix?";
    return static_cast<UINT>(-1);
}

UINT DeviceOutput() {
    return FindDevice(OutputNames(), DeviceSim::kDefaultName);
}

UINT DeviceInput() {
    return FindDevice(InputNames(), DeviceSim::kDefaultName);
}

// An output handle; reset and closed at the end.
class Output {
public:
    ~Output() { Close(); }

    MMRESULT Open(UINT id) {
        return midiOutOpen(&handle, id, reinterpret_cast<DWORD_PTR>(&OutputProc),
                           reinterpret_cast<DWORD_PTR>(&callbacks), CALLBACK_FUNCTION);
    }
    // Prepares a header for the bytes and sends it; the header stays queued
    // until the driver is done.
    MMRESULT SendLong(const Bytes& bytes) {
        messages.push_back(std::make_unique<Message>());
        Message& message = *messages.back();
        message.bytes = bytes;
        message.header.lpData = reinterpret_cast<LPSTR>(message.bytes.data());
        message.header.dwBufferLength = static_cast<DWORD>(message.bytes.size());
        MMRESULT prepared = midiOutPrepareHeader(handle, &message.header, sizeof message.header);
        if (prepared != MMSYSERR_NOERROR)
            return prepared;
        return midiOutLongMsg(handle, &message.header, sizeof message.header);
    }
    MIDIHDR& LastHeader() { return messages.back()->header; }
    MMRESULT Unprepare(MIDIHDR& header) {
        return midiOutUnprepareHeader(handle, &header, sizeof header);
    }
    MMRESULT Close() {
        if (!handle)
            return MMSYSERR_NOERROR;
        midiOutReset(handle);
        for (auto& message : messages)
            Unprepare(message->header);
        MMRESULT result = midiOutClose(handle);
        handle = nullptr;
        messages.clear();
        return result;
    }

    HMIDIOUT handle = nullptr;
    Callbacks callbacks;

private:
    struct Message {
        Bytes bytes;
        MIDIHDR header = {};
    };
    std::vector<std::unique_ptr<Message>> messages;
};

// An input handle with its buffers; reset and closed at the end.
class Input {
public:
    static constexpr DWORD kBufferSize = 256;

    explicit Input(size_t bufferCount = 10) : buffers(bufferCount), headers(bufferCount) {}
    ~Input() { Close(); }

    MMRESULT Open(UINT id) {
        return midiInOpen(&handle, id, reinterpret_cast<DWORD_PTR>(&InputProc),
                          reinterpret_cast<DWORD_PTR>(&callbacks),
                          CALLBACK_FUNCTION | MIDI_IO_STATUS);
    }
    // Prepares and queues every buffer, then starts.
    void QueueAndStart() {
        for (size_t i = 0; i < buffers.size(); ++i) {
            headers[i] = MIDIHDR{};
            headers[i].lpData = buffers[i].data();
            headers[i].dwBufferLength = kBufferSize;
            ASSERT_EQ(midiInPrepareHeader(handle, &headers[i], sizeof(MIDIHDR)), MMSYSERR_NOERROR);
            ASSERT_EQ(midiInAddBuffer(handle, &headers[i], sizeof(MIDIHDR)), MMSYSERR_NOERROR);
        }
        ASSERT_EQ(midiInStart(handle), MMSYSERR_NOERROR);
    }
    // The bytes of every buffer returned so far, in order.
    Bytes Received() {
        Bytes bytes;
        for (const Callback& callback : callbacks.Of(MIM_LONGDATA))
            bytes.insert(bytes.end(), callback.data.begin(), callback.data.end());
        return bytes;
    }
    MMRESULT Close() {
        if (!handle)
            return MMSYSERR_NOERROR;
        midiInReset(handle);
        for (MIDIHDR& header : headers)
            midiInUnprepareHeader(handle, &header, sizeof header);
        MMRESULT result = midiInClose(handle);
        handle = nullptr;
        return result;
    }

    HMIDIIN handle = nullptr;
    Callbacks callbacks;
    std::vector<std::array<char, kBufferSize>> buffers;
    std::vector<MIDIHDR> headers;
};

class DriverTest : public testing::Test {
protected:
    void SetUp() override {
        for (const char* name : kDeviceVariables)
            SetEnvironmentVariableA(name, nullptr);
        const testing::TestInfo* info = testing::UnitTest::GetInstance()->current_test_info();
        session = std::string(info->test_suite_name()) + "." + info->name();
        recordPath = TempPath("record.bin");
    }
    void TearDown() override {
        for (const char* name : kDeviceVariables)
            SetEnvironmentVariableA(name, nullptr);
        DeleteFileA(recordPath.c_str());
    }

    // A fresh device with the record file and these settings.
    std::unique_ptr<ScopedEnvironment> Configure(Environment variables = {}) {
        variables.emplace_back("KESTRANE_SIM_SESSION", session + std::to_string(++devices));
        variables.emplace_back("KESTRANE_SIM_RECORD", recordPath);
        return std::make_unique<ScopedEnvironment>(variables);
    }
    Bytes Record() const { return ReadFileBytes(recordPath); }

    std::string session;
    std::string recordPath;
    int devices = 0;
};

Bytes SysEx(size_t dataBytes, uint8_t first = 0x01) {
    Bytes message = {0xF0};
    for (size_t i = 0; i < dataBytes; ++i)
        message.push_back(static_cast<uint8_t>((first + i) & 0x7F));
    message.push_back(0xF7);
    return message;
}

// ---- The device lists ----

struct LayoutCase {
    const char* name;
    Environment variables;
    std::vector<std::string> outputs;
    std::vector<std::string> inputs;
};

std::string ListText(const std::vector<std::string>& outputs,
                     const std::vector<std::string>& inputs) {
    std::string text;
    for (const std::string& name : outputs)
        text += "out:" + name + "\n";
    for (const std::string& name : inputs)
        text += "in:" + name + "\n";
    return text;
}

TEST(DriverLayout, ListsTheDeviceAmongTheConfiguredDecoys) {
    const std::string gs = "Microsoft GS Wavetable Synth";
    const std::vector<LayoutCase> cases = {
        {"device alone", {}, {"Kestrane Virtual Device"}, {"Kestrane Virtual Device"}},
        {"decoys before it in both lists",
         {{"KESTRANE_SIM_DECOYS", gs + "$USB MIDI"}},
         {gs, "USB MIDI", "Kestrane Virtual Device"},
         {gs, "USB MIDI", "Kestrane Virtual Device"}},
        {"each list its own, device placed by *, names numbered",
         {{"KESTRANE_SIM_DECOYS", "ignored"},
          {"KESTRANE_SIM_OUT_DECOYS", gs + "$*$Other Out"},
          {"KESTRANE_SIM_IN_DECOYS", "Other In"},
          {"KESTRANE_SIM_OUT_NAME", "Foo Out"},
          {"KESTRANE_SIM_IN_NAME", "Foo In"},
          {"KESTRANE_SIM_NUMBER", "2"}},
         {gs, "2- Foo Out", "Other Out"},
         {"Other In", "2- Foo In"}},
        {"one name for both, cut to what the capability record holds",
         {{"KESTRANE_SIM_NAME", "A Device Name Longer Than Thirty-One Bytes"}},
         {"A Device Name Longer Than Thirt"},
         {"A Device Name Longer Than Thirt"}},
    };
    for (const LayoutCase& layout : cases) {
        Environment unset;
        std::transform(std::begin(kLayoutVariables), std::end(kLayoutVariables),
                       std::back_inserter(unset),
                       [](const char* name) { return std::make_pair(std::string(name), ""); });
        ScopedEnvironment cleared(unset);
        ScopedEnvironment set(layout.variables);
        EXPECT_EQ(RunSelf(kPrintListsArgument), ListText(layout.outputs, layout.inputs))
            << layout.name;
    }
}

// ---- Output ----

TEST_F(DriverTest, LongAndShortMessagesReachTheDeviceExactly) {
    auto device = Configure();
    Output output;
    ASSERT_EQ(output.Open(DeviceOutput()), MMSYSERR_NOERROR);
    EXPECT_EQ(output.callbacks.Of(MOM_OPEN).size(), 1u);

    const Bytes first = SysEx(300);
    const Bytes unframed = {0x01, 0x02, 0x03}; // a long message is sent as it is
    ASSERT_EQ(output.SendLong(first), MMSYSERR_NOERROR);
    MIDIHDR& firstHeader = output.LastHeader();
    ASSERT_EQ(output.SendLong(unframed), MMSYSERR_NOERROR);
    ASSERT_EQ(midiOutShortMsg(output.handle, 0x00403C90), MMSYSERR_NOERROR); // note on
    ASSERT_EQ(midiOutShortMsg(output.handle, 0x000005C1), MMSYSERR_NOERROR); // program change

    std::vector<Callback> done = output.callbacks.WaitFor(MOM_DONE, 2);
    ASSERT_EQ(done.size(), 2u);
    EXPECT_EQ(done[0].header, &firstHeader);
    EXPECT_EQ(done[0].flags & (MHDR_DONE | MHDR_INQUEUE | MHDR_PREPARED),
              static_cast<DWORD>(MHDR_DONE | MHDR_PREPARED));
    EXPECT_EQ(output.Unprepare(firstHeader), MMSYSERR_NOERROR);
    EXPECT_EQ(firstHeader.dwFlags & MHDR_PREPARED, 0u);

    Bytes expected = first;
    expected.insert(expected.end(), unframed.begin(), unframed.end());
    expected.insert(expected.end(), {0x90, 0x3C, 0x40, 0xC1, 0x05});
    EXPECT_EQ(Hex(Record()), Hex(expected));

    EXPECT_EQ(output.Close(), MMSYSERR_NOERROR);
    EXPECT_EQ(output.callbacks.Of(MOM_CLOSE).size(), 1u);
}

TEST_F(DriverTest, HeadersMustBePreparedAndAreNotQueuedTwice) {
    auto device = Configure({{"KESTRANE_SIM_BAUD", "31250"}});
    Output output;
    ASSERT_EQ(output.Open(DeviceOutput()), MMSYSERR_NOERROR);
    Bytes bytes = SysEx(10);
    MIDIHDR header = {};
    header.lpData = reinterpret_cast<LPSTR>(bytes.data());
    header.dwBufferLength = static_cast<DWORD>(bytes.size());
    EXPECT_EQ(midiOutLongMsg(output.handle, &header, sizeof header), MIDIERR_UNPREPARED);

    ASSERT_EQ(midiOutPrepareHeader(output.handle, &header, sizeof header), MMSYSERR_NOERROR);
    EXPECT_NE(header.dwFlags & MHDR_PREPARED, 0u);
    ASSERT_EQ(midiOutLongMsg(output.handle, &header, sizeof header), MMSYSERR_NOERROR);
    EXPECT_EQ(midiOutLongMsg(output.handle, &header, sizeof header), MIDIERR_STILLPLAYING);
    ASSERT_EQ(output.callbacks.WaitFor(MOM_DONE, 1).size(), 1u);
    EXPECT_EQ(midiOutUnprepareHeader(output.handle, &header, sizeof header), MMSYSERR_NOERROR);
    EXPECT_EQ(Hex(Record()), Hex(bytes));
}

TEST_F(DriverTest, AtWireSpeedAMessageStaysPlayingForItsBytesTime) {
    auto device = Configure({{"KESTRANE_SIM_BAUD", "31250"}}); // 320 us a byte
    Output output;
    ASSERT_EQ(output.Open(DeviceOutput()), MMSYSERR_NOERROR);
    const Bytes message = SysEx(98); // 100 bytes: 32 ms on the wire
    const auto sent = std::chrono::steady_clock::now();
    ASSERT_EQ(output.SendLong(message), MMSYSERR_NOERROR);
    MIDIHDR& header = output.LastHeader();
    EXPECT_EQ(output.Unprepare(header), MIDIERR_STILLPLAYING);
    EXPECT_TRUE(Record().empty()); // its last byte has not arrived yet

    ASSERT_EQ(output.callbacks.WaitFor(MOM_DONE, 1).size(), 1u);
    const auto elapsed = std::chrono::steady_clock::now() - sent;
    EXPECT_GE(elapsed, std::chrono::milliseconds(30));
    EXPECT_NE(output.callbacks.Of(MOM_DONE)[0].thread, GetCurrentThreadId());
    EXPECT_EQ(output.Unprepare(header), MMSYSERR_NOERROR);
    EXPECT_EQ(Hex(Record()), Hex(message));
}

TEST_F(DriverTest, ResetAtWireSpeedHandsBackWhatHasNotBeenPlayed) {
    auto device = Configure({{"KESTRANE_SIM_BAUD", "31250"}});
    Output output;
    ASSERT_EQ(output.Open(DeviceOutput()), MMSYSERR_NOERROR);
    ASSERT_EQ(output.SendLong(SysEx(2000)), MMSYSERR_NOERROR); // 0.64 s on the wire
    MIDIHDR& first = output.LastHeader();
    ASSERT_EQ(output.SendLong(SysEx(10)), MMSYSERR_NOERROR);
    MIDIHDR& second = output.LastHeader();

    ASSERT_EQ(midiOutReset(output.handle), MMSYSERR_NOERROR);
    std::vector<Callback> done = output.callbacks.Of(MOM_DONE);
    ASSERT_EQ(done.size(), 2u); // both returned before the reset returns
    EXPECT_EQ(done[0].header, &first);
    EXPECT_EQ(done[1].header, &second);
    for (const Callback& callback : done)
        EXPECT_EQ(callback.flags & (MHDR_DONE | MHDR_INQUEUE), static_cast<DWORD>(MHDR_DONE));
    EXPECT_EQ(output.Unprepare(first), MMSYSERR_NOERROR);
    EXPECT_EQ(output.Unprepare(second), MMSYSERR_NOERROR);
    EXPECT_EQ(output.Close(), MMSYSERR_NOERROR);
    EXPECT_TRUE(Record().empty());
}

// ---- Input ----

TEST_F(DriverTest, TheIdentityReplyArrivesInAQueuedBufferOnTheDriversThread) {
    auto device = Configure({{"KESTRANE_SIM_VERSION", "2.05"}});
    Output output;
    Input input;
    ASSERT_EQ(output.Open(DeviceOutput()), MMSYSERR_NOERROR);
    ASSERT_EQ(input.Open(DeviceInput()), MMSYSERR_NOERROR);
    EXPECT_EQ(input.callbacks.Of(MIM_OPEN).size(), 1u);
    input.QueueAndStart();

    ASSERT_EQ(output.SendLong(IdentityRequest()), MMSYSERR_NOERROR);
    std::vector<Callback> data = input.callbacks.WaitFor(MIM_LONGDATA, 1);
    ASSERT_EQ(data.size(), 1u);
    EXPECT_EQ(Hex(data[0].data), Hex(BuildIdentityReply(ParseIdentityVersion("2.05"))));
    EXPECT_EQ(data[0].header, &input.headers[0]);
    EXPECT_EQ(data[0].flags & (MHDR_DONE | MHDR_INQUEUE), static_cast<DWORD>(MHDR_DONE));
    EXPECT_NE(data[0].thread, GetCurrentThreadId());
    EXPECT_EQ(input.Close(), MMSYSERR_NOERROR);
    EXPECT_EQ(input.callbacks.Of(MIM_CLOSE).size(), 1u);
}

TEST_F(DriverTest, AMessageLongerThanABufferGoesOnInTheNextOnes) {
    Bytes longMessage = SysEx(600); // 602 bytes: 256 + 256 + 90
    const Bytes shortMessage = {0xF0, 0x42, 0xF7};
    auto device =
        Configure({{"KESTRANE_SIM_SEND", "0:" + Hex(longMessage) + "$0:" + Hex(shortMessage)}});
    Input input(4);
    ASSERT_EQ(input.Open(DeviceInput()), MMSYSERR_NOERROR);
    input.QueueAndStart();

    std::vector<Callback> data = input.callbacks.WaitFor(MIM_LONGDATA, 4);
    ASSERT_EQ(data.size(), 4u);
    const DWORD sizes[] = {256, 256, 90, 3}; // the next message starts a buffer of its own
    for (size_t i = 0; i < data.size(); ++i) {
        EXPECT_EQ(data[i].bytesRecorded, sizes[i]) << i;
        EXPECT_EQ(data[i].header, &input.headers[i]) << i;
    }
    Bytes expected = longMessage;
    expected.insert(expected.end(), shortMessage.begin(), shortMessage.end());
    EXPECT_EQ(Hex(input.Received()), Hex(expected));
}

TEST_F(DriverTest, ResetHandsBackTheQueuedBuffersAndStoppedInputIsLost) {
    auto device = Configure();
    Output output;
    Input input(3);
    ASSERT_EQ(output.Open(DeviceOutput()), MMSYSERR_NOERROR);
    ASSERT_EQ(input.Open(DeviceInput()), MMSYSERR_NOERROR);
    input.QueueAndStart();
    ASSERT_EQ(output.SendLong(IdentityRequest()), MMSYSERR_NOERROR);
    ASSERT_EQ(input.callbacks.WaitFor(MIM_LONGDATA, 1).size(), 1u);

    // Stopped, the input takes nothing: the next reply is lost and the two
    // buffers left stay queued until the reset.
    ASSERT_EQ(midiInStop(input.handle), MMSYSERR_NOERROR);
    ASSERT_EQ(output.SendLong(IdentityRequest()), MMSYSERR_NOERROR);
    Sleep(200); // the reply is due 20 ms after the request
    EXPECT_EQ(input.callbacks.Of(MIM_LONGDATA).size(), 1u);
    EXPECT_EQ(midiInUnprepareHeader(input.handle, &input.headers[1], sizeof(MIDIHDR)),
              MIDIERR_STILLPLAYING);

    ASSERT_EQ(midiInReset(input.handle), MMSYSERR_NOERROR);
    std::vector<Callback> data = input.callbacks.Of(MIM_LONGDATA);
    ASSERT_EQ(data.size(), 3u);
    for (size_t i = 1; i < 3; ++i) {
        EXPECT_EQ(data[i].header, &input.headers[i]);
        EXPECT_EQ(data[i].bytesRecorded, 0u);
        EXPECT_EQ(data[i].flags & (MHDR_DONE | MHDR_INQUEUE), static_cast<DWORD>(MHDR_DONE));
    }
    EXPECT_EQ(input.Close(), MMSYSERR_NOERROR);
}

TEST_F(DriverTest, CloseIsRefusedWhileBuffersAreQueuedAndTheInputStops) {
    auto device = Configure();
    Output output;
    ASSERT_EQ(output.Open(DeviceOutput()), MMSYSERR_NOERROR);
    {
        Input refused(2);
        ASSERT_EQ(refused.Open(DeviceInput()), MMSYSERR_NOERROR);
        refused.QueueAndStart();
        EXPECT_EQ(midiInClose(refused.handle), MIDIERR_STILLPLAYING);
        // Wine's winmm forgets the handle all the same; the driver stops
        // filling its buffers, so the program may free them.
        refused.handle = nullptr;
        Input next;
        ASSERT_EQ(next.Open(DeviceInput()), MMSYSERR_NOERROR);
        next.QueueAndStart();
        ASSERT_EQ(output.SendLong(IdentityRequest()), MMSYSERR_NOERROR);
        EXPECT_EQ(next.callbacks.WaitFor(MIM_LONGDATA, 1).size(), 1u);
        EXPECT_TRUE(refused.callbacks.Of(MIM_LONGDATA).empty());
        EXPECT_EQ(refused.headers[0].dwBytesRecorded, 0u);
    }
}

// ---- The emulated device behind the driver ----

TEST_F(DriverTest, TheDeviceAnswersPortionsOfItsUpdateAsItsScriptSays) {
    const std::string updatePath = TempPath("update.syx");
    const Bytes portion = SysEx(20);
    {
        std::ofstream file(updatePath, std::ios::binary);
        file.write(reinterpret_cast<const char*>(portion.data()),
                   static_cast<std::streamsize>(portion.size()));
    }
    std::ifstream file(updatePath, std::ios::binary);
    Update update(file);
    auto device = Configure({{"KESTRANE_SIM_UPDATE", updatePath}, {"KESTRANE_SIM_SCRIPT", "fail"}});
    Output output;
    Input input;
    ASSERT_EQ(output.Open(DeviceOutput()), MMSYSERR_NOERROR);
    ASSERT_EQ(input.Open(DeviceInput()), MMSYSERR_NOERROR);
    input.QueueAndStart();
    for (const Bytes& message : PortionWireImage(portion, update.GetPortSettings()))
        EXPECT_EQ(output.SendLong(message), MMSYSERR_NOERROR);
    ASSERT_EQ(input.callbacks.WaitFor(MIM_LONGDATA, 1).size(), 1u);
    EXPECT_EQ(Hex(input.Received()), Hex(BuildUpdateStatusMessage(kStatusFailed, 1)));
    DeleteFileA(updatePath.c_str());
}

TEST_F(DriverTest, ALateDeviceIsListedButOpensOnlyOnceItIsThere) {
    auto device = Configure({{"KESTRANE_SIM_APPEAR", "300"}});
    const auto created = std::chrono::steady_clock::now();
    Output output;
    Input input;
    EXPECT_EQ(output.Open(DeviceOutput()), MMSYSERR_ALLOCATED);
    EXPECT_EQ(input.Open(DeviceInput()), MMSYSERR_ALLOCATED);
    MMRESULT result = MMSYSERR_ALLOCATED;
    while (result == MMSYSERR_ALLOCATED &&
           std::chrono::steady_clock::now() - created < std::chrono::milliseconds(kWaitMs)) {
        Sleep(20);
        result = output.Open(DeviceOutput());
    }
    ASSERT_EQ(result, MMSYSERR_NOERROR);
    EXPECT_GE(std::chrono::steady_clock::now() - created, std::chrono::milliseconds(250));
    EXPECT_EQ(input.Open(DeviceInput()), MMSYSERR_NOERROR);
}

TEST_F(DriverTest, AnUnpluggedDeviceLeavesItsHandlesDeadUntilItComesBack) {
    const std::string updatePath = TempPath("unplug.syx");
    const Bytes portion = SysEx(20);
    {
        std::ofstream file(updatePath, std::ios::binary);
        file.write(reinterpret_cast<const char*>(portion.data()),
                   static_cast<std::streamsize>(portion.size()));
    }
    auto device =
        Configure({{"KESTRANE_SIM_UPDATE", updatePath}, {"KESTRANE_SIM_UNPLUG", "1:5:300"}});
    Output output;
    ASSERT_EQ(output.Open(DeviceOutput()), MMSYSERR_NOERROR);
    // Unplugged after its fifth byte: the message is cut short, and the send
    // says so.
    ASSERT_EQ(output.SendLong(portion), MMSYSERR_NODRIVER);
    MIDIOUTCAPSA caps = {};
    EXPECT_EQ(midiOutGetDevCapsA(reinterpret_cast<UINT_PTR>(output.handle), &caps, sizeof caps),
              MMSYSERR_NODRIVER);
    EXPECT_EQ(output.SendLong(portion), MMSYSERR_NODRIVER);
    EXPECT_EQ(output.Close(), MMSYSERR_NOERROR);
    EXPECT_EQ(output.Open(DeviceOutput()), MMSYSERR_ALLOCATED);

    MMRESULT result = MMSYSERR_ALLOCATED;
    const auto unplugged = std::chrono::steady_clock::now();
    while (result == MMSYSERR_ALLOCATED &&
           std::chrono::steady_clock::now() - unplugged < std::chrono::milliseconds(kWaitMs)) {
        Sleep(20);
        result = output.Open(DeviceOutput());
    }
    ASSERT_EQ(result, MMSYSERR_NOERROR);
    EXPECT_EQ(midiOutGetDevCapsA(reinterpret_cast<UINT_PTR>(output.handle), &caps, sizeof caps),
              MMSYSERR_NOERROR);
    Bytes expected(portion.begin(), portion.begin() + 5);
    EXPECT_EQ(Hex(Record()), Hex(expected));
    DeleteFileA(updatePath.c_str());
}

TEST_F(DriverTest, TheDeviceKeepsItsStateAcrossClosesUntilItsSettingsChange) {
    auto device = Configure();
    Output output;
    ASSERT_EQ(output.Open(DeviceOutput()), MMSYSERR_NOERROR);
    ASSERT_EQ(output.SendLong({0xF0, 0x01, 0xF7}), MMSYSERR_NOERROR);
    ASSERT_EQ(output.Close(), MMSYSERR_NOERROR);
    ASSERT_EQ(output.Open(DeviceOutput()), MMSYSERR_NOERROR);
    ASSERT_EQ(output.SendLong({0xF0, 0x02, 0xF7}), MMSYSERR_NOERROR);
    EXPECT_EQ(Hex(Record()), Hex({0xF0, 0x01, 0xF7, 0xF0, 0x02, 0xF7}));

    // Settings changed while a handle is open wait for the last one to close,
    // also when another handle opens meanwhile.
    auto changed = Configure();
    Input input;
    ASSERT_EQ(input.Open(DeviceInput()), MMSYSERR_NOERROR);
    ASSERT_EQ(input.Close(), MMSYSERR_NOERROR);
    ASSERT_EQ(output.SendLong({0xF0, 0x03, 0xF7}), MMSYSERR_NOERROR);
    EXPECT_EQ(Hex(Record()), Hex({0xF0, 0x01, 0xF7, 0xF0, 0x02, 0xF7, 0xF0, 0x03, 0xF7}));
    ASSERT_EQ(output.Close(), MMSYSERR_NOERROR);
    ASSERT_EQ(output.Open(DeviceOutput()), MMSYSERR_NOERROR); // a fresh device, a new record
    ASSERT_EQ(output.SendLong({0xF0, 0x04, 0xF7}), MMSYSERR_NOERROR);
    EXPECT_EQ(Hex(Record()), Hex({0xF0, 0x04, 0xF7}));
}

TEST_F(DriverTest, MalformedSettingsFailTheOpen) {
    const Environment cases[] = {
        {{"KESTRANE_SIM_SCRIPT", "accept,maybe"}},
        {{"KESTRANE_SIM_VERSION", "1.5.0"}},
        {{"KESTRANE_SIM_APPEAR", "soon"}},
        {{"KESTRANE_SIM_UNPLUG", "0:10:100"}},
        {{"KESTRANE_SIM_BAUD", "fast"}},
        {{"KESTRANE_SIM_UPDATE", TempPath("no-such-update.upd")}},
        {{"KESTRANE_SIM_LONG_LIMIT", "2k"}},
        {{"KESTRANE_SIM_DONE_DELAY", "-5"}},
    };
    for (const Environment& variables : cases) {
        auto device = Configure(variables);
        Output output;
        EXPECT_EQ(output.Open(DeviceOutput()), MMSYSERR_ERROR) << variables[0].first;
    }
    {
        auto device = Configure({{"KESTRANE_SIM_IN_PIECE", "six"}});
        Input input;
        EXPECT_EQ(input.Open(DeviceInput()), MMSYSERR_ERROR) << "KESTRANE_SIM_IN_PIECE";
    }
    auto device = Configure();
    Output output;
    EXPECT_EQ(output.Open(DeviceOutput()), MMSYSERR_NOERROR);
}

// ---- Habits of other MIDI stacks ----

TEST_F(DriverTest, LongMessagesOverTheLimitAreRefusedAndNeverReachTheDevice) {
    auto device = Configure({{"KESTRANE_SIM_LONG_LIMIT", "8"}});
    Output output;
    ASSERT_EQ(output.Open(DeviceOutput()), MMSYSERR_NOERROR);
    const Bytes atLimit = SysEx(6);
    ASSERT_EQ(output.SendLong(atLimit), MMSYSERR_NOERROR);
    EXPECT_EQ(output.SendLong(SysEx(7)), MMSYSERR_INVALPARAM);
    MIDIHDR& refused = output.LastHeader();
    EXPECT_EQ(refused.dwFlags & (MHDR_DONE | MHDR_INQUEUE), 0u);
    EXPECT_EQ(output.Unprepare(refused), MMSYSERR_NOERROR);
    ASSERT_EQ(midiOutShortMsg(output.handle, 0x00403C90), MMSYSERR_NOERROR); // not limited

    EXPECT_EQ(output.callbacks.Of(MOM_DONE).size(), 1u);
    Bytes expected = atLimit;
    expected.insert(expected.end(), {0x90, 0x3C, 0x40});
    EXPECT_EQ(Hex(Record()), Hex(expected));
}

TEST_F(DriverTest, ALateDoneComesAfterTheMessageHasReachedTheDevice) {
    auto device = Configure({{"KESTRANE_SIM_DONE_DELAY", "3000"}});
    Output output;
    ASSERT_EQ(output.Open(DeviceOutput()), MMSYSERR_NOERROR);
    const Bytes message = SysEx(20);
    ASSERT_EQ(output.SendLong(message), MMSYSERR_NOERROR);
    MIDIHDR& header = output.LastHeader();
    // Delivered, but not yet reported done.
    const ULONGLONG start = GetTickCount64();
    while (Record() != message && GetTickCount64() - start < kWaitMs)
        Sleep(10);
    ASSERT_EQ(Hex(Record()), Hex(message));
    EXPECT_EQ(header.dwFlags & MHDR_DONE, 0u);
    EXPECT_EQ(output.Unprepare(header), MIDIERR_STILLPLAYING);
    EXPECT_TRUE(output.callbacks.Of(MOM_DONE).empty());

    std::vector<Callback> done = output.callbacks.WaitFor(MOM_DONE, 1);
    ASSERT_EQ(done.size(), 1u);
    EXPECT_EQ(done[0].header, &header);
    EXPECT_EQ(done[0].flags & (MHDR_DONE | MHDR_INQUEUE), static_cast<DWORD>(MHDR_DONE));
    EXPECT_EQ(output.Unprepare(header), MMSYSERR_NOERROR);
}

TEST_F(DriverTest, InputInPiecesGivesEachPieceABufferOfItsOwn) {
    const Bytes message = SysEx(18); // 20 bytes: 6 + 6 + 6 + 2
    auto device =
        Configure({{"KESTRANE_SIM_IN_PIECE", "6"}, {"KESTRANE_SIM_SEND", "0:" + Hex(message)}});
    Input input(5);
    ASSERT_EQ(input.Open(DeviceInput()), MMSYSERR_NOERROR);
    input.QueueAndStart();

    std::vector<Callback> data = input.callbacks.WaitFor(MIM_LONGDATA, 4);
    ASSERT_EQ(data.size(), 4u);
    const DWORD sizes[] = {6, 6, 6, 2};
    for (size_t i = 0; i < data.size(); ++i) {
        EXPECT_EQ(data[i].bytesRecorded, sizes[i]) << i;
        EXPECT_EQ(data[i].header, &input.headers[i]) << i;
    }
    EXPECT_EQ(Hex(input.Received()), Hex(message));
}

TEST_F(DriverTest, TheEchoReturnsWhatTheDeviceReceivesBeforeItsAnswer) {
    auto device = Configure({{"KESTRANE_SIM_ECHO", "1"}, {"KESTRANE_SIM_VERSION", "2.05"}});
    Output output;
    Input input;
    ASSERT_EQ(output.Open(DeviceOutput()), MMSYSERR_NOERROR);
    ASSERT_EQ(input.Open(DeviceInput()), MMSYSERR_NOERROR);
    input.QueueAndStart();

    ASSERT_EQ(midiOutShortMsg(output.handle, 0x00403C90), MMSYSERR_NOERROR);
    ASSERT_EQ(output.SendLong(IdentityRequest()), MMSYSERR_NOERROR);
    std::vector<Callback> data = input.callbacks.WaitFor(MIM_LONGDATA, 2);
    ASSERT_EQ(data.size(), 2u);
    EXPECT_EQ(Hex(data[0].data), Hex(IdentityRequest()));
    EXPECT_EQ(Hex(data[1].data), Hex(BuildIdentityReply(ParseIdentityVersion("2.05"))));
    std::vector<Callback> shortData = input.callbacks.Of(MIM_DATA);
    ASSERT_EQ(shortData.size(), 1u);
    EXPECT_EQ(shortData[0].param1, 0x00403C90u);

    Bytes expected = {0x90, 0x3C, 0x40};
    expected.insert(expected.end(), IdentityRequest().begin(), IdentityRequest().end());
    EXPECT_EQ(Hex(Record()), Hex(expected));
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::string(argv[1]) == kPrintListsArgument)
        return PrintDeviceLists();
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
