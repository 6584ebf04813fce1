// kestrane-cli info, help and command-line mistakes.
#include "commandtable.h"
#include "info.h"
#include "test_cli_helpers.h"
#include "testsupport.h"
#include "utils.h"

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <set>

using namespace clitest;
using nlohmann::json;

namespace {

std::set<std::string> Keys(const json& object) {
    std::set<std::string> keys;
    for (auto item = object.begin(); item != object.end(); ++item)
        keys.insert(item.key());
    return keys;
}

const std::string kExampleFolder = std::string(KESTRANE_SOURCE_DIR) + "/examples/";

} // namespace

TEST(CliInfo, JsonOfTheExampleUpdate) {
    ScratchFolder folder;
    ToolResult tool = RunProgram(folder, {"info", "--json", kExampleFolder + "example.upd"});
    ASSERT_EQ(tool.status, kExitOk) << tool.err;
    EXPECT_EQ(tool.err, "");
    const json info = json::parse(tool.out); // nothing but the object on standard output

    EXPECT_EQ(Keys(info),
              (std::set<std::string>{"kind", "productName", "message", "version", "versionKnown",
                                     "headerValues", "portSettings", "macPortNames", "imageSize",
                                     "portions", "totalSysExSize"}));
    EXPECT_EQ(info["kind"], "update");
    EXPECT_EQ(info["productName"], "Kestrane Virtual Device");
    EXPECT_EQ(info["version"], "1.05");
    EXPECT_EQ(info["versionKnown"], true);
    const std::string message = info["message"];
    EXPECT_EQ(std::count(message.begin(), message.end(), '\n'), 1) << message;
    EXPECT_EQ(info["headerValues"], json::array({0, 0, 0}));
    EXPECT_EQ(info["portSettings"], json::parse(R"({"names": ["Kestrane Virtual Device"],
        "ideal": 256, "max": 512, "delay": 20, "unprepdelay": 10, "chunks": true})"));
    EXPECT_EQ(info["macPortNames"], json::array({"Kestrane Virtual Device"}));
    EXPECT_EQ(info["imageSize"], 0);

    const uint32_t delays[] = {500, 500, 1000};
    json portions = json::array();
    uint64_t total = 0;
    for (int part = 1; part <= 3; ++part) {
        uint64_t size = fs::file_size(kExampleFolder + "part" + std::to_string(part) + ".syx");
        portions.push_back({{"size", size}, {"delay", delays[part - 1]}});
        total += size;
    }
    EXPECT_EQ(info["portions"], portions);
    EXPECT_EQ(info["totalSysExSize"], total);
}

// Texts are bytes; in JSON each byte is the character with the same number.
TEST(CliInfo, JsonKeepsEveryByteOfTheTexts) {
    std::string highBytes;
    std::string escaped = "\"";
    for (int byte = 0x80; byte <= 0xFF; ++byte) {
        highBytes += static_cast<char>(byte);
        escaped += FormatText("\\u%04x", static_cast<unsigned>(byte));
    }
    const std::string highCharacters = json::parse(escaped + "\"").get<std::string>();

    ScratchFolder folder;
    UpdateFileBuilder file;
    file.Header(highBytes, 1, 2, "Message " + highBytes)
        .Settings("win:A:name:b$a$\xE9")
        .MacNames(highBytes + "$plain");
    WriteFile(folder.File("high.upd"), file.Data());

    ToolResult tool = RunInProcess({"info", "--json", folder.File("high.upd")});
    ASSERT_EQ(tool.status, kExitOk) << tool.err;
    const json info = json::parse(tool.out);
    EXPECT_EQ(info["productName"], highCharacters);
    EXPECT_EQ(info["message"], "Message " + highCharacters);
    // Names in the order of their bytes, as the update holds them.
    EXPECT_EQ(info["portSettings"]["names"], json::array({"a", "b", "\xC3\xA9"}));
    EXPECT_EQ(info["macPortNames"], json::array({"plain", highCharacters}));
}

