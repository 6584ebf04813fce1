// The driver's side of the emulated device: the one DeviceSim behind the
// driver's own output and input, reached by an open handle of either through
// a DeviceLink.
//
// The device is created when the first handle opens, and lives on across
// closes, as a plugged-in device keeps its state while programs close and
// open it again: an update sent portion by portion reaches the one device.
// It is replaced by a fresh one only when a handle opens while none is open
// and the device's settings have changed since it was created. It is never
// stopped at the end of the process: joining its thread while the loader
// unloads the driver would hang the program, so the process ends it.
#pragma once

#include "devicelink.h"

#include <windows.h>

#include <cstdint>
#include <memory>

// What an open handle learns about the device when it opens.
struct DeviceLinkInfo {
    uint32_t byteMicros = 0; // wire time of one byte; 0 plays at once
};

// Opens a link for a handle of the device's own output or input: creates the
// device first when needed (see above), then connects. MMSYSERR_ALLOCATED when
// the device is not present (not yet plugged in, or unplugged);
// MMSYSERR_ERROR when its settings are malformed or its update file or record
// file cannot be used (the reason goes to the log and to standard error).
MMRESULT OpenDeviceLink(DeviceLink::MessageHandler handler, void* context,
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
