// The main window's picture: PNG bytes, from the executable's resources or
// from an update, turned into a GDI bitmap through GDI+, and drawn.
// GDI+ must have been started before either conversion runs.
#pragma once

#include <cstdint>
#include <vector>

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <objidl.h>

// A stream over a copy of the resource `name` of type `type` in the
// executable, or null. The stream owns its memory.
IStream* CreateResourceStream(const char* name, const char* type);

// The "PNG" resource `id` as a bitmap, or null when it is missing or cannot
// be decoded. The caller owns the bitmap.
HBITMAP LoadPngResourceBitmap(int id);

// PNG bytes (an update's picture) as a bitmap, or null when they are empty or
// cannot be decoded; logs a picture that decodes but cannot be converted.
// Runs on any thread. The caller owns the bitmap.
HBITMAP BitmapFromPngBytes(const std::vector<uint8_t>& bytes);

// Draws the whole bitmap with its top-left corner at (x, y); nothing when
// there is no bitmap.
void DrawBitmap(HDC dc, HBITMAP bitmap, int x, int y);
