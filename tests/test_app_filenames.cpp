// The file names that reach the program at start-up: the command line's
// argument, the buffer it is copied into, and the first update file of a
// folder.
#include "filenames.h"
#include "test_app_helpers.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(UnquoteCommandLineTest, QuotesGoOnlyWhenThePathHasThem) {
    const struct {
        const char* commandLine;
        const char* expected;
    } cases[] = {
        // Windows quotes a path only when it holds a space.
        {"\"C:\\dir\\a b.upd\"", "C:\\dir\\a b.upd"},
        {"abc.upd", "abc.upd"},
        {"C:\\dir\\abc.upd", "C:\\dir\\abc.upd"},
        {"\"abc.upd\"", "abc.upd"},
        {"a", "a"},
        {"ab", "ab"},
        // White space around the argument is not part of the path.
        {"  \"Z:\\tmp\\x y.syx\"  ", "Z:\\tmp\\x y.syx"},
        {"abc.upd \t", "abc.upd"},
        // An unclosed quote still names the path after it.
        {"\"abc.upd", "abc.upd"},
        {"\"\"", ""},
        {"\"", ""},
        {"", ""},
        {"   ", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(UnquoteCommandLine(c.commandLine), c.expected) << "[" << c.commandLine << "]";
    EXPECT_EQ(UnquoteCommandLine(nullptr), "");
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
    const std::string pattern = folder.Path() + "\\*.upd";
    EXPECT_EQ(FindFirstFileName(pattern.c_str()), "");

    folder.Write("notes.txt", "x");
    EXPECT_EQ(FindFirstFileName(pattern.c_str()), "");

    folder.Write("one.upd", "x");
    EXPECT_EQ(FindFirstFileName(pattern.c_str()), "one.upd");

    // With two, the one the system reports first; a name, not a path.
    folder.Write("two.upd", "x");
    const std::string found = FindFirstFileName(pattern.c_str());
    EXPECT_TRUE(found == "one.upd" || found == "two.upd") << found;
}

// Handle values are handed out again once freed, so a search that kept its
// handle open moves the next new handle to another value.
TEST(FindFirstFileNameTest, ReleasesTheSearchHandle) {
    TempFolder folder;
    folder.Write("one.upd", "x");
    const std::string pattern = folder.Path() + "\\*.upd";
    for (int round = 0; round < 3; ++round) {
        HANDLE before = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        ASSERT_NE(before, nullptr);
        CloseHandle(before);
        ASSERT_EQ(FindFirstFileName(pattern.c_str()), "one.upd");
        HANDLE after = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        CloseHandle(after);
        EXPECT_EQ(after, before) << "round " << round;
    }
}

} // namespace
