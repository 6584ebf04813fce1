// An emulated firmware-update device, for running the sender without
// hardware: it receives the update's portions through a SimMidiPort, checks
// what arrives against the exact wire image that the sender and the port
// make of the update's data under its port settings, and answers each
// portion with the update-status message as its script says.
//
// Like a MIDI device it reads a byte stream: a portion is judged by its
// bytes, whatever deliveries (events, buffers, callbacks) they came in, and
// it ends once its image's bytes are in. Real-time bytes (0xF8-0xFF) and
// messages that are not SysEx (notes and the like) are ignored wherever they
// come. A SysEx message that is cut off (a new 0xF0 or another status byte
// before its 0xF7, as when a sender goes away in the middle of a message)
// makes the device start the portion over at that 0xF0. With whole blocks
// set it judges the way a device does that needs each block in one
// delivery: every delivery must be exactly the next message of the image. It answers the
// MIDI Identity Request with a configured firmware version, and it can appear
// late, or be unplugged in the middle of a portion and come back, to exercise
// the sender's retries.
//
// Its answers are delivered by a thread of its own unless it is made to be
// driven by its owner. With a thread of its own it delivers as a MIDI driver
// delivers input on its callback thread: in real time that thread waits for
// the next answer's due time; in virtual time (a VirtualClock given at
// construction) it delivers whatever has come due each time the clock
// advances, and the clock waits for it, so a run is deterministic. Driven by
// its owner (for builds that have no threads) it starts no thread: in virtual
// time the answers due are delivered on the thread that advances the clock,
// inside the advance; in real time they wait until the owner calls
// DeliverDue, as from its event loop or a timer.
#pragma once

#include "answerscript.h"
#include "portsettings.h"
#include "update.h"
#include "virtualclock.h"

#include <condition_variable>
#include <cstdint>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

class PortionWire;
class SimMidiPort;

// What the device made of one portion.
struct PortionReport {
    bool complete = false;    // its last expected message arrived
    bool matched = true;      // every message equalled the expected one
    bool interrupted = false; // the device was unplugged before it was complete
    uint32_t restarts = 0;    // times a cut-off message made it start over
    // Where the first difference lies, counted in the portion's wire image
    // (framing included); -1 when there is none.
    int64_t firstDifferenceOffset = -1;
    uint64_t wireBytes = 0; // bytes received while it was expected, framing included
};

// The data of every portion of an update, in order.
std::vector<std::vector<uint8_t>> PortionData(const Update& update);

class DeviceSim : public ClockListener {
public:
    static const char* const kDefaultName;
    static constexpr int64_t kDefaultAnswerLatencyMs = 20;
    static constexpr int64_t kDefaultInstallIntervalMs = 1000;
    // The received bytes kept in memory; a sender that sends without end
    // cannot make the device grow beyond it.
    static constexpr size_t kKeptBytesLimit = 64 * 1024 * 1024;

    // Who delivers the answers.
    enum class Delivery {
        OwnThread, // the device's driver thread
        ByCaller,  // the thread that advances the virtual clock, or DeliverDue's caller
    };

    // portions: the update's data, in order. settings: the update's port
    // settings, whose chunk sizes and framing flag tell which messages carry
    // each portion on the wire (the names play no part here). clock: the
    // virtual clock to follow (it must be installed as the time source and
    // outlive the device), or null for real time. delivery: whether the
    // device starts a driver thread of its own.
    DeviceSim(std::vector<std::vector<uint8_t>> portions, const PortSettings& settings,
              VirtualClock* clock = nullptr, Delivery delivery = Delivery::OwnThread);
    // Stops the driver thread, if there is one. Every SimMidiPort on this
    // device must be destroyed first.
    ~DeviceSim() override;
    DeviceSim(const DeviceSim&) = delete;
    DeviceSim& operator=(const DeviceSim&) = delete;

