// The pack command and the writer of update files.
#include "pack.h"

#include "commands.h"
#include "utils.h"

#include <filesystem>
#include <fstream>
#include <random>
#include <system_error>

namespace fs = std::filesystem;

namespace {

constexpr uint64_t kMaxU16 = 0xFFFF;
constexpr uint64_t kMaxU32 = 0xFFFFFFFF;

// A whole number in decimal digits only (no sign, no space) not above `max`.
bool ParseNumber(const std::string& text, uint64_t max, uint64_t& value) {
    if (text.empty())
        return false;
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + static_cast<uint64_t>(c - '0');
        if (value > max)
            return false;
    }
    return true;
}

bool IsAllDigits(const std::string& text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

// Little-endian writer of the update-file layout.
class UpdateFileWriter {
public:
    void U16(uint16_t value) {
        bytes += static_cast<char>(value & 0xFF);
        bytes += static_cast<char>(value >> 8);
    }
    void U32(uint32_t value) {
        for (int shift = 0; shift < 32; shift += 8)
            bytes += static_cast<char>((value >> shift) & 0xFF);
    }
    // Count, then the bytes; the caller has checked that the count fits.
    template <typename Container> void Block(const Container& block) {
        U32(static_cast<uint32_t>(block.size()));
        bytes.append(block.begin(), block.end());
    }
    void Raw(const std::string& text) { bytes += text; }
    const std::string& Data() const { return bytes; }

private:
    std::string bytes;
};

void CheckCount(uint64_t size, const std::string& what) {
    if (size > kMaxU32)
        throw PackError(what + " is too large for an update file (more than 4294967295 bytes)");
}

std::vector<uint8_t> ReadInputFile(const std::string& path, const std::string& what,
                                   const std::string& hint = "") {
    std::error_code error;
    if (fs::is_directory(fs::path(path), error))
        throw PackError("the " + what + " '" + path + "' is a folder, not a file");
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw PackError("cannot open the " + what + " '" + path + "'" + hint);
    std::vector<uint8_t> data;
    std::vector<char> buffer(1 << 16);
    while (in.read(buffer.data(), static_cast<std::streamsize>(buffer.size())) || in.gcount() > 0) {
        auto count = static_cast<size_t>(in.gcount());
        CheckCount(static_cast<uint64_t>(data.size()) + count, "the " + what + " '" + path + "'");
        data.insert(data.end(), buffer.begin(),
                    buffer.begin() + static_cast<std::ptrdiff_t>(count));
    }
    if (in.bad())
        throw PackError("cannot read the " + what + " '" + path + "'");
    return data;
}

// Why a portion argument that names no readable file might have been meant
// with a delay: the text after its last ':' is no path and no number.
std::string DelayHint(const std::string& path) {
    size_t colon = path.rfind(':');
    if (colon == std::string::npos || path.find_first_of("/\\", colon) != std::string::npos)
        return "";
    return " (a delay after ':' must be a whole number of milliseconds, digits only)";
}

std::string BuildUpdateFile(const PackRequest& request,
                            const std::vector<std::vector<uint8_t>>& portions,
                            const std::vector<uint8_t>* image) {
    UpdateFileWriter writer;
    writer.Raw("VeskUpdateFile");
    writer.U16(4);
    writer.Block(request.productName);
    writer.U16(request.version.major);
    writer.U16(request.version.minor);
    writer.Block(request.message);
    for (uint16_t value : request.headerValues)
        writer.U16(value);
    for (size_t index = 0; index < portions.size(); ++index) {
        writer.U32(1);
        writer.Block(portions[index]);
        writer.U32(request.portions[index].delay);
    }
    if (image != nullptr) {
        writer.U32(2);
        writer.Block(*image);
    }
    for (const std::string& text : request.settingsTexts) {
        writer.U32(3);
        writer.Block(text);
    }
    for (const std::string& text : request.macNameTexts) {
        writer.U32(5);
        writer.Block(text);
    }
    return writer.Data();
}

// A name beside the target that no other file has, so that the final rename
// stays within one folder (and one file system).
fs::path TemporaryPathFor(const fs::path& target) {
    std::random_device random;
    std::uniform_int_distribution<uint32_t> digits(0, 0xFFFFFF);
    for (int attempt = 0; attempt < 100; ++attempt) {
        fs::path candidate = target;
        candidate += FormatText(".%06x.tmp", static_cast<unsigned>(digits(random)));
        std::error_code error;
        if (!fs::exists(candidate, error) && !error)
            return candidate;
    }
    throw PackError("cannot find a free name for a temporary file beside '" + target.string() +
                    "'");
}

// Removes the temporary file unless the rename has taken it over.
class TemporaryFile {
public:
    explicit TemporaryFile(fs::path path) : path(std::move(path)) {}
    ~TemporaryFile() {
        if (!kept) {
            std::error_code ignored;
            fs::remove(path, ignored);
        }
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    const fs::path& Path() const { return path; }
    void Keep() { kept = true; }

private:
    fs::path path;
    bool kept = false;
};

void WriteFileReplacing(const std::string& outputPath, const std::string& bytes) {
    const fs::path target(outputPath);
    TemporaryFile temporary(TemporaryPathFor(target));
    {
        std::ofstream out(temporary.Path(), std::ios::binary | std::ios::trunc);
        if (!out)
            throw PackError("cannot create a file beside '" + outputPath +
                            "' (does the folder exist, and may it be written to?)");
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        out.close();
        if (!out)
            throw PackError("cannot write the update file '" + outputPath + "'");
    }
    std::error_code error;
    fs::rename(temporary.Path(), target, error);
    if (error)
        throw PackError("cannot replace '" + outputPath + "': " + error.message());
    temporary.Keep();
}

} // namespace

FirmwareVersion ParseVersionText(const std::string& text) {
    size_t dot = text.find('.');
    uint64_t major = 0;
    uint64_t minor = 0;
    bool valid = ParseNumber(text.substr(0, dot), kMaxU16, major) &&
                 (dot == std::string::npos || ParseNumber(text.substr(dot + 1), kMaxU16, minor));
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
            !ParseNumber(text.substr(start, comma - start), kMaxU16, value))
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
    if (!ParseNumber(argument.substr(colon + 1), kMaxU32, delay))
        throw PackError("the delay in '" + argument +
                        "' is too large (at most 4294967295 milliseconds)");
    if (colon == 0)
        throw PackError("the portion '" + argument + "' names no file");
    source.path = argument.substr(0, colon);
    source.delay = static_cast<uint32_t>(delay);
    return source;
}

PackResult Pack(const PackRequest& request) {
    if (request.productName.empty())
        throw PackError("the product name must not be empty (it is the default port name)");
    CheckCount(request.productName.size(), "the product name");
    CheckCount(request.message.size(), "the message");
    for (const std::string& text : request.settingsTexts)
        CheckCount(text.size(), "the settings text");
    for (const std::string& text : request.macNameTexts)
        CheckCount(text.size(), "the port names text");

    PackResult result;
    std::vector<std::vector<uint8_t>> portions;
    for (const PortionSource& source : request.portions) {
        portions.push_back(ReadInputFile(source.path, "portion file", DelayHint(source.path)));
        result.sysExBytes += portions.back().size();
    }
    result.portionCount = portions.size();
    std::vector<uint8_t> image;
    if (!request.imagePath.empty())
        image = ReadInputFile(request.imagePath, "picture file");

    const std::string bytes =
        BuildUpdateFile(request, portions, request.imagePath.empty() ? nullptr : &image);
    WriteFileReplacing(request.outputPath, bytes);
    result.fileBytes = bytes.size();
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
