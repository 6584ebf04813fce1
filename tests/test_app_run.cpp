// How a file reaches a run and how a run that cannot start is reported: the
// start-up hand-over, StartUpdate, the automatic pick-up's reading, drops and
// the worker's own failures. The main window is a stand-in that keeps what is
// posted to it; no dialog opens on these paths.
#include "ansipath.h"
#include "apptexts.h"
#include "filenames.h"
#include "openfile.h"
#include "resource.h"
#include "test_app_helpers.h"
#include "testsupport.h"
#include "updaterun.h"
#include "updatethread.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include <shlobj.h>

namespace {

const char kBadHeader[] = "Update file was invalid (bad header).";
const char kTruncated[] = "Update file was truncated. Did it download correctly?";

// A file that starts like an update and stops inside its header (in the
// message).
std::string TruncatedUpdate() {
    UpdateFileBuilder builder;
    builder.Header("Pad", 1, 0, "Hello there");
    return builder.Truncate(builder.Data().size() - 8).Data();
}

class StartUpTest : public MainWindowStandIn {
protected:
    void SetUp() override {
        MainWindowStandIn::SetUp();
        CopyFileName(updateFileName, "unchanged");
    }
};

TEST_F(StartUpTest, CommandLinePathStartsARunWhole) {
    const struct {
        const wchar_t* commandLine;
        const char* fileName;
    } cases[] = {
        {L"abc.upd", "abc.upd"},
        {L"\"C:\\dir\\a b.upd\"", "C:\\dir\\a b.upd"},
        {L"Z:\\updates\\pad.syx", "Z:\\updates\\pad.syx"},
    };
    for (const auto& c : cases) {
        HandOverStartupFile(c.commandLine, false);
        EXPECT_STREQ(updateFileName, c.fileName);
        const std::vector<PostedMessage> posted = Take();
        ASSERT_EQ(posted.size(), 1u) << c.commandLine;
        EXPECT_EQ(posted[0].message, static_cast<UINT>(WM_COMMAND));
        EXPECT_EQ(posted[0].wParam, static_cast<WPARAM>(ID_FILE_OPEN));
        EXPECT_EQ(posted[0].lParam, 1);
    }
}

TEST_F(StartUpTest, CommandLineWinsOverTheWorkingFolder) {
    TempFolder folder;
    folder.Write("found.upd", "x");
    WorkingFolder inFolder(folder.Path());
    HandOverStartupFile(L"given.upd", false);
    EXPECT_STREQ(updateFileName, "given.upd");
    const std::vector<PostedMessage> posted = Take();
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0].message, static_cast<UINT>(WM_COMMAND));
}

TEST_F(StartUpTest, WithoutArgumentTheFolderUpdateFileIsOffered) {
    TempFolder folder;
    folder.Write("readme.txt", "x");
    folder.Write("pad.upd", "x");
    WorkingFolder inFolder(folder.Path());
    HandOverStartupFile(L"", false);
    EXPECT_STREQ(updateFileName, "pad.upd");
    const std::vector<PostedMessage> posted = Take();
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0].message, WM_LOAD_UPDATE_FILE);
    EXPECT_EQ(posted[0].wParam, 0u);
    EXPECT_EQ(posted[0].lParam, 1);
}

TEST_F(StartUpTest, NothingOfferedInDebugConsoleModeOrWithoutUpdateFile) {
    TempFolder folder;
    folder.Write("pad.syx", "x");
    WorkingFolder inFolder(folder.Path());
    HandOverStartupFile(L"", false);
    EXPECT_TRUE(Take().empty());

    folder.Write("pad.upd", "x");
    HandOverStartupFile(L"", true);
    EXPECT_TRUE(Take().empty());
    EXPECT_STREQ(updateFileName, "unchanged");
}

class StartUpdateTest : public MainWindowStandIn {};

// The failure box's reason, then the end of the run, and nothing else.
void ExpectRunFailure(const std::vector<PostedMessage>& posted, const std::string& reason) {
    ASSERT_EQ(posted.size(), 2u);
    EXPECT_EQ(posted[0].message, WM_UPDATE_FAILED);
    EXPECT_EQ(posted[0].Percent(), -1);
    EXPECT_EQ(posted[0].text, reason);
    EXPECT_EQ(posted[1].message, WM_UPDATE_ENDED);
    EXPECT_EQ(posted[1].lParam, 0);
}

