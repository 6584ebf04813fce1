// The errors that RtMidi reports through its error callback, collected for
// one owner (a port, a listing) inside the RtMidi back end.
#pragma once

#include <RtMidi.h>

#include <atomic>
#include <mutex>
#include <string>

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
