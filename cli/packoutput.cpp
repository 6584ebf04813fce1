#include "packoutput.h"

#include "updatewriter.h"
#include "utils.h"

#include <cerrno>
#include <random>
#include <system_error>
#include <utility>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

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

// The file that the output names, with symbolic links followed (see
// PackOutput). Sets `exists` to whether there is a file to replace.
fs::path OutputTarget(const std::string& outputPath, bool& exists) {
    std::error_code error;
    const fs::file_status status = fs::status(fs::path(outputPath), error);
    exists = status.type() != fs::file_type::not_found;
    if (exists && error)
        throw UpdateWriteError("cannot write the update file '" + outputPath +
                               "': " + error.message());
    if (exists && !fs::is_regular_file(status))
        throw UpdateWriteError(
            "cannot write the update file '" + outputPath + "': it is " + KindName(status.type()) +
            (fs::is_directory(status) ? "" : ", and pack writes only regular files"));

    fs::path target(outputPath);
    for (int link = 0; fs::is_symlink(fs::symlink_status(target, error)); ++link) {
        const fs::path next = fs::read_symlink(target, error);
        if (error || link == 40)
            throw UpdateWriteError(
                "cannot follow the link '" + target.string() + "'" +
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
            throw UpdateWriteError("cannot create a temporary file beside '" + target.string() +
                                   "': the name '" + candidate.string() + "' is too long");
        if (error)
            throw UpdateWriteError("cannot create a temporary file beside '" + target.string() +
                                   "': " + error.message());
    }
    throw UpdateWriteError("cannot find a free name for a temporary file beside '" +
                           target.string() + "'");
}

// The new file gets the mode of the one it replaces, and its owner and group
// where the system lets us give them.
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
        throw UpdateWriteError("cannot give the new update file the mode of '" + from.string() +
                               "': " + error.message());
}

} // namespace

PackOutput::PackOutput(std::string outputPath)
    : outputPath(std::move(outputPath)), target(OutputTarget(this->outputPath, replacing)) {}

PackOutput::~PackOutput() {
    if (temporaryPath.empty() || committed)
        return;
    // Closed before it is removed.
    file.close();
    std::error_code ignored;
    fs::remove(temporaryPath, ignored);
}

std::ostream& PackOutput::Create() {
    temporaryPath = TemporaryPathFor(target);
    errno = 0;
    file.open(temporaryPath, std::ios::binary | std::ios::trunc);
    if (!file)
        throw UpdateWriteError("cannot create a temporary file beside '" + target.string() + "'" +
                               SystemReason(errno));
    if (replacing)
        TakeModeAndOwner(target, temporaryPath);
    return file;
}

void PackOutput::Commit() {
    errno = 0;
    file.close();
    if (!file)
        throw UpdateWriteError("cannot write the update file '" + outputPath + "'" +
                               SystemReason(errno));
    std::error_code error;
    fs::rename(temporaryPath, target, error);
    if (error)
        throw UpdateWriteError("cannot replace '" + outputPath + "': " + error.message());
    committed = true;
}
