// The driver's MIDI inputs. The emulated device's input delivers each SysEx
// message the device sends, on a thread of its own, into the buffers the
// program has queued: each message starts a new buffer, a message longer
// than a buffer goes on in the next ones, and each buffer comes back with
// MIM_LONGDATA as soon as it is full or the message ends. Input arrives only
// between midiInStart and midiInStop or midiInReset, and only into queued
// buffers: what finds none is lost, as on a real input. A decoy input keeps
// the buffers it is given until it is reset, and never receives anything.
//
// KESTRANE_SIM_REQUEUE_DELAY makes the device's input a slow driver: a buffer
// the program queues again from its callback (on the delivering thread) is
// queued only that long after midiInAddBuffer is called.
#include "devicelink.h"
#include "driverports.h"

#include "utils.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {

class InputHandle {
public:
    InputHandle(bool ownInput, const ClientCallback& client) : own(ownInput), client(client) {}

    MMRESULT Open();
    MMRESULT Close();
    MMRESULT Prepare(MIDIHDR* header, DWORD_PTR size) { return PrepareHeader(header, size, mutex); }
    MMRESULT Unprepare(MIDIHDR* header, DWORD_PTR size) {
        return UnprepareHeader(header, size, mutex);
    }
    MMRESULT AddBuffer(MIDIHDR* header, DWORD_PTR size);
    MMRESULT Start();
    MMRESULT Stop();
    MMRESULT Reset();
    bool IsUsable() { return !own || (link && link->IsConnected()); }

private:
    // Called on the device's thread for each message the device sends.
    static void OnDeviceMessage(void* context, const std::vector<uint8_t>& message);
    void DelivererLoop();
    // Fills buffers with one message; called and returns with the lock held.
    void DeliverLocked(std::unique_lock<std::mutex>& lock, const std::vector<uint8_t>& message);
    DWORD_PTR TimestampLocked() const { return GetTickCount() - startedAt; }

    const bool own;
    const ClientCallback client;
    std::unique_ptr<DeviceLink> link; // own input only
    int64_t requeueDelayMs = 0;       // own input only

    std::mutex mutex; // guards the rest and the flags of queued headers
    std::condition_variable wake;
    std::deque<MIDIHDR*> buffers;
    std::deque<std::vector<uint8_t>> arrived; // messages not yet delivered
    bool started = false;
    DWORD startedAt = 0;
    bool stopping = false;
    std::thread deliverer;
};

MMRESULT InputHandle::Open() {
    if (own) {
        try {
            requeueDelayMs = ReadRequeueDelayMs();
        } catch (const std::invalid_argument& e) {
            return ReportSetupError(e.what());
        }
        DeviceLinkInfo info;
        MMRESULT result = OpenDeviceLink(&InputHandle::OnDeviceMessage, this, link, info);
        if (result != MMSYSERR_NOERROR)
            return result;
        deliverer = std::thread(&InputHandle::DelivererLoop, this);
    }
    client.Notify(MIM_OPEN);
    return MMSYSERR_NOERROR;
}

MMRESULT InputHandle::Close() {
    // Closing from the callback would leave the deliverer running on a handle
    // that is gone; Windows forbids it too.
    if (deliverer.joinable() && deliverer.get_id() == std::this_thread::get_id())
        return MMSYSERR_ERROR;
    bool refused = false;
    {
        std::lock_guard<std::mutex> lock(mutex);
        refused = !buffers.empty();
        started = false;
        stopping = true;
        wake.notify_all();
    }
    // The input stops even when the close is refused: Windows keeps the
    // handle for a reset and another close, but Wine's winmm forgets it
    // whatever the driver answers, and the program may then free the buffers
    // it still has queued here. A reset that comes all the same hands them
    // back. The link goes first, so that the device no longer calls here.
    CloseDeviceLink(link);
    if (deliverer.joinable())
        deliverer.join();
    if (refused)
        return MIDIERR_STILLPLAYING;
    client.Notify(MIM_CLOSE);
    return MMSYSERR_NOERROR;
}

MMRESULT InputHandle::AddBuffer(MIDIHDR* header, DWORD_PTR size) {
    // Held outside the lock, as a slow driver would be busy elsewhere: the
    // input goes on being reset, stopped and closed meanwhile.
    if (requeueDelayMs > 0 && deliverer.joinable() &&
        deliverer.get_id() == std::this_thread::get_id())
        std::this_thread::sleep_for(std::chrono::milliseconds(requeueDelayMs));
    std::lock_guard<std::mutex> lock(mutex);
    MMRESULT check = CheckHeaderToQueue(header, size);
    if (check != MMSYSERR_NOERROR)
        return check;
    header->dwFlags = (header->dwFlags & ~MHDR_DONE) | MHDR_INQUEUE;
    header->dwBytesRecorded = 0;
    buffers.push_back(header);
    return MMSYSERR_NOERROR;
}

MMRESULT InputHandle::Start() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (stopping)
            return MMSYSERR_ERROR; // a refused close has stopped the input
        if (started)
            return MMSYSERR_NOERROR;
        started = true;
        startedAt = GetTickCount();
    }
    if (own)
        ScheduleStartMessages();
    return MMSYSERR_NOERROR;
}

