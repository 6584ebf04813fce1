// The tool's own name and options, and the parsing of a command's arguments.
#include "commands.h"

#include <algorithm>

#ifndef KESTRANE_VERSION
#define KESTRANE_VERSION "unknown"
#endif

const char* const kToolName = "kestrane-cli";
const char* const kToolVersion = KESTRANE_VERSION;
const char* const kToolArguments = "[--verbose] COMMAND [ARGUMENTS]";
const char* const kToolSummary = "installs firmware updates into MIDI devices by sending SysEx";
const char* const kToolExitStatus =
    "0 on success, 1 when the command failed, 64 for a mistake\n"
    "on the command line; send also ends with 2 or 3 when the device did not\n"
    "take the update (see 'kestrane-cli help send').\n";

const OptionInfo& HelpOption() {
    static const OptionInfo help = {"--help", "-h", nullptr, false, false, "show this help"};
    return help;
}

const std::vector<OptionInfo>& ToolOptions() {
    static const std::vector<OptionInfo> options = {
        HelpOption(),
        {"--version", nullptr, nullptr, false, false, "show the version of the tool"},
        {"--verbose", nullptr, nullptr, false, false, "write the diagnostic log to standard error"},
    };
    return options;
}

namespace {

const OptionInfo* FindOption(const CommandInfo& command, const std::string& name) {
    auto found = std::find_if(
        command.options.begin(), command.options.end(), [&name](const OptionInfo& option) {
            return name == option.name || (option.shortName != nullptr && name == option.shortName);
        });
    return found == command.options.end() ? nullptr : &*found;
}

} // namespace

std::string CommandArguments::Value(const std::string& name, const std::string& fallback) const {
    auto found = options.find(name);
    if (found == options.end() || found->second.empty())
        return fallback;
    return found->second.back();
}

const std::vector<std::string>& CommandArguments::Values(const std::string& name) const {
    static const std::vector<std::string> none;
    auto found = options.find(name);
    return found == options.end() ? none : found->second;
}

void CommandArguments::AddOption(const std::string& name, const std::string& value) {
    options[name].push_back(value);
}

CommandArguments ParseCommandArguments(const CommandInfo& command,
                                       const std::vector<std::string>& args) {
    CommandArguments parsed;
    bool optionsEnded = false;
    for (size_t index = 0; index < args.size(); ++index) {
        const std::string& arg = args[index];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            parsed.AddOperand(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        std::string name = arg;
        std::string value;
        bool inlineValue = false;
        size_t equals = arg.find('=');
        if (arg.compare(0, 2, "--") == 0 && equals != std::string::npos) {
            name = arg.substr(0, equals);
            value = arg.substr(equals + 1);
            inlineValue = true;
        }
        if (name == "--help" || name == "-h") {
            if (inlineValue)
                throw UsageError("option --help takes no value");
            parsed.AddOption("--help", "");
            continue;
        }
        const OptionInfo* option = FindOption(command, name);
        if (option == nullptr)
            throw UsageError("unknown option '" + name + "'");
        if (option->valueName != nullptr && !inlineValue) {
            if (index + 1 >= args.size())
                throw UsageError(std::string("option ") + option->name + " needs a value (" +
                                 option->valueName + ")");
            value = args[++index];
        } else if (option->valueName == nullptr && inlineValue) {
            throw UsageError(std::string("option ") + option->name + " takes no value");
        }
        if (parsed.Has(option->name) && !option->repeatable)
            throw UsageError(std::string("option ") + option->name + " given more than once");
        parsed.AddOption(option->name, value);
    }
    return parsed;
}
