// Opens the file a command names and hands it to the update reader, saying in
// the system's words why a file that cannot be opened was not loaded.
#include "loadupdate.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <istream>
#include <streambuf>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

namespace {

// A read-only stream buffer over bytes in memory that can seek, as the reader
// needs.
class MemoryBuffer : public std::streambuf {
public:
    explicit MemoryBuffer(std::string& bytes) {
        char* begin = bytes.data();
        setg(begin, begin, begin + bytes.size());
    }

protected:
    pos_type seekoff(off_type offset, std::ios_base::seekdir direction,
                     std::ios_base::openmode which) override {
        const off_type failed = -1;
        if ((which & std::ios_base::in) == 0)
            return pos_type(failed);
        const off_type size = egptr() - eback();
        off_type base = size;
        if (direction == std::ios_base::beg)
            base = 0;
        else if (direction == std::ios_base::cur)
            base = gptr() - eback();
        const off_type target = base + offset;
        if (target < 0 || target > size)
            return pos_type(failed);
        setg(eback(), eback() + target, egptr());
        return pos_type(target);
    }

    pos_type seekpos(pos_type position, std::ios_base::openmode which) override {
        return seekoff(off_type(position), std::ios_base::beg, which);
    }
};

// ": " and the system's text for an errno value; nothing when there is none.
std::string SystemReason(int error) {
    return error != 0 ? ": " + std::generic_category().message(error) : std::string();
}

// Whether the first bytes of a stream can begin a file that loads: a SysEx
// file starts with F0, an update file with its magic. Anything else is
// rejected on its first bytes alone, so reading need not go on; that keeps a
// source without end, such as /dev/zero, from filling the memory.
bool CanBeginUpdate(const std::string& bytes) {
    static const std::string magic = "VeskUpdateFile";
    if (bytes.empty() || static_cast<unsigned char>(bytes[0]) == 0xF0)
        return true;
    return bytes.compare(0, magic.size(), magic, 0, std::min(bytes.size(), magic.size())) == 0;
}

// Every byte of a stream that cannot seek, such as a pipe.
std::string ReadWhole(std::istream& in, const std::string& path) {
    std::string bytes;
    std::vector<char> buffer(1 << 16);
    for (;;) {
        errno = 0;
        in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        const int error = errno;
        bytes.append(buffer.data(), static_cast<size_t>(in.gcount()));
        if (in.bad())
            throw FileAccessError("cannot read '" + path + "'" + SystemReason(error));
        if (!in || !CanBeginUpdate(bytes))
            return bytes;
    }
}

} // namespace

Update LoadUpdateFile(const std::string& path) {
    std::error_code statusError;
    const fs::file_status status = fs::status(fs::path(path), statusError);
    if (fs::is_directory(status))
        throw FileAccessError("cannot open '" + path + "': it is a folder, not a file");
    errno = 0;
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        const int error = errno;
        std::string reason = SystemReason(error);
        if (error == 0 && statusError)
            reason = ": " + statusError.message();
        throw FileAccessError("cannot open '" + path + "'" + reason);
    }
    if (fs::is_regular_file(status))
        return Update(file);
    std::string bytes = ReadWhole(file, path);
    file.close();
    MemoryBuffer buffer(bytes);
    std::istream stream(&buffer);
    return Update(stream);
}

std::unique_ptr<Update> LoadUpdateOrTell(const std::string& path, std::ostream& err) {
    try {
        return std::make_unique<Update>(LoadUpdateFile(path));
    } catch (const ParseError& e) {
        err << e.what() << "\n";
    } catch (const FileAccessError& e) {
        err << "kestrane-cli: " << e.what() << "\n";
    }
    return nullptr;
}
