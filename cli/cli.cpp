// The tool's entry logic: global options, dispatch through the command table,
// command-line parsing and the help texts.
#include "commands.h"

#include "utils.h"

#include <algorithm>
#include <cerrno>
#include <exception>
#include <mutex>
#include <system_error>

namespace {

// Sends the diagnostic log to a stream, or drops it, while it is installed.
class CliLogSink : public LogSink {
public:
    explicit CliLogSink(std::ostream* stream) : stream(stream), previous(SetLogSink(this)) {}
    ~CliLogSink() override { SetLogSink(previous); }
    CliLogSink(const CliLogSink&) = delete;
    CliLogSink& operator=(const CliLogSink&) = delete;

    void Write(const char* text) override {
        if (stream == nullptr)
            return;
        std::lock_guard<std::mutex> lock(mutex);
        *stream << text << std::flush;
    }

private:
    std::ostream* stream;
    std::mutex mutex;
    LogSink* previous; // installed last, once the sink is ready for use
};

int ToolUsageError(std::ostream& err, const std::string& problem) {
    err << kToolName << ": " << problem << "\n"
        << "Usage: " << kToolName << " " << kToolArguments << "\n"
        << "Run '" << kToolName << " help' for the list of commands.\n";
    return kExitUsage;
}

int CommandUsageError(std::ostream& err, const CommandInfo& command, const std::string& problem) {
    err << kToolName << ": " << problem << "\n"
        << "Usage: " << kToolName << " " << command.name << " " << command.arguments << "\n"
        << "Run '" << kToolName << " help " << command.name << "' for details.\n";
    return kExitUsage;
}

const OptionInfo* FindOption(const CommandInfo& command, const std::string& name) {
    auto found = std::find_if(
        command.options.begin(), command.options.end(), [&name](const OptionInfo& option) {
            return name == option.name || (option.shortName != nullptr && name == option.shortName);
        });
    return found == command.options.end() ? nullptr : &*found;
}

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

void CheckCommandLine(const CommandInfo& command, const CommandArguments& args) {
    auto missing = std::find_if(
        command.options.begin(), command.options.end(),
        [&args](const OptionInfo& option) { return option.required && !args.Has(option.name); });
    if (missing != command.options.end())
        throw UsageError(std::string("missing option ") + missing->name);
    const std::vector<std::string>& operands = args.Operands();
    if (operands.size() < command.minOperands)
        throw UsageError("missing arguments");
    if (operands.size() > command.maxOperands)
        throw UsageError("unexpected argument '" + operands[command.maxOperands] + "'");
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

const CommandInfo* FindCommand(const std::string& name) {
    const std::vector<CommandInfo>& commands = Commands();
    auto found = std::find_if(commands.begin(), commands.end(),
                              [&name](const CommandInfo& command) { return name == command.name; });
    return found == commands.end() ? nullptr : &*found;
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

void PrintToolHelp(std::ostream& out) {
    out << kToolName << " " << kToolVersion << ": " << kToolSummary << ".\n"
        << "\n"
        << "Usage: " << kToolName << " " << kToolArguments << "\n"
        << "\n"
        << "Commands:\n";
    for (const CommandInfo& command : Commands()) {
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

int RunHelp(const CommandArguments& args, std::ostream& out, std::ostream&) {
    if (args.Operands().empty()) {
        PrintToolHelp(out);
        return kExitOk;
    }
    const CommandInfo* command = FindCommand(args.Operands().front());
    if (command == nullptr)
        throw UsageError("unknown command '" + args.Operands().front() + "'");
    PrintCommandHelp(*command, out);
    return kExitOk;
}

namespace {

int RunCommandLine(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    bool verbose = false;
    size_t index = 0;
    for (; index < args.size(); ++index) {
        const std::string& arg = args[index];
        if (arg == "--help" || arg == "-h") {
            PrintToolHelp(out);
            return kExitOk;
        }
        if (arg == "--version") {
            out << kToolName << " " << kToolVersion << "\n";
            return kExitOk;
        }
        if (arg == "--verbose") {
            verbose = true;
            continue;
        }
        if (arg.size() > 1 && arg[0] == '-')
            return ToolUsageError(err, "unknown option '" + arg + "'");
        break;
    }
    if (index == args.size())
        return ToolUsageError(err, "no command given");
    const CommandInfo* command = FindCommand(args[index]);
    if (command == nullptr)
        return ToolUsageError(err, "unknown command '" + args[index] + "'");

    // --verbose is a tool-wide option that may also follow the command.
    std::vector<std::string> commandArgs;
    bool optionsEnded = false;
    for (size_t i = index + 1; i < args.size(); ++i) {
        if (!optionsEnded && args[i] == "--verbose") {
            verbose = true;
            continue;
        }
        optionsEnded = optionsEnded || args[i] == "--";
        commandArgs.push_back(args[i]);
    }

    CliLogSink logSink(verbose ? &err : nullptr);
    try {
        CommandArguments parsed = ParseCommandArguments(*command, commandArgs);
        if (parsed.Has("--help")) {
            PrintCommandHelp(*command, out);
            return kExitOk;
        }
        CheckCommandLine(*command, parsed);
        return command->handler(parsed, out, err);
    } catch (const UsageError& error) {
        return CommandUsageError(err, *command, error.what());
    } catch (const std::exception& error) {
        err << kToolName << ": " << error.what() << "\n";
        return kExitFailure;
    }
}

// Output that did not reach its destination (a full disk, a closed pipe) fails
// the run, whatever the command made of it. The stream buffer is flushed even
// when the stream is already failed, so that a buffer that knows why it
// failed can say so in errno.
int CheckOutputWritten(std::ostream& out, std::ostream& err, int status) {
    errno = 0;
    const bool flushed = out.rdbuf() == nullptr || out.rdbuf()->pubsync() == 0;
    const int error = errno;
    if (flushed && !out.fail())
        return status;
    err << kToolName << ": cannot write the output";
    if (error != 0)
        err << ": " << std::generic_category().message(error);
    err << "\n";
    return kExitFailure;
}

} // namespace

int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    const int status = RunCommandLine(args, out, err);
    return CheckOutputWritten(out, err, status);
}
