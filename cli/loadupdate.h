// Loading the update or plain SysEx file that a command names.
#pragma once

#include "update.h"

#include <memory>
#include <ostream>
#include <stdexcept>
#include <string>

// A file that could not be opened or read at all; what() names the file and
// says why in the system's words ("cannot open 'x.upd': No such file or
// directory").
class FileAccessError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Loads the file at `path`. A regular file goes to the reader as it is; any
// other kind (a pipe, /dev/stdin, a character device) is read into memory
// first, since the reader seeks. Throws FileAccessError for a file that is
// missing, a folder or cannot be read, and the reader's ParseError for a file
// whose content does not load.
Update LoadUpdateFile(const std::string& path);

// The same for a command that sends or serves the update: a file that does
// not load is told on `err` (the reader's message as it stands, an access
// failure after the tool's name) and the result is null.
std::unique_ptr<Update> LoadUpdateOrTell(const std::string& path, std::ostream& err);
