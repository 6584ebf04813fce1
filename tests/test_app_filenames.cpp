// The file names that reach the program at start-up: the command line's
// argument, the buffer it is copied into, and the first update file of a
// folder.
#include "filenames.h"
#include "test_app_helpers.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::wstring Wide(const std::string& text) {
    std::wstring wide(text.size(), L'\0');
    const int length = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()),
                                           &wide[0], static_cast<int>(wide.size()));
    wide.resize(static_cast<size_t>(length > 0 ? length : 0));
    return wide;
}

TEST(UnquoteCommandLineTest, QuotesGoOnlyWhenThePathHasThem) {
    const struct {
        const wchar_t* commandLine;
        const wchar_t* expected;
    } cases[] = {
        // Windows quotes a path only when it holds a space.
        {L"\"C:\\dir\\a b.upd\"", L"C:\\dir\\a b.upd"},
        {L"abc.upd", L"abc.upd"},
        {L"C:\\dir\\abc.upd", L"C:\\dir\\abc.upd"},
        {L"\"abc.upd\"", L"abc.upd"},
        {L"a", L"a"},
        {L"ab", L"ab"},
        // White space around the argument is not part of the path.
        {L"  \"Z:\\tmp\\x y.syx\"  ", L"Z:\\tmp\\x y.syx"},
        {L"abc.upd \t", L"abc.upd"},
        // An unclosed quote still names the path after it.
        {L"\"abc.upd", L"abc.upd"},
        {L"\"\"", L""},
        {L"\"", L""},
        {L"", L""},
        {L"   ", L""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(UnquoteCommandLine(c.commandLine), c.expected) << "[" << c.commandLine << "]";
    EXPECT_EQ(UnquoteCommandLine(nullptr), L"");
}

// What WinMain's command line holds, from the whole command line.
TEST(CommandLineArgumentsTest, TheTextAfterTheProgramsName) {
    const struct {
        const wchar_t* commandLine;
        const wchar_t* expected;
    } cases[] = {
        {L"Kestrane.exe", L""},
        {L"Kestrane.exe C:\\a.upd", L"C:\\a.upd"},
        {L"\"C:\\Program Files\\Kestrane.exe\" \"C:\\x y\\a.upd\"", L"\"C:\\x y\\a.upd\""},
        // Blanks inside the program's quotes belong to its name; an
        // argument's own blanks and quotes stay for UnquoteCommandLine.
        {L"\"C:\\my app\\k.exe\"\t  a b.upd ", L"a b.upd "},
        {L"k\"x y\".exe abc.upd", L"abc.upd"},
        {L"Kestrane.exe   ", L""},
        {L"Kestrane.exe \u66f4\u65b0\\a.upd", L"\u66f4\u65b0\\a.upd"},
        {L"", L""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CommandLineArguments(c.commandLine), c.expected) << "[" << c.commandLine << "]";
    EXPECT_EQ(CommandLineArguments(nullptr), L"");
}

TEST(CopyFileNameTest, CutToFitAndAlwaysTerminated) {
    char buffer[kFileNameSize];
    memset(buffer, 'z', sizeof buffer);
    CopyFileName(buffer, "C:\\a.upd");
    EXPECT_STREQ(buffer, "C:\\a.upd");

    CopyFileName(buffer, std::string(259, 'n'));
    EXPECT_EQ(std::string(buffer), std::string(259, 'n'));

    CopyFileName(buffer, std::string(400, 'm'));
    EXPECT_EQ(buffer[259], '\0');
    EXPECT_EQ(std::string(buffer), std::string(259, 'm'));

    CopyFileName(buffer, "");
    EXPECT_STREQ(buffer, "");
}

TEST(FindFirstFileNameTest, TheFirstMatchOrNothing) {
    TempFolder folder;
    const std::wstring pattern = Wide(folder.Path() + "\\*.upd");
    EXPECT_EQ(FindFirstFileName(pattern.c_str()), L"");

    folder.Write("notes.txt", "x");
    EXPECT_EQ(FindFirstFileName(pattern.c_str()), L"");

    folder.Write("one.upd", "x");
    EXPECT_EQ(FindFirstFileName(pattern.c_str()), L"one.upd");

    // With two, the one the system reports first; a name, not a path.
    folder.Write("two.upd", "x");
    const std::wstring found = FindFirstFileName(pattern.c_str());
    EXPECT_TRUE(found == L"one.upd" || found == L"two.upd") << found;
}

// Handle values are handed out again once freed, so a search that kept its
// handle open moves the next new handle to another value.
TEST(FindFirstFileNameTest, ReleasesTheSearchHandle) {
    TempFolder folder;
    folder.Write("one.upd", "x");
    const std::wstring pattern = Wide(folder.Path() + "\\*.upd");
    for (int round = 0; round < 3; ++round) {
        HANDLE before = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        ASSERT_NE(before, nullptr);
        CloseHandle(before);
        ASSERT_EQ(FindFirstFileName(pattern.c_str()), L"one.upd");
        HANDLE after = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        CloseHandle(after);
        EXPECT_EQ(after, before) << "round " << round;
    }
}

} // namespace
