// The driver's MIDI outputs. The emulated device's output hands every long
// and short message to the device; at a wire speed it plays them one after
// another on a thread of its own, each taking its bytes' time on the wire,
// and reports each long message done when its last byte has gone out. Without
// a wire speed it hands the message over and reports it done before
// midiOutLongMsg returns. A decoy output takes every message and drops it.
//
// Habits of other MIDI stacks, set when the output opens (README.md): long
// messages over KESTRANE_SIM_LONG_LIMIT bytes are refused; with
// KESTRANE_SIM_DONE_DELAY each long message is reported done only that long
// after it reached the device (the thread plays then, also without a wire
// speed, and the messages behind it wait); with KESTRANE_SIM_ECHO every
// message the device receives also goes back to its inputs.
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

using Clock = std::chrono::steady_clock;

// Bytes of a short message by its status byte; a message in running status
// (a data byte first) is taken as two data bytes.
size_t ShortMessageLength(uint8_t status) {
    if (status < 0x80)
        return 2;
    if (status < 0xF0)
        return (status & 0xE0) == 0xC0 ? 2 : 3;
    switch (status) {
    case 0xF1:
    case 0xF3:
        return 2;
    case 0xF2:
        return 3;
    default:
        return 1;
    }
}

class OutputHandle {
public:
    OutputHandle(bool ownOutput, const ClientCallback& client) : own(ownOutput), client(client) {}

    MMRESULT Open();
    MMRESULT Close();
    MMRESULT Prepare(MIDIHDR* header, DWORD_PTR size) { return PrepareHeader(header, size, mutex); }
    MMRESULT Unprepare(MIDIHDR* header, DWORD_PTR size) {
        return UnprepareHeader(header, size, mutex);
    }
    MMRESULT ShortMessage(DWORD packed);
    MMRESULT LongMessage(MIDIHDR* header, DWORD_PTR size);
    MMRESULT Reset();
    // False once the device has been unplugged under this handle; the handle
    // stays useless until it is closed.
    bool IsUsable() { return !own || (link && link->IsConnected()); }

private:
    // A message waiting for the wire; header is null for a short message.
    struct Job {
        MIDIHDR* header;
        std::vector<uint8_t> bytes;
    };

    void StartPlayer();
    void StopPlayer();
    void PlayerLoop();
    // Whether messages go through the player thread.
    bool UsesPlayer() const { return byteMicros > 0 || habits.doneDelayMs > 0; }
    // Hands the bytes to the device (and echoes them); false when the device
    // is gone.
    bool Deliver(const std::vector<uint8_t>& bytes, bool shortMessage);
    // Deliver, on the player thread; logs when they are lost.
    void DeliverToDevice(const std::vector<uint8_t>& bytes, bool shortMessage);
    // Marks the header done (with the lock held).
    static void MarkDone(MIDIHDR* header);

    const bool own;
    const ClientCallback client;
    std::unique_ptr<DeviceLink> link; // own output only
    uint32_t byteMicros = 0;
    OutputHabits habits; // own output only

    std::mutex mutex; // guards the rest and the flags of queued headers
    std::condition_variable wake;
    std::deque<Job> queue;      // front: the message on the wire
    int inFlight = 0;           // taken off the wire, being handed over
    uint64_t resets = 0;        // tells the player that the queue was emptied
    Clock::time_point wireFree; // when the wire has sent everything taken so far
    bool stopping = false;
    bool closeRefused = false; // a close came while messages were queued
    std::thread player;
};

MMRESULT OutputHandle::Open() {
    if (own) {
        try {
            habits = ReadOutputHabits();
        } catch (const std::invalid_argument& e) {
            return ReportSetupError(e.what());
        }
        DeviceLinkInfo info;
        MMRESULT result = OpenDeviceLink(nullptr, nullptr, link, info);
        if (result != MMSYSERR_NOERROR)
            return result;
        byteMicros = info.byteMicros;
        if (UsesPlayer())
            StartPlayer();
    }
    client.Notify(MOM_OPEN);
    return MMSYSERR_NOERROR;
}

