#include "virtualdevice.h"

#include "devicelink.h"
#include "ownports.h"
#include "rtmidiaccess.h"
#include "utils.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <iterator>
#include <mutex>
#include <vector>

#ifdef KESTRANE_HAVE_JACK
#include <jack/jack.h>
#include <jack/midiport.h>
#include <jack/ringbuffer.h>
#endif

namespace {

const char* const kTag = "VirtualMidiDevice";

// How long the new ports may take to be listed, and how often to look.
constexpr int64_t kListedLimitMs = 10000;
constexpr uint32_t kListedPollMs = 5;

#ifdef KESTRANE_HAVE_JACK
// The device's input on JACK, read straight from JACK: each event's bytes go
// to the device as they came, so that nothing joins or holds the pieces of a
// message (RtMidi's input keeps an unfinished SysEx message until its 0xF7,
// however long that takes). The process callback only copies events into a
// ring of fixed size; what does not fit is counted and dropped, so a sender
// that floods the device cannot make it grow.
class JackInput {
public:
    // The ring holds this much; several seconds of a MIDI cable.
    static constexpr size_t kRingBytes = 1 << 20;

    JackInput(const std::string& name, std::string& problem) {
        jack_status_t status;
        client = jack_client_open(name.c_str(), JackNoStartServer, &status);
        if (!client) {
            problem = "no JACK server is running";
            return;
        }
        ring = jack_ringbuffer_create(kRingBytes);
        port = jack_port_register(client, name.c_str(), JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
        if (!ring || !port) {
            problem = "JACK refused its input port";
            return;
        }
        jack_set_process_callback(client, &JackInput::Process, this);
        jack_on_shutdown(client, &JackInput::OnShutdown, this);
        if (jack_activate(client) != 0) {
            problem = "JACK did not start its input";
            return;
        }
        active = true;
    }

    ~JackInput() {
        if (client && !serverGone.load())
            jack_client_close(client);
        if (ring)
            jack_ringbuffer_free(ring);
    }
    JackInput(const JackInput&) = delete;
    JackInput& operator=(const JackInput&) = delete;

    bool IsActive() const { return active; }
    bool IsServerGone() const { return serverGone.load(); }
    uint64_t GetDroppedBytes() const { return dropped.load(); }

    // The events that have arrived, each with its bytes; none when nothing
    // is waiting.
    std::vector<std::vector<uint8_t>> Take() {
        std::vector<std::vector<uint8_t>> events;
        uint32_t size = 0;
        while (jack_ringbuffer_read_space(ring) >= sizeof size) {
            jack_ringbuffer_read(ring, reinterpret_cast<char*>(&size), sizeof size);
            std::vector<uint8_t> bytes(size);
            jack_ringbuffer_read(ring, reinterpret_cast<char*>(bytes.data()), size);
            events.push_back(std::move(bytes));
        }
        return events;
    }

private:
    static int Process(jack_nframes_t frames, void* context) {
        JackInput* input = static_cast<JackInput*>(context);
        void* buffer = jack_port_get_buffer(input->port, frames);
        const uint32_t count = jack_midi_get_event_count(buffer);
        for (uint32_t index = 0; index < count; ++index) {
            jack_midi_event_t event;
            if (jack_midi_event_get(&event, buffer, index) != 0)
                continue;
            const uint32_t size = static_cast<uint32_t>(event.size);
            if (jack_ringbuffer_write_space(input->ring) < sizeof size + size) {
                input->dropped += size;
                continue;
            }
            jack_ringbuffer_write(input->ring, reinterpret_cast<const char*>(&size), sizeof size);
            jack_ringbuffer_write(input->ring, reinterpret_cast<const char*>(event.buffer), size);
        }
        return 0;
    }

    static void OnShutdown(void* context) { static_cast<JackInput*>(context)->serverGone = true; }

    jack_client_t* client = nullptr;
    jack_port_t* port = nullptr;
    jack_ringbuffer_t* ring = nullptr;
    bool active = false;
    std::atomic<bool> serverGone{false};
    std::atomic<uint64_t> dropped{0};
};
#endif

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
#ifdef KESTRANE_HAVE_JACK
    std::unique_ptr<JackInput> jackInput;
#endif
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

#ifdef KESTRANE_HAVE_JACK
    if (api == MidiSystem::Jack) {
        ports->jackInput = std::make_unique<JackInput>(name, problem);
        if (!ports->jackInput->IsActive())
            throw std::runtime_error("the emulated device's MIDI input cannot be made on JACK (" +
                                     problem + ")");
        WaitUntilListed(name);
        LogText("%s: '%s' is listening on %s\n", kTag, name.c_str(), MidiSystemTitle(api));
        return;
    }
#endif
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
    // The output lists the inputs of other programs, where the device's own
    // input shows; the input (RtMidi's, or a lister made for it) the outputs.
    std::unique_ptr<RtMidiIn> lister;
    RtMidiErrors listerErrors{"VirtualMidiDevice lister"};
    RtMidi* inputs = ports->input.get();
    if (!inputs) {
        std::string problem;
        lister = MakeMidiIn(MidiSystem::Jack, kOwnClientName, listerErrors, problem);
        inputs = lister.get();
    }
    while (!listed(*ports->output) || (inputs && !listed(*inputs))) {
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
#ifdef KESTRANE_HAVE_JACK
    ports->jackInput.reset();
#endif
    ports->link.Disconnect();
}

bool VirtualMidiDevice::IsSystemGone() const {
#ifdef KESTRANE_HAVE_JACK
    return ports->jackInput && ports->jackInput->IsServerGone();
#else
    return false;
#endif
}

uint64_t VirtualMidiDevice::GetDroppedByteCount() const {
#ifdef KESTRANE_HAVE_JACK
    if (ports->jackInput)
        return ports->jackInput->GetDroppedBytes();
#endif
    return 0;
}

void VirtualMidiDevice::Pump(uint32_t waitMs) {
    std::deque<std::vector<uint8_t>> messages;
#ifdef KESTRANE_HAVE_JACK
    if (ports->jackInput) {
        // JACK's process callback must not wait for a lock, so this looks
        // now and then instead of being woken.
        constexpr uint32_t kLookMs = 2;
        for (uint32_t waited = 0;; waited += kLookMs) {
            std::vector<std::vector<uint8_t>> events = ports->jackInput->Take();
            std::move(events.begin(), events.end(), std::back_inserter(messages));
            if (!messages.empty() || waited >= waitMs || ports->jackInput->IsServerGone())
                break;
            SleepMs(kLookMs);
        }
        std::lock_guard<std::mutex> lock(ports->mutex);
        ports->received += messages.size();
    } else
#endif
    {
        std::unique_lock<std::mutex> lock(ports->mutex);
        ports->arrived.wait_for(lock, std::chrono::milliseconds(waitMs),
                                [this] { return !ports->waiting.empty(); });
        messages.swap(ports->waiting);
    }
    for (const std::vector<uint8_t>& message : messages) {
        LogText("%s: received %u bytes\n", kTag, static_cast<unsigned>(message.size()));
        ports->link.Deliver(message);
    }
}

uint64_t VirtualMidiDevice::GetMessageCount() const {
    std::lock_guard<std::mutex> lock(ports->mutex);
    return ports->received;
}
