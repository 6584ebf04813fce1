// The driver's side of the emulated device: the one DeviceSim behind the
// driver's own output and input, and the link through which an open handle
// of either reaches it.
//
// The device is created when the first handle opens, and lives on across
// closes, as a plugged-in device keeps its state while programs close and
// open it again: an update sent portion by portion reaches the one device.
// It is replaced by a fresh one only when a handle opens while none is open
// and the device's settings have changed since it was created. It is never
// stopped at the end of the process: joining its thread while the loader
// unloads the driver would hang the program, so the process ends it.
#pragma once

#include "simport.h"

#include <windows.h>

#include <cstdint>
#include <memory>
#include <vector>

class DeviceLink : public SimMidiPort {
public:
    // Called on the device's thread, with the device locked, for each SysEx
    // message the device sends while the link is connected.
    using InputHandler = void (*)(void* context, const std::vector<uint8_t>& message);

    DeviceLink(DeviceSim& device, InputHandler handler, void* context);

    // Hands one message to the device; false when the device is gone (it was
    // unplugged after the link opened).
    bool Deliver(const std::vector<uint8_t>& bytes);

private:
    static void OnSysEx(void* context);

    InputHandler handler;
    void* handlerContext;
};

// What an open handle learns about the device when it opens.
struct DeviceLinkInfo {
    uint32_t byteMicros = 0; // wire time of one byte; 0 plays at once
};

// Opens a link for a handle of the device's own output or input: creates the
// device first when needed (see above), then connects. MMSYSERR_ALLOCATED when
// the device is not present (not yet plugged in, or unplugged);
// MMSYSERR_ERROR when its settings are malformed or its update file or record
// file cannot be used (the reason goes to the log and to standard error).
MMRESULT OpenDeviceLink(DeviceLink::InputHandler handler, void* context,
                        std::unique_ptr<DeviceLink>& link, DeviceLinkInfo& info);

// Closes the link and lets the device go on without it.
void CloseDeviceLink(std::unique_ptr<DeviceLink>& link);

// The input of the device has been started: the device sends the messages it
// is configured to send by itself from then on.
void ScheduleStartMessages();

// Logs why the emulated device cannot be set up, to the driver's log and to
// standard error; returns MMSYSERR_ERROR, which fails the open.
MMRESULT ReportSetupError(const char* reason);

// Installs the driver's log (see README.md) before any thread logs.
void InstallDriverLog();
