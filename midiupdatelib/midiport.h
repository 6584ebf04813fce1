// The MIDI port interface through which the transfer engine talks to a
// device, and the assembly of incoming SysEx messages.
#pragma once

#include <atomic>
#include <cstdint>
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

class MidiPort {
public:
    MidiPort();
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
    // Called by a port's Send when a block did not go out.
    void NoteSendFailure();

    // Waits up to `timeoutMs` for a completed message, looking every
    // `pollMs`, and takes it; empty when none came in time. For ports whose
    // Request really asks the device.
    std::vector<uint8_t> WaitForSysEx(uint32_t timeoutMs, uint32_t pollMs);

    // Fed by the port with input bytes, on the thread that delivers MIDI input.
    SysExCollector sysExCollector;

private:
    static void OnSysExComplete(void* context);
    void GotSysEx();

    std::atomic<uint32_t> sendFailures{0};
    std::mutex receivedMutex;
    std::vector<uint8_t> receivedSysEx;
};