TEST(CliInfo, JsonOfAPlainSysExFile) {
    ScratchFolder folder;
    WriteFile(folder.File("data.upd"), std::string("\xF0\x01\x02\xF7\x00\xF0\x03\xF7", 8));
    ToolResult tool = RunInProcess({"info", "--json", folder.File("data.upd")});
    ASSERT_EQ(tool.status, kExitOk) << tool.err;
    const json info = json::parse(tool.out);
    EXPECT_EQ(info["kind"], "sysex");
    EXPECT_EQ(info["productName"], "<SysEx Update Device>");
    EXPECT_EQ(info["message"], sysExInstructions);
    EXPECT_EQ(info["version"], "0.00");
    EXPECT_EQ(info["versionKnown"], false);
    EXPECT_EQ(info["portSettings"]["names"], json::array());
    EXPECT_EQ(info["macPortNames"], json::array());
    EXPECT_EQ(info["portions"], json::parse(R"([{"size": 8, "delay": 0}])"));
    EXPECT_EQ(info["totalSysExSize"], 8);
}

TEST(CliInfo, TextForAPerson) {
    ScratchFolder folder;
    UpdateFileBuilder file;
    file.Header("Pad", 0, 0, "First\\nSecond")
        .Portion(std::vector<uint8_t>(1536, 0x10), 500)
        .Portion({0xF7}, 0)
        .Image(std::vector<uint8_t>(100, 0))
        .Settings("win:A:name:B$A:ideal:300:chunks:0");
    WriteFile(folder.File("pad.upd"), file.Data());

    ToolResult tool = RunInProcess({"info", folder.File("pad.upd")});
    ASSERT_EQ(tool.status, kExitOk) << tool.err;
    const char* lines[] = {
        "Kind:              update file\n",
        "Product:           Pad\n",
        "Firmware version:  0.00 (not known)\n",
        "Message:           First\n                   Second\n",
        "Port names:        \"A\", \"B\"\n",
        "ideal 300 bytes, max 3072 bytes, delay 200 ms, unprepdelay 100 ms, chunks off\n",
        "Other platform:    \"Pad\"\n",
        "Picture:           100 bytes\n",
        "Portions:          2\n  1: 1.5KB (1536 bytes), then 500 ms\n  2: 1 byte, then 0 ms\n",
        "Total SysEx:       1.5KB (1537 bytes)\n",
    };
    for (const char* line : lines)
        EXPECT_NE(tool.out.find(line), std::string::npos) << line << "\nin:\n" << tool.out;
}

// A file that does not load: status 1, the reader's message (or why the file
// could not be opened) alone on standard error, and with --json the same
// message as the only member of an object.
TEST(CliInfo, FilesThatDoNotLoad) {
    ScratchFolder folder;
    const std::string badHeader = "Update file was invalid (bad header).";
    UpdateFileBuilder wrongVersion;
    wrongVersion.Magic("VeskUpdateFile").U16(3);
    UpdateFileBuilder unknownTag;
    unknownTag.Header("Pad").U32(4);
    UpdateFileBuilder cutPortion;
    cutPortion.Header("Pad").U32(1).U32(10).Bytes({0xF0, 0x01});
    WriteFile(folder.File("text.upd"), "not an update");
    WriteFile(folder.File("version.upd"), wrongVersion.Data());
    WriteFile(folder.File("tag.upd"), unknownTag.Data());
    WriteFile(folder.File("cut.upd"), cutPortion.Data());

    struct Case {
        std::string file;
        std::string message;
    };
    const std::string missing =
        "kestrane-cli: cannot open '" + folder.File("missing.upd") + "': No such file or directory";
    const Case cases[] = {
        {"missing.upd", missing},
        {"text.upd", badHeader},
        {"version.upd", "Update file is wrong version. Please check you have the latest "
                        "version of the updater."},
        {"tag.upd", "File contains unrecognised data. Please Please check you have the latest "
                    "version of the updater."},
        {"cut.upd", "Trucated sysex"},
    };
    for (const Case& c : cases) {
        ToolResult text = RunInProcess({"info", folder.File(c.file)});
        EXPECT_EQ(text.status, kExitFailure) << c.file;
        EXPECT_EQ(text.err, c.message + "\n");
        EXPECT_EQ(text.out, "");

        ToolResult asJson = RunInProcess({"info", "--json", folder.File(c.file)});
        EXPECT_EQ(asJson.status, kExitFailure) << c.file;
        EXPECT_EQ(asJson.err, c.message + "\n");
        EXPECT_EQ(json::parse(asJson.out), json({{"error", c.message}})) << asJson.out;
    }

    ToolResult program = RunProgram(folder, {"info", "--json", folder.File("missing.upd")});
    EXPECT_EQ(program.status, kExitFailure);
    EXPECT_EQ(program.err, missing + "\n");
    EXPECT_EQ(json::parse(program.out), json({{"error", missing}}));
}

