#include "jackwatch.h"

#include "midisystemlog.h"
#include "ownports.h"
#include "utils.h"

#ifdef KESTRANE_HAVE_JACK
#include <jack/jack.h>
#endif

namespace {

// How often a connection not yet in force is looked at again.
constexpr uint32_t kPollMs = 5;

#ifdef KESTRANE_HAVE_JACK
void OnShutdown(jack_status_t, const char* reason, void* context) {
    *static_cast<std::atomic<bool>*>(context) = true;
    LogText("%s: the JACK server has gone away (%s)\n", "JackConnectionWatch",
            reason != nullptr ? reason : "no reason given");
}
#endif

} // namespace

#ifdef KESTRANE_HAVE_JACK

JackConnectionWatch::JackConnectionWatch() {
    RouteMidiSystemMessagesToLog();
    jack_status_t status;
    client = jack_client_open("kestrane-cli-watch", JackNoStartServer, &status);
    if (client == nullptr) {
        LogText("%s: no JACK client to watch connections (status 0x%x)\n", "JackConnectionWatch",
                static_cast<unsigned>(status));
        return;
    }
    // Called on a thread of JACK's, also for a client that is never
    // activated, when the server shuts down or its connection breaks.
    jack_on_info_shutdown(static_cast<jack_client_t*>(client), &OnShutdown, &serverGone);
}

bool JackConnectionWatch::ServerGone() const {
    return serverGone.load();
}

std::string JackConnectionWatch::OtherSender(const std::string& devicePort,
                                             const std::string& ownPortName) const {
    if (client == nullptr)
        return "";
    jack_client_t* jack = static_cast<jack_client_t*>(client);
    const jack_port_t* port = jack_port_by_name(jack, devicePort.c_str());
    if (port == nullptr)
        return "";
    std::string other;
    if (const char** names = jack_port_get_all_connections(jack, port)) {
        for (const char** name = names; *name != nullptr && other.empty(); ++name) {
            const std::string fullName = *name;
            const size_t colon = fullName.find(':');
            const bool own = colon != std::string::npos &&
                             fullName.compare(colon + 1, std::string::npos, ownPortName) == 0;
            if (!own && IsKestraneOutput(fullName))
                other = fullName;
        }
        jack_free(names);
    }
    return other;
}

JackConnectionWatch::~JackConnectionWatch() {
    if (client != nullptr)
        jack_client_close(static_cast<jack_client_t*>(client));
}

bool JackConnectionWatch::FoundServer() const {
    return client != nullptr;
}

bool JackConnectionWatch::WaitUntilInForce(const std::string& ownPortName,
                                           const std::string& otherPort, uint32_t limitMs) {
    if (client == nullptr)
        return true;
    jack_client_t* jack = static_cast<jack_client_t*>(client);
    const int64_t start = GetTimeMs();
    while (true) {
        // The client that owns the port may have been renamed by JACK
        // ("kestrane-cli-01"): the port is found by its port part.
        bool inForce = false;
        if (const char** names = jack_get_ports(jack, nullptr, JACK_DEFAULT_MIDI_TYPE, 0)) {
            for (const char** name = names; *name != nullptr && !inForce; ++name) {
                const std::string fullName = *name;
                const size_t colon = fullName.find(':');
                if (colon == std::string::npos ||
                    fullName.compare(colon + 1, std::string::npos, ownPortName) != 0)
                    continue;
                const jack_port_t* port = jack_port_by_name(jack, *name);
                inForce = port != nullptr && jack_port_connected_to(port, otherPort.c_str());
            }
            jack_free(names);
        }
        if (inForce)
            return true;
        const int64_t waited = GetTimeMs() - start;
        if (waited >= static_cast<int64_t>(limitMs)) {
            LogText("%s: '%s' to '%s' not in force after %s ms\n", "JackConnectionWatch",
                    ownPortName.c_str(), otherPort.c_str(), std::to_string(waited).c_str());
            return false;
        }
        SleepMs(kPollMs);
    }
}

#else

JackConnectionWatch::JackConnectionWatch() = default;
JackConnectionWatch::~JackConnectionWatch() = default;

bool JackConnectionWatch::FoundServer() const {
    return true;
}

bool JackConnectionWatch::WaitUntilInForce(const std::string&, const std::string&, uint32_t) {
    return true;
}

bool JackConnectionWatch::ServerGone() const {
    return false;
}

std::string JackConnectionWatch::OtherSender(const std::string&, const std::string&) const {
    return "";
}

#endif
