// The Windows installer, as a user meets it: installed silently for all users
// or for the current user in the Wine test prefix, an update file opened by a
// double-click through the file association it registers and sent to the
// emulated device, installed again over itself, and removed by the
// uninstaller that the list of installed programs names.
#include "appsession.h"
#include "resource.h"
#include "runprogram.h"

#include <gtest/gtest.h>

#include <shlobj.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

using namespace guidriver;

namespace {

const char* const kProgId = "Kestrane.Update";
const char* const kUninstallRoot = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
const char* const kUninstallKey =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Kestrane";
const char* const kInstalledFiles[] = {"Kestrane.exe", "kestrane-cli.exe", "README.txt",
                                       "LICENSE.txt", "Uninstall.exe"};
const std::string kSuccess = "The 'Kestrane Test Unit' was updated sucessfully to version 1.05.";
const char* const kFastPort = "win:test:delay:0:unprepdelay:0";
// What some SysEx librarian already installed for .syx files.
const char* const kLibrarian = "SomeLibrarian.syx";

// A registry value as text ("" when absent); REG_DWORD values as decimal.
std::string RegText(HKEY root, const std::string& key, const char* name) {
    char data[2048] = {};
    DWORD size = sizeof data - 1;
    DWORD type = 0;
    if (RegGetValueA(root, key.c_str(), name, RRF_RT_ANY, &type, data, &size) != ERROR_SUCCESS)
        return "";
    if (type == REG_DWORD)
        return std::to_string(*reinterpret_cast<const DWORD*>(data));
    return data;
}

bool RegHasValue(HKEY root, const std::string& key, const char* name) {
    return RegGetValueA(root, key.c_str(), name, RRF_RT_ANY, nullptr, nullptr, nullptr) ==
           ERROR_SUCCESS;
}

bool RegHasKey(HKEY root, const std::string& key) {
    HKEY opened = nullptr;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS)
        return false;
    RegCloseKey(opened);
    return true;
}

void RegSet(HKEY root, const std::string& key, const std::string& value) {
    ASSERT_EQ(RegSetKeyValueA(root, key.c_str(), nullptr, REG_SZ, value.c_str(),
                              static_cast<DWORD>(value.size() + 1)),
              ERROR_SUCCESS)
        << key;
}

// The entries in the list of installed programs named Kestrane, in both
// install modes' lists.
int UninstallEntries() {
    int count = 0;
    for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
        HKEY list = nullptr;
        if (RegOpenKeyExA(root, kUninstallRoot, 0, KEY_READ, &list) != ERROR_SUCCESS)
            continue;
        char name[256];
        for (DWORD i = 0;; ++i) {
            DWORD length = sizeof name;
            if (RegEnumKeyExA(list, i, name, &length, nullptr, nullptr, nullptr, nullptr) !=
                ERROR_SUCCESS)
                break;
            if (RegText(list, name, "DisplayName") == "Kestrane")
                ++count;
        }
        RegCloseKey(list);
    }
    return count;
}

std::string KnownFolder(int csidl) {
    char path[MAX_PATH] = {};
    EXPECT_EQ(SHGetFolderPathA(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path), S_OK) << csidl;
    return path;
}

