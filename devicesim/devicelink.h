// The emulated device's end of a connection from outside this process's own
// sender: the Wine driver's handles and the virtual MIDI ports hand what a
// program sends to the device through it, and it passes each SysEx message
// the device sends on to a handler as soon as it is complete.
//
// It has no names, so it matches the device whatever it is called (the owner
// has picked the device already), and no pauses, since the sending program
// paces its messages itself.
#pragma once

#include "simport.h"

#include <cstdint>
#include <vector>

class DeviceLink : public SimMidiPort {
public:
    // Called on the thread that delivers the device's answers, with the
    // device locked, for each SysEx message the device sends while the link
    // is connected; it must not call back into the device.
    using MessageHandler = void (*)(void* context, const std::vector<uint8_t>& message);

    // handler may be null: the device's messages are then dropped.
    DeviceLink(DeviceSim& device, MessageHandler handler, void* context);

    // Hands one delivery of bytes to the device as it came; false when the
    // device is gone (it was unplugged after the link opened).
    bool Deliver(const std::vector<uint8_t>& bytes);

private:
    static void OnSysEx(void* context);

    MessageHandler handler;
    void* handlerContext;
};
