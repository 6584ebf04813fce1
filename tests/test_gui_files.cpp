// Kestrane.exe end to end: the other ways a file arrives (picked up from the
// working folder with its confirmation, File/Open, dropped on the window), a
// plain SysEx file with its port choice, files that cannot be read, and a
// run that ignores every new request until it ends.
#include "appsession.h"
#include "resource.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace guidriver;

namespace {

const char* const kMessage = "Put the test unit into update mode.";
const std::string kSuccess = "The 'Kestrane Test Unit' was updated sucessfully to version 1.05.";
const char* const kSummary = " Product: 'Kestrane Test Unit' \tFirmware version: 1.05";
const char* const kFastPort = "win:test:delay:0:unprepdelay:0";
const char* const kConfirmTitle = "Update Kestrane Test Unit";

// The open-file dialog's "Files of type" list.
constexpr int kFileTypeList = 0x470; // cmb1
// Its file name field (an editable combo box in the Explorer-style dialog).
constexpr int kFileNameField = 0x47C; // cmb13

using AutoPickUpTest = AppSession;

TEST_F(AutoPickUpTest, UpdateNowRunsTheOfferedUpdate) {
    const std::string update = UpdateFile(kMessage, {{SysExData(3, 200, 4), 0}}, kFastPort);
    SetEnv("KESTRANE_SIM_UPDATE", WriteFile("offered.upd", update));
    ASSERT_NO_FATAL_FAILURE(Start(""));

    HWND confirm = WaitForBox(kConfirmTitle);
    ASSERT_NE(confirm, nullptr);
    EXPECT_EQ(BoxText(confirm, IDC_CONFIRM_TEXT),
              "Do you want to update your Kestrane Test Unit to version 1.05 now?");
    EXPECT_EQ(BoxText(confirm, IDOK), "Update Now");
    EXPECT_EQ(BoxText(confirm, IDCANCEL), "Close");
    EXPECT_EQ(WindowText(Main()), kConfirmTitle);
    EXPECT_TRUE(WaitUntil([&] { return SummaryRow() == kSummary; }, kWindowMs)) << SummaryRow();
    EXPECT_EQ(Record().size(), 0u) << "sent before the user agreed";
    ASSERT_NO_FATAL_FAILURE(Press(confirm, IDOK));

    HWND message = WaitForBox("Important message about update");
    ASSERT_NE(message, nullptr);
    EXPECT_EQ(BoxText(message), std::string(kMessage) + kClickToStart);
    ASSERT_NO_FATAL_FAILURE(Press(message, IDOK));
    HWND done = WaitForBox("Kestrane", kRunMs);
    ASSERT_NE(done, nullptr);
    EXPECT_EQ(BoxText(done), kSuccess);
    ASSERT_NO_FATAL_FAILURE(Press(done, IDOK));
    EXPECT_EQ(SummaryRow(), kSummary);
    // Offered once: the run does not ask again.
    EXPECT_EQ(FindTopWindow(app.Id(), kConfirmTitle, kDialogClass), nullptr);
    EXPECT_EQ(CloseAndWait(), 0u);
    EXPECT_EQ(Hex(Record()), Hex(ExpectedWire(update)));
}

TEST_F(AutoPickUpTest, CloseEndsTheProgram) {
    WriteFile("offered.upd", UpdateFile(kMessage, {{SysExData(3, 200, 4), 0}}, kFastPort));
    ASSERT_NO_FATAL_FAILURE(Start(""));
    HWND confirm = WaitForBox(kConfirmTitle);
    ASSERT_NE(confirm, nullptr);
    ASSERT_TRUE(PressButton(confirm, IDCANCEL));
    EXPECT_EQ(WaitForExit(), 0u);
    EXPECT_EQ(Record().size(), 0u);
}

TEST_F(AutoPickUpTest, UnreadableFileIsReportedAndTheWindowStays) {
    WriteFile("broken.upd", "this is no update file");
    ASSERT_NO_FATAL_FAILURE(Start(""));
    HWND failed = WaitForBox("Kestrane");
    ASSERT_NE(failed, nullptr);
    EXPECT_EQ(BoxText(failed),
              std::string(kFailedPrefix) + "Update file was invalid (bad header).");
    ASSERT_NO_FATAL_FAILURE(Press(failed, IDOK));
    EXPECT_TRUE(app.IsRunning());
    EXPECT_EQ(FindTopWindow(app.Id(), "Update ", kDialogClass), nullptr);
    EXPECT_EQ(StatusRow(), "Waiting for update file.");
    EXPECT_EQ(CloseAndWait(), 0u);
}

// While the offer is open, dropped files are refused: "Update Now" runs the
// offered update and nothing else.
TEST_F(AutoPickUpTest, RefusesDropsWhileTheOfferIsOpen) {
    if (!CanDrop())
        GTEST_SKIP() << "kestrane-xdrop was not built (it needs the X11 headers: libx11-dev)";
    const std::string update = UpdateFile(kMessage, {{SysExData(3, 200, 4), 0}}, kFastPort);
    SetEnv("KESTRANE_SIM_UPDATE", WriteFile("offered.upd", update));
    // Without a message of its own a run of it would start at once; kept
    // out of the working folder, where it could be the one offered.
    ASSERT_TRUE(CreateDirectoryA((folder + "files").c_str(), nullptr));
    const std::string droppedPath =
        WriteFile("files\\dropped.upd", UpdateFile("", {{SysExData(2, 150, 12), 0}}, kFastPort));
    ASSERT_NO_FATAL_FAILURE(Start(""));

    HWND confirm = WaitForBox(kConfirmTitle);
    ASSERT_NE(confirm, nullptr);
    EXPECT_FALSE(AcceptsFiles()) << "the window takes drops while the offer is open";
    ASSERT_TRUE(DropFiles({droppedPath}, DropAs::Urls));
    // A drop that got through would have been handled by now.
    ASSERT_NO_FATAL_FAILURE(WaitUntilHandled());
    EXPECT_EQ(Record().size(), 0u) << "the dropped file was sent while the offer was open";

    ASSERT_NO_FATAL_FAILURE(Press(confirm, IDOK));
    HWND message = WaitForBox("Important message about update");
    ASSERT_NE(message, nullptr);
    ASSERT_NO_FATAL_FAILURE(Press(message, IDOK));
    ASSERT_NO_FATAL_FAILURE(FinishRun(kSuccess));
    EXPECT_EQ(CloseAndWait(), 0u);
    EXPECT_EQ(Hex(Record()), Hex(ExpectedWire(update)));
}

// A plain SysEx file names no port: the user picks one of every output,
// decoys included.
class SysExFileTest : public AppSession {
protected:
    void SetUp() override {
        AppSession::SetUp();
        SetEnv("KESTRANE_SIM_OUT_DECOYS", "Microsoft GS Wavetable Synth$*$2- USB MIDI");
        file = SysExData(3, 200, 6);
        path = WriteFile("part.syx", std::string(file.begin(), file.end()));
        SetEnv("KESTRANE_SIM_UPDATE", path);
    }

