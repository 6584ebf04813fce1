#include "winmidiport.h"

#include "mididevices.h"
#include "utils.h"

#include <cstring>
#include <string>

namespace {

// How often a buffer the driver still plays is asked for again.
constexpr uint32_t kStillPlayingPollMs = 1000;

// How often an input that refuses to close is reset and asked again.
constexpr int kInputCloseAttempts = 3;

// How long past its time on a MIDI wire a sent block is waited for, once the
// driver has refused to release it otherwise than "still playing".
constexpr uint64_t kReturnSlackMs = 10000;

// A byte's time on a MIDI wire (31250 bits per second, ten bits a byte), in
// microseconds.
constexpr uint64_t kWireByteMicros = 320;

// The system's text for an output error.
std::string OutputErrorText(MMRESULT code) {
    char text[MAXERRORLENGTH] = {};
    if (midiOutGetErrorTextA(code, text, sizeof text) != MMSYSERR_NOERROR)
        return "unknown error";
    return text;
}

// Logs a block that the output refused to take: which one, its size, the
// system's reason, and what the user can do about it. Some MIDI stacks take
// long messages only up to a size of their own (Windows' newer MIDI service
// refuses those of 2049 bytes and more), and the blocks' size comes from the
// update's chunk sizes.
void LogRefusedBlock(const char* call, uint32_t portionBlock, uint32_t runBlock, uint32_t count,
                     MMRESULT err) {
    LogText("%s: block %u of the portion (%u of the run), %u bytes, refused by %s: %s (%d). "
            "The MIDI system may take only shorter messages: an update with a smaller `max` "
            "chunk size may get through.\n",
            "WindowsMidiPort::SendVerbatim", static_cast<unsigned>(portionBlock),
            static_cast<unsigned>(runBlock), static_cast<unsigned>(count), call,
            OutputErrorText(err).c_str(), static_cast<int>(err));
}

// One long message while the driver may hold it: the header and a copy of the
// bytes, which the port frees only once the driver has let go of them.
struct SentBlock {
    SentBlock(const uint8_t* data, uint32_t count) : bytes(data, data + count) {
        header.lpData = reinterpret_cast<LPSTR>(bytes.data());
        header.dwBufferLength = count;
        header.dwFlags = 0;
    }

    std::vector<uint8_t> bytes;
    MIDIHDR header = {};
};

// Whether the driver has handed the block back. It sets MHDR_DONE on a thread
// of its own, so the flags are read afresh at every look.
bool IsHandedBack(const MIDIHDR& header) {
    const volatile DWORD* flags = &header.dwFlags;
    return (*flags & MHDR_DONE) != 0;
}

// Waits until the driver lets go of a sent block (queued: midiOutLongMsg took
// it); false when it never does, and the block must then be left to it.
bool ReleaseSentBlock(HMIDIOUT midiOut, MIDIHDR& header, bool queued) {
    // The driver may report the message done before midiOutLongMsg returns,
    // or play it at the wire's speed long after; the header is released only
    // once the driver lets go of it, so it is polled rather than waited for.
    const uint64_t limitMs =
        kReturnSlackMs + (header.dwBufferLength * kWireByteMicros + 999) / 1000;
    uint64_t waitedMs = 0;
    MMRESULT reported = MMSYSERR_NOERROR;
    while (true) {
        MMRESULT err = midiOutUnprepareHeader(midiOut, &header, sizeof header);
        if (err == MMSYSERR_NOERROR)
            return true;
        if (err == MIDIERR_STILLPLAYING) {
            LogText("%s: Still playing\n", "WindowsMidiPort::SendVerbatim");
            SleepMs(kStillPlayingPollMs);
            continue;
        }
        if (err != reported)
            LogText("%s: Error unpreparing (%d:%s)\n", "WindowsMidiPort::SendVerbatim",
                    static_cast<int>(err), WindowsMidiPort::GetMidiErrorText(err));
        reported = err;
        // Any other refusal says nothing of the block: a driver that took it
        // holds it, and may write into it, until it marks it done.
        if (!queued || IsHandedBack(header))
            return true;
        if (waitedMs >= limitMs)
            return false;
        SleepMs(kStillPlayingPollMs);
        waitedMs += kStillPlayingPollMs;
    }
}

} // namespace

WindowsMidiPort::WindowsMidiPort(const PortSettings& settings)
    : MidiPort(settings), inputBuffers(new InputBuffers()) {}

