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
// Failures are never raised: they are logged, show as a false IsConnected,
// and each block that did not go out is counted (TakeSendFailures).
#pragma once

#include "midiport.h"
#include "portsettings.h"

#include <atomic>
#include <cstdint>
#include <memory>
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
    // Disconnects, then frees the input buffers.
    ~WindowsMidiPort() override;

    // The settings' ideal and max.
    int32_t GetIdealChunkSize() override;
    int32_t GetMaxChunkSize() override;
    // Connects when the output is closed, then asks the output for its
    // capabilities: true when it is open and answers. An open input is not
    // required (the port then sends but hears no reply).
    bool IsConnected() override;
    // Asks the user, output by output, whether to update it; the first
    // device answered with Yes is added to the names, for the next Connect.
    void AskForPort() override;
    // Stops listening, resets and closes the output, and resets, stops,
    // releases and closes the input. Input buffers handed back by the reset
    // are still collected but are not queued again.
    void Disconnect() override;
    // Frames the block as one SysEx message when the settings' chunks flag is
    // set (see FrameSysExChunk), then sends it with SendVerbatim. Nothing is
    // sent for an empty block.
    void Send(const uint8_t* data, uint32_t count) override;
    // Disconnects and connects again, when the output is open.
    void Reconnect() override;
    // Asks nothing: returns what GetSysEx returns now, without sending the
    // request or waiting, so a sender asking for the device's version gets
    // no reply through this port unless one is already stored.
    std::vector<uint8_t> Request(uint32_t timeoutMs, const uint8_t* request,
                                 uint32_t count) override;
    // Sends the bytes unchanged as one long message and blocks until the
    // driver is done with them: pauses the settings' delay after a message
    // that went out, polls the release of the buffer once a second while the
    // driver still plays it, then pauses the settings' unprepdelay. Connects
    // first when the output is closed.
    virtual void SendVerbatim(const uint8_t* data, uint32_t count);

    // Opens the output and the input found for the settings' names, and
    // queues the input buffers. The outcome is read through IsConnected.
    void Connect();

    // Handles one input message (on WinMM's callback thread): collects the
    // SysEx bytes of each returned buffer and queues it again.
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
    // Queues a returned input buffer again, if it carried bytes and the port
    // still listens.
    void RequeueInputBuffer(HMIDIIN handle, MIDIHDR* header);
    // Resets, stops, releases the buffers of and closes the open input.
    void CloseInput();

    PortSettings params;
    std::unique_ptr<uint8_t[]> inputBuffers[kInputBufferCount];
    MIDIHDR inputHeaders[kInputBufferCount];
    HMIDIOUT midiOut = nullptr;
    HMIDIIN midiIn = nullptr;
    // Written by the owning thread, read by the callback thread.
    std::atomic<bool> listening{false};
};