    // Starts the program with the file and checks the port dialog.
    HWND OpenPortDialog() {
        Start("\"" + path + "\"");
        if (HasFatalFailure())
            return nullptr;
        compactHeight = WindowHeight();
        HWND dialog = WaitForBox("Select a MIDI port");
        if (!dialog)
            return nullptr;
        EXPECT_EQ(BoxText(dialog, -1), "Please select a MIDI port");
        HWND list = GetDlgItem(dialog, IDC_PORT_LIST);
        EXPECT_EQ(ComboItems(list),
                  (std::vector<std::string>{"Microsoft GS Wavetable Synth", "Kestrane Test Unit",
                                            "2- USB MIDI"}));
        EXPECT_EQ(ComboSelection(list), 0);
        return dialog;
    }

    std::vector<uint8_t> file;
    std::string path;
    int compactHeight = 0;
};

TEST_F(SysExFileTest, CancelInThePortDialogCancelsTheUpdate) {
    HWND dialog = OpenPortDialog();
    ASSERT_NE(dialog, nullptr);
    ASSERT_NO_FATAL_FAILURE(Press(dialog, IDCANCEL));
    HWND failed = WaitForBox("Kestrane");
    ASSERT_NE(failed, nullptr);
    EXPECT_EQ(BoxText(failed), std::string(kFailedPrefix) + "Update canceled");
    ASSERT_NO_FATAL_FAILURE(Press(failed, IDOK));
    EXPECT_EQ(WindowHeight(), compactHeight) << "the layout changed";
    EXPECT_TRUE(AcceptsFiles());
    EXPECT_EQ(CloseAndWait(), 0u);
    EXPECT_EQ(Record().size(), 0u);
}

TEST_F(SysExFileTest, PickedDeviceReceivesTheFile) {
    HWND dialog = OpenPortDialog();
    ASSERT_NE(dialog, nullptr);
    ASSERT_TRUE(SelectComboItem(GetDlgItem(dialog, IDC_PORT_LIST), 1));
    ASSERT_NO_FATAL_FAILURE(Press(dialog, IDOK));

    HWND message = WaitForBox("Important message about update");
    ASSERT_NE(message, nullptr);
    EXPECT_EQ(BoxText(message), std::string(kSysExInstructions) + kClickToStart);
    ASSERT_NO_FATAL_FAILURE(Press(message, IDOK));
    HWND done = WaitForBox("Kestrane", kRunMs);
    ASSERT_NE(done, nullptr);
    EXPECT_EQ(BoxText(done),
              "The '<SysEx Update Device>' was updated sucessfully to version 0.00.");
    ASSERT_NO_FATAL_FAILURE(Press(done, IDOK));
    EXPECT_EQ(SummaryRow(), " Product: '<SysEx Update Device>' \tFirmware version: 0.00");
    EXPECT_EQ(CloseAndWait(), 0u);
    EXPECT_EQ(Hex(Record()), Hex(ExpectedWire(std::string(file.begin(), file.end()))));
}

using OpenFileTest = AppSession;

TEST_F(OpenFileTest, BadFileIsReportedAndTheWindowGoesBackToIdle) {
    // An update file of format version 3.
    const std::string bad = std::string("VeskUpdateFile") + '\x03' + '\0';
    const std::string path = WriteFile("old.upd", bad);
    ASSERT_NO_FATAL_FAILURE(Start("\"" + path + "\""));
    const int compactHeight = WindowHeight();
    HWND failed = WaitForBox("Kestrane");
    ASSERT_NE(failed, nullptr);
    EXPECT_EQ(BoxText(failed), std::string(kFailedPrefix) +
                                   "Update file is wrong version. Please check you have the latest "
                                   "version of the updater.");
    ASSERT_NO_FATAL_FAILURE(Press(failed, IDOK));

    EXPECT_EQ(StatusRow(), "Waiting for update file.");
    EXPECT_EQ(SummaryRow(), "No update file has been loaded yet.");
    EXPECT_EQ(WindowHeight(), compactHeight);
    EXPECT_TRUE(WaitUntil([&] { return AcceptsFiles(); }, kWindowMs));
    // Idle again: File/Open answers.
    ASSERT_TRUE(SendCommand(Main(), ID_FILE_OPEN));
    HWND open = WaitForBox("Open");
    ASSERT_NE(open, nullptr);
    ASSERT_NO_FATAL_FAILURE(Press(open, IDCANCEL));
    EXPECT_EQ(CloseAndWait(), 0u);
}

TEST_F(OpenFileTest, ChosenFileRunsAtOnce) {
    const std::string update = UpdateFile("", {{SysExData(3, 200, 7), 0}}, kFastPort);
    // In a folder of its own: one in the working folder would be offered at
    // start-up.
    ASSERT_TRUE(CreateDirectoryA((folder + "files").c_str(), nullptr));
    const std::string path = WriteFile("files\\chosen.upd", update);
    SetEnv("KESTRANE_SIM_UPDATE", path);
    ASSERT_NO_FATAL_FAILURE(Start(""));
    ASSERT_TRUE(SendCommand(Main(), ID_FILE_OPEN));
    HWND open = WaitForBox("Open");
    ASSERT_NE(open, nullptr);
    EXPECT_EQ(ComboItems(GetDlgItem(open, kFileTypeList)),
              (std::vector<std::string>{"All supported files", "Update file (*.upd)",
                                        "SysEx file (*.syx)", "All files"}));
    ASSERT_TRUE(SetControlText(open, kFileNameField, path));
    ASSERT_NO_FATAL_FAILURE(Press(open, IDOK));

    // No confirmation and, without a message, no box before the run.
    HWND done = WaitForBox("Kestrane", kRunMs);
    ASSERT_NE(done, nullptr);
    EXPECT_EQ(BoxText(done), kSuccess);
    ASSERT_NO_FATAL_FAILURE(Press(done, IDOK));
    EXPECT_EQ(CloseAndWait(), 0u);
    EXPECT_EQ(Hex(Record()), Hex(ExpectedWire(update)));
}

// The wide dialog hands over a path in a folder named in Japanese (更新),
// which the run opens through its short name. (Wine's dialog itself cannot
// take a typed path of over 260 characters: it overflows its stack.)
TEST_F(OpenFileTest, ChosenFileInAJapaneseFolderRuns) {
    const std::string update = UpdateFile("", {{SysExData(3, 200, 7), 0}}, kFastPort);
    const std::string path = WriteFileAnywhere(u8"\u66f4\u65b0\\chosen.upd", update);
    // Out of the working folder, where it would be offered at start-up.
    SetEnv("KESTRANE_SIM_UPDATE", WriteFileAnywhere("files\\device.upd", update));
    ASSERT_NO_FATAL_FAILURE(Start(""));
    ASSERT_TRUE(SendCommand(Main(), ID_FILE_OPEN));
    HWND open = WaitForBox("Open");
    ASSERT_NE(open, nullptr);
    ASSERT_TRUE(SetControlText(open, kFileNameField, path));
    ASSERT_NO_FATAL_FAILURE(Press(open, IDOK));
    ASSERT_NO_FATAL_FAILURE(FinishRun(kSuccess));
    EXPECT_EQ(CloseAndWait(), 0u);
    EXPECT_EQ(Hex(Record()), Hex(ExpectedWire(update)));
}

// While a run waits for the user between its two portions, File/Open, Exit
// (and Esc's IDCANCEL) and dropped files do nothing; About still opens,
// centred over the window. Once the run has ended a drop works again.
using BusyRunTest = AppSession;

TEST_F(BusyRunTest, IgnoresOpenExitAndDropsUntilItEnds) {
    if (!CanDrop())
        GTEST_SKIP() << "kestrane-xdrop was not built (it needs the X11 headers: libx11-dev)";
    const std::vector<uint8_t> first = SysExData(2, 100, 8);
    const std::vector<uint8_t> second = SysExData(2, 100, 9);
    const std::vector<uint8_t> third = SysExData(2, 150, 10);
    const std::string runningPath =
        WriteFile("running.upd", UpdateFile("", {{first, 0}, {second, 0}}, kFastPort));
    const std::string droppedPath =
        WriteFile("dropped.upd", UpdateFile(kMessage, {{third, 0}}, kFastPort));
    const std::string otherPath = WriteFile("other.upd", UpdateFile("", {{second, 0}}, kFastPort));
    // The device expects both runs, one after the other.
    const std::string both = UpdateFile("", {{first, 0}, {second, 0}, {third, 0}}, kFastPort);
    SetEnv("KESTRANE_SIM_UPDATE", WriteFile("device.upd", both));
    ASSERT_NO_FATAL_FAILURE(Start("\"" + runningPath + "\""));

    HWND preparing = WaitForBox("Important", kRunMs);
    ASSERT_NE(preparing, nullptr);
    EXPECT_FALSE(AcceptsFiles()) << "the window takes drops during a run";
    for (int command : {ID_FILE_OPEN, IDCLOSE, IDCANCEL})
        ASSERT_TRUE(SendCommand(Main(), command));
    // Commands are handled in order: once About shows, the others were.
    ASSERT_TRUE(SendCommand(Main(), ID_HELP_ABOUT));
    HWND about = WaitForBox("About");
    ASSERT_NE(about, nullptr);
    EXPECT_EQ(BoxText(about).rfind("Kestrane\nVersion 1.13 (beta)\n\n", 0), 0u) << BoxText(about);
    RECT box = {};
    RECT owner = {};
    GetWindowRect(about, &box);
    GetWindowRect(Main(), &owner);
    EXPECT_NEAR((box.left + box.right) / 2, (owner.left + owner.right) / 2, 1);
    EXPECT_NEAR((box.top + box.bottom) / 2, (owner.top + owner.bottom) / 2, 1);
    EXPECT_TRUE(IsWindow(Main())) << "Exit closed the window during the run";
    EXPECT_EQ(FindTopWindow(app.Id(), "Open", kDialogClass), nullptr);
    ASSERT_NO_FATAL_FAILURE(Press(about, IDOK));
    ASSERT_TRUE(DropFiles({droppedPath}));

    ASSERT_NO_FATAL_FAILURE(Press(preparing, IDOK));
    ASSERT_NO_FATAL_FAILURE(FinishRun(kSuccess));
    // The drop made during the run was not kept for later: About again
    // shows that every earlier message has been handled.
    ASSERT_TRUE(SendCommand(Main(), ID_HELP_ABOUT));
    about = WaitForBox("About");
    ASSERT_NE(about, nullptr);
    EXPECT_EQ(FindTopWindow(app.Id(), "Important message about update", kDialogClass), nullptr);
    ASSERT_NO_FATAL_FAILURE(Press(about, IDOK));

    // Idle: three dropped files start a run of the first.
    ASSERT_TRUE(DropFiles({droppedPath, otherPath, runningPath}));
    HWND message = WaitForBox("Important message about update");
    ASSERT_NE(message, nullptr);
    EXPECT_EQ(BoxText(message), std::string(kMessage) + kClickToStart);
    ASSERT_NO_FATAL_FAILURE(Press(message, IDOK));
    HWND done = WaitForBox("Kestrane", kRunMs);
    ASSERT_NE(done, nullptr);
    EXPECT_EQ(BoxText(done), kSuccess);
    ASSERT_NO_FATAL_FAILURE(Press(done, IDOK));
    EXPECT_EQ(CloseAndWait(), 0u);
    EXPECT_EQ(Hex(Record()), Hex(ExpectedWire(both)));
}

// A file dropped while the update's own message waits for OK is refused,
// and File/Open ignored, as during the run: the run counts from the moment
// its file is taken, not only once its thread is going. OK then runs the
// first update alone, and the program stays.
TEST_F(BusyRunTest, RefusesDropsAndOpenWhileTheUpdatesMessageIsOpen) {
    if (!CanDrop())
        GTEST_SKIP() << "kestrane-xdrop was not built (it needs the X11 headers: libx11-dev)";
    // At a MIDI wire's speed a run of the second file, taken by mistake,
    // would still be sending when OK is pressed on the first one's message.
    SetEnv("KESTRANE_SIM_BAUD", "31250");
    const std::string first = UpdateFile(kMessage, {{SysExData(2, 120, 11), 0}}, kFastPort);
    // Without a message: a run of it would start as soon as it is taken.
    const std::string second = UpdateFile("", {{SysExData(40, 512, 12), 0}}, kFastPort);
    // Out of the working folder, where the first would be offered at start-up.
    ASSERT_TRUE(CreateDirectoryA((folder + "files").c_str(), nullptr));
    const std::string firstPath = WriteFile("files\\first.upd", first);
    const std::string secondPath = WriteFile("files\\second.upd", second);
    SetEnv("KESTRANE_SIM_UPDATE", firstPath);
    ASSERT_NO_FATAL_FAILURE(Start(""));
    const int compactHeight = WindowHeight();

    ASSERT_TRUE(DropFiles({firstPath}));
    HWND message = WaitForBox("Important message about update");
    ASSERT_NE(message, nullptr);
    EXPECT_EQ(BoxText(message), std::string(kMessage) + kClickToStart);
    EXPECT_FALSE(AcceptsFiles()) << "the window takes drops while the run is being started";
    // The box disables the window; a file manager's drag reaches it anyway.
    ASSERT_TRUE(DropFiles({secondPath}, DropAs::Urls));
    // A drop that got through would have been handled by now, and so would
    // File/Open, whose dialog would still be there.
    ASSERT_NO_FATAL_FAILURE(WaitUntilHandled());
    ASSERT_TRUE(SendCommand(Main(), ID_FILE_OPEN));
    ASSERT_NO_FATAL_FAILURE(WaitUntilHandled());
    EXPECT_EQ(FindTopWindow(app.Id(), "Open", kDialogClass), nullptr);
    // Nothing has started: not the first update, which waits for OK, nor
    // the dropped one.
    EXPECT_EQ(Record().size(), 0u);
    EXPECT_EQ(WindowHeight(), compactHeight);

    ASSERT_NO_FATAL_FAILURE(Press(message, IDOK));
    ASSERT_NO_FATAL_FAILURE(FinishRun(kSuccess));
    EXPECT_TRUE(app.IsRunning());
    EXPECT_EQ(CloseAndWait(), 0u);
    EXPECT_EQ(Hex(Record()), Hex(ExpectedWire(first)));
}

} // namespace
