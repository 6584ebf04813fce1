#include "simsetup.h"

#include "decimal.h"
#include "portionwire.h"
#include "portsettings.h"

#include <filesystem>
#include <system_error>
#include <vector>

namespace {

// The longest time an option of the emulated device may name: a day.
constexpr uint64_t kMaxSimMs = 86400000;
const char* const kMaxSimMsText = "86400000 (24 hours)";

// A whole number from min to max; anything else is a UsageError with the
// text of `refusal`.
uint64_t ParseNumber(const std::string& text, uint64_t min, uint64_t max,
                     const std::string& refusal) {
    uint64_t value = 0;
    if (!ParseDecimal(text, max, value) || value < min)
        throw UsageError(refusal);
    return value;
}

int64_t ParseMilliseconds(const std::string& text, const char* option) {
    return static_cast<int64_t>(ParseNumber(text, 0, kMaxSimMs,
                                            std::string(option) +
                                                " takes a number of milliseconds from 0 to " +
                                                kMaxSimMsText + ", not '" + text + "'"));
}

// PORTION:BYTES:MS, the portion counted from 1, BYTES counted on the wire
// (framing included) and at most the portion's wire size, where the portion
// has been received whole.
void ReadUnplug(SimOptions& options, const Update& update, const std::string& text) {
    const std::string form = "--sim-unplug takes PORTION:BYTES:MS";
    std::vector<std::string> fields = Split(text, ':');
    if (fields.size() != 3)
        throw UsageError(form + ", not '" + text + "'");
    const size_t portions = update.GetPortionCount();
    if (portions == 0)
        throw UsageError("--sim-unplug names a portion, but the update has none");
    const uint64_t portion =
        ParseNumber(fields[0], 1, portions,
                    form + " with PORTION from 1 to " + std::to_string(portions) +
                        " (the update's portions), not '" + text + "'");
    const std::vector<uint8_t>& data = update.GetPortion(portion - 1).GetData();
    if (data.empty())
        throw UsageError("--sim-unplug names portion " + std::to_string(portion) +
                         ", which holds no bytes and is never sent");
    const uint64_t wireSize = PortionWireSize(data, update.GetPortSettings());
    const uint64_t bytes = ParseNumber(fields[1], 0, wireSize,
                                       form + " with BYTES from 0 to " + std::to_string(wireSize) +
                                           " (portion " + std::to_string(portion) +
                                           " on the wire, framing included), not '" + text + "'");
    const uint64_t replugMs =
        ParseNumber(fields[2], 0, kMaxSimMs,
                    form + " with MS from 0 to " + kMaxSimMsText + ", not '" + text + "'");
    options.unplug = true;
    options.unplugPortion = static_cast<size_t>(portion - 1);
    options.unplugAfterBytes = bytes;
    options.replugAfterMs = static_cast<int64_t>(replugMs);
}

} // namespace

SimOptions ReadSimOptions(const CommandArguments& args, const Update& update,
                          const std::string& updatePath) {
    SimOptions options;
    if (args.Has("--sim"))
        options.script = args.Value("--sim");
    if (args.Has("--sim-version"))
        options.version = args.Value("--sim-version");
    try {
        CheckSimOptions(options);
    } catch (const SimOptionError& e) {
        const char* option = e.GetOption() == SimOptionError::Script ? "--sim" : "--sim-version";
        throw UsageError(std::string(option) + ": " + e.what());
    }
    options.identity = !args.Has("--sim-no-identity");
    options.wholeBlocks = args.Has("--sim-whole-blocks");
    if (args.Has("--sim-appear"))
        options.appearAfterMs = ParseMilliseconds(args.Value("--sim-appear"), "--sim-appear");
    if (args.Has("--sim-unplug"))
        ReadUnplug(options, update, args.Value("--sim-unplug"));
    if (args.Has("--sim-record")) {
        options.recordPath = args.Value("--sim-record");
        std::error_code error;
        if (std::filesystem::equivalent(options.recordPath, updatePath, error))
            throw UsageError("--sim-record names the update file ('" + options.recordPath +
                             "'); record to another file");
    }
    return options;
}
