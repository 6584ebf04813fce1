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
//
// KESTRANE_SIM_IN_PIECE delivers everything in pieces of so many bytes, each
// in a buffer of its own, as some MIDI stacks hand SysEx input to programs.
// With KESTRANE_SIM_ECHO, the device's output hands what it receives to
// EchoToDeviceInputs, which delivers it here like the device's own messages.
#include "driverdevice.h"
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

// A message for the program: the device's own or an echo; a short message
// comes with MIM_DATA, outside the buffers.
struct Arrival {
    std::vector<uint8_t> bytes;
    bool shortMessage = false;
};

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
    // Takes a message to deliver, unless the input is not started.
    void Receive(const std::vector<uint8_t>& message, bool shortMessage);

private:
    // Called on the device's thread for each message the device sends.
    static void OnDeviceMessage(void* context, const std::vector<uint8_t>& message);
    void DelivererLoop();
    // Fills buffers with one message; called and returns with the lock held.
    void DeliverLocked(std::unique_lock<std::mutex>& lock, const std::vector<uint8_t>& message);
    // Hands a short message over; called and returns with the lock held.
    void DeliverShortLocked(std::unique_lock<std::mutex>& lock,
                            const std::vector<uint8_t>& message);
    DWORD_PTR TimestampLocked() const { return GetTickCount() - startedAt; }

    const bool own;
    const ClientCallback client;
    std::unique_ptr<DeviceLink> link; // own input only
    int64_t requeueDelayMs = 0;       // own input only
    uint32_t pieceBytes = 0;          // own input only; 0: whole buffers

    std::mutex mutex; // guards the rest and the flags of queued headers
    std::condition_variable wake;
    std::deque<MIDIHDR*> buffers;
    std::deque<Arrival> arrived; // messages not yet delivered
    bool started = false;
    DWORD startedAt = 0;
    bool stopping = false;
    std::thread deliverer;
};

// The device's open inputs, which take the echo of its output.
std::mutex echoMutex;
std::vector<InputHandle*> echoInputs; // guarded by echoMutex

MMRESULT InputHandle::Open() {
    if (own) {
        try {
            requeueDelayMs = ReadRequeueDelayMs();
            pieceBytes = ReadInputPieceBytes();
        } catch (const std::invalid_argument& e) {
            return ReportSetupError(e.what());
        }
        DeviceLinkInfo info;
        MMRESULT result = OpenDeviceLink(&InputHandle::OnDeviceMessage, this, link, info);
        if (result != MMSYSERR_NOERROR)
            return result;
        deliverer = std::thread(&InputHandle::DelivererLoop, this);
        std::lock_guard<std::mutex> lock(echoMutex);
        echoInputs.push_back(this);
    }
    client.Notify(MIM_OPEN);
    return MMSYSERR_NOERROR;
}

MMRESULT InputHandle::Close() {
    // Closing from the callback would leave the deliverer running on a handle
    // that is gone; Windows forbids it too.
    if (deliverer.joinable() && deliverer.get_id() == std::this_thread::get_id())
        return MMSYSERR_ERROR;
    {
        std::lock_guard<std::mutex> lock(echoMutex);
        echoInputs.erase(std::remove(echoInputs.begin(), echoInputs.end(), this), echoInputs.end());
    }
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
    static_cast<InputHandle*>(context)->Receive(message, false);
}

void InputHandle::Receive(const std::vector<uint8_t>& message, bool shortMessage) {
    std::lock_guard<std::mutex> lock(mutex);
    if (!started) {
        LogText("%s: input not started, %u bytes lost\n", kDriverTag,
                static_cast<unsigned>(message.size()));
        return;
    }
    arrived.push_back({message, shortMessage});
    wake.notify_all();
}

void InputHandle::DelivererLoop() {
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
        wake.wait(lock, [&] { return stopping || !arrived.empty(); });
        if (stopping)
            break;
        Arrival message = std::move(arrived.front());
        arrived.pop_front();
        if (message.shortMessage)
            DeliverShortLocked(lock, message.bytes);
        else
            DeliverLocked(lock, message.bytes);
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
        size_t count = std::min<size_t>(message.size() - offset, header->dwBufferLength);
        if (pieceBytes > 0)
            count = std::min<size_t>(count, pieceBytes);
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

void InputHandle::DeliverShortLocked(std::unique_lock<std::mutex>& lock,
                                     const std::vector<uint8_t>& message) {
    if (!started || stopping)
        return;
    DWORD packed = 0;
    for (size_t i = 0; i < message.size() && i < 4; ++i)
        packed |= static_cast<DWORD>(message[i]) << (8 * i);
    const DWORD_PTR timestamp = TimestampLocked();
    lock.unlock();
    client.Notify(MIM_DATA, packed, timestamp);
    lock.lock();
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

void EchoToDeviceInputs(const std::vector<uint8_t>& bytes, bool shortMessage) {
    std::lock_guard<std::mutex> lock(echoMutex);
    for (InputHandle* input : echoInputs)
        input->Receive(bytes, shortMessage);
}

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