MMRESULT InputHandle::Stop() {
    std::lock_guard<std::mutex> lock(mutex);
    started = false;
    return MMSYSERR_NOERROR;
}

MMRESULT InputHandle::Reset() {
    std::deque<MIDIHDR*> returned;
    DWORD_PTR timestamp = 0;
    {
        std::lock_guard<std::mutex> lock(mutex);
        timestamp = TimestampLocked();
        started = false;
        arrived.clear();
        returned.swap(buffers);
        for (MIDIHDR* header : returned)
            header->dwFlags = (header->dwFlags & ~MHDR_INQUEUE) | MHDR_DONE;
    }
    for (MIDIHDR* header : returned)
        client.Notify(MIM_LONGDATA, reinterpret_cast<DWORD_PTR>(header), timestamp);
    return MMSYSERR_NOERROR;
}

void InputHandle::OnDeviceMessage(void* context, const std::vector<uint8_t>& message) {
    InputHandle* handle = static_cast<InputHandle*>(context);
    std::lock_guard<std::mutex> lock(handle->mutex);
    if (!handle->started) {
        LogText("%s: input not started, %u bytes lost\n", kDriverTag,
                static_cast<unsigned>(message.size()));
        return;
    }
    handle->arrived.push_back(message);
    handle->wake.notify_all();
}

void InputHandle::DelivererLoop() {
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
        wake.wait(lock, [&] { return stopping || !arrived.empty(); });
        if (stopping)
            break;
        std::vector<uint8_t> message = std::move(arrived.front());
        arrived.pop_front();
        DeliverLocked(lock, message);
    }
}

void InputHandle::DeliverLocked(std::unique_lock<std::mutex>& lock,
                                const std::vector<uint8_t>& message) {
    size_t offset = 0;
    while (offset < message.size()) {
        if (!started || stopping) {
            LogText("%s: input stopped, %u bytes lost\n", kDriverTag,
                    static_cast<unsigned>(message.size() - offset));
            return;
        }
        if (buffers.empty()) {
            LogText("%s: no input buffer queued, %u bytes lost\n", kDriverTag,
                    static_cast<unsigned>(message.size() - offset));
            return;
        }
        MIDIHDR* header = buffers.front();
        buffers.pop_front();
        const size_t count = std::min<size_t>(message.size() - offset, header->dwBufferLength);
        memcpy(header->lpData, message.data() + offset, count);
        offset += count;
        header->dwBytesRecorded = static_cast<DWORD>(count);
        header->dwFlags = (header->dwFlags & ~MHDR_INQUEUE) | MHDR_DONE;
        const DWORD_PTR timestamp = TimestampLocked();
        // The program queues the buffer again from its callback.
        lock.unlock();
        client.Notify(MIM_LONGDATA, reinterpret_cast<DWORD_PTR>(header), timestamp);
        lock.lock();
    }
}

MMRESULT GetCaps(UINT id, DWORD_PTR user, MIDIINCAPSW* target, DWORD_PTR size) {
    const DeviceLayout& layout = GetLayout();
    const MMRESULT check = CheckCapsRequest<InputHandle>(id, layout.inputs.size(), user, target);
    if (check != MMSYSERR_NOERROR)
        return check;
    MIDIINCAPSW caps = {};
    caps.wMid = MM_UNMAPPED;
    caps.wPid = MM_PID_UNMAPPED;
    caps.vDriverVersion = 0x0100;
    CopyDeviceName(caps.szPname, layout.inputs[id]);
    memcpy(target, &caps, size < sizeof caps ? size : sizeof caps);
    return MMSYSERR_NOERROR;
}

} // namespace

DWORD InputMessage(UINT id, UINT message, DWORD_PTR user, DWORD_PTR param1, DWORD_PTR param2) {
    InputHandle* handle = reinterpret_cast<InputHandle*>(user);
    MIDIHDR* header = reinterpret_cast<MIDIHDR*>(param1);
    switch (message) {
    case DRVM_INIT:
    case DRVM_EXIT:
    case DRVM_ENABLE:
    case DRVM_DISABLE:
        return MMSYSERR_NOERROR;
    case MIDM_GETNUMDEVS:
        return static_cast<DWORD>(GetLayout().inputs.size());
    case MIDM_GETDEVCAPS:
        return GetCaps(id, user, reinterpret_cast<MIDIINCAPSW*>(param1), param2);
    case MIDM_OPEN:
        return OpenDeviceHandle<InputHandle>(id, GetLayout().inputs.size(), GetLayout().ownInput,
                                             reinterpret_cast<DWORD_PTR*>(user),
                                             reinterpret_cast<const MIDIOPENDESC*>(param1), param2);
    }
    if (!handle)
        return MMSYSERR_INVALHANDLE;
    switch (message) {
    case MIDM_CLOSE:
        return CloseDeviceHandle(handle);
    case MIDM_PREPARE:
        return handle->Prepare(header, param2);
    case MIDM_UNPREPARE:
        return handle->Unprepare(header, param2);
    case MIDM_ADDBUFFER:
        return handle->AddBuffer(header, param2);
    case MIDM_START:
        return handle->Start();
    case MIDM_STOP:
        return handle->Stop();
    case MIDM_RESET:
        return handle->Reset();
    default:
        return MMSYSERR_NOTSUPPORTED;
    }
}