bool Exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Folders in `parent` whose name starts with Kestrane: one per installed copy.
int KestraneFolders(const std::string& parent) {
    int count = 0;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((parent + "\\Kestrane*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return 0;
    do {
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            ++count;
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return count;
}

// One string of a program's version resource ("" when it has none).
std::string VersionString(const std::string& program, const char* name) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(program.c_str(), &ignored);
    if (size == 0)
        return "";
    std::vector<char> info(size);
    if (!GetFileVersionInfoA(program.c_str(), 0, size, info.data()))
        return "";
    char* text = nullptr;
    UINT length = 0;
    const std::string path = std::string("\\StringFileInfo\\040904B0\\") + name;
    if (!VerQueryValueA(info.data(), path.c_str(), reinterpret_cast<void**>(&text), &length) ||
        length == 0)
        return "";
    return std::string(text, length - 1);
}

class InstallerTest : public AppSession {
protected:
    void SetUp() override {
        AppSession::SetUp();
        // A copy left by an earlier run that stopped half-way goes first.
        for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
            if (RegHasKey(root, kUninstallKey)) {
                ASSERT_NO_FATAL_FAILURE(Uninstall(root));
            }
        }
    }

    void TearDown() override {
        for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER})
            if (RegHasKey(root, kUninstallKey))
                ADD_FAILURE() << "Kestrane was still installed at the end of the test";
        for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
            RegDeleteTreeA(root, "Software\\Classes\\.syx");
            RegDeleteTreeA(root, "Software\\Classes\\.upd");
        }
        AppSession::TearDown();
    }

    // Runs the installer with these switches and waits for it to end.
    DWORD RunSetup(const std::string& switches) {
        AppProcess setup;
        AppProcess::Options options;
        options.program = KESTRANE_SETUP_PATH;
        options.arguments = switches;
        options.workingFolder = folder;
        std::string error;
        EXPECT_TRUE(setup.Start(options, error)) << KESTRANE_SETUP_PATH << ": " << error;
        DWORD code = 0xFFFFFFFF;
        EXPECT_TRUE(setup.WaitForExit(kRunMs, code)) << "the installer did not end";
        return code;
    }

    // Runs the quiet uninstall command that the installed program's entry
    // names, as a tool that removes programs does, and waits until the
    // uninstaller (which goes on from a copy of itself) has removed the entry
    // and the program.
    void Uninstall(HKEY root) {
        const std::string command = RegText(root, kUninstallKey, "QuietUninstallString");
        const std::string folderPath = RegText(root, kUninstallKey, "InstallLocation");
        ASSERT_FALSE(command.empty());
        AppProcess uninstaller;
        AppProcess::Options options;
        options.arguments = command;
        std::string error;
        ASSERT_TRUE(uninstaller.Start(options, error)) << command << ": " << error;
        DWORD code = 0xFFFFFFFF;
        ASSERT_TRUE(uninstaller.WaitForExit(kRunMs, code)) << command;
        EXPECT_EQ(code, 0u) << command;
        EXPECT_TRUE(WaitUntil(
            [&] {
                return !RegHasKey(root, kUninstallKey) && !Exists(folderPath + "\\Kestrane.exe") &&
                       !Exists(folderPath + "\\Uninstall.exe");
            },
            kRunMs))
            << "the uninstaller left the program or its entry";
    }

    // The first line of what `cmd /c assoc EXTENSION` prints.
    std::string Assoc(const std::string& extension) {
        const std::string out = folder + "assoc.out";
        RunProgramToFiles("C:\\windows\\system32\\cmd.exe", {"/c", "assoc", extension}, out,
                          folder + "assoc.err");
        std::ifstream file(out);
        std::string line;
        std::getline(file, line);
        return line.substr(0, line.find('\r'));
    }

    // An update for the emulated device in the working folder.
    std::string WriteUpdate(const std::string& name) {
        update = UpdateFile("Put the test unit into update mode.", {{SysExData(6, 300, 3), 0}},
                            kFastPort);
        const std::string path = WriteFile(name, update);
        SetEnv("KESTRANE_SIM_UPDATE", path);
        return path;
    }

    // The run that an opened update starts, up to the success box, and the
    // device's record.
    void RunToSuccess() {
        HWND message = WaitForBox("Important message about update");
        ASSERT_NE(message, nullptr);
        ASSERT_NO_FATAL_FAILURE(Press(message, IDOK));
        ASSERT_NO_FATAL_FAILURE(FinishRun(kSuccess));
        EXPECT_EQ(CloseAndWait(), 0u);
        EXPECT_EQ(Hex(Record()), Hex(ExpectedWire(update)));
    }

    void ExpectInstalledProgram(HKEY root, const std::string& installFolder) {
        for (const char* file : kInstalledFiles)
            EXPECT_TRUE(Exists(installFolder + "\\" + file)) << installFolder << "\\" << file;
        const std::string app = installFolder + "\\Kestrane.exe";
        for (const std::string& program : {app, installFolder + "\\kestrane-cli.exe"}) {
            EXPECT_EQ(VersionString(program, "ProductName"), "Kestrane") << program;
            EXPECT_EQ(VersionString(program, "ProductVersion"), KESTRANE_VERSION) << program;
            EXPECT_NE(VersionString(program, "FileDescription"), "") << program;
        }

        const std::string classes = "Software\\Classes\\";
        EXPECT_EQ(RegText(root, classes + ".upd", nullptr), kProgId);
        EXPECT_EQ(RegText(root, classes + kProgId + "\\shell\\open\\command", nullptr),
                  "\"" + app + "\" \"%1\"");
        EXPECT_EQ(RegText(root, classes + kProgId + "\\DefaultIcon", nullptr), app + ",0");
        EXPECT_EQ(RegText(root, classes + kProgId, nullptr), "Kestrane firmware update");
        // .syx: one more program to open it with; the librarian keeps it.
        EXPECT_EQ(RegText(root, classes + ".syx", nullptr), kLibrarian);
        EXPECT_TRUE(RegHasValue(root, classes + ".syx\\OpenWithProgids", kProgId));

        EXPECT_EQ(UninstallEntries(), 1);
        EXPECT_EQ(RegText(root, kUninstallKey, "DisplayVersion"), KESTRANE_VERSION);
        EXPECT_EQ(RegText(root, kUninstallKey, "Publisher"), "The Kestrane developers");
        EXPECT_EQ(RegText(root, kUninstallKey, "DisplayIcon"), app + ",0");
        EXPECT_GT(std::stoul("0" + RegText(root, kUninstallKey, "EstimatedSize")), 0u);
        EXPECT_NE(RegText(root, kUninstallKey, "QuietUninstallString").find("/S"),
                  std::string::npos);
    }

    // What the uninstaller must have taken away, and what it must have left.
    void ExpectRemoved(HKEY root, const std::string& installFolder, const std::string& shortcut) {
        EXPECT_FALSE(Exists(installFolder)) << installFolder;
        EXPECT_FALSE(Exists(shortcut)) << shortcut;
        EXPECT_FALSE(RegHasKey(root, std::string("Software\\Classes\\") + kProgId));
        EXPECT_FALSE(RegHasValue(root, "Software\\Classes\\.syx\\OpenWithProgids", kProgId));
        EXPECT_EQ(RegText(root, "Software\\Classes\\.syx", nullptr), kLibrarian);
        EXPECT_EQ(UninstallEntries(), 0);
    }

    std::string update;
};