TEST(CliInfo, EscapeControlBytes) {
    std::string every;
    for (int byte = 0; byte <= 0xFF; ++byte)
        every += static_cast<char>(byte);
    std::string expected;
    for (int byte = 0; byte <= 0xFF; ++byte) {
        if (byte < 0x20 || (byte >= 0x7F && byte <= 0x9F))
            expected += FormatText("\\x%02x", static_cast<unsigned>(byte));
        else
            expected += static_cast<char>(byte);
    }
    EXPECT_EQ(EscapeControlBytes(every), expected);
    EXPECT_EQ(EscapeControlBytes("Pad \x1b[2J"), "Pad \\x1b[2J");
}

// Texts from the file reach the terminal with their control bytes escaped,
// so a file cannot clear the screen or retitle the window; the message keeps
// its line breaks. JSON shows the bytes as they are.
TEST(CliInfo, TextShowsControlBytesEscaped) {
    ScratchFolder folder;
    UpdateFileBuilder file;
    file.Header("Pad\x1b[2J\x9b"
                "1m",
                1, 0, "One\x07\\nTwo\r\x7f")
        .Settings("win:A:name:Port\x1b]0;title\x07")
        .MacNames("Mac\x08");
    WriteFile(folder.File("ctl.upd"), file.Data());

    ToolResult tool = RunInProcess({"info", folder.File("ctl.upd")});
    ASSERT_EQ(tool.status, kExitOk) << tool.err;
    const char* lines[] = {
        "Product:           Pad\\x1b[2J\\x9b1m\n",
        "Message:           One\\x07\n                   Two\\x0d\\x7f\n",
        "Port names:        \"Port\\x1b]0;title\\x07\"\n",
        "Other platform:    \"Mac\\x08\"\n",
    };
    for (const char* line : lines)
        EXPECT_NE(tool.out.find(line), std::string::npos) << line << "\nin:\n" << tool.out;
    for (char c : tool.out) {
        auto byte = static_cast<unsigned char>(c);
        EXPECT_TRUE(c == '\n' || (byte >= 0x20 && byte != 0x7F && (byte < 0x80 || byte > 0x9F)))
            << "raw byte " << static_cast<int>(byte);
    }

    ToolResult asJson = RunInProcess({"info", "--json", folder.File("ctl.upd")});
    ASSERT_EQ(asJson.status, kExitOk) << asJson.err;
    EXPECT_EQ(json::parse(asJson.out)["productName"], "Pad\x1b[2J\xc2\x9b"
                                                      "1m");
}

