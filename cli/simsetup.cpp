#include "simsetup.h"

#include "answerscript.h"

#include <filesystem>
#include <stdexcept>
#include <system_error>

void ConfigureAnswers(DeviceSim& device, const CommandArguments& args) {
    try {
        device.SetScript(ParseAnswerScript(args.Value("--sim", "accept")));
    } catch (const std::invalid_argument& e) {
        throw UsageError(std::string("--sim: ") + e.what());
    }
    try {
        if (args.Has("--sim-version"))
            device.SetFirmwareVersion(args.Value("--sim-version"));
    } catch (const std::invalid_argument& e) {
        throw UsageError(std::string("--sim-version: ") + e.what());
    }
    if (args.Has("--sim-no-identity"))
        device.SetIdentityEnabled(false);
    if (args.Has("--sim-whole-blocks"))
        device.SetWholeBlocks(true);
}

void CheckRecordIsNotUpdate(const std::string& record, const std::string& updatePath) {
    std::error_code error;
    if (std::filesystem::equivalent(record, updatePath, error))
        throw UsageError("--sim-record names the update file ('" + record +
                         "'); record to another file");
}
