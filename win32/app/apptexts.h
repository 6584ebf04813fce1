// The texts the application builds for the user and the log, and the small
// calculations behind its progress display: pure functions, no window
// involved. Those every front end shows alike are in runtexts.h; these are
// the Windows application's own. Code that sees <windows.h> reads an
// update's message only through here, as windows.h turns every GetMessage
// into GetMessageA.
#pragma once

#include "runtexts.h"
#include "update.h"
#include "utils.h"

#include <string>

// The failure box's reason for a file whose path the program cannot use:
// too long, holding characters the ANSI code page lacks, or both, with no
// short name that avoids it.
std::string UnusablePathText(bool tooLong, bool strangeCharacters);
// The About box: caption, version, release tag and copyright (128-byte buffer).
std::string AboutText(const char* caption, const char* copyright);

// The indeterminate animation's next position: 3 further, back to 0 past 100.
int NextIndeterminatePos(int position);
