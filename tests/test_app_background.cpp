// The window's picture: PNG bytes from the resources or from an update
// become a bitmap through GDI+, and the bitmap is drawn where it is asked to.
#include "background.h"
#include "resource.h"
#include "test_app_helpers.h"
#include "testsupport.h"
#include "updaterun.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <sstream>
#include <vector>

#include <objidl.h>

#include <gdiplus.h>

namespace {

// A 2 x 1 picture: a red pixel, then a blue one (8-bit RGB).
const std::vector<uint8_t> kRedBluePng = {
    0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a, 0x00, 0x00, 0x00, 0x0d, 0x49, 0x48, 0x44,
    0x52, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x01, 0x08, 0x02, 0x00, 0x00, 0x00, 0x7b,
    0x40, 0xe8, 0xdd, 0x00, 0x00, 0x00, 0x0f, 0x49, 0x44, 0x41, 0x54, 0x08, 0xd7, 0x63, 0xf8,
    0xcf, 0xc0, 0xc0, 0xc0, 0xf0, 0x1f, 0x00, 0x07, 0x00, 0x01, 0xff, 0x76, 0xd5, 0xa7, 0x60,
    0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4e, 0x44, 0xae, 0x42, 0x60, 0x82};

const COLORREF kRed = RGB(255, 0, 0);
const COLORREF kBlue = RGB(0, 0, 255);
const COLORREF kWhite = RGB(255, 255, 255);

SIZE BitmapSize(HBITMAP bitmap) {
    BITMAP bm = {};
    GetObjectA(bitmap, sizeof bm, &bm);
    return {bm.bmWidth, bm.bmHeight};
}

// A white 32-bit drawing surface in memory.
class Canvas {
public:
    Canvas(int width, int height) : dc(CreateCompatibleDC(nullptr)) {
        BITMAPINFO info = {};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -height;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        void* bits = nullptr;
        surface = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        previous = SelectObject(dc, surface);
        PatBlt(dc, 0, 0, width, height, WHITENESS);
    }
    ~Canvas() {
        SelectObject(dc, previous);
        DeleteObject(surface);
        DeleteDC(dc);
    }
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;

    HDC Dc() const { return dc; }
    COLORREF Pixel(int x, int y) const { return GetPixel(dc, x, y); }

private:
    HDC dc = nullptr;
    HBITMAP surface = nullptr;
    HGDIOBJ previous = nullptr;
};

// GDI+ runs for the whole suite, as it runs for the whole program.
class PictureTest : public MainWindowStandIn {
protected:
    static void SetUpTestSuite() {
        Gdiplus::GdiplusStartupInput input;
        Gdiplus::GdiplusStartup(&token, &input, nullptr);
    }
    static void TearDownTestSuite() { Gdiplus::GdiplusShutdown(token); }

    void SetUp() override {
        MainWindowStandIn::SetUp();
        savedBitmap = backgroundBitmap;
    }
    void TearDown() override {
        HBITMAP current = backgroundBitmap;
        if (current != savedBitmap)
            DeleteObject(current);
        backgroundBitmap = savedBitmap;
        MainWindowStandIn::TearDown();
    }

