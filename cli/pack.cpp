// The pack command and the writer of update files.
#include "pack.h"

#include "commands.h"
#include "utils.h"

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <random>
#include <system_error>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

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

// ": " and the system's text for an errno value; nothing when there is none.
std::string SystemReason(int error) {
    return error != 0 ? ": " + std::generic_category().message(error) : std::string();
}

std::string TooLargeText(const std::string& what, uint64_t limit) {
    return what + " is too large for an update file (more than " + std::to_string(limit) +
           " bytes)";
}

void CheckCount(uint64_t size, const std::string& what) {
    if (size > kMaxU32)
        throw PackError(TooLargeText(what, kMaxU32));
}

// Why a portion argument that names no readable file might have been meant
// with a delay: the text after its last ':' is no path and no number.
std::string DelayHint(const std::string& path) {
    size_t colon = path.rfind(':');
    if (colon == std::string::npos || path.find_first_of("/\\", colon) != std::string::npos)
        return "";
    return " (a delay after ':' must be a whole number of milliseconds, digits only)";
}

// What can be known of an input file before anything is written: a folder, a
// name that does not exist and a regular file above the limit are refused
// here. A device or pipe tells no size; its limit is kept while it is copied.
void CheckInputFile(const std::string& path, const std::string& what, const std::string& hint,
                    uint64_t limit) {
    std::error_code error;
    const fs::file_status status = fs::status(fs::path(path), error);
    if (fs::is_directory(status))
        throw PackError("the " + what + " '" + path + "' is a folder, not a file");
    if (status.type() == fs::file_type::not_found)
        throw PackError("cannot open the " + what + " '" + path + "'" +
                        (error ? ": " + error.message() : std::string()) + hint);
    if (fs::is_regular_file(status)) {
        const uintmax_t size = fs::file_size(fs::path(path), error);
        if (!error && size > limit)
            throw PackError(TooLargeText("the " + what + " '" + path + "'", limit));
    }
}

// Little-endian writer of the update-file layout, straight into the file.
// Every write is checked at once, so that errno still tells why one failed.
class UpdateFileWriter {
public:
    UpdateFileWriter(std::ostream& out, std::string outputPath)
        : out(out), outputPath(std::move(outputPath)) {}

    void U16(uint16_t value) {
        const char bytes[2] = {static_cast<char>(value & 0xFF), static_cast<char>(value >> 8)};
        Write(bytes, sizeof bytes);
    }
    void U32(uint32_t value) {
        char bytes[4];
        for (int index = 0; index < 4; ++index)
            bytes[index] = static_cast<char>((value >> (8 * index)) & 0xFF);
        Write(bytes, sizeof bytes);
    }
    void Raw(const std::string& text) { Write(text.data(), text.size()); }
    // Count, then the bytes; the caller has checked that the count fits.
    void Block(const std::string& text) {
        U32(static_cast<uint32_t>(text.size()));
        Raw(text);
    }

    // Count, then every byte of an input file, copied as it is read. The
    // count is written once known, and the file is refused the moment it
    // passes `limit`, so that a source without end is never read whole.
    // Returns the count.
    uint64_t BlockFromFile(const std::string& path, const std::string& what,
                           const std::string& hint, uint64_t limit) {
        errno = 0;
        std::ifstream in(path, std::ios::binary);
        if (!in)
            throw PackError("cannot open the " + what + " '" + path + "'" + SystemReason(errno) +
                            hint);
        const std::streampos countPosition = out.tellp();
        U32(0);
        uint64_t size = 0;
        std::vector<char> buffer(1 << 16);
        while (in.read(buffer.data(), static_cast<std::streamsize>(buffer.size())) ||
               in.gcount() > 0) {
            const auto count = static_cast<size_t>(in.gcount());
            size += count;
            if (size > limit)
                throw PackError(TooLargeText("the " + what + " '" + path + "'", limit));
            Write(buffer.data(), count);
        }
        if (in.bad())
            throw PackError("cannot read the " + what + " '" + path + "'");
        const std::streampos end = out.tellp();
        out.seekp(countPosition);
        U32(static_cast<uint32_t>(size));
        out.seekp(end);
        Check();
        return size;
    }

    uint64_t Position() { return static_cast<uint64_t>(out.tellp()); }

private:
    void Write(const char* bytes, size_t count) {
        out.write(bytes, static_cast<std::streamsize>(count));
        Check();
    }
    void Check() {
        if (!out)
            throw PackError("cannot write the update file '" + outputPath + "'" +
                            SystemReason(errno));
    }

    std::ostream& out;
    std::string outputPath;
};

// The name of a kind of file that pack does not replace.
const char* KindName(fs::file_type type) {
    switch (type) {
    case fs::file_type::directory:
        return "a folder";
    case fs::file_type::block:
    case fs::file_type::character:
        return "a device";
    case fs::file_type::fifo:
        return "a FIFO";
    case fs::file_type::socket:
        return "a socket";
    default:
        return "not a regular file";
    }
}

