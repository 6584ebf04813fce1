// A plain JACK MIDI sender, written for the tests the way MIDI software
// commonly sends a .syx file: every SysEx message of the file is one JACK
// event, and the events leave at the speed of a MIDI cable (3125 bytes a
// second). It shares no code with Kestrane's own port.
//
//   kestrane-plain-jack-sender PORT FILE
//
// PORT is the port part of the receiving MIDI input ("client:PORT"). Bytes
// outside SysEx messages go out as events of their own. Exit status 0 when
// every event was written, 1 otherwise (the reason on standard error).
#include <jack/jack.h>
#include <jack/midiport.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr double kCableBytesPerSecond = 3125.0;

struct Sender {
    jack_port_t* port = nullptr;
    std::vector<std::vector<unsigned char>> events; // fixed before activation
    double credit = 0;                              // bytes the cable could have carried
    size_t next = 0;                                // touched by the process thread only
    std::atomic<size_t> written{0};
    std::atomic<bool> failed{false};
    std::atomic<bool> started{false};
    jack_nframes_t rate = 48000;
};

int Process(jack_nframes_t frames, void* context) {
    Sender& sender = *static_cast<Sender*>(context);
    void* buffer = jack_port_get_buffer(sender.port, frames);
    jack_midi_clear_buffer(buffer);
    if (!sender.started.load())
        return 0;
    sender.credit += frames * kCableBytesPerSecond / sender.rate;
    jack_nframes_t time = 0;
    while (sender.next < sender.events.size()) {
        const std::vector<unsigned char>& event = sender.events[sender.next];
        // An event longer than one period's credit goes once the cable has
        // had time for it.
        if (sender.credit < static_cast<double>(event.size()))
            break;
        if (jack_midi_event_write(buffer, time, event.data(), event.size()) != 0) {
            sender.failed = true;
            break;
        }
        sender.credit -= static_cast<double>(event.size());
        ++sender.next;
        sender.written = sender.next;
        time = time + 1 < frames ? time + 1 : time;
    }
    return 0;
}

std::vector<std::vector<unsigned char>> SplitMessages(const std::vector<unsigned char>& bytes) {
    std::vector<std::vector<unsigned char>> events;
    std::vector<unsigned char> current;
    for (unsigned char byte : bytes) {
        if (byte == 0xF0 && !current.empty()) {
            events.push_back(current);
            current.clear();
        }
        current.push_back(byte);
        if (byte == 0xF7) {
            events.push_back(current);
            current.clear();
        }
    }
    if (!current.empty())
        events.push_back(current);
    return events;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s PORT FILE\n", argv[0]);
        return 64;
    }
    const std::string portPart = std::string(":") + argv[1];
    std::ifstream file(argv[2], std::ios::binary);
    const std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(file)),
                                           std::istreambuf_iterator<char>());
    if (!file.eof() && !file.good()) {
        std::fprintf(stderr, "cannot read %s\n", argv[2]);
        return 1;
    }

    Sender sender;
    sender.events = SplitMessages(bytes);
    jack_status_t status;
    jack_client_t* client = jack_client_open("plain-sender", JackNoStartServer, &status);
    if (!client) {
        std::fprintf(stderr, "no JACK server\n");
        return 1;
    }
    sender.rate = jack_get_sample_rate(client);
    sender.port = jack_port_register(client, "out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
    jack_set_process_callback(client, &Process, &sender);
    if (!sender.port || jack_activate(client) != 0) {
        std::fprintf(stderr, "JACK refused the port\n");
        jack_client_close(client);
        return 1;
    }

    // The receiving input: the MIDI input whose port part is PORT.
    std::string target;
    if (const char** inputs =
            jack_get_ports(client, nullptr, JACK_DEFAULT_MIDI_TYPE, JackPortIsInput)) {
        for (const char** name = inputs; *name; ++name) {
            const std::string candidate = *name;
            if (candidate.size() > portPart.size() &&
                candidate.compare(candidate.size() - portPart.size(), std::string::npos,
                                  portPart) == 0)
                target = candidate;
        }
        jack_free(inputs);
    }
    int result = 1;
    if (target.empty()) {
        std::fprintf(stderr, "no MIDI input named %s\n", argv[1]);
    } else if (jack_connect(client, jack_port_name(sender.port), target.c_str()) != 0) {
        std::fprintf(stderr, "cannot connect to %s\n", target.c_str());
    } else {
        // A new connection takes effect a period or two later.
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        sender.started = true;
        const auto limit = std::chrono::steady_clock::now() + std::chrono::minutes(5);
        while (sender.written.load() < sender.events.size() && !sender.failed.load() &&
               std::chrono::steady_clock::now() < limit)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        // Let the last period reach the receiver.
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        if (sender.written.load() == sender.events.size()) {
            std::printf("sent %zu events\n", sender.events.size());
            result = 0;
        } else {
            std::fprintf(stderr, "wrote %zu of %zu events\n", sender.written.load(),
                         sender.events.size());
        }
    }
    jack_client_close(client);
    return result;
}
