// The pack command: writes a format-4 update file from SysEx files, a picture
// and the texts given on the command line.
#pragma once

#include "update.h"

#include <array>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

// A refusal to pack; what() says why, for the user.
class PackError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// "MAJOR.MINOR", each part a whole number from 0 to 65535 written in digits
// only, taken as it is (1.05 and 1.5 are both minor 5); "MAJOR" alone means
// MAJOR.00. Throws PackError for anything else.
FirmwareVersion ParseVersionText(const std::string& text);

// "A,B,C": exactly three whole numbers from 0 to 65535. Throws PackError.
std::array<uint16_t, 3> ParseHeaderValues(const std::string& text);

struct PortionSource {
    std::string path;
    uint32_t delay = 0; // ms
};

// "PATH" or "PATH:DELAY_MS". The text after the last ':' is the delay only
// when it is all digits, so "C:\fw\a.syx" is a path. Throws PackError for a
// delay beyond 32 bits or a delay without a path.
PortionSource ParsePortionArgument(const std::string& argument);

struct PackRequest {
    std::string outputPath;
    std::string productName;
    FirmwareVersion version;                // 0.00: not known
    std::string message;                    // stored as given
    std::vector<std::string> settingsTexts; // one tag 3 record each, in order
    std::vector<std::string> macNameTexts;  // one tag 5 record each, in order
    std::string imagePath;                  // empty: no picture record
    std::array<uint16_t, 3> headerValues = {0, 0, 0};
    std::vector<PortionSource> portions; // in the order of sending
    // The most bytes a portion or the picture may hold: the format's limit,
    // as its counts are 32-bit. Only the tests set a smaller one.
    uint64_t blockLimit = 0xFFFFFFFF;
};

struct PackResult {
    size_t portionCount = 0;
    uint64_t sysExBytes = 0;
    uint64_t fileBytes = 0;
};

// Writes the update file to a temporary file beside the output, copying each
// input into it as it is read, and renames it over the output once complete.
// The output must be a regular file or a new name; a symbolic link is
// followed and its target replaced, and a replaced file's mode (and owner,
// where allowed) is kept. Throws PackError, leaving the output as it was and
// no temporary file behind.
PackResult Pack(const PackRequest& request);