TEST_F(StartUpdateTest, FileThatCannotBeReadReportsTheReadersMessage) {
    TempFolder folder;
    const std::string truncated = folder.Write("cut.upd", TruncatedUpdate());
    const std::string missing = folder.Path() + "\\missing.upd";
    const std::string notAnUpdate = folder.Write("notes.upd", "just text");

    const struct {
        const std::string& path;
        const char* reason;
    } cases[] = {{missing, kBadHeader}, {notAnUpdate, kBadHeader}, {truncated, kTruncated}};
    for (const auto& c : cases) {
        LogCapture log;
        StartUpdate(window, c.path.c_str());
        SCOPED_TRACE(c.path);
        ExpectRunFailure(Take(), c.reason);
        EXPECT_FALSE(bRunThread);
        EXPECT_EQ(log.Text(), std::string("Thread caught exception: ") + c.reason + "\n");
    }
}

TEST_F(StartUpdateTest, NothingHappensDuringARun) {
    TempFolder folder;
    const std::string truncated = folder.Write("cut.upd", TruncatedUpdate());
    bRunThread = true;
    StartUpdate(window, truncated.c_str());
    EXPECT_TRUE(Take().empty());
    EXPECT_TRUE(bRunThread);

    // The same for File/Open on the command-line route.
    CopyFileName(updateFileName, truncated);
    OnFileOpen(window, 1);
    EXPECT_TRUE(Take().empty());

    bRunThread = false;
    OnFileOpen(window, 1);
    ExpectRunFailure(Take(), kTruncated);
}

// 更新 ("update"): characters the Western code pages lack.
const std::wstring kJapanese = L"\u66f4\u65b0";

// Files whose paths the ANSI functions cannot take: in a Japanese folder,
// over MAX_PATH, and too deep for even the short path to fit.
class PathRouteTest : public StartUpdateTest {
protected:
    void SetUp() override {
        StartUpdateTest::SetUp();
        CopyFileName(updateFileName, "unchanged");
        japanese = folder.MakeFolders({kJapanese}) + L"\\cut.upd";
        longPath =
            folder.MakeFolders({std::wstring(120, L'a'), std::wstring(120, L'b')}) + L"\\cut.upd";
        tooDeep = folder.MakeFolders(std::vector<std::wstring>(30, L"abcdefgh")) + L"\\cut.upd";
        ASSERT_TRUE(folder.Write(japanese, TruncatedUpdate()));
        ASSERT_TRUE(folder.Write(longPath, TruncatedUpdate()));
        ASSERT_TRUE(folder.Write(tooDeep, TruncatedUpdate()));
    }

    WideTempFolder folder;
    std::wstring japanese;
    std::wstring longPath;
    std::wstring tooDeep;
};

// The command line and the start-up search hand over a name that opens the
// file; without one, the failure box says why instead of calling the file bad.
TEST_F(PathRouteTest, StartUpHandsOverANameThatOpens) {
    for (const std::wstring& path : {japanese, longPath}) {
        SCOPED_TRACE(path.size());
        CopyFileName(updateFileName, "unchanged");
        HandOverStartupFile((L"\"" + path + L"\"").c_str(), false);
        const std::vector<PostedMessage> posted = Take();
        ASSERT_EQ(posted.size(), 1u);
        EXPECT_EQ(posted[0].message, static_cast<UINT>(WM_COMMAND));
        EXPECT_EQ(ReadAnsiFile(updateFileName), TruncatedUpdate()) << updateFileName;
    }

    CopyFileName(updateFileName, "unchanged");
    HandOverStartupFile(tooDeep.c_str(), false);
    ExpectRunFailure(Take(), UnusablePathText(true, false));
    EXPECT_STREQ(updateFileName, "unchanged");
    HandOverStartupFile((folder.Path() + L"\\" + kJapanese + L"\\missing.upd").c_str(), false);
    ExpectRunFailure(Take(), UnusablePathText(false, true));
}

TEST_F(PathRouteTest, PickUpOffersAFileWithAJapaneseName) {
    const std::wstring inFolder = folder.MakeFolders({L"pickup"});
    ASSERT_TRUE(folder.Write(inFolder + L"\\" + kJapanese + L".upd", "offered"));
    wchar_t saved[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, saved);
    ASSERT_TRUE(SetCurrentDirectoryW(inFolder.c_str()));
    HandOverStartupFile(L"", false);
    SetCurrentDirectoryW(saved);
    const std::vector<PostedMessage> posted = Take();
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0].message, WM_LOAD_UPDATE_FILE);
    EXPECT_EQ(ReadAnsiFile(updateFileName), "offered") << updateFileName;
}

