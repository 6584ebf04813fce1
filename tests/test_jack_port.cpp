// The RtMidi port in this process against the emulated device behind
// virtual ports on a JACK server: a block too big for one RtMidi message
// arrives whole, Request really asks (past its own request echoed by a MIDI
// thru), a device that vanishes shows as not connected until it is back, and
// a device that another Kestrane sends to is busy. Against a JACK server of
// the test's own: a server that goes away leaves the port unconnected and
// its blocks unsent, and a connection that does not come in force in time
// is no connection. And against jack_midi_dump: every JACK event the port
// writes holds one message.
//
// CTest starts the JACK server (tools/env/jack-env.sh, the dummy back end) and
// names it in JACK_DEFAULT_SERVER; without it the tests are skipped.
#include "devicesim.h"
#include "midireach.h"
#include "ownports.h"
#include "portnames.h"
#include "rtmidiport.h"
#include "sendupdate.h"
#include "simmessages.h"
#include "testsupport.h"
#include "virtualdevice.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <numeric>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <jack/jack.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Generous for a loaded machine; nothing depends on it being tight.
constexpr int64_t kArrivalLimitMs = 60000;

// The emulated device as a JACK device, its messages handed over by a
// thread of its own, as kestrane-cli sim does.
class JackDevice {
public:
    JackDevice(DeviceSim& device, const std::string& name)
        : ports(std::make_unique<VirtualMidiDevice>(device, MidiSystem::Jack, name)), pump([this] {
              while (!stopping)
                  ports->Pump(10);
          }) {}
    ~JackDevice() {
        stopping = true;
        pump.join();
    }
    JackDevice(const JackDevice&) = delete;
    JackDevice& operator=(const JackDevice&) = delete;

private:
    std::unique_ptr<VirtualMidiDevice> ports;
    std::atomic<bool> stopping{false};
    std::thread pump;
};

std::vector<uint8_t> Message(uint8_t fill, size_t size) {
    std::vector<uint8_t> message(size, fill);
    message.front() = 0xF0;
    message.back() = 0xF7;
    return message;
}

// Polls until the condition holds or the limit has passed.
template <class Condition> bool Eventually(Condition condition) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(kArrivalLimitMs);
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

// A plain JACK client of the test's own, to change the graph as another
// program would: connect ports, hold an output of its own, and, while
// `Hold` is on, keep every process cycle from ending (the server runs in
// synchronous mode and waits for it), so that no change of the graph comes
// in force.
class TestJackClient {
public:
    explicit TestJackClient(const std::string& name) {
        client = jack_client_open(name.c_str(), JackNoStartServer, nullptr);
        if (client != nullptr) {
            jack_set_process_callback(client, &TestJackClient::Process, this);
            active = jack_activate(client) == 0;
        }
    }
    ~TestJackClient() {
        holding = false;
        if (client != nullptr)
            jack_client_close(client);
    }
    TestJackClient(const TestJackClient&) = delete;
    TestJackClient& operator=(const TestJackClient&) = delete;

