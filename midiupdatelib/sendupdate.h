// The transfer engine: the device's update-status and identity protocol, and
// the sender that pushes an update through a MIDI port.
#pragma once

#include "midiport.h"
#include "progress.h"
#include "update.h"

#include <cstdint>
#include <string>
#include <vector>

// The device's answer after a portion (the numbers appear in the log).
enum UpdateStatus {
    NoResponse = 0,
    Accepted = 1,
    Installing = 2,
    Failed = 3,
    NotConnected = 4, // the port did not connect, so the portion was not sent
};

// Classifies one message: only the 13-byte update-status message counts.
UpdateStatus CheckSysExUpdateStatus(const std::vector<uint8_t>& message);
// Waits up to timeoutMs for one message from the device, polling every 500 ms.
UpdateStatus GetUpdateStatus(MidiPort& port, uint32_t timeoutMs);
// Waits for the device's verdict on the portion just sent.
UpdateStatus WaitForUpdateToFinish(MidiPort& port, UpdateProgress& progress);

struct DeviceIdentity {
    std::string manufacturer;
    std::string family;
    std::string version;
    std::string name;
};

// Reads a MIDI Identity Reply; every field is empty when the reply is rejected.
DeviceIdentity ParseDeviceEnquiryResponse(const std::vector<uint8_t>& reply);
// "%02X " for every byte.
std::string HexText(const std::vector<uint8_t>& bytes);

// A half-open range [start, end) of one portion's bytes.
struct ByteRange {
    const uint8_t* start;
    const uint8_t* end;

    uint32_t Size() const { return static_cast<uint32_t>(end - start); }
    bool IsEmpty() const { return start == end; }
    bool operator==(const ByteRange& other) const {
        return start == other.start && end == other.end;
    }
    void AdvanceStart(uint32_t count);
    void ExtendEnd(uint32_t count) { end += count; }
};

// The next chunk to send from the remaining bytes: at least `ideal` bytes,
// grown up to `max` bytes until it ends on 0xF7 or 0x0A. Sizes are compared
// as unsigned; an ideal size of 0 is taken as 1 so that sending always advances.
ByteRange NextChunk(const ByteRange& remaining, int32_t ideal, int32_t max);
// Share of `total` that lies before `remaining`.
float ProgressFraction(const ByteRange& total, const ByteRange& remaining);

// Which branch of the final decision a run took. The texts the user sees are
// the ones below; callers that must act on the outcome use this value.
enum class SendOutcome {
    DeviceAccepted,   // the last portion was accepted: kUpdatedFormat
    DeviceFailed,     // the last portion was reported failed: kSendErrorText
    NoReply,          // no answer to the identity request: kSentUncheckedText
    ReplyUnreadable,  // an answer that could not be read: kSentUnconfirmedText
    DeviceAtVersion,  // the update names no version; the device's: kSentNowAtVersionFormat
    VersionMismatch,  // the device runs another version: kVersionMismatchFormat
    VersionConfirmed, // the device runs the update's version: kUpdatedFormat
};

// How one portion went: the device's answer, and whether every block of it
// was handed to the device.
struct PortionResult {
    UpdateStatus status = NoResponse;
    bool sentWhole = true;
};

struct SendResult {
    SendOutcome outcome = SendOutcome::NoReply;
    std::vector<PortionResult> portions; // one per portion, in order
};

class SysExSender {
public:
    explicit SysExSender(MidiPort& port);
    virtual ~SysExSender() = default;
    SysExSender(const SysExSender&) = delete;
    SysExSender& operator=(const SysExSender&) = delete;

    // Hands one portion to the port; true when every block of it went out.
    virtual bool SendPortion(const Update::SysExPortion& portion, UpdateProgress& progress) = 0;

    // Sends every portion and reports the outcome through one Completed call;
    // returns the outcome and how each portion went. Only the last portion's
    // answer decides the outcome.
    SendResult Send(const Update& update, UpdateProgress& progress);
    // True when every chunk was handed to the device.
    bool SendChunked(const Update::SysExPortion& portion, MidiPort& port, UpdateProgress& progress);
    bool WaitForConnection(MidiPort& port);
    void DoDelay(const Update::SysExPortion& portion, UpdateProgress& progress);

protected:
    MidiPort& port;
};

class SimpleSysExSender : public SysExSender {
public:
    explicit SimpleSysExSender(MidiPort& port) : SysExSender(port) {}
    bool SendPortion(const Update::SysExPortion& portion, UpdateProgress& progress) override;
};

// The texts the sender reports. Callers that must tell the outcomes apart
// (the command-line tool's exit status, the tests) compare against these.
extern const char* const kBlockingMessageText;
extern const char* const kUpdatedFormat;          // product name, version
extern const char* const kSendErrorText;          // the device reported an error
extern const char* const kSentUncheckedText;      // no reply to the identity request
extern const char* const kSentUnconfirmedText;    // a reply that could not be read
extern const char* const kSentNowAtVersionFormat; // device version (update version unknown)
extern const char* const kVersionMismatchFormat;  // product, device version, update version
