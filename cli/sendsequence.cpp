#include "sendsequence.h"

#include "commands.h"
#include "consoleprogress.h"

#include <cstdio>
#include <iostream>

namespace {

// Exit statuses by outcome.
constexpr int kExitDeviceError = 2; // the device reported an error, or runs another version
constexpr int kExitUnconfirmed = 3; // sent, but the device did not confirm it

} // namespace

SentUpdate SendWithProgress(const Update& update,
                            const std::function<std::unique_ptr<MidiPort>()>& openPort, bool yes,
                            std::ostream& out) {
    bool terminal = &out == &std::cout && ConsoleProgress::IsTerminal(stdout);
    ConsoleProgress progress(out, std::cin, terminal, yes);
    SentUpdate sent;
    {
        const std::unique_ptr<MidiPort> port = openPort();
        SimpleSysExSender sender(*port);
        sent.result = sender.Send(update, progress);
    }
    sent.outcome = progress.GetOutcome();
    return sent;
}

int OutcomeExitStatus(SendOutcome outcome) {
    switch (outcome) {
    case SendOutcome::DeviceAccepted:
    case SendOutcome::VersionConfirmed:
    case SendOutcome::DeviceAtVersion:
        return kExitOk;
    case SendOutcome::DeviceFailed:
    case SendOutcome::VersionMismatch:
        return kExitDeviceError;
    case SendOutcome::NoReply:
    case SendOutcome::ReplyUnreadable:
        return kExitUnconfirmed;
    }
    return kExitFailure;
}

std::vector<std::string> PortionWarnings(const SendResult& result) {
    std::vector<std::string> warnings;
    const size_t count = result.portions.size();
    for (size_t index = 0; index < count; ++index) {
        const PortionResult& portion = result.portions[index];
        const std::string which =
            "Warning: portion " + std::to_string(index + 1) + " of " + std::to_string(count);
        if (!portion.sentWhole)
            warnings.push_back(which + " did not reach the device whole.");
        // The last portion's answer is the outcome itself.
        if (portion.status == Failed && index + 1 < count)
            warnings.push_back(which + " was reported failed by the device.");
    }
    return warnings;
}

int ReportSendResult(const SentUpdate& sent, std::ostream& out) {
    for (const std::string& warning : PortionWarnings(sent.result))
        out << warning << "\n";
    out << sent.outcome << std::endl;
    return OutcomeExitStatus(sent.result.outcome);
}
