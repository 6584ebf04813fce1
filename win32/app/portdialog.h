// The port-selection dialog: the user picks the MIDI output for a plain
// SysEx file, which names no port of its own.
#pragma once

#include <string>
#include <vector>

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

// Shows the dialog modally over `owner` with `names` in list order; returns
// the index of the chosen name, or -1 when the user cancelled or chose
// nothing (always -1 for an empty list).
int SelectMidiPort(const std::vector<std::string>& names, HWND owner, HINSTANCE instance);

// The dialog procedure of IDD_SELECT_PORT.
INT_PTR CALLBACK SelectPortDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
