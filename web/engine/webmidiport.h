// The MIDI port over a browser's Web MIDI, for the page: one output through
// which update data goes out, and one input whose SysEx replies feed the
// collector.
//
// It behaves as the RtMidi port does, so that the sender runs unchanged: the
// output and the input are found by the settings' names (the first port in
// the browser's order whose name matches, as every port matches names), taken
// on the first IsConnected and on every IsConnected after a Disconnect; the
// port is connected while both are. Every send blocks as long as the bytes
// take on a real MIDI cable (31250 baud, ten bits a byte) and then for the
// settings' delay and unprepdelay, which is what a device expects on every
// platform. Request really sends the request and waits for the reply.
//
// Web MIDI takes nothing but whole MIDI messages, so a block that ends inside
// a message (chunks sent as they are) goes out as far as its messages are
// whole; the rest is held back and goes out with the block that completes it
// (WholeMessages, midiwire.h). Whatever the browser refuses (bytes that can
// never be made whole, or a port that has gone) is logged and counted as not
// sent, never dropped without a word.
//
// The page's engine runs on the browser's main thread, and a wait gives the
// page its turn (SleepMs through the browser's event loop). Input arrives
// from the page's message handler in between, through ReceiveInput.
#pragma once

#include "midiport.h"
#include "midiwire.h"
#include "portsettings.h"

#include <cstdint>
#include <vector>

class WebMidiPort : public MidiPort {
public:
    // Copies the settings; opens nothing.
    explicit WebMidiPort(const PortSettings& settings);
    // Disconnects.
    ~WebMidiPort() override;

    int32_t GetIdealChunkSize() override { return params.ideal; }
    int32_t GetMaxChunkSize() override { return params.max; }
    // Takes the ports when none are in use; true while both are connected.
    bool IsConnected() override;
    // Stops using the ports. A message still held back goes out now if the
    // browser takes it, else it is logged and counted as not sent.
    void Disconnect() override;
    // Frames the block as one SysEx message when the settings' chunks flag is
    // set, then sends it with SendVerbatim (MidiPort::SendBlock).
    void Send(const uint8_t* data, uint32_t count) override;
    // Disconnects and connects again, when the ports are in use.
    void Reconnect() override;
    // Drops any message received before, sends the request (which takes the
    // ports when none are in use) and waits up to timeoutMs for the reply;
    // for an Identity Request only an Identity Reply counts.
    std::vector<uint8_t> Request(uint32_t timeoutMs, const uint8_t* request,
                                 uint32_t count) override;

    // Sends the bytes as whole messages, one by one, each once the one before
    // it has had its time on the cable, then pauses for the settings' delay
    // (after a block that went out) and unprepdelay.
    void SendVerbatim(const uint8_t* data, uint32_t count);

    // Input from the page: the bytes of one MIDI message event, for the port
    // whose ports are in use (none is dropped: there is one such port at most).
    static void ReceiveInput(const uint8_t* data, uint32_t count);

private:
    // Finds and takes the output and the input; false when either is missing.
    bool Connect();
    // Hands messages to the browser; returns the bytes it refused.
    uint64_t SendMessages(const std::vector<std::vector<uint8_t>>& messages);

    bool inUse = false;
    WholeMessages wholeMessages;
};
