// The writer of update files ("VeskUpdateFile", format 4), the counterpart of
// the reader in update.h: the header, then the records in a fixed order (the
// portions, the picture, the settings texts, the port-name texts), each
// portion and the picture copied from its file as it is read.
#pragma once

#include "update.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

// A refusal to write an update file; what() says why, for the user.
class UpdateWriteError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A portion's SysEx file and the pause the device needs after it.
struct PortionSource {
    std::string path;
    uint32_t delay = 0; // ms
    // Added to the refusal when the file does not exist or cannot be opened.
    std::string openHint;
};

// What an update file holds, its portions and picture named by their files.
struct UpdateFileContents {
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

// ": " and the system's text for an errno value, as the refusals here end
// when the system said why; nothing when there is none.
std::string SystemReason(int error);

struct UpdateFileSummary {
    size_t portionCount = 0;
    uint64_t sysExBytes = 0;
    uint64_t fileBytes = 0;
};

// Refuses texts that cannot go into an update file: an empty product name
// (it is the default port name), and a text beyond the format's 32-bit
// counts. Throws UpdateWriteError.
void CheckUpdateTexts(const UpdateFileContents& contents);

// Refuses the input files that can be known bad before anything is written:
// a folder, a name that does not exist, a regular file above the block
// limit. A device or pipe tells no size; its limit is kept while it is
// copied. Throws UpdateWriteError.
void CheckUpdateInputs(const UpdateFileContents& contents);

// Writes the update file into `out`, which must be seekable (a block's count
// is written once its file has been copied). Each input file is refused the
// moment it passes the block limit, so that a source without end is never
// read whole. `fileName` names the output in refusals. Throws
// UpdateWriteError; `out` then holds part of the file.
UpdateFileSummary WriteUpdateFile(const UpdateFileContents& contents, std::ostream& out,
                                  const std::string& fileName);
