// The bash completion script. Each command's options and the values that can
// be completed come from the command table; what a value is comes from the
// option (its name, or the name of its value: FILE, OUT, FILE.png).
#include "completion.h"

#include "commandtable.h"

#ifdef KESTRANE_HAVE_RTMIDI
#include "midireach.h"
#endif

#include <algorithm>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

namespace {

const char* const kFunctionName = "_kestrane_cli";

std::string Join(const std::vector<std::string>& words, const char* separator) {
    std::string joined;
    for (const std::string& word : words)
        joined += (joined.empty() ? "" : separator) + word;
    return joined;
}

std::vector<std::string> CommandNames() {
    std::vector<std::string> names;
    std::transform(Commands().begin(), Commands().end(), std::back_inserter(names),
                   [](const CommandInfo& command) { return std::string(command.name); });
    return names;
}

std::vector<std::string> OptionWords(const std::vector<OptionInfo>& options) {
    std::vector<std::string> words;
    for (const OptionInfo& option : options) {
        if (option.shortName != nullptr)
            words.emplace_back(option.shortName);
        words.emplace_back(option.name);
    }
    return words;
}

// Shell code that sets COMPREPLY to the words that start like the current one.
std::string WordsReply(const std::vector<std::string>& words) {
    return "COMPREPLY=($(compgen -W '" + Join(words, " ") + "' -- \"$cur\"))";
}

// Shell code that completes an option's value; empty for free text, which is
// left to the user.
std::string ValueCompletion(const OptionInfo& option) {
    const std::string name = option.name;
    const std::string value = option.valueName;
#ifdef KESTRANE_HAVE_RTMIDI
    if (name == "--api") {
        const std::vector<MidiSystem> compiled = CompiledMidiSystems();
        std::vector<std::string> systems;
        std::transform(compiled.begin(), compiled.end(), std::back_inserter(systems),
                       [](MidiSystem system) { return std::string(MidiSystemName(system)); });
        return WordsReply(systems);
    }
#endif
    if (name == "--device")
        return WordsReply({"sim"}); // the only device that is chosen by name
    if (name == "--sim") {
        // A comma-separated list: the words before the last comma stay.
        return "local prefix=\"\"\n"
               "[[ $cur == *,* ]] && prefix=${cur%,*},\n"
               "COMPREPLY=($(compgen -P \"$prefix\" -W '" +
               Join(AnswerScriptWords(), " ") +
               "' -- \"${cur##*,}\"))\n"
               "compopt -o nospace";
    }
    if (value == "OUT" || value == "FILE")
        return "_filedir";
    if (value.compare(0, 5, "FILE.") == 0)
        return "_filedir " + value.substr(5);
    return "";
}

// The operands of a command, by the names its usage line gives them.
std::string OperandCompletion(const CommandInfo& command) {
    const std::string arguments = command.arguments;
    if (command.maxOperands == 0)
        return "";
    if (arguments.find("COMMAND") != std::string::npos)
        return WordsReply(CommandNames());
    if (arguments.find("FILE") != std::string::npos ||
        arguments.find("PORTION") != std::string::npos)
        return "_filedir";
    return "";
}

// Writes shell code at an indentation, line by line.
void WriteIndented(std::ostream& out, const std::string& code, int indent) {
    size_t start = 0;
    while (start <= code.size()) {
        size_t end = code.find('\n', start);
        if (end == std::string::npos)
            end = code.size();
        out << std::string(static_cast<size_t>(indent), ' ') << code.substr(start, end - start)
            << "\n";
        start = end + 1;
    }
}

// The case arms of a command for the value of the option before the current
// word: options whose values complete alike share an arm.
void WriteValueArms(std::ostream& out, const CommandInfo& command) {
    std::vector<std::pair<std::string, std::vector<std::string>>> arms; // code, patterns
    for (const OptionInfo& option : command.options) {
        if (option.valueName == nullptr)
            continue;
        const std::string code = ValueCompletion(option);
        auto arm = arms.begin();
        while (arm != arms.end() && arm->first != code)
            ++arm;
        if (arm == arms.end())
            arm = arms.insert(arms.end(), {code, {}});
        std::vector<std::string> names = OptionWords({option});
        arm->second.insert(arm->second.end(), names.begin(), names.end());
    }
    if (arms.empty())
        return;
    out << "                case $prev in\n";
    for (const auto& arm : arms) {
        out << "                    " << Join(arm.second, " | ") << ")\n";
        if (!arm.first.empty())
            WriteIndented(out, arm.first, 24);
        out << "                        return\n"
            << "                        ;;\n";
    }
    out << "                esac\n";
}

} // namespace

const std::vector<std::string>& AnswerScriptWords() {
    static const std::vector<std::string> words = {"accept", "fail", "silent", "install"};
    return words;
}

void WriteBashCompletion(std::ostream& out) {
    const std::vector<std::string> commands = CommandNames();
    out << "# bash completion for " << kToolName << "                     -*- shell-script -*-\n"
        << "# Made by " << kToolName << "-docs from the tool's command table.\n"
        << "\n"
        << kFunctionName << "()\n"
        << "{\n"
        << "    local cur prev words cword split\n"
        << "    _init_completion -s || return\n"
        << "\n"
        << "    # The command is the first word after the tool's own options; after\n"
        << "    # \"--\" only the command's operands follow.\n"
        << "    local i command=\"\" operands_only=\"\"\n"
        << "    for ((i = 1; i < cword; i++)); do\n"
        << "        if [[ -z $command ]]; then\n"
        << "            case ${words[i]} in\n"
        << "                -h | --help | --version) return ;;\n"
        << "                -*) ;;\n"
        << "                *) command=${words[i]} ;;\n"
        << "            esac\n"
        << "        elif [[ ${words[i]} == -- ]]; then\n"
        << "            operands_only=1\n"
        << "        fi\n"
        << "    done\n"
        << "\n"
        << "    if [[ -z $command ]]; then\n"
        << "        if [[ $cur == -* ]]; then\n"
        << "            " << WordsReply(OptionWords(ToolOptions())) << "\n"
        << "        else\n"
        << "            " << WordsReply(commands) << "\n"
        << "        fi\n"
        << "        return\n"
        << "    fi\n"
        << "\n"
        << "    if [[ -z $operands_only ]]; then\n"
        << "        case $command in\n";
    for (const CommandInfo& command : Commands()) {
        out << "            " << command.name << ")\n";
        WriteValueArms(out, command);
        out << "                ;;\n";
    }
    out << "        esac\n"
        << "        $split && return\n"
        << "\n"
        << "        if [[ $cur == -* ]]; then\n"
        << "            case $command in\n";
    // Besides its own options every command takes -h, --help and --verbose.
    for (const CommandInfo& command : Commands()) {
        std::vector<OptionInfo> options = command.options;
        options.push_back(HelpOption());
        for (const OptionInfo& option : ToolOptions())
            if (std::string(option.name) == "--verbose")
                options.push_back(option);
        out << "                " << command.name << ") " << WordsReply(OptionWords(options))
            << " ;;\n";
    }
    out << "            esac\n"
        << "            return\n"
        << "        fi\n"
        << "    fi\n"
        << "\n"
        << "    case $command in\n";
    for (const CommandInfo& command : Commands()) {
        const std::string code = OperandCompletion(command);
        if (!code.empty())
            out << "        " << command.name << ") " << code << " ;;\n";
    }
    out << "    esac\n"
        << "} &&\n"
        << "    complete -F " << kFunctionName << " " << kToolName << "\n"
        << "\n"
        << "# ex: filetype=sh\n";
}
