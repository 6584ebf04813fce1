// The texts an update run shows the user, and the small calculations behind
// its progress display: the rows, the boxes' texts and the summary of an
// update, the same in every front end that runs updates in a window (the
// Windows application and the page in the browser). Pure functions.
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
