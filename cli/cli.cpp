// The tool's entry logic: global options, dispatch through the command table,
// the checks of a command's options and operands, and the diagnostic log.
#include "cli.h"

#include "commandtable.h"
#include "help.h"
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

int RunCommandLine(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    bool verbose = false;
    size_t index = 0;
    for (; index < args.size(); ++index) {
        const std::string& arg = args[index];
        if (arg == "--help" || arg == "-h") {
            PrintToolHelp(Commands(), out);
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
