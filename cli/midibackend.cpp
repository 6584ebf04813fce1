#include "midibackend.h"

const char* const kNoMidiBackEndText = "this build has no MIDI back end to reach a real device yet";

PortSettings ChosenPortSettings(const Update& update, const CommandArguments& args,
                                bool (*usable)(const std::string& port), const char* refusal) {
    PortSettings settings = update.GetPortSettings();
    if (args.Has("--port")) {
        const std::string port = args.Value("--port");
        if (!usable(port))
            throw UsageError("the port '" + port + "' " + refusal);
        // The chosen port replaces every name the update gives, as when the
        // user picks a port in the application.
        settings.names.clear();
        settings.names.insert(port);
    } else if (update.IsSysEx()) {
        throw UsageError("a plain SysEx file names no MIDI port: choose the device's port with "
                         "--port NAME (see 'kestrane-cli ports')");
    }
    return settings;
}
