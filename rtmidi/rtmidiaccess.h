// Inside the RtMidi back end only: RtMidi objects made and used so that
// nothing reaches standard error and no RtMidi exception escapes.
#pragma once

#include "midisystem.h"
#include "rtmidierrors.h"

#include <RtMidi.h>

#include <memory>
#include <string>
#include <vector>

// The RtMidi API that reaches the system.
RtMidi::Api ToRtMidiApi(MidiSystem api);

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
