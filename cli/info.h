// What the info command shows of a loaded update: a text for a person and a
// JSON object for programs.
#pragma once

#include "commands.h"
#include "update.h"

#include <nlohmann/json.hpp>

#include <ostream>
#include <string>

// Texts of updates are 8-bit bytes with no code page. For JSON, every byte
// becomes the Unicode character with the same number (Latin-1 to UTF-8), so
// that no byte is lost and each can be recovered.
std::string Latin1ToUtf8(const std::string& bytes);

// The text with every control byte shown as \x and two hex digits: the C0
// controls, DEL and the C1 range 0x80 to 0x9F, which some terminals obey as
// well. Texts from a file thus cannot move the cursor, change colours or
// retitle the terminal that shows them.
std::string EscapeControlBytes(const std::string& bytes);

// The object that "info --json" prints, its keys in a fixed order.
nlohmann::ordered_json UpdateToJson(const Update& update);

// The text that "info" prints for the update read from `path`, control bytes
// escaped; the message keeps its line breaks.
void DescribeUpdate(const std::string& path, const Update& update, std::ostream& out);

// The info command: what an update file or a plain SysEx file holds.
int RunInfo(const CommandArguments& args, std::ostream& out, std::ostream& err);