WindowsMidiPort::~WindowsMidiPort() {
    // Disconnect logs and resets even a port that never connected; the
    // buffers are freed only after the input has handed them all back. This
    // class's own version, whatever a derived class would make of it.
    WindowsMidiPort::Disconnect();
}

bool WindowsMidiPort::IsConnected() {
    LogText("%s:", "WindowsMidiPort::IsConnected");
    if (midiOut == nullptr)
        Connect();
    // WinMM takes an open handle in place of a device number here.
    MIDIOUTCAPSA caps = {};
    MMRESULT err = midiOutGetDevCapsA(reinterpret_cast<UINT_PTR>(midiOut), &caps, sizeof caps);
    bool connected = midiOut != nullptr && err == MMSYSERR_NOERROR;
    LogText(" connected=%s (handle=%p, err=%d)\n", connected ? "yes" : "no",
            static_cast<void*>(midiOut), static_cast<int>(err));
    return connected;
}

void WindowsMidiPort::AskForPort() {
    const std::vector<std::string> outputs = ListMidiOutputNames();
    int answer = IDNO;
    for (size_t i = 0; answer == IDNO && i < outputs.size(); ++i) {
        std::string text = FormatText("Do you wish to update '%s'.\n\n", outputs[i].c_str());
        answer = MessageBoxA(nullptr, text.c_str(), "Kestrane",
                             MB_YESNO | MB_ICONQUESTION | MB_TASKMODAL | MB_SETFOREGROUND);
        if (answer == IDYES)
            params.names.insert(outputs[i]);
    }
}

void WindowsMidiPort::Disconnect() {
    LogText("%s\n", "WindowsMidiPort::Disconnect");
    // First, so that the buffers the reset hands back are not queued again.
    SetListening(false);
    midiOutReset(midiOut);
    if (midiOut != nullptr) {
        MMRESULT err = midiOutClose(midiOut);
        if (err != MMSYSERR_NOERROR)
            LogText("Failed to close MIDI OUT (%s).\n", GetMidiErrorText(err));
    }
    midiOut = nullptr;
    if (midiIn != nullptr)
        CloseInput();
}

void WindowsMidiPort::SetListening(bool on) {
    // A callback that has decided to queue a buffer again finishes doing so
    // before this returns; from then on none decides so.
    std::lock_guard<std::mutex> lock(inputMutex);
    listening = on;
}

void WindowsMidiPort::CloseInput() {
    // The port no longer listens, so the reset hands back every queued
    // buffer for good (the driver refuses to close while any is queued);
    // stop ends the recording. The input lock is not held here: the driver
    // may call back from inside the reset and the close.
    MMRESULT err = MMSYSERR_NOERROR;
    for (int attempt = 1; attempt <= kInputCloseAttempts; ++attempt) {
        midiInReset(midiIn);
        midiInStop(midiIn);
        for (int i = 0; i < kInputBufferCount; ++i) {
            err = midiInUnprepareHeader(midiIn, &inputBuffers->headers[i], sizeof(MIDIHDR));
            if (err != MMSYSERR_NOERROR)
                LogText("Failed to unprepare MIDIHDR %u (%s).\n", static_cast<unsigned>(i),
                        GetMidiErrorText(err));
        }
        err = midiInClose(midiIn);
        if (err != MIDIERR_STILLPLAYING)
            break;
        LogText("MIDI IN refused to close (%s); resetting it again.\n", GetMidiErrorText(err));
    }
    if (err != MMSYSERR_NOERROR) {
        // The handle may live on with buffers queued (Wine forgets it all the
        // same): they are left to the driver, never freed, and the next
        // Connect gets buffers of its own.
        LogText("Failed to close MIDI IN (%s); its input buffers are left allocated.\n",
                GetMidiErrorText(err));
        static_cast<void>(inputBuffers.release());
        inputBuffers.reset(new InputBuffers());
    }
    midiIn = nullptr;
}

