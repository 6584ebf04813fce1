// The texts the application builds for the user and the log, and the small
// calculations behind its progress display: pure functions, no window
// involved. Code that sees <windows.h> reads an update's message only through
// here, as windows.h turns every GetMessage into GetMessageA.
#pragma once

#include "update.h"
#include "utils.h"

#include <cstddef>
#include <string>

// printf-style formatting into a buffer of `capacity` bytes: a longer text
// is cut to capacity - 1 characters. A capacity of 0 gives an empty text.
std::string BoundedText(size_t capacity, const char* format, ...) KESTRANE_PRINTF(2, 3);

// The status row during a run: " Updating: <text>" (256-byte buffer).
std::string UpdatingText(const std::string& text);
// The status row at the end of a run: " Completed: <text>" (512-byte buffer).
std::string CompletedText(const std::string& text);
// The failure box: the fixed sentence, an empty line and the reason
// (1024-byte buffer).
std::string FailureText(const std::string& reason);
// The failure box's reason for a file whose path the program cannot use:
// too long, holding characters the ANSI code page lacks, or both, with no
// short name that avoids it.
std::string UnusablePathText(bool tooLong, bool strangeCharacters);
// The About box: caption, version, release tag and copyright (128-byte buffer).
std::string AboutText(const char* caption, const char* copyright);

// The summary row: " Product: '<name>' \tFirmware version: <major>.<minor, 2 digits>".
std::string SummaryText(const Update& update);
// The update's own message with the start prompt, shown before a run, or an
// empty text when the update has no message.
std::string StartMessageText(const Update& update);
// Logs the update's product, message, picture size, port names and portions.
void LogUpdateDetails(const Update& update);
// The confirmation dialog's title and question.
std::string ConfirmTitle(const Update& update);
std::string ConfirmQuestion(const Update& update);

// The progress bar's position for a share of the whole, computed in single
// precision and truncated toward zero (0.999 gives 99), held to 0..100.
int ProgressPercent(float fraction);
// The indeterminate animation's next position: 3 further, back to 0 past 100.
int NextIndeterminatePos(int position);
