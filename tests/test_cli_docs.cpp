// kestrane-cli's manual page and bash completion, made from the command
// table: against what the help prints (read from the help's text, so that a
// difference between the two shows), roff escaping, and the page's examples.
// tests/docs-*.sh check the formatted page and the completion in bash.
#include "answerscript.h"
#include "completion.h"
#include "manpage.h"
#include "test_cli_helpers.h"

#include <gtest/gtest.h>

#include <regex>
#include <sstream>

using namespace clitest;

namespace {

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// The lines of a help text's section ("Commands:", "Options:") up to the
// next empty line.
std::vector<std::string> HelpSection(const std::string& help, const std::string& heading) {
    std::vector<std::string> section;
    bool inside = false;
    for (const std::string& line : Lines(help)) {
        if (inside && line.empty())
            break;
        if (inside)
            section.push_back(line);
        inside = inside || line == heading;
    }
    return section;
}

// The commands that the tool's help lists ("  info [--json] FILE").
std::vector<std::string> HelpCommands() {
    std::vector<std::string> commands;
    const std::regex command("  ([a-z][a-z-]*)( .*)?");
    std::smatch match;
    for (const std::string& line : HelpSection(RunInProcess({"--help"}).out, "Commands:"))
        if (std::regex_match(line, match, command))
            commands.push_back(match[1]);
    return commands;
}

// The option names of a help's "Options:" section ("  -o, --output OUT ...").
std::vector<std::string> HelpOptions(const std::vector<std::string>& helpArgs) {
    std::vector<std::string> options;
    const std::regex option("  (-[a-zA-Z]|--[a-z-]+)(, (--[a-z-]+))?( .*)?");
    std::smatch match;
    for (const std::string& line : HelpSection(RunInProcess(helpArgs).out, "Options:")) {
        if (!std::regex_match(line, match, option))
            continue;
        options.push_back(match[1]);
        if (match[3].matched)
            options.push_back(match[3]);
    }
    return options;
}

std::string ManPage() {
    std::ostringstream page;
    WriteManPage(page, {"2026-01-01", "/usr/share/doc/kestrane-cli/examples/example.upd"});
    return page.str();
}

// The part of the page from a heading line to the next heading of the same
// or a higher level.
std::string ManSection(const std::string& page, const std::string& heading) {
    const size_t start = page.find("\n" + heading + "\n");
    if (start == std::string::npos)
        return "";
    size_t end = page.find("\n.SH ", start + 1);
    if (heading.compare(0, 4, ".SS ") == 0)
        end = std::min(end, page.find("\n.SS ", start + 1));
    return page.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

// An option as the page sets it in bold: "\fB\-\-json\fR".
std::string ManOption(const std::string& name) {
    return "\\fB" + RoffEscape(name) + "\\fR";
}

// The words that the completion offers for the options of a command.
std::vector<std::string> CompletedOptions(const std::string& script, const std::string& command) {
    const std::regex line(" +" + command + "\\) COMPREPLY=\\(\\$\\(compgen -W '([^']*)'.*");
    std::smatch match;
    for (const std::string& text : Lines(script)) {
        if (!std::regex_match(text, match, line))
            continue;
        std::vector<std::string> words;
        std::istringstream in(match[1].str());
        for (std::string word; in >> word;)
            words.push_back(word);
        return words;
    }
    return {};
}

bool Contains(const std::vector<std::string>& words, const std::string& word) {
    return std::find(words.begin(), words.end(), word) != words.end();
}

} // namespace

TEST(CliDocs, ManPageAndCompletionNameEveryCommandAndOptionOfTheHelp) {
    const std::string page = ManPage();
    std::ostringstream completion;
    WriteBashCompletion(completion);
    const std::string script = completion.str();

    const std::vector<std::string> commands = HelpCommands();
    ASSERT_GE(commands.size(), 2u);
    const std::vector<std::string> toolOptions = HelpOptions({"--help"});
    ASSERT_FALSE(toolOptions.empty());
    const std::string optionsSection = ManSection(page, ".SH OPTIONS");
    for (const std::string& option : toolOptions) {
        EXPECT_NE(optionsSection.find(ManOption(option)), std::string::npos) << option;
        EXPECT_TRUE(std::regex_search(script, std::regex("['\\s]" + option + "['\\s]")))
            << option << " is not completed";
    }
    const std::string synopsis = ManSection(page, ".SH SYNOPSIS");
    for (const std::string& command : commands) {
        SCOPED_TRACE(command);
        EXPECT_NE(synopsis.find("\\fBkestrane\\-cli " + RoffEscape(command) + "\\fR"),
                  std::string::npos);
        const std::string section = ManSection(page, ".SS " + RoffEscape(command));
        ASSERT_FALSE(section.empty()) << "no section for the command";

        const std::vector<std::string> options = HelpOptions({command, "--help"});
        EXPECT_TRUE(Contains(options, "--help"));
        const std::vector<std::string> completed = CompletedOptions(script, command);
        for (const std::string& option : options) {
            // An option's tag starts its .TP paragraph; a long name may follow
            // the short one.
            const bool onPage = section.find(".TP\n" + ManOption(option)) != std::string::npos ||
                                section.find(", " + ManOption(option)) != std::string::npos;
            EXPECT_TRUE(onPage) << option << " is not one of the command's options on the page";
            EXPECT_TRUE(Contains(completed, option)) << option << " is not completed";
        }
        // Nothing else but --verbose, which may follow the command too.
        for (const std::string& word : completed)
            EXPECT_TRUE(Contains(options, word) || word == "--verbose") << word;
    }
}

TEST(CliDocs, RoffEscapesTextThatRoffWouldRead) {
    struct Case {
        const char* text;
        const char* roff;
    };
    const Case cases[] = {
        {"C:\\fw\\part1.syx:500", "C:\\(rsfw\\(rspart1.syx:500"},
        {"shown as \\x and a backslash followed by n (\\n)",
         "shown as \\(rsx and a backslash followed by n (\\(rsn)"},
        {"--sim-name, 8-bit, -o", "\\-\\-sim\\-name, 8\\-bit, \\-o"},
        {".00 (2 is 2.00)", "\\&.00 (2 is 2.00)"},
        {"'kestrane-cli ports' lists them", "\\&'kestrane\\-cli ports' lists them"},
        {"a leading \"2- \" in it's name.", "a leading \"2\\- \" in it's name."},
        {"first\n.second\n'third\n\\fourth", "first\n\\&.second\n\\&'third\n\\(rsfourth"},
        {"\\.", "\\(rs."},
        {"", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(RoffEscape(c.text), c.roff) << c.text;

    // The commands' details hold such texts; on the page no line of theirs
    // starts with a dot that roff would read as a request.
    for (const std::string& line : Lines(ManPage())) {
        if (line.empty() || line[0] != '.')
            continue;
        const std::string request = line.substr(0, line.find(' '));
        EXPECT_TRUE(std::regex_match(
            request, std::regex(R"(\.(\\"|TH|SH|SS|TP|PP|RS|RE|nf|fi|br|BR|B|ad|nh))")))
            << line;
    }
}

// The page's examples work as written (in a folder with the SysEx files that
// the pack example names).
TEST(CliDocs, ManPageExamplesRun) {
    ScratchFolder folder;
    const std::string examples = std::string(KESTRANE_SOURCE_DIR) + "/examples/";
    for (const char* name : {"part1.syx", "part2.syx"})
        WriteFile(folder.File(name), ReadFile(examples + name));
    const fs::path previous = fs::current_path();
    fs::current_path(folder.path);
    const std::vector<ManPageExample> pageExamples = ManPageExamples(examples + "example.upd");
    for (const ManPageExample& example : pageExamples) {
        ToolResult tool = RunInProcess(example.args);
        EXPECT_EQ(tool.status, kExitOk) << example.args.front() << ": " << tool.out << tool.err;
    }
    fs::current_path(previous);
    EXPECT_GE(pageExamples.size(), 3u);
    EXPECT_EQ(LoadUpdate(folder.File("new.upd")).GetPortionCount(), 2u);
}

// The words offered for --sim are the answers the emulated device takes
// ("install" with its count).
TEST(CliDocs, CompletedAnswerWordsAreAnswers) {
    for (const std::string& word : AnswerScriptWords()) {
        const std::string script = word == "install" ? word + "2" : word;
        EXPECT_NO_THROW(ParseAnswerScript(script)) << script;
    }
}
