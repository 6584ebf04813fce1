// kestrane-cli pack: argument parsing, round trips through the update reader,
// the replacement of the output, and refusals that must leave no output
// behind. The writer's own layout and limits are tested in
// test_core_updatewriter.cpp.
#include "pack.h"
#include "test_cli_helpers.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace clitest;

TEST(CliPackArguments, VersionTexts) {
    struct Case {
        const char* text;
        uint16_t major;
        uint16_t minor;
    };
    const Case accepted[] = {
        {"1.05", 1, 5},  {"1.123", 1, 123}, {"1.5", 1, 5},
        {"1.50", 1, 50}, {"2", 2, 0},       {"65535.65535", 65535, 65535},
        {"0.00", 0, 0},  {"007.01", 7, 1},
    };
    for (const Case& c : accepted) {
        FirmwareVersion version = ParseVersionText(c.text);
        EXPECT_EQ(version.major, c.major) << c.text;
        EXPECT_EQ(version.minor, c.minor) << c.text;
    }
    const char* refused[] = {
        "65536.0", "65536.00", "1.65536", "x.y",   "1.x",
        "",        "1.",       ".5",      "1.2.3", "-1.05",
        "+1.05",   " 1.05",    "1,05",    "1.05 ", "99999999999999999999999.00"};
    for (const char* text : refused)
        EXPECT_THROW(ParseVersionText(text), PackError) << '"' << text << '"';
}

TEST(CliPackArguments, HeaderValues) {
    EXPECT_EQ(ParseHeaderValues("1,2,3"), (std::array<uint16_t, 3>{1, 2, 3}));
    EXPECT_EQ(ParseHeaderValues("0,65535,300"), (std::array<uint16_t, 3>{0, 65535, 300}));
    const char* refused[] = {"",     "1,2",       "1,2,3,4", "1,2,3,", ",1,2",
                             "1,,3", "1,2,65536", "a,b,c",   "1, 2,3", "-1,2,3"};
    for (const char* text : refused)
        EXPECT_THROW(ParseHeaderValues(text), PackError) << '"' << text << '"';
}

TEST(CliPackArguments, PortionDelaySuffix) {
    struct Case {
        const char* argument;
        const char* path;
        uint32_t delay;
    };
    const Case cases[] = {
        {"a.syx", "a.syx", 0},
        {"a.syx:500", "a.syx", 500},
        {"a.syx:0", "a.syx", 0},
        {"a.syx:4294967295", "a.syx", 4294967295u},
        {"C:\\fw\\a.syx", "C:\\fw\\a.syx", 0},
        {"C:\\fw\\a.syx:250", "C:\\fw\\a.syx", 250},
        {"C:/fw/a:1.syx:7", "C:/fw/a:1.syx", 7},
        {"a.syx:5ms", "a.syx:5ms", 0}, // not all digits: part of the name
        {"a.syx:", "a.syx:", 0},
        {"a:b", "a:b", 0},
    };
    for (const Case& c : cases) {
        PortionSource source = ParsePortionArgument(c.argument);
        EXPECT_EQ(source.path, c.path) << c.argument;
        EXPECT_EQ(source.delay, c.delay) << c.argument;
    }
    EXPECT_THROW(ParsePortionArgument("a.syx:4294967296"), PackError);
    EXPECT_THROW(ParsePortionArgument(":500"), PackError);
}

class CliPack : public ::testing::Test {
protected:
    ScratchFolder folder;
};

