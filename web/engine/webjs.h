// The page's side of the engine: what the C++ code asks of the page's
// JavaScript (webmidi.js for MIDI, app.js for what the user sees). Each call
// returns at once; nothing here waits.
#pragma once

#include <cstdint>

extern "C" {

// MIDI (webmidi.js). The port lists are the names of the ports present now,
// one per line, in the MIDI system's order; the texts are allocated with
// malloc and the caller frees them.
char* JsMidiOutputNames();
char* JsMidiInputNames();
// Takes the output and input at these places of the lists last read and
// opens them; input from then on reaches KestraneMidiInput.
void JsMidiUse(int outputIndex, int inputIndex);
// 1 once the browser has answered the opening of both ports in use, and
// whether it refused either (another program holds the device).
int JsMidiOpenSettled();
int JsMidiOpenRefused();
// 1 while both ports in use are connected (and were opened).
int JsMidiIsConnected();
// Hands one whole message to the output. 0 when it took it; else the
// browser refused it, and the reason (malloc'ed, the caller frees it) is in
// *reason.
int JsMidiSend(const uint8_t* data, uint32_t count, char** reason);
// Stops using the ports and closes them.
void JsMidiRelease();
// What keeps the engine from the device, which the page says while the
// engine waits for it: 0 nothing, kDeviceMissing no port of its names,
// kDeviceBusy ports that the browser cannot open, kDeviceNoInput an output of
// its names but no input (the port needs both).
constexpr int kDeviceMissing = 1;
constexpr int kDeviceBusy = 2;
constexpr int kDeviceNoInput = 3;
void JsMidiDeviceNotice(int kind);

// What the user sees (app.js).
void JsShowProgress(int percent);
void JsShowIndeterminate();
void JsShowStatus(const char* text);
void JsShowFailure(const char* text);
void JsShowCompleted(const char* statusRow, const char* text);
// Shows a box with an OK button; JsMessageAcknowledged turns 1 once the user
// has pressed it.
void JsShowBlockingMessage(const char* text);
int JsMessageAcknowledged();
}
