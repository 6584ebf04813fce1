// The MIDI port over the Windows multimedia MIDI services (WinMM): one MIDI
// output through which update data goes out as SysEx long messages, and one
// MIDI input whose SysEx replies feed the port's collector.
//
// Use: build it from the update's PortSettings (with `names` replaced by the
// one port the user chose, if any) on the thread that runs the sender, hand it
// to the sender, and destroy it on that thread when the run ends. Nothing is
// opened until the first IsConnected; from then on every IsConnected or send
// on a closed port looks the devices up by name again (mididevices.h) and
// tries to open them, so a device that is plugged in late is found.
//
// Threads: every operation runs on the owning thread, which blocks inside a
// send while WinMM delivers input to MidiInCallback on a thread of its own.
// The callback's decision to queue a buffer again and the queueing are one
// step under the input lock, and closing the input ends listening under that
// lock before it resets: no buffer is queued behind a reset. No WinMM call of
// the owning thread is made with that lock held, since a driver may deliver
// callbacks from inside midiInReset or midiInClose.
// Failures are never raised: they are logged, show as a false IsConnected,
// and each block that did not go out is counted (TakeSendFailures).
//
// Memory a driver may still hold is never freed: a sent block stays until the
// driver has marked it done, and input buffers stay until the input has
// closed. What a driver never hands back is left allocated, and logged.
#pragma once

#include "midiport.h"
#include "portsettings.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <mmsystem.h>

class WindowsMidiPort : public MidiPort {
public:
    static constexpr int kInputBufferCount = 10;
    static constexpr uint32_t kInputBufferSize = 256;

    // Copies the settings; allocates the input buffers. Opens nothing.
    explicit WindowsMidiPort(const PortSettings& settings);
    // Disconnects, then frees the input buffers (unless the input refused
    // to close, see Disconnect).
    ~WindowsMidiPort() override;

    // The settings' ideal and max.
    int32_t GetIdealChunkSize() override { return params.ideal; }
    int32_t GetMaxChunkSize() override { return params.max; }
    // Connects when the output is closed, then asks the output for its
    // capabilities: true when it is open and answers. An open input is not
    // required (the port then sends but hears no reply).
    bool IsConnected() override;
    // Asks the user, output by output, whether to update it; the first
    // device answered with Yes is added to the names, for the next Connect.
    void AskForPort() override;
    // Stops listening, resets and closes the output, and resets, stops,
    // releases and closes the input. Input buffers handed back by the reset
    // are still collected but are not queued again. An input that refuses to
    // close (MIDIERR_STILLPLAYING) is reset and asked again; one that still
    // does not close is dropped, and its buffers are left allocated to the
    // driver for good, as it may still write into them.
    void Disconnect() override;
    // Frames the block as one SysEx message when the settings' chunks flag is
    // set, then sends it with SendVerbatim (MidiPort::SendBlock). Nothing is
    // sent for an empty block.
    void Send(const uint8_t* data, uint32_t count) override;
    // Disconnects and connects again, when the output is open.
    void Reconnect() override;
    // Asks nothing: returns what GetSysEx returns now, without sending the
    // request or waiting, so a sender asking for the device's version gets
    // no reply through this port unless one is already stored.
    std::vector<uint8_t> Request(uint32_t timeoutMs, const uint8_t* request,
                                 uint32_t count) override;
    // Sends a copy of the bytes unchanged as one long message and blocks
    // until the driver is done with it: pauses the settings' delay after a
    // message that went out, polls the release of the buffer once a second
    // while the driver still plays it, then pauses the settings' unprepdelay.
    // When the driver refuses the release otherwise than "still playing", the
    // block is kept, polled once a second, until the driver marks it done
    // (MHDR_DONE); one that is not done by the time it would have taken on a
    // MIDI wire and ten seconds more is left to the driver, never freed,
    // logged and counted as not sent. Connects first when the output is
    // closed. A block the output refuses (prepare or send) is logged with its
    // number, its size and the system's reason, and counted as not sent.
    virtual void SendVerbatim(const uint8_t* data, uint32_t count);

    // Opens the output and the input found for the settings' names, and
    // queues the input buffers. The outcome is read through IsConnected.
    void Connect();

    // Handles one input message (on WinMM's callback thread): collects the
    // SysEx bytes of each returned buffer and queues it again while the port
    // listens; all of it under the input lock.
    void MidiInCallback(HMIDIIN handle, UINT message, DWORD_PTR param1, DWORD_PTR param2);
    // The functions registered with midiInOpen and midiOutOpen; instance is
    // the port's address.
    static void CALLBACK MidiInProc(HMIDIIN handle, UINT message, DWORD_PTR instance,
                                    DWORD_PTR param1, DWORD_PTR param2);
    static void CALLBACK MidiOutProc(HMIDIOUT handle, UINT message, DWORD_PTR instance,
                                     DWORD_PTR param1, DWORD_PTR param2);
    // The text of a WinMM result code, in one static buffer: for the owning
    // thread only.
    static const char* GetMidiErrorText(MMRESULT code);

private:
    // The input buffers with their headers, in one allocation that an input
    // which will not close is left to keep.
    struct InputBuffers {
        MIDIHDR headers[kInputBufferCount];
        uint8_t bytes[kInputBufferCount][kInputBufferSize];
    };

    // Queues a returned input buffer again, if it carried bytes and the port
    // still listens. Called with the input lock held.
    void RequeueInputBuffer(HMIDIIN handle, MIDIHDR* header);
    // Sets whether returned buffers are queued again, under the input lock.
    void SetListening(bool on);
    // Resets, stops, releases the buffers of and closes the open input, once
    // the port no longer listens.
    void CloseInput();

    std::unique_ptr<InputBuffers> inputBuffers;
    HMIDIOUT midiOut = nullptr;
    HMIDIIN midiIn = nullptr;
    // Guards listening, and is held by the callback while it handles a
    // returned buffer.
    std::mutex inputMutex;
    bool listening = false;
    // Blocks handed to SendVerbatim since the last Connect (the sender
    // connects afresh for each portion) and in the port's life, for the log.
    uint32_t blocksSinceConnect = 0;
    uint32_t blocksSent = 0;
};