TEST_F(CliPack, RoundTripsThroughTheReader) {
    std::string highBytes;
    for (int byte = 0x80; byte <= 0xFF; ++byte)
        highBytes += static_cast<char>(byte);
    std::string image;
    for (int index = 0; index < 3000; ++index)
        image += static_cast<char>((index * 37) & 0xFF); // zero bytes included
    WriteFile(folder.File("one.syx"), "\xF0\x01\xF7");
    WriteFile(folder.File("empty.syx"), "");
    WriteFile(folder.File("three.syx"), "\xF0\x03\x03\xF7");
    WriteFile(folder.File("picture.png"), image);

    ToolResult tool = RunInProcess({"pack",
                                    "-o",
                                    folder.File("out.upd"),
                                    "--product",
                                    "Pad " + highBytes,
                                    "--version",
                                    "1.123",
                                    "--message",
                                    "First line\nSecond " + highBytes,
                                    "--settings",
                                    "win:A:ideal:256:name:Pad One$Pad Two",
                                    "--settings",
                                    "win:B:max:512:chunks:no",
                                    "--mac-names",
                                    "X$Y",
                                    "--mac-names=Z",
                                    "--image",
                                    folder.File("picture.png"),
                                    "--header-values",
                                    "1,65535,300",
                                    folder.File("three.syx:250"),
                                    folder.File("empty.syx:4294967295"),
                                    folder.File("one.syx")});
    ASSERT_EQ(tool.status, kExitOk) << tool.err;
    EXPECT_EQ(tool.err, "");

    Update update = LoadUpdate(folder.File("out.upd"));
    EXPECT_FALSE(update.IsSysEx());
    EXPECT_EQ(update.GetProductName(), "Pad " + highBytes);
    EXPECT_EQ(update.GetMessage(), "First line\nSecond " + highBytes);
    EXPECT_EQ(update.GetVersion().major, 1);
    EXPECT_EQ(update.GetVersion().minor, 123);
    EXPECT_EQ(update.GetVersion().ToString(), "1.123");

    ASSERT_EQ(update.GetPortionCount(), 3u);
    EXPECT_EQ(update.GetPortion(0).GetData(), Bytes("\xF0\x03\x03\xF7"));
    EXPECT_EQ(update.GetPortion(0).GetDelay(), 250u);
    EXPECT_TRUE(update.GetPortion(1).GetData().empty());
    EXPECT_EQ(update.GetPortion(1).GetDelay(), 4294967295u);
    EXPECT_EQ(update.GetPortion(2).GetData(), Bytes("\xF0\x01\xF7"));
    EXPECT_EQ(update.GetPortion(2).GetDelay(), 0u);

    const PortSettings& settings = update.GetPortSettings();
    EXPECT_EQ(settings.names, (std::set<std::string>{"Pad One", "Pad Two"}));
    EXPECT_EQ(settings.ideal, 256);
    EXPECT_EQ(settings.max, 512);
    EXPECT_FALSE(settings.chunks);
    EXPECT_EQ(settings.delay, defaultPortSettings.delay);
    EXPECT_EQ(update.GetMacPortNames(), (std::set<std::string>{"X", "Y", "Z"}));
    EXPECT_EQ(update.GetImage(), Bytes(image));
    const uint16_t(&headerValues)[3] = update.GetHeaderValues();
    EXPECT_EQ(headerValues[0], 1);
    EXPECT_EQ(headerValues[1], 65535);
    EXPECT_EQ(headerValues[2], 300);
}

