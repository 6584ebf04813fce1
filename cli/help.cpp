// The help texts, made from the command table: the tool's, with its list of
// commands and options, and each command's, with its options and details.
#include "help.h"

#include <string>

namespace {

// "-o, --output OUT": the option's names and what its value is.
std::string OptionNames(const OptionInfo& option) {
    std::string names = option.shortName != nullptr
                            ? std::string(option.shortName) + ", " + option.name
                            : std::string(option.name);
    if (option.valueName != nullptr)
        names += std::string(" ") + option.valueName;
    return names;
}

void PrintOptionLine(std::ostream& out, const std::string& names, const char* help) {
    constexpr size_t kHelpColumn = 30;
    out << "  " << names;
    if (names.size() + 2 < kHelpColumn)
        out << std::string(kHelpColumn - 2 - names.size(), ' ');
    else
        out << "\n" << std::string(kHelpColumn, ' ');
    out << help << "\n";
}

} // namespace

void PrintToolHelp(const std::vector<CommandInfo>& commands, std::ostream& out) {
    out << kToolName << " " << kToolVersion << ": " << kToolSummary << ".\n"
        << "\n"
        << "Usage: " << kToolName << " " << kToolArguments << "\n"
        << "\n"
        << "Commands:\n";
    for (const CommandInfo& command : commands) {
        out << "  " << command.name << " " << command.arguments << "\n"
            << "      " << command.description << "\n";
    }
    out << "\n"
        << "Options:\n";
    for (const OptionInfo& option : ToolOptions())
        PrintOptionLine(out, OptionNames(option), option.help);
    out << "\n"
        << "Run '" << kToolName << " help COMMAND' or '" << kToolName
        << " COMMAND --help' for the options\n"
        << "of a command.\n"
        << "Exit status: " << kToolExitStatus;
}

void PrintCommandHelp(const CommandInfo& command, std::ostream& out) {
    out << "Usage: " << kToolName << " " << command.name << " " << command.arguments << "\n"
        << "\n"
        << command.description << "\n"
        << "\n"
        << "Options:\n";
    for (const OptionInfo& option : command.options) {
        std::string help = option.help;
        if (option.required)
            help += " (required)";
        PrintOptionLine(out, OptionNames(option), help.c_str());
    }
    PrintOptionLine(out, OptionNames(HelpOption()), HelpOption().help);
    if (command.details != nullptr)
        out << "\n" << command.details;
}