    static ULONG_PTR token;
    HBITMAP savedBitmap = nullptr;
};

ULONG_PTR PictureTest::token = 0;

TEST_F(PictureTest, PngBytesBecomeABitmapDrawnWhereAsked) {
    HBITMAP bitmap = BitmapFromPngBytes(kRedBluePng);
    ASSERT_NE(bitmap, nullptr);
    const SIZE size = BitmapSize(bitmap);
    EXPECT_EQ(size.cx, 2);
    EXPECT_EQ(size.cy, 1);

    Canvas canvas(4, 3);
    DrawBitmap(canvas.Dc(), bitmap, 1, 2);
    EXPECT_EQ(canvas.Pixel(1, 2), kRed);
    EXPECT_EQ(canvas.Pixel(2, 2), kBlue);
    // Nothing around it.
    EXPECT_EQ(canvas.Pixel(0, 2), kWhite);
    EXPECT_EQ(canvas.Pixel(3, 2), kWhite);
    EXPECT_EQ(canvas.Pixel(1, 1), kWhite);
    DeleteObject(bitmap);
}

TEST_F(PictureTest, NoBitmapDrawsNothing) {
    Canvas canvas(2, 2);
    DrawBitmap(canvas.Dc(), nullptr, 0, 0);
    EXPECT_EQ(canvas.Pixel(0, 0), kWhite);
    EXPECT_EQ(canvas.Pixel(1, 1), kWhite);
}

TEST_F(PictureTest, BytesThatAreNoPictureGiveNoBitmap) {
    LogCapture log;
    EXPECT_EQ(BitmapFromPngBytes({}), nullptr);
    EXPECT_EQ(BitmapFromPngBytes({1, 2, 3, 4, 5}), nullptr);
    std::vector<uint8_t> cut(kRedBluePng.begin(), kRedBluePng.begin() + 30);
    EXPECT_EQ(BitmapFromPngBytes(cut), nullptr);
    // Only a picture that decodes but cannot be converted is logged.
    EXPECT_FALSE(log.Contains("Failed to convert PNG"));
}

TEST_F(PictureTest, TheResourcePictureIsTheWindowsSize) {
    HBITMAP bitmap = LoadPngResourceBitmap(IDB_BACKGROUND);
    ASSERT_NE(bitmap, nullptr);
    const SIZE size = BitmapSize(bitmap);
    EXPECT_EQ(size.cx, 500);
    EXPECT_EQ(size.cy, 200);
    DeleteObject(bitmap);

    // No "PNG" resource under another id.
    EXPECT_EQ(LoadPngResourceBitmap(IDI_MAINICON), nullptr);
    EXPECT_EQ(CreateResourceStream(MAKEINTRESOURCEA(12345), "PNG"), nullptr);
}

Update UpdateWithImage(const std::vector<uint8_t>& image) {
    std::istringstream stream(UpdateFileBuilder().Header("Pad", 1, 0).Image(image).Data(),
                              std::ios::binary);
    return Update(stream);
}

TEST_F(PictureTest, AnUpdatesPictureReplacesTheWindowsPicture) {
    ShowUpdateSummary(UpdateWithImage(kRedBluePng));
    HBITMAP replaced = backgroundBitmap;
    ASSERT_NE(replaced, nullptr);
    ASSERT_NE(replaced, savedBitmap);
    EXPECT_EQ(BitmapSize(replaced).cx, 2);
    ASSERT_EQ(Take().size(), 1u); // the summary row

    // A picture that cannot be decoded leaves the current one in place.
    ShowUpdateSummary(UpdateWithImage({0x89, 0x50, 0x4e, 0x47, 1, 2, 3}));
    EXPECT_EQ(backgroundBitmap, replaced);
    const std::vector<PostedMessage> posted = Take();
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0].message, WM_UPDATE_SUMMARY);
}

TEST_F(PictureTest, TheReplacedPictureIsDeletedOnTheWindowThread) {
    HBITMAP earlier = CreateBitmap(1, 1, 1, 32, nullptr);
    ASSERT_NE(earlier, nullptr);
    backgroundBitmap = earlier;
    ShowUpdateSummary(UpdateWithImage(kRedBluePng));
    ASSERT_NE(backgroundBitmap, earlier);
    // The window thread is told to delete the earlier picture; once it has,
    // the handle is gone.
    const std::vector<PostedMessage> posted = Take();
    auto replaced = std::find_if(posted.begin(), posted.end(), [](const PostedMessage& message) {
        return message.message == WM_PICTURE_REPLACED;
    });
    ASSERT_NE(replaced, posted.end());
    EXPECT_EQ(replaced->lParam, reinterpret_cast<LPARAM>(earlier));
    BITMAP info = {};
    EXPECT_NE(GetObjectA(earlier, sizeof info, &info), 0);
    OnPictureReplaced(replaced->lParam);
    EXPECT_EQ(GetObjectA(earlier, sizeof info, &info), 0);
}

} // namespace
