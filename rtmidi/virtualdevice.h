// The emulated update device (DeviceSim) as a MIDI device of the system, for
// rehearsing an update from another program: a virtual MIDI input through
// which programs send to it, and a virtual output through which it answers,
// both named after the device. On JACK they are the ports "NAME:NAME" (the
// input, listed among other programs' outputs) and "NAME-01:NAME" or the
// like (the output); on ALSA, the client NAME with a port NAME each.
//
// What arrives is handed to the device as it came: on JACK each event, read
// straight from JACK; elsewhere each message RtMidi delivers (RtMidi joins
// the pieces of a SysEx message). The device reads them as one byte stream.
// The device's answers go out on its own thread.
#pragma once

#include "devicesim.h"
#include "midisystem.h"

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

class VirtualMidiDevice {
public:
    // Opens both virtual ports and waits until other programs can see them;
    // throws std::runtime_error with a sentence for the user when the MIDI
    // system refuses. The device must outlive this.
    VirtualMidiDevice(DeviceSim& device, MidiSystem api, const std::string& name);
    // Closes the ports; messages still waiting are not handed over.
    ~VirtualMidiDevice();
    VirtualMidiDevice(const VirtualMidiDevice&) = delete;
    VirtualMidiDevice& operator=(const VirtualMidiDevice&) = delete;

    // Hands every message received so far to the device, in order; when none
    // is waiting, waits up to waitMs for one first.
    void Pump(uint32_t waitMs);

    // Messages (events on JACK) received through the input so far.
    uint64_t GetMessageCount() const;
    // Whether the MIDI system went away (the JACK server stopped); nothing
    // arrives any more.
    bool IsSystemGone() const;
    // Bytes that arrived faster than the device could take them and were
    // dropped.
    uint64_t GetDroppedByteCount() const;

private:
    struct Ports;

    // Waits until both ports show in the MIDI system's lists.
    void WaitUntilListed(const std::string& name);

    std::unique_ptr<Ports> ports;
};
