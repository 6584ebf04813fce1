#include "simoptions.h"

#include "answerscript.h"
#include "simmessages.h"

namespace {

AnswerScript ScriptOf(const std::string& text) {
    try {
        return ParseAnswerScript(text);
    } catch (const std::invalid_argument& e) {
        throw SimOptionError(SimOptionError::Script, e.what());
    }
}

FirmwareVersion VersionOf(const std::string& text) {
    try {
        FirmwareVersion version = ParseIdentityVersion(text);
        CheckIdentityVersion(version);
        return version;
    } catch (const std::invalid_argument& e) {
        throw SimOptionError(SimOptionError::Version, e.what());
    }
}

} // namespace

bool SimOptions::operator==(const SimOptions& other) const {
    return script == other.script && version == other.version && identity == other.identity &&
           wholeBlocks == other.wholeBlocks && appearAfterMs == other.appearAfterMs &&
           unplug == other.unplug && unplugPortion == other.unplugPortion &&
           unplugAfterBytes == other.unplugAfterBytes && replugAfterMs == other.replugAfterMs &&
           recordPath == other.recordPath;
}

SimOptionError::SimOptionError(Option which, const std::string& reason)
    : std::invalid_argument(reason), option(which) {}

void CheckSimOptions(const SimOptions& options) {
    if (options.script)
        ScriptOf(*options.script);
    if (options.version)
        VersionOf(*options.version);
}

void ApplySimOptions(DeviceSim& device, const SimOptions& options) {
    if (options.script)
        device.SetScript(ScriptOf(*options.script));
    if (options.version)
        device.SetFirmwareVersion(VersionOf(*options.version));
    device.SetIdentityEnabled(options.identity);
    device.SetWholeBlocks(options.wholeBlocks);
    device.SetAppearAfterMs(options.appearAfterMs);
    if (options.unplug)
        device.SetUnplug(options.unplugPortion, options.unplugAfterBytes, options.replugAfterMs);
    if (!options.recordPath.empty())
        device.SetRecordFile(options.recordPath);
}