MMRESULT OutputHandle::Close() {
    // Closing from the MOM_DONE callback would leave the player running on a
    // handle that is gone; Windows forbids it too.
    if (player.joinable() && player.get_id() == std::this_thread::get_id())
        return MMSYSERR_ERROR;
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (!queue.empty() || inFlight > 0) {
            // Windows keeps the handle, plays on and returns the messages;
            // Wine's winmm forgets the handle whatever the driver answers, so
            // the player lets the device go once it has played them.
            closeRefused = true;
            return MIDIERR_STILLPLAYING;
        }
    }
    StopPlayer();
    CloseDeviceLink(link);
    client.Notify(MOM_CLOSE);
    return MMSYSERR_NOERROR;
}

MMRESULT OutputHandle::ShortMessage(DWORD packed) {
    if (!own)
        return MMSYSERR_NOERROR;
    if (!link)
        return MMSYSERR_NODRIVER; // after a refused close
    std::vector<uint8_t> bytes;
    const uint8_t status = static_cast<uint8_t>(packed & 0xFF);
    for (size_t i = 0; i < ShortMessageLength(status); ++i)
        bytes.push_back(static_cast<uint8_t>((packed >> (8 * i)) & 0xFF));
    if (!UsesPlayer()) {
        if (!Deliver(bytes, true))
            return MMSYSERR_NODRIVER;
        return MMSYSERR_NOERROR;
    }
    if (!link->IsConnected())
        return MMSYSERR_NODRIVER;
    std::lock_guard<std::mutex> lock(mutex);
    queue.push_back({nullptr, std::move(bytes)});
    wake.notify_all();
    return MMSYSERR_NOERROR;
}

MMRESULT OutputHandle::LongMessage(MIDIHDR* header, DWORD_PTR size) {
    {
        std::lock_guard<std::mutex> lock(mutex);
        MMRESULT check = CheckHeaderToQueue(header, size);
        if (check != MMSYSERR_NOERROR)
            return check;
    }
    if (own && !link)
        return MMSYSERR_NODRIVER; // after a refused close
    if (own && habits.longLimit > 0 && header->dwBufferLength > habits.longLimit) {
        LogText("%s: long message of %u bytes refused (over %u)\n", kDriverTag,
                static_cast<unsigned>(header->dwBufferLength),
                static_cast<unsigned>(habits.longLimit));
        return MMSYSERR_INVALPARAM;
    }
    std::vector<uint8_t> bytes(header->lpData, header->lpData + header->dwBufferLength);
    if (own && UsesPlayer()) {
        if (!link->IsConnected())
            return MMSYSERR_NODRIVER;
        std::lock_guard<std::mutex> lock(mutex);
        header->dwFlags = (header->dwFlags & ~MHDR_DONE) | MHDR_INQUEUE;
        queue.push_back({header, std::move(bytes)});
        wake.notify_all();
        return MMSYSERR_NOERROR;
    }
    if (own && !Deliver(bytes, false))
        return MMSYSERR_NODRIVER;
    {
        std::lock_guard<std::mutex> lock(mutex);
        MarkDone(header);
    }
    client.Notify(MOM_DONE, reinterpret_cast<DWORD_PTR>(header));
    return MMSYSERR_NOERROR;
}

MMRESULT OutputHandle::Reset() {
    std::deque<Job> returned;
    {
        std::lock_guard<std::mutex> lock(mutex);
        returned.swap(queue);
        ++resets;
        wireFree = Clock::now();
        for (Job& job : returned) {
            if (job.header)
                MarkDone(job.header);
        }
        wake.notify_all();
    }
    if (!returned.empty())
        LogText("%s: output reset, %u messages not sent\n", kDriverTag,
                static_cast<unsigned>(returned.size()));
    for (const Job& job : returned) {
        if (job.header)
            client.Notify(MOM_DONE, reinterpret_cast<DWORD_PTR>(job.header));
    }
    return MMSYSERR_NOERROR;
}

void OutputHandle::StartPlayer() {
    wireFree = Clock::now();
    player = std::thread(&OutputHandle::PlayerLoop, this);
}

void OutputHandle::StopPlayer() {
    if (!player.joinable())
        return;
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
        wake.notify_all();
    }
    player.join();
}