    bool Active() const { return active; }
    // Registers an output; its full name, or empty.
    std::string AddOutput(const std::string& portName) {
        jack_port_t* port = jack_port_register(client, portName.c_str(), JACK_DEFAULT_MIDI_TYPE,
                                               JackPortIsOutput, 0);
        return port != nullptr ? jack_port_name(port) : "";
    }
    // The full name of the one port whose port part is portName, or empty.
    std::string FullName(const std::string& portName) {
        std::string found;
        if (const char** names = jack_get_ports(client, nullptr, JACK_DEFAULT_MIDI_TYPE, 0)) {
            for (const char** name = names; *name != nullptr; ++name) {
                const std::string fullName = *name;
                const size_t colon = fullName.find(':');
                if (colon != std::string::npos && fullName.substr(colon + 1) == portName)
                    found = fullName;
            }
            jack_free(names);
        }
        return found;
    }
    bool Connect(const std::string& from, const std::string& to) {
        return jack_connect(client, from.c_str(), to.c_str()) == 0;
    }
    bool Disconnect(const std::string& from, const std::string& to) {
        return jack_disconnect(client, from.c_str(), to.c_str()) == 0;
    }
    // Whether the connection is in the graph that the server runs.
    bool InForce(const std::string& from, const std::string& to) {
        const jack_port_t* port = jack_port_by_name(client, from.c_str());
        return port != nullptr && jack_port_connected_to(port, to.c_str());
    }
    // Holds the process cycles from the next one on; true once one is held.
    bool Hold() {
        holding = true;
        return Eventually([this] { return held.load(); });
    }
    void Release() { holding = false; }

private:
    static int Process(jack_nframes_t, void* context) {
        TestJackClient* self = static_cast<TestJackClient*>(context);
        while (self->holding) {
            self->held = true;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return 0;
    }

    jack_client_t* client = nullptr;
    bool active = false;
    std::atomic<bool> holding{false};
    std::atomic<bool> held{false};
};

// A JACK server of the test's own (the dummy back end, synchronous, as the
// tests' one, but with clients allowed to hold a cycle for a minute), which
// the test may stop and start again, named after the tests' server and the
// test's `suffix`. While it lives, JACK_DEFAULT_SERVER names it. It is
// stopped when the object goes, and with this process if that dies first,
// always so that it can end cleanly: a JACK server that is killed keeps its
// place among the few that JACK lets run until one of its name starts again.
class PrivateJackServer {
public:
    explicit PrivateJackServer(const std::string& suffix)
        : previousServer(std::getenv("JACK_DEFAULT_SERVER")), name(previousServer + "-" + suffix),
          logPath((std::filesystem::temp_directory_path() / (name + ".log")).string()) {
        setenv("JACK_DEFAULT_SERVER", name.c_str(), 1);
    }
    ~PrivateJackServer() {
        Stop();
        setenv("JACK_DEFAULT_SERVER", previousServer.c_str(), 1);
        std::error_code ignored;
        std::filesystem::remove(logPath, ignored);
    }
    PrivateJackServer(const PrivateJackServer&) = delete;
    PrivateJackServer& operator=(const PrivateJackServer&) = delete;

    // Starts it and waits until a client can open; false when it did not.
    bool Start() {
        const std::vector<std::string> args = {"jackd", "-n",    name,  "--no-realtime", "--sync",
                                               "-t",    "60000", "-d",  "dummy",         "-r",
                                               "48000", "-p",    "1024"};
        std::vector<char*> argv(args.size() + 1, nullptr);
        std::transform(args.begin(), args.end(), argv.begin(),
                       [](const std::string& arg) { return const_cast<char*>(arg.c_str()); });
        const pid_t parent = getpid();
        pid = fork();
        if (pid == 0) {
            prctl(PR_SET_PDEATHSIG, SIGTERM);
            if (getppid() != parent)
                _exit(127);
            const int in = open("/dev/null", O_RDONLY);
            const int out = open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
            if (in < 0 || out < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(out, 2) < 0)
                _exit(127);
            execvp(argv[0], argv.data());
            _exit(127);
        }
        return pid > 0 && Eventually([this] {
                   if (waitpid(pid, nullptr, WNOHANG) != 0)
                       return true; // ended: the check below fails
                   jack_client_t* probe =
                       jack_client_open("kestrane-probe", JackNoStartServer, nullptr);
                   if (probe != nullptr)
                       jack_client_close(probe);
                   return probe != nullptr;
               }) &&
               kill(pid, 0) == 0;
    }
    // Ends it as a server ends when it is shut down, and waits for it.
    void Stop() {
        if (pid <= 0)
            return;
        kill(pid, SIGTERM);
        if (!Eventually([this] { return waitpid(pid, nullptr, WNOHANG) != 0; })) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        pid = -1;
    }
    std::string Log() const { return ReadFile(logPath); }

private:
    static std::string ReadFile(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    const std::string previousServer; // the tests' server, as SetUp has found it
    const std::string name;
    const std::string logPath;
    pid_t pid = -1;
};

class JackPortTest : public testing::Test {
protected:
    void SetUp() override {
        if (std::getenv("JACK_DEFAULT_SERVER") == nullptr)
            GTEST_SKIP() << "needs the JACK server that CTest starts (tools/env/jack-env.sh)";
        ASSERT_EQ(MidiSystemProblem(MidiSystem::Jack), "");
        name = "Jack Port " + std::to_string(static_cast<long>(getpid()));
        settings = defaultPortSettings;
        settings.names = {name};
        settings.delay = 0;
        settings.unprepdelay = 0;
    }

