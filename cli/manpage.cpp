// The manual page: the help's texts set in the man macros. The help's lines
// are broken for a terminal of 80 columns; the page gives each paragraph as
// one input line and leaves the filling to the formatter.
#include "manpage.h"

#include "commandtable.h"

#include <cctype>
#include <sstream>

namespace {

bool IsLetter(char c) {
    return std::isalpha(static_cast<unsigned char>(c)) != 0;
}

// The paragraphs of a help text (separated by empty lines), each one line.
// A word that the help broke at its hyphen ("comma-" at the end of a line)
// is joined again.
std::vector<std::string> Paragraphs(const std::string& text) {
    std::vector<std::string> paragraphs;
    std::string paragraph;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.empty()) {
            if (!paragraph.empty())
                paragraphs.push_back(paragraph);
            paragraph.clear();
            continue;
        }
        const size_t size = paragraph.size();
        const bool brokenWord = size >= 2 && paragraph[size - 1] == '-' &&
                                IsLetter(paragraph[size - 2]) && IsLetter(line[0]);
        if (!paragraph.empty() && !brokenWord)
            paragraph += ' ';
        paragraph += line;
    }
    if (!paragraph.empty())
        paragraphs.push_back(paragraph);
    return paragraphs;
}

std::string Bold(const std::string& text) {
    return "\\fB" + RoffEscape(text) + "\\fR";
}

std::string Italic(const std::string& text) {
    return "\\fI" + RoffEscape(text) + "\\fR";
}

// A word of a usage line or an option's value: "--json", "FILE", "sim".
// Options and literal words are set in bold, the names of what the user
// fills in (which have capitals: "OUT", "FILE.png") in italics.
std::string UsageWord(const std::string& word) {
    bool placeholder = word[0] != '-';
    if (placeholder) {
        placeholder = false;
        for (char c : word)
            placeholder = placeholder || std::isupper(static_cast<unsigned char>(c)) != 0;
    }
    return placeholder ? Italic(word) : Bold(word);
}

// A usage line ("-o OUT [OPTIONS] PORTION[:DELAY_MS]...") with its words
// styled; brackets, bars and the ellipsis stay in the normal font.
std::string UsageText(const std::string& usage) {
    std::string styled;
    std::string word;
    auto endWord = [&styled, &word]() {
        if (!word.empty())
            styled += UsageWord(word);
        word.clear();
    };
    for (size_t index = 0; index < usage.size(); ++index) {
        const char c = usage[index];
        if (c == ' ' || c == '[' || c == ']' || c == '|') {
            endWord();
            styled += c;
        } else if (usage.compare(index, 3, "...") == 0 && word.empty()) {
            styled += "\\&...";
            index += 2;
        } else {
            word += c;
        }
    }
    endWord();
    return styled;
}

// The tag line of an option: "\fB\-o\fR, \fB\-\-output\fR \fIOUT\fR".
std::string OptionTag(const OptionInfo& option) {
    std::string tag;
    if (option.shortName != nullptr)
        tag += UsageWord(option.shortName) + ", ";
    tag += UsageWord(option.name);
    if (option.valueName != nullptr)
        tag += " " + UsageWord(option.valueName);
    return tag;
}

void WriteOption(std::ostream& out, const OptionInfo& option) {
    std::string help = option.help;
    if (option.required)
        help += " (required)";
    out << ".TP\n" << OptionTag(option) << "\n" << RoffEscape(help) << "\n";
}

void WriteParagraphs(std::ostream& out, const std::string& text) {
    for (const std::string& paragraph : Paragraphs(text))
        out << ".PP\n" << RoffEscape(paragraph) << "\n";
}

