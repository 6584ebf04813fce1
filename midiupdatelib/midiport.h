// The MIDI port interface through which the transfer engine talks to a
// device, and the assembly of incoming SysEx messages.
#pragma once

#include "portsettings.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

// Assembles complete SysEx messages (0xF0 through the next 0xF7) from raw
// input bytes. Fed only from the thread that delivers MIDI input.
class SysExCollector {
public:
    using Callback = void (*)(void* context);

    void SetCallback(Callback function, void* callbackContext);
    void AddByte(uint8_t byte);
    bool HasSysEx() const;
    const std::vector<uint8_t>& GetBytes() const { return bytes; }

private:
    bool collecting = false;
    std::vector<uint8_t> bytes; // message being assembled, or the last completed one
    Callback callback = nullptr;
    void* context = nullptr;
};

// The interface every port implements, and what every port does alike: it
// keeps the update's port settings, puts each block on the wire as the
// settings ask (framed or as it is), pauses after it as configured, and asks
// the device and waits for the answer. A port adds only what is its own:
// connecting, handing one block to the system, and receiving.
class MidiPort {
public:
    // A port with the default settings.
    MidiPort();
    // A port that sends and paces as the settings ask.
    explicit MidiPort(const PortSettings& settings);
    virtual ~MidiPort();
    MidiPort(const MidiPort&) = delete;
    MidiPort& operator=(const MidiPort&) = delete;

    virtual int32_t GetIdealChunkSize() = 0;
    virtual int32_t GetMaxChunkSize() = 0;
    // True when data can be sent now; a port may connect itself here.
    virtual bool IsConnected() = 0;
    // Lets the user pick the device interactively; does nothing by default.
    virtual void AskForPort();
    virtual void Disconnect() = 0;
    // Transmits a block of SysEx data; returns when the port is done with the bytes.
    virtual void Send(const uint8_t* data, uint32_t count) = 0;
    virtual void Reconnect();
    // Asks the device something; an empty result means no reply. The base
    // version sends nothing and returns an empty vector at once.
    virtual std::vector<uint8_t> Request(uint32_t timeoutMs, const uint8_t* request,
                                         uint32_t count);
    // A copy of the last completed message not yet cleared.
    virtual std::vector<uint8_t> GetSysEx();
    virtual void ClearSysEx();

    // Takes the stored message and empties the store in one step, so that a
    // message completing in between cannot be lost.
    std::vector<uint8_t> TakeSysEx();

    // How many blocks the port could not hand to the device since the last
    // call (not connected, or refused by the driver); resets the count. The
    // sender asks after each portion whether it went out whole.
    uint32_t TakeSendFailures();

protected:
    // How a port hands one block to the system, unchanged (its SendVerbatim).
    using BlockSender = std::function<void(const uint8_t* data, uint32_t count)>;

    // How often a port that really asks its device looks for the answer.
    static constexpr uint32_t kAnswerPollMs = 10;

    // The body of every port's Send: hands the block to `sendVerbatim` as the
    // settings' chunks flag asks, framed as one complete SysEx message or as
    // it is (WireMessage, sysexframing.h). Nothing is sent for an empty block.
    void SendBlock(const uint8_t* data, uint32_t count, const BlockSender& sendVerbatim);

    // The settings' pauses, clamped by PortPauseMs: `delay` after a message
    // that went out, `unprepdelay` once the port is done with a block.
    void PauseAfterMessage() const;
    void PauseAfterRelease() const;

    // Called by a port's Send when a block did not go out.
    void NoteSendFailure();
    // Logs that a block cannot go out because the port is not connected, and
    // counts it as not sent.
    void NoteNotConnected();

    // The request and the wait for its answer, for ports whose Request
    // really asks the device: logs the call as "<tag>(<ms> ms, <n> bytes)",
    // drops any message received before (it is not the answer), and when the
    // port is connected hands the request as it is to `sendVerbatim` and
    // waits up to timeoutMs for the answer: with `waitForAnswer` when given,
    // else with WaitForSysEx every kAnswerPollMs. An empty result means no
    // answer; then "<tag>: not connected, no <noun>" or "<tag>: no <noun>" is
    // logged, `noun` being the port's word for the answer.
    std::vector<uint8_t> RequestAndWait(
        const char* tag, const char* noun, uint32_t timeoutMs, const uint8_t* request,
        uint32_t count, const BlockSender& sendVerbatim,
        const std::function<std::vector<uint8_t>(uint32_t timeoutMs)>& waitForAnswer = nullptr);

    // Waits up to `timeoutMs` for a completed message, looking every
    // `pollMs`, and takes it; empty when none came in time. For ports whose
    // Request really asks the device.
    std::vector<uint8_t> WaitForSysEx(uint32_t timeoutMs, uint32_t pollMs);

    // The wait of a port that really asks its device: the first message that
    // answers the request within timeoutMs, looking every kAnswerPollMs;
    // empty when none came. For an Identity Request only an Identity Reply
    // counts: anything else that comes in meanwhile (the request itself,
    // echoed by a device or a MIDI thru on the way) is passed over and
    // logged under `tag`.
    std::vector<uint8_t> WaitForReply(const char* tag, const uint8_t* request, uint32_t count,
                                      uint32_t timeoutMs);

    // Fed by the port with input bytes, on the thread that delivers MIDI input.
    SysExCollector sysExCollector;

    // The port's own copy of the update's settings: the device's names (which
    // a port may add to, as AskForPort does), the chunk sizes, the pauses and
    // the chunks flag.
    PortSettings params;

private:
    static void OnSysExComplete(void* context);
    void GotSysEx();

    std::atomic<uint32_t> sendFailures{0};
    std::mutex receivedMutex;
    std::vector<uint8_t> receivedSysEx;
};
