// Message boxes centred over their owner window rather than on the screen.
#pragma once

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

// MessageBoxA whose box appears centred over `owner`; returns its result.
// For the window thread: the placement hooks the calling thread.
int CenteredMessageBox(HWND owner, const char* text, const char* caption, UINT type);

// Where a box of the size of `box` goes so that its centre is the centre of
// `owner`, kept on the desktop: raised to 0 when it would start left of or
// above it, then pulled back so that it ends within its right and bottom
// edges.
POINT CenteredBoxPosition(const RECT& desktop, const RECT& owner, const RECT& box);
