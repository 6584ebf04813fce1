// Inside the RtMidi back end only: RtMidi objects made and used so that
// nothing reaches standard error and no RtMidi exception escapes.
#pragma once

#include "midisystem.h"

#include <RtMidi.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

RtMidi::Api ToRtMidiApi(MidiSystem api);

// Collects the errors that RtMidi reports through its callback (which
// replaces its exceptions and its printing once installed): each is logged
// under the owner's tag and counted. Errors may come from any thread.
class RtMidiErrors {
public:
    explicit RtMidiErrors(const char* ownerTag) : tag(ownerTag) {}
    void Watch(RtMidi& midi);
    unsigned Count() const { return count.load(); }
    // The text of the last error.
    std::string LastText() const;

private:
    static void OnError(RtMidiError::Type type, const std::string& text, void* context);

    const char* tag;
    std::atomic<unsigned> count{0};
    mutable std::mutex mutex;
    std::string lastText; // guarded by mutex
};

// An RtMidi input or output for the system under the client name, its errors
// watched by `errors`; null when RtMidi refuses to make one (the reason is
// logged and kept in `problem`). What RtMidi prints while it sets up goes to
// the log.
std::unique_ptr<RtMidiOut> MakeMidiOut(MidiSystem api, const std::string& clientName,
                                       RtMidiErrors& errors, std::string& problem);
std::unique_ptr<RtMidiIn> MakeMidiIn(MidiSystem api, const std::string& clientName,
                                     RtMidiErrors& errors, std::string& problem);

// Every port name, at its RtMidi index (a port that vanished while it was
// listed has an empty name).
std::vector<std::string> ListPorts(RtMidi& midi);
