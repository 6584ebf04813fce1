// The timing and the cutting of what a port hands to a MIDI system that
// passes messages, not bytes (RtMidi over ALSA, JACK or CoreMIDI): how long a
// block takes on a real MIDI cable, and how a block too big for one message
// goes out in pieces.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// A MIDI cable carries 31250 bits a second, ten bits a byte (start bit,
// eight data bits, stop bit): 3125 bytes a second.
constexpr uint32_t kMidiBitsPerSecond = 31250;
constexpr uint32_t kMidiBitsPerByte = 10;

// The time `byteCount` bytes take on the cable, in whole milliseconds,
// rounded up so that a paced sender never runs ahead of the cable.
uint32_t WireTimeMs(uint64_t byteCount);

// The largest message that RtMidi passes on whole: its JACK output drops a
// message of 16380 bytes or more without a word.
constexpr size_t kMaxMidiMessage = 16379;

// Half-open byte ranges [start, end) of a block, in order, together the
// whole block.
struct MessagePiece {
    size_t start;
    size_t end;
};

// Cuts a block into pieces of at most maxPiece bytes (the whole block when it
// fits). Receivers that take each event of a MIDI system as a message (RtMidi
// itself among them) end a SysEx message at an event whose last byte is 0xF7
// and start one at an event whose first byte is 0xF0; so a cut is placed,
// where the size allows, where neither happens: no piece but the last ends
// with 0xF7 and none but the first starts with 0xF0. Then such a receiver
// joins the pieces into the one message that was sent. Where no such place
// is within reach, the piece is cut at maxPiece bytes.
std::vector<MessagePiece> SplitMessage(const uint8_t* data, size_t count,
                                       size_t maxPiece = kMaxMidiMessage);
