// The names under which the program opens a file that arrives as a wide
// path: the path itself when the ANSI functions can take it, else its short
// name, else the reason neither works; first as a choice from given paths in
// a given code page, then against files on this system.
#include "ansipath.h"
#include "filenames.h"
#include "test_app_helpers.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// 更新 ("update"): not in the Western code pages, in the Japanese one.
const std::wstring kJapanese = L"\u66f4\u65b0";
// The same two characters in code page 932 (Shift JIS).
const std::string kJapanese932 = "\x8d"
                                 "\x58"
                                 "\x90"
                                 "\x56";

// A path of exactly `length` characters: C:\ and a name of x's ending in .upd.
std::wstring PathOfLength(size_t length) {
    return L"C:\\" + std::wstring(length - 7, L'x') + L".upd";
}

struct ChoiceCase {
    const char* name;
    std::wstring given;
    std::wstring full;
    std::wstring shortPath;
    UINT codePage;
    std::string expected; // empty: no usable name
    bool tooLong;
    bool strange;
};

TEST(ChooseAnsiFileNameTest, PathAsGivenElseFullElseShortElseWhyNot) {
    const std::wstring japanese = L"C:\\" + kJapanese + L"\\a.upd";
    const std::wstring japaneseShort = L"C:\\__~~~R0L\\a.upd";
    const std::wstring longPath =
        L"C:\\" + std::wstring(150, L'a') + L"\\" + std::wstring(150, L'b') + L"\\a.upd";
    const std::wstring longShort = L"C:\\AAAA~E45\\BBBB~SY0\\a.upd";
    const std::wstring longFolder = L"C:\\" + std::wstring(300, L'd');
    std::wstring roundabout = L"C:\\u\\";
    for (int i = 0; i < 60; ++i)
        roundabout += L"v\\..\\";
    const ChoiceCase cases[] = {
        {"plain", L"C:\\u\\a.upd", L"C:\\u\\a.upd", L"", 1252, "C:\\u\\a.upd", false, false},
        {"relative", L"a.upd", L"C:\\u\\a.upd", L"", 1252, "a.upd", false, false},
        // The system resolves a relative name wide: the folder's characters
        // do not matter, only the full path's length.
        {"relative in a Japanese folder", L"a.upd", japanese, L"", 1252, "a.upd", false, false},
        {"relative in a long folder", L"a.upd", longFolder + L"\\a.upd", L"C:\\DDDD~XY1\\a.upd",
         1252, "C:\\DDDD~XY1\\a.upd", false, false},
        {"relative in a long folder without short name", L"a.upd", longFolder + L"\\a.upd", L"",
         1252, "", true, false},
        {"a long way to a short path", roundabout + L"a.upd", L"C:\\u\\a.upd", L"", 1252,
         "C:\\u\\a.upd", false, false},
        {"Japanese through its short name", japanese, japanese, japaneseShort, 1252,
         "C:\\__~~~R0L\\a.upd", false, false},
        {"Japanese without short name", japanese, japanese, L"", 1252, "", false, true},
        // A volume without 8.3 names gives the long name back.
        {"Japanese whose short name is the same", japanese, japanese, japanese, 1252, "", false,
         true},
        {"Japanese in the Japanese code page", japanese, japanese, japaneseShort, 932,
         "C:\\" + kJapanese932 + "\\a.upd", false, false},
        {"Latin in the Western code page", L"C:\\caf\u00e9\\a.upd", L"C:\\caf\u00e9\\a.upd", L"",
         1252, "C:\\caf\xe9\\a.upd", false, false},
        // Code page 932 has no é; nor 1252 an ā, which a best fit would make
        // an a, naming another folder.
        {"Latin in the Japanese code page", L"C:\\caf\u00e9\\a.upd", L"C:\\caf\u00e9\\a.upd",
         L"C:\\CAF_~EZK\\a.upd", 932, "C:\\CAF_~EZK\\a.upd", false, false},
        {"no best fit", L"C:\\\u0101\\a.upd", L"C:\\\u0101\\a.upd", L"", 1252, "", false, true},
        {"259 characters", PathOfLength(259), PathOfLength(259), L"", 1252,
         "C:\\" + std::string(252, 'x') + ".upd", false, false},
        {"260 characters with short name", PathOfLength(260), PathOfLength(260), L"C:\\XXXX~1.UPD",
         1252, "C:\\XXXX~1.UPD", false, false},
        {"260 characters without short name", PathOfLength(260), PathOfLength(260), L"", 1252, "",
         true, false},
        {"long through its short name", longPath, longPath, longShort, 1252,
         "C:\\AAAA~E45\\BBBB~SY0\\a.upd", false, false},
        {"long whose short name is too long", longPath, longPath, PathOfLength(270), 1252, "", true,
         false},
        {"long and Japanese without short name", longPath + kJapanese, longPath + kJapanese, L"",
         1252, "", true, true},
        // Two bytes for each of 200 Japanese characters: under MAX_PATH in
        // characters, over the buffer in bytes.
        {"Japanese bytes over the buffer", L"C:\\" + std::wstring(200, L'\u65b0'),
         L"C:\\" + std::wstring(200, L'\u65b0'), L"", 932, "", true, false},
    };
    for (const ChoiceCase& c : cases) {
        const AnsiFileName chosen = ChooseAnsiFileName(c.given, c.full, c.shortPath, c.codePage);
        EXPECT_EQ(chosen.name, c.expected) << c.name;
        EXPECT_EQ(chosen.tooLong, c.tooLong) << c.name;
        EXPECT_EQ(chosen.strange, c.strange) << c.name;
        EXPECT_EQ(chosen.Usable(), !c.expected.empty()) << c.name;
    }
}

