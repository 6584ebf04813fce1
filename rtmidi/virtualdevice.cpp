#include "virtualdevice.h"

#include "rtmidiaccess.h"
#include "simport.h"
#include "utils.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <vector>

namespace {

const char* const kTag = "VirtualMidiDevice";

// How long the new ports may take to be listed, and how often to look.
constexpr int64_t kListedLimitMs = 10000;
constexpr uint32_t kListedPollMs = 5;

// The device's side of the virtual ports: hands messages to the device as a
// port of its own would, and passes each of its answers to a handler. No
// names, so it matches the device whatever it is called; no pauses, since
// the sender's port has paced the messages already.
class DeviceLink : public SimMidiPort {
public:
    using AnswerHandler = void (*)(void* context, const std::vector<uint8_t>& message);

    DeviceLink(DeviceSim& device, AnswerHandler answerHandler, void* context)
        : SimMidiPort(device, PortSettings{{}, 256, 256, 0, 0, false}), handler(answerHandler),
          handlerContext(context) {
        // Answers arrive whole: each completed message goes on at once
        // instead of waiting in the port's store.
        sysExCollector.SetCallback(&DeviceLink::OnAnswer, this);
    }

private:
    static void OnAnswer(void* context) {
        DeviceLink* link = static_cast<DeviceLink*>(context);
        link->handler(link->handlerContext, link->sysExCollector.GetBytes());
    }

    AnswerHandler handler;
    void* handlerContext;
};

} // namespace

struct VirtualMidiDevice::Ports {
    explicit Ports(DeviceSim& device) : link(device, &Ports::OnAnswer, this) {}

    static void OnAnswer(void* context, const std::vector<uint8_t>& message) {
        Ports* ports = static_cast<Ports*>(context);
        LogText("%s: answering %u bytes\n", kTag, static_cast<unsigned>(message.size()));
        ports->output->sendMessage(message.data(), message.size());
    }

    static void OnInput(double, std::vector<unsigned char>* message, void* context) {
        Ports* ports = static_cast<Ports*>(context);
        if (message == nullptr || message->empty())
            return;
        {
            std::lock_guard<std::mutex> lock(ports->mutex);
            ports->waiting.emplace_back(message->begin(), message->end());
            ++ports->received;
        }
        ports->arrived.notify_one();
    }

    // Declared in the order that lets each part go only after everything
    // that calls into it: the input (whose thread fills the queue) goes
    // first, then the link (whose answers use the output), then the output.
    mutable std::mutex mutex;
    std::condition_variable arrived;
    std::deque<std::vector<uint8_t>> waiting; // guarded by mutex
    uint64_t received = 0;                    // guarded by mutex
    RtMidiErrors outputErrors{"VirtualMidiDevice output"};
    RtMidiErrors inputErrors{"VirtualMidiDevice input"};
    std::unique_ptr<RtMidiOut> output;
    DeviceLink link;
    std::unique_ptr<RtMidiIn> input;
};

VirtualMidiDevice::VirtualMidiDevice(DeviceSim& device, MidiSystem api, const std::string& name)
    : ports(std::make_unique<Ports>(device)) {
    std::string problem;
    // The output first, so that the link's answers always have somewhere to
    // go once the link is connected below.
    ports->output = MakeMidiOut(api, name, ports->outputErrors, problem);
    if (ports->output)
        ports->output->openVirtualPort(name);
    if (!ports->output || ports->outputErrors.Count() != 0)
        throw std::runtime_error(
            std::string("the emulated device's MIDI output cannot be made on ") +
            MidiSystemTitle(api) + " (" +
            (ports->output ? ports->outputErrors.LastText() : problem) + ")");
    if (!ports->link.IsConnected())
        throw std::runtime_error("the emulated device is not present");

    ports->input = MakeMidiIn(api, name, ports->inputErrors, problem);
    if (ports->input) {
        ports->input->ignoreTypes(false, false, false);
        ports->input->setCallback(&Ports::OnInput, ports.get());
        ports->input->openVirtualPort(name);
    }
    if (!ports->input || ports->inputErrors.Count() != 0)
        throw std::runtime_error(
            std::string("the emulated device's MIDI input cannot be made on ") +
            MidiSystemTitle(api) + " (" + (ports->input ? ports->inputErrors.LastText() : problem) +
            ")");
    WaitUntilListed(name);
    LogText("%s: '%s' is listening on %s\n", kTag, name.c_str(), MidiSystemTitle(api));
}

void VirtualMidiDevice::WaitUntilListed(const std::string& name) {
    // JACK shows a new port to other clients only from a later period on;
    // until then no program can find the device.
    auto listed = [&name](RtMidi& midi) {
        const std::vector<std::string> ports = ListPorts(midi);
        return std::any_of(ports.begin(), ports.end(), [&name](const std::string& port) {
            return port.size() > name.size() &&
                   port.compare(port.size() - name.size() - 1, std::string::npos, ":" + name) == 0;
        });
    };
    const int64_t start = GetTimeMs();
    while (!listed(*ports->output) || !listed(*ports->input)) {
        if (GetTimeMs() - start >= kListedLimitMs) {
            LogText("%s: '%s' is not listed yet\n", kTag, name.c_str());
            return;
        }
        SleepMs(kListedPollMs);
    }
}

VirtualMidiDevice::~VirtualMidiDevice() {
    // Nothing arrives once the input is gone; the link stops the device's
    // answers before the output goes.
    ports->input.reset();
    ports->link.Disconnect();
}

void VirtualMidiDevice::Pump(uint32_t waitMs) {
    std::deque<std::vector<uint8_t>> messages;
    {
        std::unique_lock<std::mutex> lock(ports->mutex);
        ports->arrived.wait_for(lock, std::chrono::milliseconds(waitMs),
                                [this] { return !ports->waiting.empty(); });
        messages.swap(ports->waiting);
    }
    for (const std::vector<uint8_t>& message : messages) {
        LogText("%s: received %u bytes\n", kTag, static_cast<unsigned>(message.size()));
        ports->link.SendVerbatim(message.data(), static_cast<uint32_t>(message.size()));
    }
}

uint64_t VirtualMidiDevice::GetMessageCount() const {
    std::lock_guard<std::mutex> lock(ports->mutex);
    return ports->received;
}