// Every refusal ends with status 1 and a reason, and leaves the folder as it
// was: no output file and no temporary file.
TEST_F(CliPack, RefusalsLeaveNothingBehind) {
    WriteFile(folder.File("part.syx"), "\xF0\x01\xF7");
    fs::create_directories(folder.path / "folder" / "inside");
    const std::string out = folder.File("out.upd");
    const std::string part = folder.File("part.syx");
    struct Case {
        std::vector<std::string> args;
        const char* reason;
    };
    const Case cases[] = {
        {{"-o", out, "--product", "P", "--version", "65536.0", part}, "version"},
        {{"-o", out, "--product", "P", "--version", "1.65536", part}, "version"},
        {{"-o", out, "--product", "P", "--version", "x.y", part}, "version"},
        {{"-o", out, "--product", "P", "--header-values", "1,2,65536", part}, "header values"},
        {{"-o", out, "--product", "P", "--header-values", "1,2", part}, "header values"},
        {{"-o", out, "--product", "", part}, "product name"},
        {{"-o", out, "--product", "P", part + ":4294967296"}, "delay"},
        {{"-o", out, "--product", "P", part + ":5ms"}, "a delay after ':'"},
        {{"-o", out, "--product", "P", part, folder.File("missing.syx")}, "missing.syx"},
        {{"-o", out, "--product", "P", folder.File("folder")}, "is a folder"},
        {{"-o", out, "--product", "P", "--image", folder.File("missing.png"), part}, "picture"},
        {{"-o", folder.File("nowhere/out.upd"), "--product", "P", part}, "cannot create"},
        {{"-o", folder.File("folder"), "--product", "P", part}, "it is a folder"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {"pack"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        ToolResult tool = RunInProcess(args);
        EXPECT_EQ(tool.status, kExitFailure) << c.reason;
        EXPECT_EQ(tool.err.rfind("kestrane-cli: ", 0), 0u) << tool.err;
        EXPECT_NE(tool.err.find(c.reason), std::string::npos) << tool.err;
        EXPECT_EQ(tool.out, "");
        EXPECT_EQ(folder.Names(), (std::vector<std::string>{"folder", "part.syx"})) << c.reason;
        EXPECT_EQ(fs::directory_iterator(folder.path / "folder")->path().filename(), "inside");
    }
}

TEST_F(CliPack, ReplacesAnExistingOutputOnlyWhenComplete) {
    WriteFile(folder.File("part.syx"), "\xF0\x01\xF7");
    WriteFile(folder.File("out.upd"), "previous update");
    const std::vector<std::string> names = {"out.upd", "part.syx"};

    ToolResult refused = RunInProcess({"pack", "-o", folder.File("out.upd"), "--product", "P",
                                       folder.File("part.syx"), folder.File("missing.syx")});
    EXPECT_EQ(refused.status, kExitFailure);
    EXPECT_EQ(ReadFile(folder.File("out.upd")), "previous update");
    EXPECT_EQ(folder.Names(), names);

    ToolResult packed = RunInProcess(
        {"pack", "-o", folder.File("out.upd"), "--product", "P", folder.File("part.syx:9")});
    ASSERT_EQ(packed.status, kExitOk) << packed.err;
    UpdateFileBuilder expected;
    expected.Header("P", 0, 0).Portion(Bytes("\xF0\x01\xF7"), 9);
    EXPECT_EQ(ReadFile(folder.File("out.upd")), expected.Data());
    EXPECT_EQ(folder.Names(), names);
}

// The built program, end to end: it writes what the reader loads.
TEST_F(CliPack, ProgramPacksAndRefuses) {
    WriteFile(folder.File("part.syx"), "\xF0\x7D\x01\xF7");
    ToolResult packed =
        RunProgram(folder, {"pack", "-o", folder.File("out.upd"), "--product", "Pad", "--version",
                            "3.07", folder.File("part.syx:42")});
    ASSERT_EQ(packed.status, kExitOk) << packed.err;
    EXPECT_EQ(packed.err, "");
    Update update = LoadUpdate(folder.File("out.upd"));
    EXPECT_EQ(update.GetVersion().ToString(), "3.07");
    ASSERT_EQ(update.GetPortionCount(), 1u);
    EXPECT_EQ(update.GetPortion(0).GetDelay(), 42u);

    ToolResult refused = RunProgram(folder, {"pack", "-o", folder.File("new.upd"), "--product",
                                             "Pad", "--version", "x.y", folder.File("part.syx")});
    EXPECT_EQ(refused.status, kExitFailure);
    EXPECT_NE(refused.err.find("version 'x.y'"), std::string::npos) << refused.err;
    EXPECT_FALSE(fs::exists(folder.File("new.upd")));
}

#ifndef _WIN32

namespace {

fs::perms Mode(const std::string& path) {
    return fs::status(path).permissions() & fs::perms::mask;
}

// Bytes this process has read through the system so far (Linux counts them);
// -1 where the count is not kept.
int64_t BytesReadSoFar() {
    std::ifstream io("/proc/self/io");
    std::string name;
    int64_t value = 0;
    while (io >> name >> value) {
        if (name == "rchar:")
            return value;
    }
    return -1;
}

} // namespace

// The update replaces the file that the output names: a link is followed and
// stays a link, and the replaced file keeps its mode.
TEST_F(CliPack, FollowsLinksAndKeepsTheMode) {
    WriteFile(folder.File("part.syx"), "\xF0\x01\xF7");
    UpdateFileBuilder expected;
    expected.Header("P", 0, 0).Portion(Bytes("\xF0\x01\xF7"), 0);
    fs::create_directories(folder.path / "store");
    WriteFile(folder.File("store/kept.upd"), "previous update");
    fs::create_symlink("store/kept.upd", folder.path / "link.upd");
    fs::create_symlink("store/new.upd", folder.path / "dangling.upd");

    for (const char* link : {"link.upd", "dangling.upd"}) {
        ToolResult tool = RunInProcess(
            {"pack", "-o", folder.File(link), "--product", "P", folder.File("part.syx")});
        ASSERT_EQ(tool.status, kExitOk) << tool.err;
        EXPECT_TRUE(fs::is_symlink(folder.path / link)) << link;
        EXPECT_EQ(ReadFile(folder.File(link)), expected.Data()) << link;
    }
    EXPECT_EQ(folder.Names(),
              (std::vector<std::string>{"dangling.upd", "link.upd", "part.syx", "store"}));
    EXPECT_EQ(fs::read_symlink(folder.path / "link.upd"), "store/kept.upd");
    std::vector<std::string> stored;
    std::transform(fs::directory_iterator(folder.path / "store"), fs::directory_iterator(),
                   std::back_inserter(stored), [](const fs::directory_entry& entry) {
                       return entry.path().filename().string();
                   });
    std::sort(stored.begin(), stored.end());
    EXPECT_EQ(stored, (std::vector<std::string>{"kept.upd", "new.upd"}));
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(folder.File("store/new.upd"))));

    using fs::perms;
    for (perms mode : {perms::owner_read | perms::owner_write,
                       perms::owner_read | perms::owner_write | perms::group_read,
                       perms::owner_all | perms::group_read | perms::others_exec}) {
        fs::permissions(folder.File("store/kept.upd"), mode);
        ToolResult tool = RunInProcess(
            {"pack", "-o", folder.File("link.upd"), "--product", "P", folder.File("part.syx")});
        ASSERT_EQ(tool.status, kExitOk) << tool.err;
        EXPECT_EQ(Mode(folder.File("store/kept.upd")), mode);
    }
    EXPECT_EQ(ReadFile(folder.File("store/kept.upd")), expected.Data());
}

