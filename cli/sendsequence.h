// The way every send of kestrane-cli runs, to a real device or to the
// emulated one: the progress display, the port, the sender, and then the
// report of the outcome with its exit status.
#pragma once

#include "midiport.h"
#include "sendupdate.h"
#include "update.h"

#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

// What a send ended with: the sender's result, and the outcome as the
// progress display told it.
struct SentUpdate {
    SendResult result;
    std::string outcome;
};

// Sends the update through the port that openPort makes, with the progress
// display on `out` (its live line only where `out` is standard output on a
// terminal). The message the user must acknowledge between portions waits
// for Enter on standard input, unless `yes`. The port is made once the
// display is up and closed again before this returns.
SentUpdate SendWithProgress(const Update& update,
                            const std::function<std::unique_ptr<MidiPort>()>& openPort, bool yes,
                            std::ostream& out);

// The exit status of `send` for the sender's outcome: 0 when the device took
// the update, 2 when it reported an error or runs another version, 3 when the
// update was sent but not confirmed.
int OutcomeExitStatus(SendOutcome outcome);

// What `send` says before the outcome about the portions that did not go
// well: one line for each portion that did not reach the device whole, and
// for each earlier portion that the device reported failed (the last one's
// answer is the outcome itself).
std::vector<std::string> PortionWarnings(const SendResult& result);

// Prints the warnings and then the outcome, and returns the exit status.
int ReportSendResult(const SentUpdate& sent, std::ostream& out);