void WindowsMidiPort::Connect() {
    LogText("%s\n", "WindowsMidiPort::Connect");
    blocksSinceConnect = 0;
    // An input left open by an earlier attempt whose output failed is closed
    // and opened again below, so that the input always belongs to the same
    // lookup as the output and gets all its buffers queued afresh. Not
    // listening while it is reset keeps the returned buffers out of the queue.
    if (midiIn != nullptr) {
        SetListening(false);
        CloseInput();
    }
    ListInterfaces();

    int outDevice = FindOutputDevice(params.names);
    MMRESULT err = midiOutOpen(&midiOut, static_cast<UINT>(outDevice),
                               reinterpret_cast<DWORD_PTR>(&WindowsMidiPort::MidiOutProc),
                               reinterpret_cast<DWORD_PTR>(this), CALLBACK_FUNCTION);
    if (err == MMSYSERR_NOERROR) {
        LogText("MIDI OUT Port opened OK.\n");
    } else {
        LogText("MIDI OUT Port failed to open.\n");
        midiOut = nullptr;
    }

    SetListening(true);

    int inDevice = FindInputDevice(params.names);
    err = midiInOpen(&midiIn, static_cast<UINT>(inDevice),
                     reinterpret_cast<DWORD_PTR>(&WindowsMidiPort::MidiInProc),
                     reinterpret_cast<DWORD_PTR>(this), CALLBACK_FUNCTION | MIDI_IO_STATUS);
    if (err == MMSYSERR_NOERROR) {
        LogText("MIDI IN Port opened OK (%d).\n", inDevice);
        // Replies arrive only into queued buffers: queue them all before
        // starting.
        for (int i = 0; i < kInputBufferCount; ++i) {
            MIDIHDR& header = inputBuffers->headers[i];
            std::memset(&header, 0, sizeof header);
            header.lpData = reinterpret_cast<LPSTR>(inputBuffers->bytes[i]);
            header.dwBufferLength = kInputBufferSize;
            header.dwFlags = 0;
            header.dwUser = reinterpret_cast<DWORD_PTR>(this);
            err = midiInPrepareHeader(midiIn, &header, sizeof header);
            if (err != MMSYSERR_NOERROR)
                LogText("Failed to prepare input buffer [%u] (%s).\n", static_cast<unsigned>(i),
                        GetMidiErrorText(err));
            err = midiInAddBuffer(midiIn, &header, sizeof header);
            if (err != MMSYSERR_NOERROR)
                LogText("Failed to add input buffer [%u] (%s).\n", static_cast<unsigned>(i),
                        GetMidiErrorText(err));
        }
        err = midiInStart(midiIn);
        if (err != MMSYSERR_NOERROR)
            LogText("Failed to start MIDI IN (%s).\n", GetMidiErrorText(err));
    } else {
        LogText("MIDI IN Port failed to open (%d).\n", inDevice);
        midiIn = nullptr;
    }

    LogText("  opened handles are %p:%p\n", static_cast<void*>(midiOut),
            static_cast<void*>(midiIn));
}

void WindowsMidiPort::Send(const uint8_t* data, uint32_t count) {
    LogText("%s(%p,%u)\n", "WindowsMidiPort::Send", static_cast<const void*>(data),
            static_cast<unsigned>(count));
    SendBlock(data, count,
              [this](const uint8_t* block, uint32_t size) { SendVerbatim(block, size); });
}

void WindowsMidiPort::Reconnect() {
    if (midiOut == nullptr)
        return;
    Disconnect();
    Connect();
}

std::vector<uint8_t> WindowsMidiPort::Request(uint32_t, const uint8_t*, uint32_t) {
    return GetSysEx();
}

void WindowsMidiPort::SendVerbatim(const uint8_t* data, uint32_t count) {
    const bool connected = IsConnected();
    // Counted after IsConnected, which may connect afresh.
    const uint32_t portionBlock = ++blocksSinceConnect;
    const uint32_t runBlock = ++blocksSent;
    if (!connected)
        return NoteNotConnected();
    // The driver holds the header, and may read the bytes, until it hands the
    // block back: both are the port's own copy, which can outlive this call.
    auto block = std::make_unique<SentBlock>(data, count);
    MIDIHDR& midiHdr = block->header;
    MMRESULT err = midiOutPrepareHeader(midiOut, &midiHdr, sizeof midiHdr);
    if (err != MMSYSERR_NOERROR) {
        LogRefusedBlock("midiOutPrepareHeader", portionBlock, runBlock, count, err);
        NoteSendFailure();
        return;
    }
    err = midiOutLongMsg(midiOut, &midiHdr, sizeof midiHdr);
    const bool queued = err == MMSYSERR_NOERROR;
    if (!queued) {
        LogRefusedBlock("midiOutLongMsg", portionBlock, runBlock, count, err);
        NoteSendFailure();
    } else {
        PauseAfterMessage();
    }
    if (!ReleaseSentBlock(midiOut, midiHdr, queued)) {
        LogText("%s: The driver never handed back the block of %u bytes; it is left allocated.\n",
                "WindowsMidiPort::SendVerbatim", static_cast<unsigned>(count));
        // Deliberately never freed: the driver may still write into it.
        static_cast<void>(block.release());
        NoteSendFailure();
    }
    PauseAfterRelease();
}

