// kestrane-cli pack: argument parsing, the written layout, round trips through
// the update reader, and refusals that must leave no output behind.
#include "pack.h"
#include "test_cli_helpers.h"
#include "testsupport.h"

#include <gtest/gtest.h>

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

// The file holds the header and then the records in a fixed order: the
// portions, the picture, the settings texts, the port-name texts.
TEST_F(CliPack, WritesTheUpdateFileLayout) {
    const std::string first = "\xF0\x7D\x01\x02\xF7";
    const std::string second = "\xF0\x7D\x03\xF7\xF0\x7D\x04\xF7";
    const std::string picture = std::string("\x89PNG\r\n\x1A\n\0\0", 10);
    WriteFile(folder.File("a.syx"), first);
    WriteFile(folder.File("b.syx"), second);
    WriteFile(folder.File("p.png"), picture);

    PackRequest request;
    request.outputPath = folder.File("out.upd");
    request.productName = "Pad";
    request.version = {2, 10};
    request.message = "Hello\\nthere";
    request.settingsTexts = {"win:A:ideal:256", "mac:B:max:1"};
    request.macNameTexts = {"X$Y"};
    request.imagePath = folder.File("p.png");
    request.portions = {{folder.File("a.syx"), 500}, {folder.File("b.syx"), 0}};
    PackResult result = Pack(request);

    UpdateFileBuilder expected;
    expected.Header("Pad", 2, 10, "Hello\\nthere")
        .Portion(Bytes(first), 500)
        .Portion(Bytes(second), 0)
        .Image(Bytes(picture))
        .Settings("win:A:ideal:256")
        .Settings("mac:B:max:1")
        .MacNames("X$Y");
    EXPECT_EQ(ReadFile(request.outputPath), expected.Data());
    EXPECT_EQ(result.portionCount, 2u);
    EXPECT_EQ(result.sysExBytes, first.size() + second.size());
    EXPECT_EQ(result.fileBytes, expected.Data().size());
    EXPECT_EQ(folder.Names(), (std::vector<std::string>{"a.syx", "b.syx", "out.upd", "p.png"}));
}

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
        {{"-o", folder.File("folder"), "--product", "P", part}, "cannot replace"},
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
