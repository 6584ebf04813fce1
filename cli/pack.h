// The pack command: writes a format-4 update file from SysEx files, a picture
// and the texts given on the command line, replacing its output only once
// the file is complete.
#pragma once

#include "commands.h"
#include "updatewriter.h"

#include <array>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

// A refusal to pack, of an argument or of what the update file would hold;
// what() says why, for the user. The writer's refusals are of this type.
using PackError = UpdateWriteError;

// "MAJOR.MINOR", each part a whole number from 0 to 65535 written in digits
// only, taken as it is (1.05 and 1.5 are both minor 5); "MAJOR" alone means
// MAJOR.00. Throws PackError for anything else.
FirmwareVersion ParseVersionText(const std::string& text);

// "A,B,C": exactly three whole numbers from 0 to 65535. Throws PackError.
std::array<uint16_t, 3> ParseHeaderValues(const std::string& text);

// "PATH" or "PATH:DELAY_MS". The text after the last ':' is the delay only
// when it is all digits, so "C:\fw\a.syx" is a path. Throws PackError for a
// delay beyond 32 bits or a delay without a path.
PortionSource ParsePortionArgument(const std::string& argument);

// What to write, and where.
struct PackRequest : UpdateFileContents {
    std::string outputPath;
};

using PackResult = UpdateFileSummary;

// Writes the update file to a temporary file beside the output, copying each
// input into it as it is read, and renames it over the output once complete.
// The output must be a regular file or a new name; a symbolic link is
// followed and its target replaced, and a replaced file's mode (and owner,
// where allowed) is kept. Throws PackError, leaving the output as it was and
// no temporary file behind.
PackResult Pack(const PackRequest& request);

// The pack command: the arguments into a PackRequest, and Pack.
int RunPack(const CommandArguments& args, std::ostream& out, std::ostream& err);
