#include "updatewriter.h"

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <utility>

namespace fs = std::filesystem;

namespace {

constexpr uint64_t kMaxU32 = 0xFFFFFFFF;

std::string TooLargeText(const std::string& what, uint64_t limit) {
    return what + " is too large for an update file (more than " + std::to_string(limit) +
           " bytes)";
}

void CheckCount(uint64_t size, const std::string& what) {
    if (size > kMaxU32)
        throw UpdateWriteError(TooLargeText(what, kMaxU32));
}

// What can be known of an input file before anything is written: a folder, a
// name that does not exist and a regular file above the limit are refused
// here. A device or pipe tells no size; its limit is kept while it is copied.
void CheckInputFile(const std::string& path, const std::string& what, const std::string& hint,
                    uint64_t limit) {
    std::error_code error;
    const fs::file_status status = fs::status(fs::path(path), error);
    if (fs::is_directory(status))
        throw UpdateWriteError("the " + what + " '" + path + "' is a folder, not a file");
    if (status.type() == fs::file_type::not_found)
        throw UpdateWriteError("cannot open the " + what + " '" + path + "'" +
                               (error ? ": " + error.message() : std::string()) + hint);
    if (fs::is_regular_file(status)) {
        const uintmax_t size = fs::file_size(fs::path(path), error);
        if (!error && size > limit)
            throw UpdateWriteError(TooLargeText("the " + what + " '" + path + "'", limit));
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
            throw UpdateWriteError("cannot open the " + what + " '" + path + "'" +
                                   SystemReason(errno) + hint);
        const std::streampos countPosition = out.tellp();
        U32(0);
        uint64_t size = 0;
        std::vector<char> buffer(1 << 16);
        while (in.read(buffer.data(), static_cast<std::streamsize>(buffer.size())) ||
               in.gcount() > 0) {
            const auto count = static_cast<size_t>(in.gcount());
            size += count;
            if (size > limit)
                throw UpdateWriteError(TooLargeText("the " + what + " '" + path + "'", limit));
            Write(buffer.data(), count);
        }
        if (in.bad())
            throw UpdateWriteError("cannot read the " + what + " '" + path + "'");
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
            throw UpdateWriteError("cannot write the update file '" + outputPath + "'" +
                                   SystemReason(errno));
    }

    std::ostream& out;
    std::string outputPath;
};

} // namespace

std::string SystemReason(int error) {
    return error != 0 ? ": " + std::generic_category().message(error) : std::string();
}

void CheckUpdateTexts(const UpdateFileContents& contents) {
    if (contents.productName.empty())
        throw UpdateWriteError("the product name must not be empty (it is the default port name)");
    CheckCount(contents.productName.size(), "the product name");
    CheckCount(contents.message.size(), "the message");
    for (const std::string& text : contents.settingsTexts)
        CheckCount(text.size(), "the settings text");
    for (const std::string& text : contents.macNameTexts)
        CheckCount(text.size(), "the port names text");
}

void CheckUpdateInputs(const UpdateFileContents& contents) {
    for (const PortionSource& source : contents.portions)
        CheckInputFile(source.path, "portion file", source.openHint, contents.blockLimit);
    if (!contents.imagePath.empty())
        CheckInputFile(contents.imagePath, "picture file", "", contents.blockLimit);
}

UpdateFileSummary WriteUpdateFile(const UpdateFileContents& contents, std::ostream& out,
                                  const std::string& fileName) {
    UpdateFileSummary summary;
    UpdateFileWriter writer(out, fileName);
    writer.Raw("VeskUpdateFile");
    writer.U16(4);
    writer.Block(contents.productName);
    writer.U16(contents.version.major);
    writer.U16(contents.version.minor);
    writer.Block(contents.message);
    for (uint16_t value : contents.headerValues)
        writer.U16(value);
    for (const PortionSource& source : contents.portions) {
        writer.U32(1);
        summary.sysExBytes +=
            writer.BlockFromFile(source.path, "portion file", source.openHint, contents.blockLimit);
        writer.U32(source.delay);
    }
    summary.portionCount = contents.portions.size();
    if (!contents.imagePath.empty()) {
        writer.U32(2);
        writer.BlockFromFile(contents.imagePath, "picture file", "", contents.blockLimit);
    }
    for (const std::string& text : contents.settingsTexts) {
        writer.U32(3);
        writer.Block(text);
    }
    for (const std::string& text : contents.macNameTexts) {
        writer.U32(5);
        writer.Block(text);
    }
    summary.fileBytes = writer.Position();
    return summary;
}