// A command line as the user types it, a word with characters that the shell
// would read quoted, continued on further lines (ended by a backslash) where
// it would pass the width of a terminal.
std::vector<std::string> ShellLines(const std::vector<std::string>& args) {
    constexpr size_t kWidth = 64;
    std::vector<std::string> lines = {kToolName};
    for (const std::string& arg : args) {
        const bool plain =
            !arg.empty() && arg.find_first_not_of("abcdefghijklmnopqrstuvwxyz"
                                                  "ABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                                  "0123456789_./:=,+-") == std::string::npos;
        const std::string word = plain ? arg : "'" + arg + "'";
        // A new line starts with an option, so that each keeps its value.
        if (lines.back().size() + 1 + word.size() > kWidth && word[0] == '-') {
            lines.back() += " \\";
            lines.emplace_back("    ");
        } else {
            lines.back() += " ";
        }
        lines.back() += word;
    }
    return lines;
}

void WriteCommand(std::ostream& out, const CommandInfo& command) {
    out << ".SS " << RoffEscape(command.name) << "\n"
        << Bold(std::string(kToolName) + " " + command.name) << " " << UsageText(command.arguments)
        << "\n"
        << ".PP\n"
        << RoffEscape(command.description) << "\n";
    for (const OptionInfo& option : command.options)
        WriteOption(out, option);
    WriteOption(out, HelpOption());
    if (command.details != nullptr)
        WriteParagraphs(out, command.details);
}

std::string Upper(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

} // namespace

std::vector<ManPageExample> ManPageExamples(const std::string& exampleUpdate) {
    return {
        {"Show what the example update holds, for a person and as JSON:", {"info", exampleUpdate}},
        {"", {"info", "--json", exampleUpdate}},
        {"Rehearse the update with the emulated device, which answers the first portion "
         "with three 'still installing' answers; every wait runs in simulated time:",
         {"send", exampleUpdate, "--device", "sim", "--sim", "install3,accept", "--virtual-time",
          "--yes"}},
        {"Write an update of two SysEx files, with a pause of 500 ms after the first:",
         {"pack", "-o", "new.upd", "--product", "Kestrane Virtual Device", "--version", "1.05",
          "part1.syx:500", "part2.syx"}},
    };
}

std::string RoffEscape(const std::string& text) {
    std::string escaped;
    bool lineStart = true;
    for (char c : text) {
        if (lineStart && (c == '.' || c == '\''))
            escaped += "\\&";
        lineStart = c == '\n';
        if (c == '\\')
            escaped += "\\(rs";
        else if (c == '-')
            escaped += "\\-";
        else
            escaped += c;
    }
    return escaped;
}

void WriteManPage(std::ostream& out, const ManPageSettings& settings) {
    const std::string tool = RoffEscape(kToolName);
    out << ".\\\" The manual page of " << tool << ", made by " << tool
        << "\\-docs from the tool's command table.\n"
        << ".TH " << RoffEscape(Upper(kToolName)) << " 1 \"" << RoffEscape(settings.date) << "\" \""
        << tool << " " << RoffEscape(kToolVersion)
        << "\" \"User Commands\"\n"
        // Left-aligned and without hyphenation: the texts are full of
        // options and file names.
        << ".ad l\n"
        << ".nh\n"
        << ".SH NAME\n"
        << tool << " \\- " << RoffEscape(kToolSummary) << "\n";

    out << ".SH SYNOPSIS\n" << Bold(kToolName) << " " << UsageText(kToolArguments) << "\n";
    for (const CommandInfo& command : Commands()) {
        out << ".br\n"
            << Bold(std::string(kToolName) + " " + command.name) << " "
            << UsageText(command.arguments) << "\n";
    }

    out << ".SH DESCRIPTION\n"
        << ".B " << tool << "\n"
        << RoffEscape(kToolSummary) << ".\n"
        << "The first word after the tool's own options names the command; the command's\n"
        << "options and arguments follow it, the options in any order and before or\n"
        << "among the arguments.\n"
        << "An option's value is the next argument, or follows a long option after\n"
        << "\\(lq=\\(rq (" << UsageWord("--output=new.upd") << ").\n"
        << UsageWord("--") << " ends the options.\n"
        << "The texts of this page are the help's:\n"
        << Bold(std::string(kToolName) + " help") << " " << UsageText("[COMMAND]") << " and "
        << UsageText("COMMAND --help") << " show them.\n";
    for (const CommandInfo& command : Commands())
        out << ".TP\n"
            << UsageWord(command.name) << "\n"
            << RoffEscape(command.description) << "\n";

    out << ".SH OPTIONS\n"
        << "These come before the command; " << UsageWord("--verbose") << " may also follow it.\n";
    for (const OptionInfo& option : ToolOptions())
        WriteOption(out, option);

    out << ".SH COMMANDS\n";
    for (const CommandInfo& command : Commands())
        WriteCommand(out, command);

    out << ".SH \"EXIT STATUS\"\n";
    WriteParagraphs(out, kToolExitStatus);

    if (!settings.exampleUpdate.empty()) {
        out << ".SH FILES\n"
            << ".TP\n"
            << Italic(settings.exampleUpdate) << "\n"
            << "An update for the emulated device (\\(lqKestrane Virtual Device\\(rq): three\n"
            << "portions, firmware version 1.05.\n";
        out << ".SH EXAMPLES\n";
        for (const ManPageExample& example : ManPageExamples(settings.exampleUpdate)) {
            if (!example.explanation.empty())
                out << ".PP\n" << RoffEscape(example.explanation) << "\n";
            out << ".PP\n"
                << ".RS 4\n"
                << ".nf\n";
            for (const std::string& line : ShellLines(example.args))
                out << Bold(line) << "\n";
            out << ".fi\n"
                << ".RE\n";
        }
    }

    out << ".SH \"SEE ALSO\"\n"
        << ".BR aconnect (1),\n"
        << ".BR amidi (1),\n"
        << ".BR jackd (1)\n";
}