TEST(CliCommandLine, MistakesGiveUsageAndStatus64) {
    struct Case {
        std::vector<std::string> args;
        const char* problem;
        const char* usage;
    };
    const Case cases[] = {
        {{}, "no command given", "Usage: kestrane-cli [--verbose] COMMAND"},
        {{"frobnicate"}, "unknown command 'frobnicate'", "Usage: kestrane-cli [--verbose]"},
        {{"--bogus", "info"}, "unknown option '--bogus'", "Usage: kestrane-cli [--verbose]"},
        {{"info", "--bogus", "f"}, "unknown option '--bogus'", "Usage: kestrane-cli info"},
        {{"info", "-x", "f"}, "unknown option '-x'", "Usage: kestrane-cli info"},
        {{"info"}, "missing arguments", "Usage: kestrane-cli info"},
        {{"info", "a", "b"}, "unexpected argument 'b'", "Usage: kestrane-cli info"},
        {{"info", "--json", "--json", "f"},
         "option --json given more than once",
         "Usage: kestrane-cli info"},
        {{"info", "--json=yes", "f"}, "option --json takes no value", "Usage: kestrane-cli info"},
        {{"pack", "--product", "P", "a.syx"},
         "missing option --output",
         "Usage: kestrane-cli pack"},
        {{"pack", "-o", "x.upd", "a.syx"}, "missing option --product", "Usage: kestrane-cli pack"},
        {{"pack", "-o", "x.upd", "--product", "P"},
         "missing arguments",
         "Usage: kestrane-cli pack"},
        {{"pack", "a.syx", "-o"},
         "option --output needs a value (OUT)",
         "Usage: kestrane-cli pack"},
        {{"help", "nope"}, "unknown command 'nope'", "Usage: kestrane-cli help"},
    };
    for (const Case& c : cases) {
        ToolResult tool = RunInProcess(c.args);
        EXPECT_EQ(tool.status, kExitUsage) << c.problem;
        EXPECT_EQ(tool.out, "") << c.problem;
        EXPECT_EQ(tool.err.rfind(std::string("kestrane-cli: ") + c.problem + "\n", 0), 0u)
            << tool.err;
        EXPECT_NE(tool.err.find(c.usage), std::string::npos) << tool.err;
    }

    ScratchFolder folder;
    EXPECT_EQ(RunProgram(folder, {"info", "--nope", "x.upd"}).status, kExitUsage);
    EXPECT_EQ(RunProgram(folder, {}).status, kExitUsage);
}

// "--" ends the options, so a file whose name starts with '-' can be named.
TEST(CliCommandLine, DoubleDashEndsTheOptions) {
    ScratchFolder folder;
    WriteFile(folder.File("-x.syx"), "\xF0\x01\xF7");
    const fs::path previous = fs::current_path();
    fs::current_path(folder.path);
    ToolResult tool = RunInProcess({"info", "--json", "--", "-x.syx"});
    fs::current_path(previous);
    ASSERT_EQ(tool.status, kExitOk) << tool.err;
    EXPECT_EQ(json::parse(tool.out)["kind"], "sysex");
}

TEST(CliCommandLine, HelpForTheToolAndEachCommand) {
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{"help"}, {"--help"}, {"-h"}, {"--verbose", "-h"}}) {
        ToolResult tool = RunInProcess(args);
        EXPECT_EQ(tool.status, kExitOk);
        EXPECT_EQ(tool.err, "");
        EXPECT_NE(tool.out.find("Usage: kestrane-cli [--verbose] COMMAND"), std::string::npos);
        for (const CommandInfo& command : Commands()) {
            EXPECT_NE(tool.out.find(std::string(command.name) + " " + command.arguments + "\n"),
                      std::string::npos)
                << command.name;
        }
    }
    for (const CommandInfo& command : Commands()) {
        const std::string usage =
            std::string("Usage: kestrane-cli ") + command.name + " " + command.arguments + "\n";
        for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
                 {command.name, "--help"}, {"help", command.name}, {command.name, "-h"}}) {
            ToolResult tool = RunInProcess(args);
            EXPECT_EQ(tool.status, kExitOk) << command.name;
            EXPECT_EQ(tool.err, "");
            EXPECT_EQ(tool.out.rfind(usage, 0), 0u) << tool.out;
            for (const OptionInfo& option : command.options)
                EXPECT_NE(tool.out.find(option.name), std::string::npos) << option.name;
        }
    }
}
