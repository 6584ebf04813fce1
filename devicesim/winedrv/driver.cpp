// winekestrane.drv: a WinMM MIDI driver for Wine that presents the emulated
// update device (DeviceSim) as a MIDI output and input of the system, with
// decoy devices around them, so that Windows programs reach it through the
// ordinary midiOut... and midiIn... calls. A test bench, never shipped.
//
// Wine loads it when the registry value Audio under
// HKCU\Software\Wine\Drivers says "kestrane"; winmm then sends it the MODM_
// and MIDM_ messages through modMessage and midMessage. mmdevapi loads the
// same driver list and needs the four audio entries at the end, which
// present no audio endpoint.
#include "driverdevice.h"
#include "driverports.h"

#include <mutex>
#include <string>

extern "C" BOOL WINAPI DriverCallback(DWORD_PTR callback, DWORD flags, HDRVR device, DWORD message,
                                      DWORD_PTR user, DWORD_PTR param1, DWORD_PTR param2);

const char* const kDriverTag = "winekestrane";

const DeviceLayout& GetLayout() {
    static std::once_flag once;
    static DeviceLayout* layout = nullptr; // lives until the process ends
    std::call_once(once, [] {
        InstallDriverLog();
        layout = new DeviceLayout(ReadDeviceLayout());
    });
    return *layout;
}

ClientCallback::ClientCallback(const MIDIOPENDESC& description, DWORD_PTR openFlags)
    : callback(description.dwCallback), type(HIWORD(static_cast<DWORD>(openFlags))),
      handle(reinterpret_cast<HDRVR>(description.hMidi)), instance(description.dwInstance) {}

void ClientCallback::Notify(UINT message, DWORD_PTR param1, DWORD_PTR param2) const {
    DriverCallback(callback, type, handle, message, instance, param1, param2);
}

namespace {

bool IsHeaderValid(const MIDIHDR* header, DWORD_PTR size) {
    return header && size >= offsetof(MIDIHDR, dwOffset) &&
           (header->lpData || header->dwBufferLength == 0);
}

} // namespace

MMRESULT PrepareHeader(MIDIHDR* header, DWORD_PTR size, std::mutex& mutex) {
    if (!IsHeaderValid(header, size))
        return MMSYSERR_INVALPARAM;
    std::lock_guard<std::mutex> lock(mutex);
    header->dwFlags |= MHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT UnprepareHeader(MIDIHDR* header, DWORD_PTR size, std::mutex& mutex) {
    if (!IsHeaderValid(header, size))
        return MMSYSERR_INVALPARAM;
    std::lock_guard<std::mutex> lock(mutex);
    if (header->dwFlags & MHDR_INQUEUE)
        return MIDIERR_STILLPLAYING;
    header->dwFlags &= ~MHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT CheckHeaderToQueue(const MIDIHDR* header, DWORD_PTR size) {
    if (!IsHeaderValid(header, size))
        return MMSYSERR_INVALPARAM;
    if (!(header->dwFlags & MHDR_PREPARED))
        return MIDIERR_UNPREPARED;
    if (header->dwFlags & MHDR_INQUEUE)
        return MIDIERR_STILLPLAYING;
    return MMSYSERR_NOERROR;
}

void CopyDeviceName(WCHAR (&target)[MAXPNAMELEN], const std::string& name) {
    // The names are 8-bit text as the configuration gave them; winmm turns
    // them back into the same text for the "A" calls.
    std::wstring wide(name.size(), L'\0');
    int length = MultiByteToWideChar(CP_ACP, 0, name.data(), static_cast<int>(name.size()),
                                     &wide[0], static_cast<int>(wide.size()));
    wide.resize(length > 0 ? static_cast<size_t>(length) : 0);
    if (wide.size() > MAXPNAMELEN - 1)
        wide.resize(MAXPNAMELEN - 1);
    wide.copy(target, wide.size());
    target[wide.size()] = L'\0';
}

extern "C" {

LRESULT WINAPI DriverProc(DWORD_PTR driverId, HDRVR driver, UINT message, LPARAM param1,
                          LPARAM param2) {
    switch (message) {
    case DRV_LOAD:
    case DRV_FREE:
    case DRV_OPEN:
    case DRV_CLOSE:
    case DRV_ENABLE:
    case DRV_DISABLE:
        return 1;
    case DRV_QUERYCONFIGURE:
        return 0;
    case DRV_INSTALL:
    case DRV_REMOVE:
        return DRVCNF_OK;
    default:
        return DefDriverProc(driverId, driver, message, param1, param2);
    }
}

DWORD WINAPI modMessage(UINT id, UINT message, DWORD_PTR user, DWORD_PTR param1, DWORD_PTR param2) {
    return OutputMessage(id, message, user, param1, param2);
}

DWORD WINAPI midMessage(UINT id, UINT message, DWORD_PTR user, DWORD_PTR param1, DWORD_PTR param2) {
    return InputMessage(id, message, user, param1, param2);
}

// The audio side for mmdevapi: a driver of low priority without endpoints.
int WINAPI GetPriority() {
    return 1; // low: any real audio driver in the list is preferred
}

HRESULT WINAPI GetEndpointIDs(int flow, WCHAR*** ids, GUID** guids, UINT* count,
                              UINT* defaultIndex) {
    (void)flow;
    if (ids)
        *ids = nullptr;
    if (guids)
        *guids = nullptr;
    if (count)
        *count = 0;
    if (defaultIndex)
        *defaultIndex = 0;
    return S_OK;
}

HRESULT WINAPI GetAudioEndpoint(void* key, void* device, void** client) {
    (void)key;
    (void)device;
    if (client)
        *client = nullptr;
    return E_NOTIMPL;
}

HRESULT WINAPI GetAudioSessionManager(void* device, void** manager) {
    (void)device;
    if (manager)
        *manager = nullptr;
    return E_NOTIMPL;
}

} // extern "C"
