// The private messages through which the update run and the start-up reach
// the main window, and the heap texts some of them carry.
//
// A heap text is a terminated copy made with the C runtime's string
// duplication; it belongs to the message from the moment it is posted, and
// the window's handler releases it with free once it has been shown.
#pragma once

#include <string>

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

// wParam: percent 0..100, or -1 to leave the bar; lParam: heap text for the
// status row, or null.
constexpr UINT WM_UPDATE_PROGRESS = WM_USER + 0;
// wParam -1; lParam: heap text, the reason shown in the failure box.
constexpr UINT WM_UPDATE_FAILED = WM_USER + 1;
// The run is over; the window accepts files again.
constexpr UINT WM_UPDATE_ENDED = WM_USER + 2;
// lParam: heap text for the summary row.
constexpr UINT WM_UPDATE_SUMMARY = WM_USER + 3;
// One step of the indeterminate progress animation.
constexpr UINT WM_PROGRESS_TICK = WM_USER + 4;
// wParam -1; lParam: heap text, the run's outcome.
constexpr UINT WM_UPDATE_COMPLETED = WM_USER + 5;
// wParam 0, lParam 1: offer the file in updateFileName (automatic pick-up).
constexpr UINT WM_LOAD_UPDATE_FILE = WM_USER + 6;
// lParam: the picture that an update's picture has replaced, deleted on the
// window thread, where nothing can be drawing it any more.
constexpr UINT WM_PICTURE_REPLACED = WM_USER + 7;

// The timer that drives the indeterminate animation.
constexpr UINT_PTR PROGRESS_TIMER_ID = 42;

// wParam of a message that carries -1.
constexpr WPARAM kNoPercent = static_cast<WPARAM>(-1);

// Posts `message` to the main window with a heap copy of `text` as lParam.
// A copy that cannot be posted is released here, as nobody else will.
void PostText(UINT message, WPARAM wParam, const std::string& text);

// Takes over a posted heap text: returns a copy and releases it. A null
// lParam gives an empty text.
std::string TakeText(LPARAM lParam);

// Reports a failed start of a run to the user: the failure box with
// `reason`, then the end of the run.
void PostRunFailure(const std::string& reason);