// The file that the output names, with symbolic links followed: it is that
// file that gets replaced, so that the links still lead to the update. Only a
// regular file or a name that does not exist yet (perhaps a link's missing
// target) is written; anything else is refused before anything is touched.
// Sets `exists` to whether there is a file to replace.
fs::path OutputTarget(const std::string& outputPath, bool& exists) {
    std::error_code error;
    const fs::file_status status = fs::status(fs::path(outputPath), error);
    exists = status.type() != fs::file_type::not_found;
    if (exists && error)
        throw PackError("cannot write the update file '" + outputPath + "': " + error.message());
    if (exists && !fs::is_regular_file(status))
        throw PackError("cannot write the update file '" + outputPath + "': it is " +
                        KindName(status.type()) +
                        (fs::is_directory(status) ? "" : ", and pack writes only regular files"));

    fs::path target(outputPath);
    for (int link = 0; fs::is_symlink(fs::symlink_status(target, error)); ++link) {
        const fs::path next = fs::read_symlink(target, error);
        if (error || link == 40)
            throw PackError("cannot follow the link '" + target.string() + "'" +
                            (error ? ": " + error.message() : std::string(" (too many links)")));
        target = next.is_absolute() ? next : target.parent_path() / next;
    }
    return target;
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
        const fs::file_status status = fs::symlink_status(candidate, error);
        if (status.type() == fs::file_type::not_found)
            return candidate;
        if (error == std::errc::filename_too_long)
            throw PackError("cannot create a temporary file beside '" + target.string() +
                            "': the name '" + candidate.string() + "' is too long");
        if (error)
            throw PackError("cannot create a temporary file beside '" + target.string() +
                            "': " + error.message());
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

// The new file gets the mode of the one it replaces before any byte is
// written (a file kept private stays private), and its owner and group where
// the system lets us give them.
void TakeModeAndOwner(const fs::path& from, const fs::path& to) {
#ifndef _WIN32
    struct stat info;
    if (stat(from.c_str(), &info) == 0 && chown(to.c_str(), info.st_uid, info.st_gid) != 0 &&
        chown(to.c_str(), static_cast<uid_t>(-1), info.st_gid) != 0)
        LogText("pack: the new '%s' belongs to the user who wrote it\n", from.c_str());
#endif
    std::error_code error;
    const fs::perms mode = fs::status(from, error).permissions();
    if (!error)
        fs::permissions(to, mode, error);
    if (error)
        throw PackError("cannot give the new update file the mode of '" + from.string() +
                        "': " + error.message());
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

    bool replacing = false;
    const fs::path target = OutputTarget(request.outputPath, replacing);
    for (const PortionSource& source : request.portions)
        CheckInputFile(source.path, "portion file", DelayHint(source.path), request.blockLimit);
    if (!request.imagePath.empty())
        CheckInputFile(request.imagePath, "picture file", "", request.blockLimit);

    // Declared before the stream, so that the file is closed before it is
    // removed.
    TemporaryFile temporary(TemporaryPathFor(target));
    errno = 0;
    std::ofstream file(temporary.Path(), std::ios::binary | std::ios::trunc);
    if (!file)
        throw PackError("cannot create a temporary file beside '" + target.string() + "'" +
                        SystemReason(errno));
    if (replacing)
        TakeModeAndOwner(target, temporary.Path());

    PackResult result;
    UpdateFileWriter writer(file, request.outputPath);
    writer.Raw("VeskUpdateFile");
    writer.U16(4);
    writer.Block(request.productName);
    writer.U16(request.version.major);
    writer.U16(request.version.minor);
    writer.Block(request.message);
    for (uint16_t value : request.headerValues)
        writer.U16(value);
    for (const PortionSource& source : request.portions) {
        writer.U32(1);
        result.sysExBytes += writer.BlockFromFile(source.path, "portion file",
                                                  DelayHint(source.path), request.blockLimit);
        writer.U32(source.delay);
    }
    result.portionCount = request.portions.size();
    if (!request.imagePath.empty()) {
        writer.U32(2);
        writer.BlockFromFile(request.imagePath, "picture file", "", request.blockLimit);
    }
    for (const std::string& text : request.settingsTexts) {
        writer.U32(3);
        writer.Block(text);
    }
    for (const std::string& text : request.macNameTexts) {
        writer.U32(5);
        writer.Block(text);
    }
    result.fileBytes = writer.Position();
    errno = 0;
    file.close();
    if (!file)
        throw PackError("cannot write the update file '" + request.outputPath + "'" +
                        SystemReason(errno));

    std::error_code error;
    fs::rename(temporary.Path(), target, error);
    if (error)
        throw PackError("cannot replace '" + request.outputPath + "': " + error.message());
    temporary.Keep();
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