    std::string name;
    PortSettings settings;
};

TEST_F(JackPortTest, BlockTooBigForOneMessageArrivesWhole) {
    // No maximum: the whole message is one chunk, bigger than the largest
    // message RtMidi passes on.
    settings.max = -1;
    const std::vector<uint8_t> block = Message(0x15, 20000);
    LogCapture log; // before the threads that log, and gone only after them
    DeviceSim device({block}, settings);
    device.SetPortNames(name, name);
    JackDevice jack(device, name);

    RtMidiPort port(settings, MidiSystem::Jack);
    ASSERT_TRUE(port.IsConnected());
    port.Send(block.data(), static_cast<uint32_t>(block.size()));
    EXPECT_EQ(port.TakeSendFailures(), 0u);
    EXPECT_TRUE(log.Contains("20000 bytes in 2 pieces")) << log.Text();

    ASSERT_TRUE(Eventually([&device] { return device.GetExpectedPortion() == 1; }))
        << device.GetReceivedBytes().size() << " bytes arrived";
    EXPECT_EQ(device.GetReceivedBytes(), block);
    EXPECT_TRUE(device.GetPortionReports()[0].matched);
    // The device's answer comes back through the port's input.
    EXPECT_EQ(GetUpdateStatus(port, kArrivalLimitMs), Accepted);
}

TEST_F(JackPortTest, RequestAsksTheDeviceAndWaitsForItsAnswer) {
    DeviceSim device({Message(0x01, 8)}, settings);
    device.SetPortNames(name, name);
    device.SetFirmwareVersion("1.23");
    JackDevice jack(device, name);

    RtMidiPort port(settings, MidiSystem::Jack);
    const std::vector<uint8_t>& request = IdentityRequest();
    // A closed port connects for the request, as after the sender's last
    // portion.
    EXPECT_EQ(port.Request(kArrivalLimitMs, request.data(), static_cast<uint32_t>(request.size())),
              BuildIdentityReply(ParseIdentityVersion("1.23")));
    EXPECT_EQ(device.GetIdentityRequestCount(), 1);

    device.SetIdentityEnabled(false);
    EXPECT_TRUE(port.Request(500, request.data(), static_cast<uint32_t>(request.size())).empty());
    EXPECT_EQ(device.GetIdentityRequestCount(), 2);
}

TEST_F(JackPortTest, VanishedDeviceIsNotConnectedUntilItIsBack) {
    LogCapture log; // before the threads that log, and gone only after them
    DeviceSim device({Message(0x01, 8), Message(0x02, 8)}, settings);
    device.SetPortNames(name, name);
    RtMidiPort port(settings, MidiSystem::Jack);
    {
        JackDevice jack(device, name);
        ASSERT_TRUE(port.IsConnected());
        const std::vector<uint8_t> first = Message(0x01, 8);
        port.Send(first.data() + 1, 6); // framed by the port
        ASSERT_TRUE(Eventually([&device] { return device.GetExpectedPortion() == 1; }));
    }
    EXPECT_FALSE(port.IsConnected());
    EXPECT_TRUE(log.Contains("is gone")) << log.Text();
    const std::vector<uint8_t> second = Message(0x02, 8);
    port.Send(second.data(), static_cast<uint32_t>(second.size()));
    EXPECT_EQ(port.TakeSendFailures(), 1u);

    // As the sender does: disconnect, and the next question looks again.
    port.Disconnect();
    JackDevice back(device, name);
    ASSERT_TRUE(port.IsConnected()) << log.Text();
    port.Send(second.data(), static_cast<uint32_t>(second.size()));
    EXPECT_EQ(port.TakeSendFailures(), 0u);
    ASSERT_TRUE(Eventually([&device] { return device.GetExpectedPortion() == 2; }));
    EXPECT_TRUE(device.GetPortionReports()[1].matched);
}

TEST_F(JackPortTest, IdentityRequestEchoedByAThruIsNotItsReply) {
    LogCapture log; // before the threads that log, and gone only after them
    DeviceSim device({Message(0x01, 8)}, settings);
    device.SetPortNames(name, name);
    device.SetFirmwareVersion("1.23");
    JackDevice jack(device, name);
    RtMidiPort port(settings, MidiSystem::Jack);
    ASSERT_TRUE(port.IsConnected());

    // A MIDI thru: whatever the port sends comes back to its own input too,
    // before the device's answer.
    TestJackClient thru("Thru " + std::to_string(static_cast<long>(getpid())));
    ASSERT_TRUE(thru.Active());
    const std::string out = thru.FullName(OwnPortName("out"));
    const std::string in = thru.FullName(OwnPortName("in"));
    ASSERT_TRUE(thru.Connect(out, in)) << out << " " << in;
    ASSERT_TRUE(Eventually([&] { return thru.InForce(out, in); }));

    const std::vector<uint8_t>& request = IdentityRequest();
    EXPECT_EQ(port.Request(kArrivalLimitMs, request.data(), static_cast<uint32_t>(request.size())),
              BuildIdentityReply(ParseIdentityVersion("1.23")))
        << log.Text();
    EXPECT_EQ(device.GetIdentityRequestCount(), 1);
    EXPECT_TRUE(log.Contains("not an Identity Reply, passed over")) << log.Text();
}

TEST_F(JackPortTest, DeviceThatAnotherKestraneSendsToIsBusy) {
    LogCapture log; // before the threads that log, and gone only after them
    DeviceSim device({Message(0x01, 8)}, settings);
    device.SetPortNames(name, name);
    JackDevice jack(device, name);

    // Another Kestrane process's output, connected to the device's input.
    TestJackClient other("Other Kestrane " + std::to_string(static_cast<long>(getpid())));
    ASSERT_TRUE(other.Active());
    const std::string otherOutput = other.AddOutput("kestrane 99999999 out");
    const std::vector<std::string> outputs = ReadMidiPorts(MidiSystem::Jack).outputs;
    const int index = FindMidiPort(outputs, settings.names, {});
    ASSERT_NE(index, kNoDevice);
    const std::string deviceInput = outputs[index];
    ASSERT_TRUE(other.Connect(otherOutput, deviceInput)) << otherOutput << " to " << deviceInput;
    ASSERT_TRUE(Eventually([&] { return other.InForce(otherOutput, deviceInput); }));

    RtMidiPort port(settings, MidiSystem::Jack);
    EXPECT_FALSE(port.IsConnected());
    EXPECT_TRUE(log.Contains("is being updated by another Kestrane")) << log.Text();
    const std::vector<uint8_t> block = Message(0x01, 8);
    port.Send(block.data() + 1, 6);
    EXPECT_EQ(port.TakeSendFailures(), 1u);
    EXPECT_EQ(device.GetReceivedBytes().size(), 0u);

    // Once the other one has let go, the device is this port's.
    ASSERT_TRUE(other.Disconnect(otherOutput, deviceInput));
    ASSERT_TRUE(Eventually([&] { return port.IsConnected(); }));
    port.Send(block.data() + 1, 6);
    EXPECT_EQ(port.TakeSendFailures(), 0u);
    ASSERT_TRUE(Eventually([&device] { return device.GetExpectedPortion() == 1; }));
}

TEST_F(JackPortTest, ServerThatGoesAwayLeavesThePortUnconnectedUntilItIsBack) {
    PrivateJackServer server("gone");
    ASSERT_TRUE(server.Start()) << server.Log();
    LogCapture log; // before the threads that log, and gone only after them
    DeviceSim device({Message(0x01, 8), Message(0x02, 8)}, settings);
    device.SetPortNames(name, name);
    RtMidiPort port(settings, MidiSystem::Jack);
    auto jack = std::make_unique<JackDevice>(device, name);
    ASSERT_TRUE(port.IsConnected());
    const std::vector<uint8_t> first = Message(0x01, 8);
    port.Send(first.data() + 1, 6);
    ASSERT_TRUE(Eventually([&device] { return device.GetExpectedPortion() == 1; }));
    EXPECT_EQ(port.TakeSendFailures(), 0u);

    // RtMidi's clients go on taking messages for a server that is gone.
    server.Stop();
    jack.reset();
    EXPECT_TRUE(Eventually([&port] { return !port.IsConnected(); }));
    EXPECT_TRUE(log.Contains("the JACK server has gone away")) << log.Text();
    const std::vector<uint8_t> second = Message(0x02, 8);
    port.Send(second.data() + 1, 6);
    EXPECT_EQ(port.TakeSendFailures(), 1u);

    // A server of the same name again, and the device on it: after a
    // Disconnect, as the sender does, the port connects to them.
    ASSERT_TRUE(server.Start()) << server.Log();
    jack = std::make_unique<JackDevice>(device, name);
    port.Disconnect();
    ASSERT_TRUE(port.IsConnected()) << log.Text();
    port.Send(second.data() + 1, 6);
    EXPECT_EQ(port.TakeSendFailures(), 0u);
    ASSERT_TRUE(Eventually([&device] { return device.GetExpectedPortion() == 2; }));
    EXPECT_TRUE(device.GetPortionReports()[1].matched);
}

TEST_F(JackPortTest, ConnectionNotInForceInTimeIsNotConnected) {
    PrivateJackServer server("held");
    ASSERT_TRUE(server.Start()) << server.Log();
    LogCapture log; // before the threads that log, and gone only after them
    DeviceSim device({Message(0x01, 8)}, settings);
    device.SetPortNames(name, name);
    JackDevice jack(device, name);
    RtMidiPort port(settings, MidiSystem::Jack);
    // The port's clients are made and kept for the next Connect.
    ASSERT_TRUE(port.IsConnected());
    port.Disconnect();

    {
        // No change of the graph comes in force while the cycles are held.
        TestJackClient holder("Holder " + std::to_string(static_cast<long>(getpid())));
        ASSERT_TRUE(holder.Active());
        ASSERT_TRUE(holder.Hold());
        EXPECT_FALSE(port.IsConnected());
        EXPECT_TRUE(log.Contains("did not come in force; not connected")) << log.Text();
        holder.Release();
    }
    // The sender disconnects and asks again.
    port.Disconnect();
    ASSERT_TRUE(port.IsConnected()) << log.Text();
    const std::vector<uint8_t> block = Message(0x01, 8);
    port.Send(block.data() + 1, 6);
    EXPECT_EQ(port.TakeSendFailures(), 0u);
    ASSERT_TRUE(Eventually([&device] { return device.GetExpectedPortion() == 1; }));
}

// jack_midi_dump as a JACK client of its own named `clientName`, with the
// port "clientName:input". It prints every event it receives as one line,
// "   0: f0 01 02 f7": the event's time in its period, then its bytes in hex,
// for some messages followed by a description; events over 4096 bytes it
// skips (with a word on standard error). Its output goes to files. It is
// stopped when the object goes, also when a test fails, and killed with this
// process if that dies first.
class MidiDump {
public:
    MidiDump(const std::string& clientName, const std::string& outPath,
             const std::string& errPath) {
        // Everything the child needs is made before the fork: between fork
        // and exec only calls that are safe there.
        const std::vector<std::string> args = {KESTRANE_JACK_MIDI_DUMP_PATH, clientName};
        std::vector<std::string> env;
        for (char** entry = environ; *entry != nullptr; ++entry)
            env.emplace_back(*entry);
        env.emplace_back("JACK_NO_START_SERVER=1"); // the tests' server or none
        std::vector<char*> argv = Pointers(args);
        std::vector<char*> envp = Pointers(env);
        const pid_t parent = getpid();
        pid = fork();
        if (pid == 0) {
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (getppid() != parent)
                _exit(127);
            const int in = open("/dev/null", O_RDONLY);
            const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (in < 0 || out < 0 || err < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 ||
                dup2(err, 2) < 0)
                _exit(127);
            execve(argv[0], argv.data(), envp.data());
            _exit(127);
        }
    }
    ~MidiDump() { Stop(); }
    MidiDump(const MidiDump&) = delete;
    MidiDump& operator=(const MidiDump&) = delete;

