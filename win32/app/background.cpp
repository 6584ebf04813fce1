#include "background.h"

#include "utils.h"

#include <cstring>

#include <gdiplus.h>

namespace {

using namespace Gdiplus;
using namespace Gdiplus::DllExports;

// A copy of a decoded image as a GDI bitmap (transparent parts black), or
// null; `converted` is the conversion's status when it ran. Frees both images.
HBITMAP ConvertImage(GpImage* image, GpStatus decoded, GpStatus* converted) {
    HBITMAP bitmap = nullptr;
    *converted = Ok;
    if (image && decoded == Ok) {
        GpImage* copy = nullptr;
        if (GdipCloneImage(image, &copy) == Ok && copy) {
            *converted = GdipCreateHBITMAPFromBitmap(static_cast<GpBitmap*>(copy), &bitmap, 0);
            if (*converted != Ok)
                bitmap = nullptr;
            GdipDisposeImage(copy);
        }
    }
    if (image)
        GdipDisposeImage(image);
    return bitmap;
}

} // namespace

IStream* CreateResourceStream(const char* name, const char* type) {
    HRSRC resource = FindResourceA(nullptr, name, type);
    if (!resource)
        return nullptr;
    const DWORD size = SizeofResource(nullptr, resource);
    HGLOBAL loaded = LoadResource(nullptr, resource);
    const void* data = loaded ? LockResource(loaded) : nullptr;
    if (!size || !data)
        return nullptr;

    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, size);
    if (!block)
        return nullptr;
    void* target = GlobalLock(block);
    if (target) {
        memcpy(target, data, size);
        GlobalUnlock(block);
        IStream* stream = nullptr;
        if (SUCCEEDED(CreateStreamOnHGlobal(block, TRUE, &stream)) && stream)
            return stream;
    }
    GlobalFree(block);
    return nullptr;
}

HBITMAP LoadPngResourceBitmap(int id) {
    IStream* stream = CreateResourceStream(MAKEINTRESOURCEA(id), "PNG");
    if (!stream)
        return nullptr;
    GpImage* image = nullptr;
    const GpStatus decoded = GdipLoadImageFromStream(stream, &image);
    GpStatus converted = Ok;
    HBITMAP bitmap = ConvertImage(image, decoded, &converted);
    stream->Release();
    return bitmap;
}

HBITMAP BitmapFromPngBytes(const std::vector<uint8_t>& bytes) {
    if (bytes.empty())
        return nullptr;
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, bytes.size());
    if (!block)
        return nullptr;
    void* target = GlobalLock(block);
    if (!target) {
        GlobalFree(block);
        return nullptr;
    }
    memcpy(target, bytes.data(), bytes.size());
    IStream* pStream = nullptr;
    if (FAILED(CreateStreamOnHGlobal(block, FALSE, &pStream)) || !pStream) {
        GlobalUnlock(block);
        GlobalFree(block);
        return nullptr;
    }
    GpImage* image = nullptr;
    const GpStatus decoded = GdipLoadImageFromStream(pStream, &image);
    GpStatus converted = Ok;
    HBITMAP bitmap = ConvertImage(image, decoded, &converted);
    if (converted != Ok)
        LogText("Failed to convert PNG\n");
    // The images are gone, so nothing reads the stream's memory any more.
    pStream->Release();
    GlobalUnlock(block);
    GlobalFree(block);
    return bitmap;
}

void DrawBitmap(HDC dc, HBITMAP bitmap, int x, int y) {
    if (!bitmap)
        return;
    BITMAP bm = {};
    if (!GetObjectA(bitmap, sizeof bm, &bm))
        return;
    HDC memory = CreateCompatibleDC(dc);
    if (!memory)
        return;
    HGDIOBJ previous = SelectObject(memory, bitmap);
    BitBlt(dc, x, y, bm.bmWidth, bm.bmHeight, memory, 0, 0, SRCCOPY);
    SelectObject(memory, previous);
    DeleteDC(memory);
}