// Files in a folder of the test's own; the working folder is put back.
class WidePathTest : public testing::Test {
protected:
    void TearDown() override {
        if (!savedFolder.empty())
            SetCurrentDirectoryW(savedFolder.c_str());
    }

    void EnterFolder(const std::wstring& path) {
        wchar_t current[MAX_PATH] = {};
        GetCurrentDirectoryW(MAX_PATH, current);
        savedFolder = current;
        ASSERT_TRUE(SetCurrentDirectoryW(path.c_str()));
    }

    WideTempFolder folder;

private:
    std::wstring savedFolder;
};

// Paths the ANSI functions cannot take open through the short name the
// system gives (Wine makes 8.3 names for every long or foreign name, on C:
// and on Z:, the host's root, alike).
TEST_F(WidePathTest, JapaneseAndLongPathsOpenThroughTheirShortNames) {
    const struct {
        const char* name;
        std::vector<std::wstring> folders;
        std::wstring file;
    } cases[] = {
        {"Japanese folder", {kJapanese}, L"update.upd"},
        {"Japanese name", {L"files"}, kJapanese + L".upd"},
        {"Latin folder", {L"caf\u00e9 \u0101"}, L"update.upd"},
        {"over 260 characters",
         {std::wstring(100, L'a'), std::wstring(100, L'b'), std::wstring(100, L'c')},
         L"update.upd"},
    };
    for (const auto& c : cases) {
        const std::wstring path = folder.MakeFolders(c.folders) + L"\\" + c.file;
        ASSERT_TRUE(folder.Write(path, c.name)) << c.name;
        std::string asIs;
        EXPECT_FALSE(ToCodePage(path, GetACP(), asIs) && path.size() < MAX_PATH)
            << c.name << ": the ANSI functions could take the path as it is";
        const AnsiFileName chosen = AnsiFileNameOf(path);
        ASSERT_TRUE(chosen.Usable()) << c.name << ": " << path;
        EXPECT_LT(chosen.name.size(), static_cast<size_t>(MAX_PATH)) << c.name;
        EXPECT_EQ(ReadAnsiFile(chosen.name), c.name) << c.name << ": " << chosen.name;
    }
}

TEST_F(WidePathTest, RelativeNameInAJapaneseFolderStaysAsItIs) {
    const std::wstring japanese = folder.MakeFolders({kJapanese});
    ASSERT_TRUE(folder.Write(japanese + L"\\update.upd", "relative"));
    ASSERT_NO_FATAL_FAILURE(EnterFolder(japanese));
    const AnsiFileName chosen = AnsiFileNameOf(L"update.upd");
    EXPECT_EQ(chosen.name, "update.upd");
    EXPECT_EQ(ReadAnsiFile(chosen.name), "relative");
    // The start-up search reports the name itself, not the ANSI one's '?'.
    ASSERT_TRUE(folder.Write(japanese + L"\\" + kJapanese + L".upd", "found"));
    DeleteFileW((japanese + L"\\update.upd").c_str());
    EXPECT_EQ(FindFirstFileName(L"*.upd"), kJapanese + L".upd");
}

// Where even the short path is too long, or the file is not there to have
// one, the reason comes instead of a name.
TEST_F(WidePathTest, NoShortNameThatFitsGivesTheReason) {
    // Names that are 8.3 names already are their own short names.
    std::vector<std::wstring> deep(30, L"abcdefgh");
    const std::wstring deepPath = folder.MakeFolders(deep) + L"\\update.upd";
    ASSERT_TRUE(folder.Write(deepPath, "deep"));
    const AnsiFileName tooDeep = AnsiFileNameOf(deepPath);
    EXPECT_EQ(tooDeep.name, "");
    EXPECT_TRUE(tooDeep.tooLong);
    EXPECT_FALSE(tooDeep.strange);

    const AnsiFileName missing = AnsiFileNameOf(folder.Path() + L"\\" + kJapanese + L"\\none.upd");
    EXPECT_EQ(missing.name, "");
    EXPECT_FALSE(missing.tooLong);
    EXPECT_TRUE(missing.strange);
}

} // namespace