    // Configuration; set it up before a port connects. Both names are
    // "Kestrane Virtual Device" unless set. A port connects when its names
    // match the output name; answers reach it only when they also match the
    // input name.
    void SetPortNames(const std::string& outputName, const std::string& inputName);
    // Accepts every portion unless set.
    void SetScript(const AnswerScript& script);
    // Times are in ms, negative ones taken as 0; a time too far off for the
    // clock is never reached (a device told to appear after it never does).
    // Time from a portion's last byte (or an identity request) to the answer.
    void SetAnswerLatencyMs(int64_t ms);
    // Time between the answers of an install script word.
    void SetInstallIntervalMs(int64_t ms);
    // The version of the Identity Reply (1.00 unless set); both throw
    // std::invalid_argument for a version the reply cannot carry.
    void SetFirmwareVersion(const FirmwareVersion& version);
    void SetFirmwareVersion(const std::string& text);
    // Whether the Identity Request is answered at all (it is unless set).
    void SetIdentityEnabled(bool enabled);
    // The device is present only this long after its construction.
    void SetAppearAfterMs(int64_t ms);
    // Unplugs the device once afterBytes bytes (counted on the wire, framing
    // included) of the portion portionIndex (0 for the first) have arrived;
    // the rest of that message is lost. It is present again replugAfterMs
    // later and then waits for the portion after the interrupted one.
    void SetUnplug(size_t portionIndex, uint64_t afterBytes, int64_t replugAfterMs);
    // Judges every delivery as one block that must be exactly the next
    // message of the wire image (off unless set): for rehearsing devices that
    // need each block in one delivery.
    void SetWholeBlocks(bool wholeBlocks);
    // Also writes every received byte to this file (created or emptied now);
    // throws std::runtime_error when it cannot be opened.
    void SetRecordFile(const std::string& path);

    // Sends bytes to the connected port delayMs from now on the active clock,
    // as a device would send any message of its own. Bytes due while no port
    // listens are lost.
    void ScheduleSend(int64_t delayMs, std::vector<uint8_t> bytes);

    // Whether the device is plugged in now.
    bool IsPresent();
    std::string GetOutputName() const;
    std::string GetInputName() const;
    // Every byte received, in order, exactly as it came (framing included),
    // up to kKeptBytesLimit; the record file has them all.
    std::vector<uint8_t> GetReceivedBytes() const;
    // All bytes received, also those beyond kKeptBytesLimit.
    uint64_t GetReceivedByteCount() const;
    // Bytes that were no update data: real-time bytes, other messages than
    // SysEx, stray bytes between messages, messages after the last portion.
    uint64_t GetIgnoredByteCount() const;
    // One report per portion.
    std::vector<PortionReport> GetPortionReports() const;
    // The portion the device waits for (0 for the first); the portion count
    // once all have been received.
    size_t GetExpectedPortion() const;
    int GetIdentityRequestCount() const;
    // Whether writing to the record file has failed (the file then lacks bytes).
    bool HasRecordFileFailed() const;

    // For a device driven by its caller (Delivery::ByCaller): delivers every
    // answer due by GetTimeMs() now, on the calling thread, before it
    // returns. A port's collector, and a DeviceLink's handler, are fed with
    // the device locked, so they must not call back into the device. With a
    // thread of its own the device delivers by itself and this does nothing.
    void DeliverDue();

    // The virtual clock has advanced: delivers every answer due by then (on
    // the driver thread, or on the calling thread when driven by its caller).
    void AdvancedTo(int64_t nowMs) override;

private:
    friend class SimMidiPort;

    // A port's connection to the device.
    struct Connection {
        SimMidiPort* port;
        bool open;
        bool inputOpen;     // answers reach the port
        uint64_t plugCount; // the device's plug count when it was opened
    };