// Only root may give a file away; the replacement then keeps owner and group.
TEST_F(CliPack, KeepsTheOwner) {
    if (geteuid() != 0)
        GTEST_SKIP() << "only root can give a file another owner";
    WriteFile(folder.File("part.syx"), "\xF0\x01\xF7");
    WriteFile(folder.File("out.upd"), "previous update");
    ASSERT_EQ(chown(folder.File("out.upd").c_str(), 4321, 8765), 0);
    ToolResult tool = RunInProcess(
        {"pack", "-o", folder.File("out.upd"), "--product", "P", folder.File("part.syx")});
    ASSERT_EQ(tool.status, kExitOk) << tool.err;
    struct stat info;
    ASSERT_EQ(stat(folder.File("out.upd").c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, 4321u);
    EXPECT_EQ(info.st_gid, 8765u);
}

// Replacing a file with other hard links gives the output a file of its own;
// the other names keep the previous update (as the help says).
TEST_F(CliPack, ReplacingAHardLinkedOutputLeavesTheOtherNames) {
    WriteFile(folder.File("part.syx"), "\xF0\x01\xF7");
    WriteFile(folder.File("out.upd"), "previous update");
    fs::create_hard_link(folder.File("out.upd"), folder.File("other.upd"));
    ToolResult tool = RunInProcess(
        {"pack", "-o", folder.File("out.upd"), "--product", "P", folder.File("part.syx")});
    ASSERT_EQ(tool.status, kExitOk) << tool.err;
    EXPECT_EQ(ReadFile(folder.File("other.upd")), "previous update");
    EXPECT_NE(ReadFile(folder.File("out.upd")), "previous update");
    EXPECT_EQ(fs::hard_link_count(folder.File("out.upd")), 1u);
}

// An output that is no regular file is refused before anything is touched:
// it stays what it was and no temporary file is left.
TEST_F(CliPack, RefusesOutputsThatAreNoRegularFile) {
    WriteFile(folder.File("part.syx"), "\xF0\x01\xF7");
    ASSERT_EQ(mkfifo(folder.File("fifo.upd").c_str(), 0600), 0);
    fs::create_symlink("/dev/null", folder.path / "device.upd");
    const std::vector<std::string> names = {"device.upd", "fifo.upd", "part.syx"};
    struct Case {
        const char* output;
        const char* reason;
    };
    const Case cases[] = {
        {"fifo.upd", "it is a FIFO, and pack writes only regular files"},
        {"device.upd", "it is a device, and pack writes only regular files"},
    };
    for (const Case& c : cases) {
        ToolResult tool = RunInProcess(
            {"pack", "-o", folder.File(c.output), "--product", "P", folder.File("part.syx")});
        EXPECT_EQ(tool.status, kExitFailure);
        EXPECT_EQ(tool.err, std::string("kestrane-cli: cannot write the update file '") +
                                folder.File(c.output) + "': " + c.reason + "\n");
        EXPECT_EQ(folder.Names(), names);
    }
    EXPECT_TRUE(fs::is_fifo(folder.File("fifo.upd")));
    EXPECT_EQ(fs::read_symlink(folder.path / "device.upd"), "/dev/null");
    EXPECT_TRUE(fs::is_character_file("/dev/null"));
}

// A name that leaves no room for the temporary file's ending is reported as
// too long, not as a lack of free names.
TEST_F(CliPack, TemporaryNameTooLong) {
    WriteFile(folder.File("part.syx"), "\xF0\x01\xF7");
    const std::string out = folder.File(std::string(250, 'u') + ".upd"); // 254 bytes of name
    ToolResult tool = RunInProcess({"pack", "-o", out, "--product", "P", folder.File("part.syx")});
    EXPECT_EQ(tool.status, kExitFailure);
    EXPECT_NE(tool.err.find("': the name '" + out + "."), std::string::npos) << tool.err;
    EXPECT_NE(tool.err.find(".tmp' is too long\n"), std::string::npos) << tool.err;
    EXPECT_EQ(folder.Names(), (std::vector<std::string>{"part.syx"}));
}

// A regular file above the format's limit is refused by its size, before a
// byte is read; the file here is sparse, so it takes no room on the disk.
TEST_F(CliPack, RefusesAPortionAboveTheLimitByItsSize) {
    WriteFile(folder.File("part.syx"), "\xF0\x01\xF7");
    std::ofstream(folder.File("huge.syx")).close();
    fs::resize_file(folder.File("huge.syx"), uint64_t(1) << 32);
    const int64_t readBefore = BytesReadSoFar();
    ToolResult tool = RunInProcess({"pack", "-o", folder.File("out.upd"), "--product", "P",
                                    folder.File("part.syx"), folder.File("huge.syx")});
    if (readBefore >= 0) {
        EXPECT_LT(BytesReadSoFar() - readBefore, 1 << 20);
    }
    EXPECT_EQ(tool.status, kExitFailure);
    EXPECT_EQ(tool.err, "kestrane-cli: the portion file '" + folder.File("huge.syx") +
                            "' is too large for an update file (more than 4294967295 bytes)\n");
    EXPECT_EQ(folder.Names(), (std::vector<std::string>{"huge.syx", "part.syx"}));
}

// A portion refused while it is copied (the writer's block limit, a smaller
// one here) leaves no output and no temporary file behind.
TEST_F(CliPack, AStreamPastTheLimitLeavesNothingBehind) {
    PackRequest request;
    request.outputPath = folder.File("out.upd");
    request.productName = "P";
    request.blockLimit = 100000;
    request.portions = {{"/dev/zero", 0, ""}};
    try {
        Pack(request);
        ADD_FAILURE() << "a portion of /dev/zero was packed";
    } catch (const PackError& error) {
        EXPECT_EQ(std::string(error.what()),
                  "the portion file '/dev/zero' is too large for an update file (more than "
                  "100000 bytes)");
    }
    EXPECT_TRUE(folder.Names().empty());
}

#endif // _WIN32
