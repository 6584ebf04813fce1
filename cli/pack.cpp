// The pack command: its arguments, and the update file that updatewriter.h
// writes into the output that packoutput.h replaces once it is complete.
#include "pack.h"

#include "decimal.h"
#include "packoutput.h"

namespace {

constexpr uint64_t kMaxU16 = 0xFFFF;
constexpr uint64_t kMaxU32 = 0xFFFFFFFF; // the most milliseconds a delay may have

bool IsAllDigits(const std::string& text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

// Why a portion argument that names no readable file might have been meant
// with a delay: the text after its last ':' is no path and no number.
std::string DelayHint(const std::string& path) {
    size_t colon = path.rfind(':');
    if (colon == std::string::npos || path.find_first_of("/\\", colon) != std::string::npos)
        return "";
    return " (a delay after ':' must be a whole number of milliseconds, digits only)";
}

} // namespace

FirmwareVersion ParseVersionText(const std::string& text) {
    size_t dot = text.find('.');
    uint64_t major = 0;
    uint64_t minor = 0;
    bool valid = ParseDecimal(text.substr(0, dot), kMaxU16, major) &&
                 (dot == std::string::npos || ParseDecimal(text.substr(dot + 1), kMaxU16, minor));
    if (!valid)
        throw PackError("the version '" + text +
                        "' is not MAJOR.MINOR with two whole numbers from 0 to 65535");
    FirmwareVersion version;
    version.major = static_cast<uint16_t>(major);
    version.minor = static_cast<uint16_t>(minor);
    return version;
}

std::array<uint16_t, 3> ParseHeaderValues(const std::string& text) {
    std::array<uint16_t, 3> values = {0, 0, 0};
    size_t start = 0;
    for (size_t index = 0; index < values.size(); ++index) {
        size_t comma = text.find(',', start);
        bool last = index + 1 == values.size();
        uint64_t value = 0;
        if ((comma == std::string::npos) != last ||
            !ParseDecimal(text.substr(start, comma - start), kMaxU16, value))
            throw PackError("the header values '" + text +
                            "' are not A,B,C with three whole numbers from 0 to 65535");
        values[index] = static_cast<uint16_t>(value);
        start = comma + 1;
    }
    return values;
}

PortionSource ParsePortionArgument(const std::string& argument) {
    PortionSource source;
    source.path = argument;
    size_t colon = argument.rfind(':');
    if (colon == std::string::npos || !IsAllDigits(argument.substr(colon + 1)))
        return source;
    uint64_t delay = 0;
    if (!ParseDecimal(argument.substr(colon + 1), kMaxU32, delay))
        throw PackError("the delay in '" + argument +
                        "' is too large (at most 4294967295 milliseconds)");
    if (colon == 0)
        throw PackError("the portion '" + argument + "' names no file");
    source.path = argument.substr(0, colon);
    source.delay = static_cast<uint32_t>(delay);
    return source;
}

PackResult Pack(const PackRequest& request) {
    UpdateFileContents contents = request;
    for (PortionSource& source : contents.portions)
        source.openHint = DelayHint(source.path);
    CheckUpdateTexts(contents);
    PackOutput output(request.outputPath);
    CheckUpdateInputs(contents);
    const PackResult result = WriteUpdateFile(contents, output.Create(), request.outputPath);
    output.Commit();
    return result;
}

int RunPack(const CommandArguments& args, std::ostream& out, std::ostream& err) {
    PackRequest request;
    request.outputPath = args.Value("--output");
    request.productName = args.Value("--product");
    request.message = args.Value("--message");
    request.settingsTexts = args.Values("--settings");
    request.macNameTexts = args.Values("--mac-names");
    request.imagePath = args.Value("--image");
    try {
        if (args.Has("--image") && request.imagePath.empty())
            throw PackError("the picture file name is empty");
        if (args.Has("--version"))
            request.version = ParseVersionText(args.Value("--version"));
        if (args.Has("--header-values"))
            request.headerValues = ParseHeaderValues(args.Value("--header-values"));
        for (const std::string& operand : args.Operands())
            request.portions.push_back(ParsePortionArgument(operand));
        PackResult result = Pack(request);
        out << "Wrote " << request.outputPath << ": " << result.portionCount
            << (result.portionCount == 1 ? " portion, " : " portions, ") << result.sysExBytes
            << " bytes of SysEx, " << result.fileBytes << " bytes in all.\n";
        return kExitOk;
    } catch (const PackError& error) {
        err << "kestrane-cli: " << error.what() << "\n";
        return kExitFailure;
    }
}