    bool Started() const { return pid > 0; }
    bool Running() { return Started() && !reaped && !Reap(); }

    // Asks it to end (SIGTERM; it ends within a second or so), kills it when
    // it has not ended within the limit, and reaps it.
    void Stop() {
        if (!Running())
            return;
        kill(pid, SIGTERM);
        if (!Eventually([this] { return Reap(); })) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
            reaped = true;
        }
    }

private:
    static std::vector<char*> Pointers(const std::vector<std::string>& strings) {
        std::vector<char*> pointers(strings.size() + 1, nullptr);
        std::transform(strings.begin(), strings.end(), pointers.begin(),
                       [](const std::string& text) { return const_cast<char*>(text.c_str()); });
        return pointers;
    }

    // True once the process has ended (and is reaped).
    bool Reap() {
        if (!reaped && waitpid(pid, nullptr, WNOHANG) != 0)
            reaped = true;
        return reaped;
    }

    pid_t pid = -1;
    bool reaped = false;
};

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The events in jack_midi_dump's output, one a line: the hex bytes after the
// colon, up to the first word that is not a byte (a description). A line of
// any other form gives an empty event, which no test expects.
std::vector<std::vector<uint8_t>> DumpedEvents(const std::string& output) {
    std::vector<std::vector<uint8_t>> events;
    std::istringstream lines(output);
    std::string line;
    while (std::getline(lines, line)) {
        const size_t colon = line.find(':');
        std::vector<uint8_t> event;
        if (colon != std::string::npos) {
            std::istringstream words(line.substr(colon + 1));
            std::string word;
            while (words >> word && word.size() == 2 &&
                   std::isxdigit(static_cast<unsigned char>(word[0])) &&
                   std::isxdigit(static_cast<unsigned char>(word[1])))
                event.push_back(static_cast<uint8_t>(std::stoul(word, nullptr, 16)));
        }
        events.push_back(event);
    }
    return events;
}

// One line an event: its size, first and last byte.
std::string Describe(const std::vector<std::vector<uint8_t>>& events) {
    std::ostringstream text;
    text << std::hex;
    for (const std::vector<uint8_t>& event : events) {
        text << std::dec << event.size() << " bytes" << std::hex;
        if (!event.empty())
            text << " " << int{event.front()} << ".." << int{event.back()};
        text << "\n";
    }
    return text.str();
}

size_t ByteCount(const std::vector<std::vector<uint8_t>>& events) {
    return std::accumulate(
        events.begin(), events.end(), size_t{0},
        [](size_t count, const std::vector<uint8_t>& event) { return count + event.size(); });
}

class JackPortEventTest : public JackPortTest {
protected:
    void SetUp() override {
        JackPortTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        if (std::string(KESTRANE_JACK_MIDI_DUMP_PATH).empty() ||
            access(KESTRANE_JACK_MIDI_DUMP_PATH, X_OK) != 0)
            GTEST_SKIP() << "needs jack_midi_dump (Debian: jackd2), not found ('"
                         << KESTRANE_JACK_MIDI_DUMP_PATH << "')";
        folder = std::filesystem::temp_directory_path() /
                 ("kestrane-jack-events-" + std::to_string(static_cast<long>(getpid())));
        std::filesystem::create_directories(folder);
        dumpName = "Event Dump " + std::to_string(static_cast<long>(getpid()));
        settings.names = {dumpName};
    }
    void TearDown() override {
        std::error_code ignored;
        if (!folder.empty())
            std::filesystem::remove_all(folder, ignored);
    }