    // Called by SimMidiPort, on the thread that runs the sender.
    void Attach(SimMidiPort* port);
    void Detach(SimMidiPort* port);
    // Opens the connection when it is closed; true when it is usable.
    bool Open(SimMidiPort* port, const std::set<std::string>& names);
    void Close(SimMidiPort* port);
    // Takes one delivery of bytes; false when the connection is not usable,
    // and when the device is unplugged before its last byte (the bytes before
    // the cut are received, the delivery did not arrive whole).
    bool Receive(SimMidiPort* port, const std::vector<uint8_t>& message);

    // The rest runs with the mutex held.
    bool PresentLocked(int64_t now);
    Connection* FindLocked(const SimMidiPort* port);
    bool UsableLocked(const Connection& connection, int64_t now);
    void RecordLocked(const uint8_t* bytes, size_t count);
    void HandleMessageLocked(const std::vector<uint8_t>& message, int64_t now);
    void ReadByteLocked(uint8_t byte, int64_t now);
    void JudgeByteLocked(uint8_t byte, int64_t now);
    void JudgeAfterLastPortionLocked(uint8_t byte);
    void AdvanceImageLocked(uint8_t byte, int64_t now);
    bool ExpectsNextLocked(const std::vector<uint8_t>& bytes) const;
    void StartOverLocked();
    void StartPortionLocked();
    void CompletePortionLocked(int64_t now);
    void AnswerIdentityLocked(int64_t now);
    void UnplugLocked(int64_t now);
    void ScheduleLocked(int64_t dueMs, std::vector<uint8_t> bytes);
    void DeliverDueLocked(int64_t upToMs);
    void DriverLoop();

    const std::vector<std::vector<uint8_t>> portions;
    const PortSettings settings;
    VirtualClock* const clock;
    const Delivery delivery;

    mutable std::mutex mutex;
    std::condition_variable wake;     // the driver thread waits here
    std::condition_variable caughtUp; // an advance of the clock waits here

    // Configuration.
    std::string outputName;
    std::string inputName;
    AnswerScript script;
    int64_t answerLatencyMs = kDefaultAnswerLatencyMs;
    int64_t installIntervalMs = kDefaultInstallIntervalMs;
    FirmwareVersion firmwareVersion;
    bool identityEnabled = true;
    bool wholeBlocks = false;

    // Presence.
    int64_t createdAtMs;
    int64_t appearAtMs;
    bool appeared = false;
    bool unplugged = false;
    int64_t replugAtMs = 0;
    uint64_t plugCount = 0; // grows at every unplug; older connections are dead
    struct UnplugPlan {
        bool armed = false;
        size_t portion = 0;
        uint64_t afterBytes = 0;
        int64_t replugAfterMs = 0;
    } unplugPlan;

    // Reception.
    size_t expected = 0;
    std::unique_ptr<PortionWire> wire; // of the expected portion; null after the last
    std::vector<uint8_t> image;        // the expected portion's wire bytes, in one
    uint64_t imageOffset = 0;          // the image's bytes taken so far
    bool inSysEx = false;              // a SysEx message has begun and not ended
    bool inOtherMessage = false;       // data bytes now belong to a message it ignores
    std::vector<uint8_t> held;         // the start of what may be an Identity Request
    uint64_t strayMessageBytes = 0;    // of a SysEx message after the last portion
    uint64_t ignoredBytes = 0;
    std::vector<PortionReport> reports;
    std::vector<uint8_t> received; // up to kKeptBytesLimit
    uint64_t receivedCount = 0;
    std::ofstream recordFile;
    int identityRequests = 0;

    // Ports and outgoing messages, by due time (in order of scheduling
    // within one time).
    std::vector<Connection> connections;
    std::multimap<int64_t, std::vector<uint8_t>> outgoing;
    uint64_t outgoingVersion = 0; // tells the real-time driver that outgoing changed
    uint64_t advancesRequested = 0;
    uint64_t advancesDone = 0;
    int64_t advanceTargetMs = 0;
    bool stopping = false;

    std::thread driver; // started last, stopped first; none when driven by the caller
};
