// Inside the RtMidi back end only, on JACK: when a connection that RtMidi made
// is in force. JACK takes a new connection into the graph it runs only at the
// start of a later period, and under load several periods later; MIDI sent
// through the connection before then is lost. So a port that has just
// connected waits for the connection to show in the running graph.
#pragma once

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

private:
    void* client = nullptr; // jack_client_t
};