TEST_F(InstallerTest, ForAllUsersOpensUpdFilesOnADoubleClickUpgradesInPlaceAndUninstalls) {
    ASSERT_NO_FATAL_FAILURE(RegSet(HKEY_LOCAL_MACHINE, "Software\\Classes\\.syx", kLibrarian));
    ASSERT_EQ(RunSetup("/S /AllUsers"), 0u);
    const std::string installFolder = KnownFolder(CSIDL_PROGRAM_FILES) + "\\Kestrane";
    const std::string shortcut = KnownFolder(CSIDL_COMMON_PROGRAMS) + "\\Kestrane.lnk";
    ASSERT_NO_FATAL_FAILURE(ExpectInstalledProgram(HKEY_LOCAL_MACHINE, installFolder));
    EXPECT_TRUE(Exists(shortcut)) << shortcut;
    EXPECT_FALSE(RegHasKey(HKEY_CURRENT_USER, kUninstallKey));

    // The shell's own view of the file type.
    EXPECT_EQ(Assoc(".upd"), ".upd=Kestrane.Update");

    // A double-click on an update file in a folder with a space in its name.
    const std::string path = WriteUpdate("Firmware 1.05.upd");
    ASSERT_NO_FATAL_FAILURE(OpenThroughShell(path, installFolder + "\\Kestrane.exe"));
    ASSERT_NO_FATAL_FAILURE(RunToSuccess());

    // Installed again: the same copy, upgraded in place.
    ASSERT_EQ(RunSetup("/S /AllUsers"), 0u);
    ASSERT_NO_FATAL_FAILURE(ExpectInstalledProgram(HKEY_LOCAL_MACHINE, installFolder));
    EXPECT_EQ(KestraneFolders(KnownFolder(CSIDL_PROGRAM_FILES)), 1);

    ASSERT_NO_FATAL_FAILURE(Uninstall(HKEY_LOCAL_MACHINE));
    ExpectRemoved(HKEY_LOCAL_MACHINE, installFolder, shortcut);
    EXPECT_FALSE(RegHasKey(HKEY_LOCAL_MACHINE, "Software\\Classes\\.upd"));
    EXPECT_EQ(Assoc(".upd").find("Kestrane"), std::string::npos) << Assoc(".upd");
}

TEST_F(InstallerTest, ForTheCurrentUserRunsItsOpenCommandAndLeavesATakenOverTypeAlone) {
    ASSERT_NO_FATAL_FAILURE(RegSet(HKEY_CURRENT_USER, "Software\\Classes\\.syx", kLibrarian));
    ASSERT_EQ(RunSetup("/S /CurrentUser"), 0u);
    const std::string installFolder = KnownFolder(CSIDL_LOCAL_APPDATA) + "\\Programs\\Kestrane";
    const std::string shortcut = KnownFolder(CSIDL_PROGRAMS) + "\\Kestrane.lnk";
    ASSERT_NO_FATAL_FAILURE(ExpectInstalledProgram(HKEY_CURRENT_USER, installFolder));
    EXPECT_TRUE(Exists(shortcut)) << shortcut;
    EXPECT_FALSE(RegHasKey(HKEY_LOCAL_MACHINE, kUninstallKey));
    EXPECT_FALSE(Exists(KnownFolder(CSIDL_PROGRAM_FILES) + "\\Kestrane"));

    // Wine's shell does not read the user's own file types, so the command
    // they register is run as the shell would run it.
    std::string command =
        RegText(HKEY_CURRENT_USER,
                std::string("Software\\Classes\\") + kProgId + "\\shell\\open\\command", nullptr);
    const std::string path = WriteUpdate("Firmware 1.05.upd");
    ASSERT_NE(command.find("%1"), std::string::npos) << command;
    command.replace(command.find("%1"), 2, path);
    ASSERT_NO_FATAL_FAILURE(StartCommand(command));
    ASSERT_NO_FATAL_FAILURE(RunToSuccess());

    // Another program takes .upd over; removing Kestrane leaves it there.
    ASSERT_NO_FATAL_FAILURE(RegSet(HKEY_CURRENT_USER, "Software\\Classes\\.upd", "Other.Upd"));
    ASSERT_NO_FATAL_FAILURE(Uninstall(HKEY_CURRENT_USER));
    ExpectRemoved(HKEY_CURRENT_USER, installFolder, shortcut);
    EXPECT_EQ(RegText(HKEY_CURRENT_USER, "Software\\Classes\\.upd", nullptr), "Other.Upd");
    EXPECT_FALSE(
        RegHasValue(HKEY_CURRENT_USER, "Software\\Classes\\.upd\\OpenWithProgids", kProgId));
}

} // namespace
