// kestrane-cli without a MIDI back end: only the emulated device can be
// updated, and there are no ports to list.
#include "midibackend.h"

bool HasMidiBackEnd() {
    return false;
}

int SendThroughMidiPort(const Update&, const CommandArguments&, std::ostream&, std::ostream& err) {
    err << "kestrane-cli: " << kNoMidiBackEndText << ".\n";
    return kExitFailure;
}

int RunPorts(const CommandArguments&, std::ostream&, std::ostream& err) {
    err << "kestrane-cli: " << kNoMidiBackEndText << ".\n";
    return kExitFailure;
}