    std::filesystem::path folder;
    std::string dumpName;
};

TEST_F(JackPortEventTest, EveryEventHoldsOneMessage) {
    // One chunk, as the sender hands it over without the chunks flag: several
    // messages of different sizes (an empty one among them) and a run of
    // bytes outside any message. Each is one JACK event. (jack_midi_dump
    // skips events over 4096 bytes, so a message too big for one RtMidi
    // message is left to BlockTooBigForOneMessageArrivesWhole.)
    const std::vector<std::vector<uint8_t>> messages = {
        Message(0x11, 600),  Message(0x12, 2), {0x41, 0x42, 0x43},
        Message(0x13, 1500), Message(0x14, 9), Message(0x15, 9),
    };
    std::vector<uint8_t> chunk;
    for (const std::vector<uint8_t>& message : messages)
        chunk.insert(chunk.end(), message.begin(), message.end());

    const std::filesystem::path out = folder / "dump.out";
    const std::filesystem::path err = folder / "dump.err";
    MidiDump dump(dumpName, out.string(), err.string());
    ASSERT_TRUE(dump.Started());
    RtMidiPort port(settings, MidiSystem::Jack);
    // The port finds jack_midi_dump's input by its name once it is there.
    ASSERT_TRUE(Eventually([&] { return !dump.Running() || port.IsConnected(); }));
    ASSERT_TRUE(dump.Running()) << "jack_midi_dump ended:\n" << ReadFile(err);
    port.SendVerbatim(chunk.data(), static_cast<uint32_t>(chunk.size()));
    EXPECT_EQ(port.TakeSendFailures(), 0u);
    EXPECT_TRUE(Eventually([&] { return ByteCount(DumpedEvents(ReadFile(out))) >= chunk.size(); }))
        << Describe(DumpedEvents(ReadFile(out))) << ReadFile(err);
    dump.Stop();

    const std::vector<std::vector<uint8_t>> events = DumpedEvents(ReadFile(out));
    const std::string shown = Describe(events);
    std::vector<uint8_t> wire;
    for (const std::vector<uint8_t>& event : events) {
        wire.insert(wire.end(), event.begin(), event.end());
        // A message, its only 0xF0 first and its only 0xF7 last, or bytes
        // outside any message, with neither.
        const auto f0 = std::count(event.begin(), event.end(), 0xF0);
        const auto f7 = std::count(event.begin(), event.end(), 0xF7);
        const bool message =
            !event.empty() && event.front() == 0xF0 && event.back() == 0xF7 && f0 == 1 && f7 == 1;
        EXPECT_TRUE(message || (!event.empty() && f0 == 0 && f7 == 0)) << shown;
    }
    EXPECT_TRUE(wire == chunk) << wire.size() << " bytes arrived of " << chunk.size() << ":\n"
                               << shown;
    // With the same bytes, the same sizes make the same events.
    EXPECT_EQ(shown, Describe(messages));
    EXPECT_EQ(ReadFile(err), "");
}

} // namespace
