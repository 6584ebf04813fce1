// An in-process MIDI port that connects the sender to an emulated device
// (DeviceSim) the way the Windows port connects it to a real one: it finds
// the device by name, frames every block as one SysEx message when the
// settings ask for it, blocks for the configured pauses after each message,
// and receives the device's answers on the thread that delivers them (the
// device's own driver thread, or its owner's).
#pragma once

#include "devicesim.h"
#include "midiport.h"
#include "portsettings.h"

#include <cstdint>
#include <vector>

class SimMidiPort : public MidiPort {
public:
    // The device must outlive the port.
    SimMidiPort(DeviceSim& device, const PortSettings& settings);
    ~SimMidiPort() override;

    int32_t GetIdealChunkSize() override { return params.ideal; }
    int32_t GetMaxChunkSize() override { return params.max; }
    // Opens the connection when it is closed, if the device is present and
    // its output name matches the settings' names. True when the connection
    // is open and the device is still there; a connection that outlived an
    // unplugging stays unusable until Disconnect.
    bool IsConnected() override;
    // Closes the connection; the device keeps its state.
    void Disconnect() override;
    // Frames the block when the settings' chunks flag is set, then sends it.
    void Send(const uint8_t* data, uint32_t count) override;
    // Closes and opens again, when open.
    void Reconnect() override;
    // Really asks the device: drops any message received before, sends the
    // request as it is and polls every 10 ms for the answer until timeoutMs
    // has passed; an empty result means no answer (MidiPort::RequestAndWait).
    std::vector<uint8_t> Request(uint32_t timeoutMs, const uint8_t* request,
                                 uint32_t count) override;

    // Sends the bytes unchanged as one long message, then pauses for the
    // settings' delay and unprepdelay, as a driver-backed port blocks.
    void SendVerbatim(const uint8_t* data, uint32_t count);

private:
    friend class DeviceSim;

    // Called on the thread that delivers the device's answers, with the
    // device's lock held, only while the port is connected.
    void DeliverInput(const std::vector<uint8_t>& bytes);

    DeviceSim& device;
    bool open = false; // touched only by the thread that runs the sender
};
