// The timing and the cutting of what a port hands to a MIDI system that
// passes messages, not bytes (RtMidi over ALSA, JACK or CoreMIDI, a browser's
// Web MIDI): how long a block takes on a real MIDI cable, and how a block is
// cut into the events that such a system carries, one message each.
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

// A half-open byte range [start, end) of a block.
struct MessagePiece {
    size_t start;
    size_t end;
};

// Cuts a block into the events that go out one by one: each event is one
// message, as a MIDI system such as JACK requires (an event is one message
// there, and a receiver may read no more than the first one of an event).
// A message runs from an 0xF0 to the next 0xF7; one without an 0xF7 ends
// before the next 0xF0 or with the block. The bytes between messages (data
// not framed as SysEx) go out apart from them, up to the next 0xF0. A message
// longer than maxEvent goes out as events of maxEvent bytes and a rest;
// receivers that take each event as a message (RtMidi itself among them)
// join its pieces again, since none but the first starts with 0xF0 and none
// but the last ends with 0xF7. A longer run of bytes outside messages is cut
// the same way. The pieces cover the block in order.
std::vector<MessagePiece> SplitIntoEvents(const uint8_t* data, size_t count,
                                          size_t maxEvent = kMaxMidiMessage);

// Cuts what a sender hands over, block by block, into whole MIDI messages for
// a MIDI system that takes nothing else (a browser's Web MIDI refuses
// anything but a sequence of whole messages). A message that a block leaves
// open is held back until the block that completes it, so that a sender
// whose blocks end in the middle of a SysEx message (chunks sent as they are)
// still hands over every byte, in order.
//
// A SysEx message runs from 0xF0 through 0xF7; real-time bytes (0xF8-0xFF)
// inside it stay in it, where they came. Other messages take their length
// from their status byte. What cannot be made whole is handed out as it is,
// in its place in the stream, for the MIDI system to refuse: a message cut
// off by the next status byte, an 0xF7 outside SysEx, and a run of data bytes
// outside any message (running status is not taken).
class WholeMessages {
public:
    // Adds one block; returns the messages it completes and the pieces that
    // cannot be made whole, in order.
    std::vector<std::vector<uint8_t>> Add(const uint8_t* data, size_t count);
    // The bytes of the message still open, handed out and forgotten: for the
    // end of sending, when nothing can complete it any more.
    std::vector<uint8_t> TakeHeld();
    size_t HeldCount() const { return held.size(); }

private:
    void EndHeld(std::vector<std::vector<uint8_t>>& out);
    void EndStray(std::vector<std::vector<uint8_t>>& out);
    size_t RealTimeInHeld() const;

    std::vector<uint8_t> held;  // the open message
    size_t heldLength = 0;      // its full length, 0 for SysEx (ends with 0xF7)
    std::vector<uint8_t> stray; // data bytes outside any message
};
