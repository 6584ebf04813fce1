#include "midisystem.h"

#include "jackwatch.h"
#include "portnames.h"
#include "rtmidiaccess.h"
#include "utils.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <iostream>
#include <mutex>
#include <sstream>

#include <unistd.h>

#ifdef KESTRANE_HAVE_JACK
#include <jack/jack.h>
#endif
#ifdef KESTRANE_HAVE_ALSA
#include <alsa/asoundlib.h>
#endif

namespace {

struct ApiInfo {
    MidiSystem api;
    RtMidi::Api rtMidiApi;
    const char* name;
    const char* title;
};

const ApiInfo kApis[] = {
    {MidiSystem::Alsa, RtMidi::LINUX_ALSA, "alsa", "ALSA"},
    {MidiSystem::Jack, RtMidi::UNIX_JACK, "jack", "JACK"},
    {MidiSystem::CoreMidi, RtMidi::MACOSX_CORE, "coremidi", "CoreMIDI"},
};

const ApiInfo& Info(MidiSystem api) {
    return *std::find_if(std::begin(kApis), std::end(kApis),
                         [api](const ApiInfo& info) { return info.api == api; });
}

#ifdef KESTRANE_HAVE_JACK
void LogJackMessage(const char* text) {
    LogText("JACK: %s\n", text);
}
#endif

#ifdef KESTRANE_HAVE_ALSA
void LogAlsaMessage(const char* file, int line, const char* function, int err, const char* format,
                    ...) {
    char text[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    LogText("ALSA: %s:%d (%s) %s%s%s\n", file, line, function, text, err ? ": " : "",
            err ? snd_strerror(err) : "");
}
#endif

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

const char* MidiSystemName(MidiSystem api) {
    return Info(api).name;
}

const char* MidiSystemTitle(MidiSystem api) {
    return Info(api).title;
}

bool ParseMidiSystemName(const std::string& name, MidiSystem& api) {
    const ApiInfo* found = std::find_if(std::begin(kApis), std::end(kApis),
                                        [&name](const ApiInfo& info) { return name == info.name; });
    if (found == std::end(kApis))
        return false;
    api = found->api;
    return true;
}

std::vector<MidiSystem> CompiledMidiSystems() {
    std::vector<RtMidi::Api> compiled;
    RtMidi::getCompiledApi(compiled);
    std::vector<MidiSystem> apis;
    for (const ApiInfo& info : kApis)
        if (std::find(compiled.begin(), compiled.end(), info.rtMidiApi) != compiled.end())
            apis.push_back(info.api);
    return apis;
}

MidiSystem DefaultMidiSystem() {
#ifdef __APPLE__
    const MidiSystem usual = MidiSystem::CoreMidi;
#else
    const MidiSystem usual = MidiSystem::Alsa;
#endif
    const std::vector<MidiSystem> compiled = CompiledMidiSystems();
    if (compiled.empty() || std::find(compiled.begin(), compiled.end(), usual) != compiled.end())
        return usual;
    return compiled.front();
}

RtMidi::Api ToRtMidiApi(MidiSystem api) {
    return Info(api).rtMidiApi;
}

void RtMidiErrors::Watch(RtMidi& midi) {
    midi.setErrorCallback(&RtMidiErrors::OnError, this);
}

void RtMidiErrors::OnError(RtMidiError::Type type, const std::string& text, void* context) {
    RtMidiErrors* errors = static_cast<RtMidiErrors*>(context);
    LogText("%s: RtMidi reports (%d) %s\n", errors->tag, static_cast<int>(type), text.c_str());
    if (type == RtMidiError::DEBUG_WARNING)
        return;
    {
        std::lock_guard<std::mutex> lock(errors->mutex);
        errors->lastText = text;
    }
    ++errors->count;
}

std::string RtMidiErrors::LastText() const {
    std::lock_guard<std::mutex> lock(mutex);
    return lastText;
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

std::string MidiSystemProblem(MidiSystem api) {
    const std::vector<MidiSystem> compiled = CompiledMidiSystems();
    if (std::find(compiled.begin(), compiled.end(), api) == compiled.end())
        return std::string("this build's RtMidi cannot reach ") + MidiSystemTitle(api);
    if (api == MidiSystem::Jack && !JackConnectionWatch().FoundServer())
        return "no JACK server is running";
    RtMidiErrors errors("MidiSystemProblem");
    std::string problem;
    std::unique_ptr<RtMidiOut> output = MakeMidiOut(api, kOwnClientName, errors, problem);
    // JACK is reached only when a port is listed or opened, and a server
    // that is not running shows only through the error callback.
    if (output)
        output->getPortCount();
    if (output && errors.Count() == 0)
        return "";
    switch (api) {
    case MidiSystem::Alsa:
        return "the ALSA sequencer cannot be opened here";
    case MidiSystem::Jack:
        return "no JACK server is running";
    case MidiSystem::CoreMidi:
        break;
    }
    return std::string(MidiSystemTitle(api)) + " cannot be reached (" +
           (output ? errors.LastText() : problem) + ")";
}

MidiPortLists ReadMidiPorts(MidiSystem api) {
    MidiPortLists lists;
    if (api == MidiSystem::Jack && !JackConnectionWatch().FoundServer())
        return lists;
    RtMidiErrors errors("ReadMidiPorts");
    std::string problem;
    if (std::unique_ptr<RtMidiOut> output = MakeMidiOut(api, kOwnClientName, errors, problem))
        lists.outputs = ListPorts(*output);
    if (std::unique_ptr<RtMidiIn> input = MakeMidiIn(api, kOwnClientName, errors, problem))
        lists.inputs = ListPorts(*input);
    return lists;
}

const char* const kOwnClientName = "kestrane-cli";

std::string OwnPortName(const char* direction) {
    return "kestrane " + std::to_string(static_cast<long>(getpid())) + " " + direction;
}

bool IsOwnPort(const std::string& listedName, const std::vector<std::string>& ownPortNames) {
    for (size_t colon = listedName.find(':'); colon != std::string::npos;
         colon = listedName.find(':', colon + 1)) {
        const size_t portStart = colon + 1;
        for (const std::string& own : ownPortNames) {
            if (own.empty() || listedName.compare(portStart, own.size(), own) != 0)
                continue;
            const size_t after = portStart + own.size();
            if (after == listedName.size() || listedName[after] == ' ')
                return true;
        }
    }
    return false;
}

bool IsKestraneOutput(const std::string& listedName) {
    const std::string prefix = "kestrane ";
    const std::string suffix = " out";
    for (size_t colon = listedName.find(':'); colon != std::string::npos;
         colon = listedName.find(':', colon + 1)) {
        const size_t digits = colon + 1 + prefix.size();
        if (listedName.compare(colon + 1, prefix.size(), prefix) != 0)
            continue;
        size_t end = digits;
        while (end < listedName.size() && listedName[end] >= '0' && listedName[end] <= '9')
            ++end;
        if (end == digits || listedName.compare(end, suffix.size(), suffix) != 0)
            continue;
        const size_t after = end + suffix.size();
        if (after == listedName.size() || listedName[after] == ' ')
            return true;
    }
    return false;
}

int FindMidiPort(const std::vector<std::string>& ports, const std::set<std::string>& names,
                 const std::vector<std::string>& ownPortNames) {
    for (size_t index = 0; index < ports.size(); ++index) {
        const std::string& port = ports[index];
        if (!port.empty() && !IsOwnPort(port, ownPortNames) && MatchesPortName(names, port))
            return static_cast<int>(index);
    }
    return kNoDevice;
}

void RouteMidiSystemMessagesToLog() {
    static std::once_flag once;
    std::call_once(once, [] {
#ifdef KESTRANE_HAVE_JACK
        jack_set_error_function(&LogJackMessage);
        jack_set_info_function(&LogJackMessage);
#endif
#ifdef KESTRANE_HAVE_ALSA
        snd_lib_error_set_handler(&LogAlsaMessage);
#endif
    });
}
