// The driver's MIDI outputs and inputs as winmm sees them: the emulated
// device's own output and input, and the decoys listed around them.
#pragma once

#include "driverconfig.h"

#include <windows.h>

#include <mmddk.h>
#include <mmreg.h>
#include <mmsystem.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// The device lists; read from the environment the first time they are needed
// and fixed from then on, as winmm counts the devices only once.
const DeviceLayout& GetLayout();

// Answers winmm's output (MODM_...) and input (MIDM_...) messages.
DWORD OutputMessage(UINT id, UINT message, DWORD_PTR user, DWORD_PTR param1, DWORD_PTR param2);
DWORD InputMessage(UINT id, UINT message, DWORD_PTR user, DWORD_PTR param1, DWORD_PTR param2);

// Hands a message the device's output received to every open input of the
// device, as a MIDI-thru loop would (KESTRANE_SIM_ECHO): a long message goes
// into the input's buffers as the device's own messages do, a short one
// (`shortMessage`) comes with MIM_DATA. Only inputs that are started take it.
void EchoToDeviceInputs(const std::vector<uint8_t>& bytes, bool shortMessage);

// How to reach the program that opened a handle.
struct ClientCallback {
    DWORD_PTR callback = 0;
    DWORD type = 0; // the callback type: the high word of the open flags
    HDRVR handle = nullptr;
    DWORD_PTR instance = 0;

    ClientCallback() = default;
    ClientCallback(const MIDIOPENDESC& description, DWORD_PTR openFlags);
    void Notify(UINT message, DWORD_PTR param1 = 0, DWORD_PTR param2 = 0) const;
};

// winmm passes preparing and unpreparing through, so the driver keeps the
// header flags itself. Both take the lock that guards the handle's headers.
MMRESULT PrepareHeader(MIDIHDR* header, DWORD_PTR size, std::mutex& lock);
// MIDIERR_STILLPLAYING while the header is queued.
MMRESULT UnprepareHeader(MIDIHDR* header, DWORD_PTR size, std::mutex& lock);
// Whether the header can be queued: MIDIERR_UNPREPARED or MIDIERR_STILLPLAYING
// (already queued) otherwise. Called with the lock held.
MMRESULT CheckHeaderToQueue(const MIDIHDR* header, DWORD_PTR size);

// A device name as the capability records carry it, cut to fit.
void CopyDeviceName(WCHAR (&target)[MAXPNAMELEN], const std::string& name);

// Tag of the driver's own log texts.
extern const char* const kDriverTag;

// What the output and input messages share. Handle is the driver's output or
// input handle class, made from (whether it is the emulated device's own,
// the client's callback) and opened with Open(); `user` is the handle
// winmm keeps for the client.

// Opens device `id` of `count`, `ownId` being the emulated device's: the
// handle goes to winmm in `user` once it has opened.
template <typename Handle>
MMRESULT OpenDeviceHandle(UINT id, size_t count, size_t ownId, DWORD_PTR* user,
                          const MIDIOPENDESC* description, DWORD_PTR flags) {
    if (id >= count)
        return MMSYSERR_BADDEVICEID;
    if (!user || !description)
        return MMSYSERR_INVALPARAM;
    auto handle = std::make_unique<Handle>(id == ownId, ClientCallback(*description, flags));
    MMRESULT result = handle->Open();
    if (result != MMSYSERR_NOERROR)
        return result;
    *user = reinterpret_cast<DWORD_PTR>(handle.release());
    return MMSYSERR_NOERROR;
}

// Closes the handle and frees it, unless it refused to close.
template <typename Handle> MMRESULT CloseDeviceHandle(Handle* handle) {
    MMRESULT result = handle->Close();
    if (result == MMSYSERR_NOERROR)
        delete handle;
    return result;
}

// Whether the capabilities of device `id` of `count` can be given: asked
// through an open handle (`user`), a handle whose device was unplugged under
// it no longer answers.
template <typename Handle>
MMRESULT CheckCapsRequest(UINT id, size_t count, DWORD_PTR user, const void* target) {
    if (id >= count)
        return MMSYSERR_BADDEVICEID;
    if (!target)
        return MMSYSERR_INVALPARAM;
    if (user != 0 && !reinterpret_cast<Handle*>(user)->IsUsable())
        return MMSYSERR_NODRIVER;
    return MMSYSERR_NOERROR;
}
