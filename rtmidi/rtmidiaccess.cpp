#include "rtmidiaccess.h"

#include "midisystemlog.h"
#include "utils.h"

#include <iostream>
#include <mutex>
#include <sstream>

namespace {

// Whatever RtMidi prints on std::cerr while it is alive goes to the log.
// RtMidi prints only where no error callback is installed yet: while an
// input or output is being made.
class CerrToLog {
public:
    CerrToLog() : lock(mutex), previous(std::cerr.rdbuf(captured.rdbuf())) {}
    ~CerrToLog() {
        std::cerr.rdbuf(previous);
        std::string line;
        while (std::getline(captured, line))
            if (!line.empty())
                LogText("RtMidi: %s\n", line.c_str());
    }
    CerrToLog(const CerrToLog&) = delete;
    CerrToLog& operator=(const CerrToLog&) = delete;

private:
    static std::mutex mutex;
    std::lock_guard<std::mutex> lock;
    std::stringstream captured;
    std::streambuf* previous;
};

std::mutex CerrToLog::mutex;

template <class Midi>
std::unique_ptr<Midi> MakeMidi(MidiSystem api, const std::string& clientName, RtMidiErrors& errors,
                               std::string& problem) {
    RouteMidiSystemMessagesToLog();
    std::unique_ptr<Midi> midi;
    try {
        CerrToLog quiet;
        midi = std::make_unique<Midi>(ToRtMidiApi(api), clientName);
    } catch (const RtMidiError& e) {
        problem = e.getMessage();
        LogText("RtMidi: %s\n", problem.c_str());
        return nullptr;
    }
    errors.Watch(*midi);
    return midi;
}

} // namespace

RtMidi::Api ToRtMidiApi(MidiSystem api) {
    switch (api) {
    case MidiSystem::Alsa:
        return RtMidi::LINUX_ALSA;
    case MidiSystem::Jack:
        return RtMidi::UNIX_JACK;
    case MidiSystem::CoreMidi:
        break;
    }
    return RtMidi::MACOSX_CORE;
}

std::unique_ptr<RtMidiOut> MakeMidiOut(MidiSystem api, const std::string& clientName,
                                       RtMidiErrors& errors, std::string& problem) {
    return MakeMidi<RtMidiOut>(api, clientName, errors, problem);
}

std::unique_ptr<RtMidiIn> MakeMidiIn(MidiSystem api, const std::string& clientName,
                                     RtMidiErrors& errors, std::string& problem) {
    return MakeMidi<RtMidiIn>(api, clientName, errors, problem);
}

std::vector<std::string> ListPorts(RtMidi& midi) {
    std::vector<std::string> names;
    const unsigned count = midi.getPortCount();
    for (unsigned index = 0; index < count; ++index)
        names.push_back(midi.getPortName(index));
    return names;
}