// A wide drop handle, as Wine and Explorer make them.
HDROP MakeWideDrop(const std::vector<std::wstring>& names) {
    std::wstring list;
    for (const std::wstring& name : names)
        list += name + L'\0';
    list += L'\0';
    const size_t bytes = list.size() * sizeof(wchar_t);
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, sizeof(DROPFILES) + bytes);
    auto* drop = static_cast<DROPFILES*>(GlobalLock(block));
    drop->pFiles = sizeof(DROPFILES);
    drop->fWide = TRUE;
    memcpy(reinterpret_cast<char*>(drop) + sizeof(DROPFILES), list.data(), bytes);
    GlobalUnlock(block);
    return static_cast<HDROP>(block);
}

// The file is read (and found truncated), not taken for a bad one.
TEST_F(PathRouteTest, DroppedFileIsReadThroughItsShortName) {
    for (const std::wstring& path : {japanese, longPath}) {
        SCOPED_TRACE(path.size());
        OnDropFiles(window, MakeWideDrop({path}));
        ExpectRunFailure(Take(), kTruncated);
    }
    OnDropFiles(window, MakeWideDrop({tooDeep, japanese}));
    ExpectRunFailure(Take(), UnusablePathText(true, false));
    EXPECT_FALSE(bRunThread);
}

// The automatic pick-up reads the file itself: one it cannot read is
// reported like on every other route, and nothing escapes the window thread.
TEST_F(StartUpdateTest, PickedUpFileThatCannotBeReadIsReported) {
    TempFolder folder;
    const std::string truncated = folder.Write("cut.upd", TruncatedUpdate());
    const std::string missing = folder.Path() + "\\missing.upd";
    LogCapture log;
    EXPECT_NO_THROW(LoadAndConfirmUpdate(truncated.c_str()));
    ExpectRunFailure(Take(), kTruncated);
    EXPECT_NO_THROW(LoadAndConfirmUpdate(missing.c_str()));
    ExpectRunFailure(Take(), kBadHeader);
    EXPECT_FALSE(bRunThread);
}

// A drop handle as the shell makes it: one or more names one after another,
// each terminated, and an empty name at the end.
HDROP MakeDrop(const std::vector<std::string>& names) {
    std::string list;
    for (const std::string& name : names)
        list += name + '\0';
    list += '\0';
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, sizeof(DROPFILES) + list.size());
    auto* drop = static_cast<DROPFILES*>(GlobalLock(block));
    drop->pFiles = sizeof(DROPFILES);
    drop->fWide = FALSE;
    memcpy(reinterpret_cast<char*>(drop) + sizeof(DROPFILES), list.data(), list.size());
    GlobalUnlock(block);
    return static_cast<HDROP>(block);
}

TEST_F(StartUpdateTest, OnlyTheFirstDroppedFileIsUsed) {
    TempFolder folder;
    const std::string truncated = folder.Write("cut.upd", TruncatedUpdate());
    const std::string other = folder.Write("other.upd", "not an update");
    OnDropFiles(window, MakeDrop({truncated, other, other}));
    ExpectRunFailure(Take(), kTruncated);
}

TEST_F(StartUpdateTest, WorkerReportsAFileThatCannotBeRead) {
    TempFolder folder;
    const std::string truncated = folder.Write("cut.upd", TruncatedUpdate());
    LogCapture log;
    // The worker owns and releases the request.
    EXPECT_EQ(UpdateThreadProc(new UpdateRequest{"", truncated}), 1u);
    ExpectRunFailure(Take(), kTruncated);
    EXPECT_TRUE(log.Contains("Loading update file " + truncated + "...\n"));
    EXPECT_TRUE(log.Contains(std::string("Thread caught exception: ") + kTruncated + "\n"));
}

TEST_F(StartUpdateTest, WorkerWithoutRequestOnlyEndsTheRun) {
    EXPECT_EQ(UpdateThreadProc(nullptr), 1u);
    const std::vector<PostedMessage> posted = Take();
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0].message, WM_UPDATE_ENDED);
    EXPECT_EQ(posted[0].lParam, 1);
}

TEST_F(StartUpdateTest, SummaryRowWithoutPicture) {
    std::istringstream stream(UpdateFileBuilder().Header("Pad", 3, 7).Data(), std::ios::binary);
    const Update update(stream);
    ShowUpdateSummary(update);
    const std::vector<PostedMessage> posted = Take();
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0].message, WM_UPDATE_SUMMARY);
    EXPECT_EQ(posted[0].text, " Product: 'Pad' \tFirmware version: 3.07");
}

} // namespace
