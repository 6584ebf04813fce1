// What a command of kestrane-cli is: the types of the command table
// (commandtable.h), the tool's own name, version and options, the exit
// statuses every command shares, and the parsing of a command's arguments by
// its option table. Every handler works with these; the table, which names
// the handlers, sits above them.
#pragma once

#include <cstddef>
#include <map>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 64; // a mistake on the command line (EX_USAGE)

// A mistake on the command line. The tool prints the text with the command's
// usage line and exits with kExitUsage.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct OptionInfo {
    const char* name;      // "--json"
    const char* shortName; // "-o", or nullptr
    const char* valueName; // "FILE" for an option that takes a value, nullptr for a flag
    bool required;         // the command cannot run without it
    bool repeatable;       // may be given more than once; the values are kept in order
    const char* help;      // one line
};

// The arguments of one command once the options have been taken out.
// Options are looked up by their long name ("--json"); "--help" is present
// when the user asked for the command's help.
class CommandArguments {
public:
    bool Has(const std::string& name) const { return options.count(name) != 0; }
    // The value of an option, or the fallback when it was not given.
    std::string Value(const std::string& name, const std::string& fallback = "") const;
    // Every value of an option, in command-line order (none when not given).
    const std::vector<std::string>& Values(const std::string& name) const;
    const std::vector<std::string>& Operands() const { return operands; }

    void AddOption(const std::string& name, const std::string& value);
    void AddOperand(const std::string& operand) { operands.push_back(operand); }

private:
    std::map<std::string, std::vector<std::string>> options;
    std::vector<std::string> operands;
};

// Runs one command and returns the tool's exit status. Normal output goes to
// `out`, messages for the user to `err`. A handler may throw UsageError for a
// mistake on the command line; any other exception ends the tool with
// kExitFailure and its text on `err`.
using CommandHandler = int (*)(const CommandArguments& args, std::ostream& out, std::ostream& err);

constexpr size_t kAnyOperandCount = static_cast<size_t>(-1);

struct CommandInfo {
    const char* name;
    const char* arguments;   // what follows the name in the usage line
    const char* description; // one line, for the list of commands
    std::vector<OptionInfo> options;
    size_t minOperands;
    size_t maxOperands;  // kAnyOperandCount for no limit
    const char* details; // further paragraphs of the command's help, or nullptr
    CommandHandler handler;
};

// The tool as a whole, beside its commands: the help and the manual page are
// made from these and the command table.
extern const char* const kToolName;
extern const char* const kToolVersion; // the project's version
// What follows the tool's name in its usage line.
extern const char* const kToolArguments;
// What the tool does, without a full stop: "installs firmware updates ...".
extern const char* const kToolSummary;
// The exit statuses that all commands share, lines broken as the help shows
// them after "Exit status: ".
extern const char* const kToolExitStatus;
// The options given before the command: -h, --help, --version and
// --verbose (which may also follow the command).
const std::vector<OptionInfo>& ToolOptions();
// -h, --help, which every command takes besides its own options.
const OptionInfo& HelpOption();

// Splits a command's arguments into options and operands by the command's
// option table; throws UsageError for an unknown option, a missing value or a
// single-value option given twice. "--" ends the options; "--name=value" is
// accepted for options that take a value.
CommandArguments ParseCommandArguments(const CommandInfo& command,
                                       const std::vector<std::string>& args);
