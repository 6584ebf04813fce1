// Inside the RtMidi back end only, on JACK: when a connection that RtMidi made
// is in force. JACK takes a new connection into the graph it runs only at the
// start of a later period, and under load several periods later; MIDI sent
// through the connection before then is lost. So a port that has just
// connected waits for the connection to show in the running graph.
//
// The watch's client also hears when the server goes away (JACK tells every
// client of a server that shuts down or dies): RtMidi's own clients then go
// on taking messages and listing the ports they knew, and nothing reaches a
// device. And it tells when another Kestrane already sends to a device.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

class JackConnectionWatch {
public:
    // Opens a JACK client of its own that is never activated (it costs the
    // server nothing while it waits). Without JACK, or without a server,
    // it watches nothing and every wait ends at once.
    JackConnectionWatch();
    ~JackConnectionWatch();
    JackConnectionWatch(const JackConnectionWatch&) = delete;
    JackConnectionWatch& operator=(const JackConnectionWatch&) = delete;

    // Waits up to limitMs until this process's port whose port part is
    // ownPortName is connected to otherPort in the graph that JACK runs;
    // false when it is not by then.
    bool WaitUntilInForce(const std::string& ownPortName, const std::string& otherPort,
                          uint32_t limitMs);

    // False when its client could not be opened because no JACK server runs.
    // (RtMidi's own JACK clients, made without a server, report it only
    // through their error callback, and leak their buffers.) True in a build
    // without JACK's library, which cannot tell.
    bool FoundServer() const;

    // True once the server that the watch's client was opened on has shut
    // down or died; it stays true (a server started again is another one,
    // and this process's clients of the old one are of no use).
    bool ServerGone() const;

    // The full name of an output of another Kestrane (IsKestraneOutput) that
    // is connected to the device's input `devicePort`, or empty when there is
    // none. The output named ownPortName, this port's own, never counts.
    std::string OtherSender(const std::string& devicePort, const std::string& ownPortName) const;

private:
    void* client = nullptr; // jack_client_t
    std::atomic<bool> serverGone{false};
};
