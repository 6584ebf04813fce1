// The MIDI port over RtMidi, for kestrane-cli outside Windows: ALSA or JACK
// on Linux, CoreMIDI on macOS. One output through which update data goes out
// as SysEx messages, and one input whose SysEx replies feed the collector.
//
// It behaves as the WinMM port does, so that the sender runs unchanged: the
// output and input are found by the settings' names (ownports.h; the
// lowest index wins, this program's own ports never), opened on the first
// IsConnected and on every IsConnected after a Disconnect, and every send
// blocks as long as the bytes take on a real MIDI cable (31250 baud, ten bits
// a byte) and then for the settings' delay and unprepdelay. That pacing is
// what a device expects on every platform, and it is also what keeps JACK
// from dropping messages sent back to back. Unlike the WinMM port, Request
// really sends the request and waits for the reply.
//
// Threads: every operation runs on the owning thread; RtMidi delivers input
// on a thread of its own. Failures are never raised: RtMidi's errors are
// logged and show as a false IsConnected, and each block that did not go out
// is counted (TakeSendFailures), also each block that RtMidi took after the
// JACK server had gone away.
#pragma once

#include "midiport.h"
#include "midisystem.h"
#include "portsettings.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class RtMidiPort : public MidiPort {
public:
    // Copies the settings; opens nothing.
    RtMidiPort(const PortSettings& settings, MidiSystem api);
    // Disconnects.
    ~RtMidiPort() override;

    // The settings' ideal and max.
    int32_t GetIdealChunkSize() override { return params.ideal; }
    int32_t GetMaxChunkSize() override { return params.max; }
    // Connects when the output is closed; true when the output is open, no
    // error has been reported for it since, its port is still listed, and
    // (on JACK) the server it was opened on has not gone away. It stays
    // false until a Disconnect.
    // An open input is not required (the port then sends but hears nothing).
    bool IsConnected() override;
    // Closes the input, then the output. A message half received stays in
    // the collector, to be completed by the next 0xF7. The port's clients of
    // the MIDI system stay for the next Connect unless an error was reported.
    void Disconnect() override;
    // Frames the block as one SysEx message when the settings' chunks flag is
    // set, then sends it with SendVerbatim (MidiPort::SendBlock). Nothing is
    // sent for an empty block.
    void Send(const uint8_t* data, uint32_t count) override;
    // Disconnects and connects again, when the output is open.
    void Reconnect() override;
    // Drops any message received before, sends the request as it is (which
    // connects a closed port) and polls every 10 ms for a reply until
    // timeoutMs has passed; an empty result means no reply. For an Identity
    // Request only an Identity Reply counts; other messages (the request
    // itself echoed by a MIDI thru) are passed over.
    std::vector<uint8_t> Request(uint32_t timeoutMs, const uint8_t* request,
                                 uint32_t count) override;
    // Sends the bytes unchanged, connecting first when the output is closed,
    // and blocks for their time on the cable, then for the settings' delay
    // (after a block that went out) and unprepdelay. Each message of the
    // block goes to RtMidi on its own, as one event of the MIDI system, and
    // one too big for one RtMidi message in pieces (SplitIntoEvents); each
    // leaves only once the bytes before it have had their time on the cable.
    void SendVerbatim(const uint8_t* data, uint32_t count);

    // Opens the output and the input found for the settings' names; the
    // outcome is read through IsConnected. On JACK it opens nothing when
    // another Kestrane's output is connected to the device's input (the
    // device is busy, as WinMM reports a device another program holds), and
    // closes again when the connections do not come in force in time or
    // another Kestrane connected at the same moment.
    void Connect();

private:
    struct Clients;

    static void OnInput(double timeStamp, std::vector<unsigned char>* message, void* context);
    void ReceiveInput(const std::vector<unsigned char>& message);
    bool MakeClients();
    void DropClients();
    void ClosePorts();
    bool IsOutputOpen() const;
    bool IsOutputStillListed();
    bool IsBusy(const std::string& devicePort) const;
    void RefuseBusyDevice();

    const MidiSystem api;
    const std::vector<std::string> ownPortNames;
    std::unique_ptr<Clients> clients; // the RtMidi input and output, once made
    std::string outputName;           // the device's port the output is open to; empty when closed
    std::mutex inputMutex;            // held while input feeds the collector
};