void OutputHandle::PlayerLoop() {
    std::unique_lock<std::mutex> lock(mutex);
    while (!stopping) {
        if (queue.empty() && closeRefused) {
            lock.unlock();
            CloseDeviceLink(link);
            return;
        }
        if (queue.empty()) {
            wake.wait(lock);
            continue;
        }
        const uint64_t seenResets = resets;
        const Clock::time_point start = std::max(Clock::now(), wireFree);
        const Clock::time_point end =
            start + std::chrono::microseconds(static_cast<int64_t>(byteMicros) *
                                              static_cast<int64_t>(queue.front().bytes.size()));
        wireFree = end;
        auto takenBack = [&] { return stopping || resets != seenResets; };
        if (wake.wait_until(lock, end, takenBack))
            continue; // the message was taken back before its last byte went out
        Job job = std::move(queue.front());
        queue.pop_front();
        ++inFlight;
        lock.unlock();
        DeliverToDevice(job.bytes, job.header == nullptr);
        lock.lock();
        if (job.header && habits.doneDelayMs > 0) {
            // Reported done late; a reset or close hands it back at once.
            wake.wait_until(lock, Clock::now() + std::chrono::milliseconds(habits.doneDelayMs),
                            takenBack);
        }
        if (job.header)
            MarkDone(job.header);
        lock.unlock();
        if (job.header)
            client.Notify(MOM_DONE, reinterpret_cast<DWORD_PTR>(job.header));
        lock.lock();
        --inFlight;
    }
}

bool OutputHandle::Deliver(const std::vector<uint8_t>& bytes, bool shortMessage) {
    // A thru loop sends each byte back as it arrives, before the device can
    // have answered the message.
    if (habits.echo && link->IsConnected())
        EchoToDeviceInputs(bytes, shortMessage);
    return link->Deliver(bytes);
}

void OutputHandle::DeliverToDevice(const std::vector<uint8_t>& bytes, bool shortMessage) {
    if (!Deliver(bytes, shortMessage))
        LogText("%s: the device is gone, %u bytes lost\n", kDriverTag,
                static_cast<unsigned>(bytes.size()));
}

void OutputHandle::MarkDone(MIDIHDR* header) {
    header->dwFlags = (header->dwFlags & ~MHDR_INQUEUE) | MHDR_DONE;
}

MMRESULT GetCaps(UINT id, DWORD_PTR user, MIDIOUTCAPSW* target, DWORD_PTR size) {
    const DeviceLayout& layout = GetLayout();
    const MMRESULT check = CheckCapsRequest<OutputHandle>(id, layout.outputs.size(), user, target);
    if (check != MMSYSERR_NOERROR)
        return check;
    MIDIOUTCAPSW caps = {};
    caps.wMid = MM_UNMAPPED;
    caps.wPid = MM_PID_UNMAPPED;
    caps.vDriverVersion = 0x0100;
    CopyDeviceName(caps.szPname, layout.outputs[id]);
    caps.wTechnology = MOD_MIDIPORT;
    caps.wChannelMask = 0xFFFF;
    memcpy(target, &caps, size < sizeof caps ? size : sizeof caps);
    return MMSYSERR_NOERROR;
}

} // namespace

DWORD OutputMessage(UINT id, UINT message, DWORD_PTR user, DWORD_PTR param1, DWORD_PTR param2) {
    OutputHandle* handle = reinterpret_cast<OutputHandle*>(user);
    MIDIHDR* header = reinterpret_cast<MIDIHDR*>(param1);
    switch (message) {
    case DRVM_INIT:
    case DRVM_EXIT:
    case DRVM_ENABLE:
    case DRVM_DISABLE:
        return MMSYSERR_NOERROR;
    case MODM_GETNUMDEVS:
        return static_cast<DWORD>(GetLayout().outputs.size());
    case MODM_GETDEVCAPS:
        return GetCaps(id, user, reinterpret_cast<MIDIOUTCAPSW*>(param1), param2);
    case MODM_OPEN:
        return OpenDeviceHandle<OutputHandle>(id, GetLayout().outputs.size(), GetLayout().ownOutput,
                                              reinterpret_cast<DWORD_PTR*>(user),
                                              reinterpret_cast<const MIDIOPENDESC*>(param1),
                                              param2);
    }
    if (!handle)
        return MMSYSERR_INVALHANDLE;
    switch (message) {
    case MODM_CLOSE:
        return CloseDeviceHandle(handle);
    case MODM_PREPARE:
        return handle->Prepare(header, param2);
    case MODM_UNPREPARE:
        return handle->Unprepare(header, param2);
    case MODM_DATA:
        return handle->ShortMessage(static_cast<DWORD>(param1));
    case MODM_LONGDATA:
        return handle->LongMessage(header, param2);
    case MODM_RESET:
        return handle->Reset();
    default:
        return MMSYSERR_NOTSUPPORTED;
    }
}