void WindowsMidiPort::MidiInCallback(HMIDIIN handle, UINT message, DWORD_PTR param1, DWORD_PTR) {
    switch (message) {
    case MIM_OPEN:
        LogText("MIM open message\n");
        break;
    case MIM_CLOSE:
        LogText("MIM close message\n");
        break;
    case MIM_DATA:
        LogText("MIM data message\n");
        break;
    case MIM_LONGDATA: {
        std::lock_guard<std::mutex> lock(inputMutex);
        MIDIHDR* header = reinterpret_cast<MIDIHDR*>(param1);
        LogText("MIM longdata message(%u)\n", static_cast<unsigned>(header->dwBytesRecorded));
        const uint8_t* bytes = reinterpret_cast<const uint8_t*>(header->lpData);
        for (DWORD i = 0; i < header->dwBytesRecorded; ++i)
            sysExCollector.AddByte(bytes[i]);
        RequeueInputBuffer(handle, header);
        break;
    }
    case MIM_ERROR:
        LogText("MIM_ERROR message\n");
        break;
    case MIM_LONGERROR: {
        std::lock_guard<std::mutex> lock(inputMutex);
        LogText("MIM_LONGERROR message\n");
        RequeueInputBuffer(handle, reinterpret_cast<MIDIHDR*>(param1));
        break;
    }
    case MOM_OPEN:
    case MOM_CLOSE:
    case MOM_DONE:
        LogText("MOM message (ERROR)\n");
        break;
    default:
        LogText("Unknown MIDI IN callback message\n");
        break;
    }
}

void WindowsMidiPort::RequeueInputBuffer(HMIDIIN handle, MIDIHDR* header) {
    // A buffer that comes back empty (as after a reset), or once the port
    // stops listening, stays out of the queue until the next Connect. The
    // input lock, held from the check through midiInAddBuffer, keeps a
    // closing port from resetting in between.
    if (!listening || header->dwBytesRecorded == 0)
        return;
    // Its bytes are collected: a driver that hands it back unfilled (at a
    // reset) must not make them count twice.
    header->dwBytesRecorded = 0;
    midiInPrepareHeader(handle, header, sizeof(MIDIHDR));
    if (midiInAddBuffer(handle, header, sizeof(MIDIHDR)) != MMSYSERR_NOERROR)
        LogText("%s: Error recycling buffer\n", "WindowsMidiPort::MidiInCallback");
}

void CALLBACK WindowsMidiPort::MidiInProc(HMIDIIN handle, UINT message, DWORD_PTR instance,
                                          DWORD_PTR param1, DWORD_PTR param2) {
    reinterpret_cast<WindowsMidiPort*>(instance)->MidiInCallback(handle, message, param1, param2);
}

void CALLBACK WindowsMidiPort::MidiOutProc(HMIDIOUT, UINT message, DWORD_PTR, DWORD_PTR,
                                           DWORD_PTR) {
    // Sends are finished by polling the header's release, so these are only
    // logged.
    switch (message) {
    case MIM_OPEN:
    case MIM_CLOSE:
    case MIM_DATA:
    case MIM_LONGDATA:
    case MIM_ERROR:
    case MIM_LONGERROR:
        LogText("MIM message\n");
        break;
    case MOM_OPEN:
        LogText("MOM open message\n");
        break;
    case MOM_CLOSE:
        LogText("MOM close message\n");
        break;
    case MOM_DONE:
        LogText("MOM done message (NOT pausing)\n");
        break;
    default:
        LogText("Unknown MIDI OUT callback message\n");
        break;
    }
}

const char* WindowsMidiPort::GetMidiErrorText(MMRESULT code) {
    // midiInGetErrorTextA knows the output errors too.
    static char text[256];
    text[0] = '\0';
    midiInGetErrorTextA(code, text, sizeof text);
    text[255] = '\0';
    return text;
}
