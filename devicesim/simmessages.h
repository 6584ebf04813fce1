// The SysEx messages that the emulated device sends and recognises: the
// update-status message, and the MIDI Identity Request and Reply.
#pragma once

#include "update.h"

#include <cstdint>
#include <string>
#include <vector>

// Status byte values of the update-status message.
constexpr uint8_t kStatusAccepted = 0x00;
constexpr uint8_t kStatusFailed = 0x01;
constexpr uint8_t kStatusInstalling = 0x20;

// The standard MIDI Identity Request to all devices: F0 7E 7F 06 01 F7.
const std::vector<uint8_t>& IdentityRequest();

// F0 00 00 3F 73, six free bytes (here the portion number, 1 for the first,
// in two 7-bit bytes, then zeros), the status byte, F7: 13 bytes.
std::vector<uint8_t> BuildUpdateStatusMessage(uint8_t status, uint32_t portionNumber);

// Largest firmware version an Identity Reply can carry: its major number is
// sent as two 7-bit bytes d0 and d1 that read back as d0 * 22 + d1.
constexpr uint16_t kMaxIdentityMajor = 127 * 22 + 21;
constexpr uint16_t kMaxIdentityMinor = 99;

// Checks that a version fits an Identity Reply; throws std::invalid_argument
// with a message for the user when it does not.
void CheckIdentityVersion(const FirmwareVersion& version);

// Reads a version written as MAJOR.MM ("1.05", "30.07"), exactly as the
// reader of an Identity Reply prints it; throws std::invalid_argument with a
// message for the user for any other text or a version that does not fit.
FirmwareVersion ParseIdentityVersion(const std::string& text);

// The Identity Reply: F0 7E 00 06 02, the three-byte manufacturer identifier
// 00 00 3F, the family code, two model bytes, the version bytes d0 d1 d2 d3
// (d0 * 22 + d1 = major, d2 and d3 the two digits of the minor number), five
// more bytes, a 16-byte name padded with zeros, F7: 37 bytes, all data bytes
// 7-bit. The version must pass CheckIdentityVersion.
std::vector<uint8_t> BuildIdentityReply(const FirmwareVersion& version);

// The family code and the name that the reply carries.
constexpr uint8_t kIdentityFamily = 0x01;
extern const char* const kIdentityName;
