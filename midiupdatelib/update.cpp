#include "update.h"

#include "utils.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <numeric>
#include <utility>

const std::string sysExInstructions =
    "To apply this update file, please detach all MIDI devices from your computer, and shut down "
    "all other MIDI applications.\n\nThen plug in your device and put it into update mode. Refer "
    "to the User's Manual for details on how to do this.\n\nWhen the device is ready to accept an "
    "update, you can start the update process.\n";

namespace {

const char kMagic[] = "VeskUpdateFile";
constexpr size_t kMagicSize = sizeof kMagic - 1;
constexpr uint16_t kFormatVersion = 4;
constexpr uint8_t kSysExStart = 0xF0;
constexpr uint8_t kSysExEnd = 0xF7;

const char kBadHeader[] = "Update file was invalid (bad header).";
const char kWrongVersion[] =
    "Update file is wrong version. Please check you have the latest version of the updater.";
const char kTruncated[] = "Update file was truncated. Did it download correctly?";
const char kTruncatedSysEx[] = "Trucated sysex";
// Sizes and positions of SysEx data are 32-bit throughout (the sender's
// progress, the byte counts shown); an update whose SysEx data adds up to more
// is refused before its data is read.
constexpr uint64_t kMaxTotalSysEx = UINT32_MAX;
const char kTooLarge[] = "Update file is too large: its SysEx data adds up to more than 4 GB.";
const char kUnrecognised[] = "File contains unrecognised data. Please Please check you have the "
                             "latest version of the updater.";

enum RecordTag : uint32_t {
    kTagSysEx = 1,
    kTagImage = 2,
    kTagPortSettings = 3,
    kTagMacPortNames = 5,
};

// Size of the whole stream in bytes, leaving it at its beginning. A stream
// that cannot tell its size (already failed, or not seekable) counts as empty.
uint64_t StreamSize(std::istream& stream) {
    stream.seekg(0, std::ios::end);
    std::streamoff end = stream.tellg();
    stream.seekg(0, std::ios::beg);
    return end > 0 ? static_cast<uint64_t>(end) : 0;
}

enum class FileKind { kUpdateFile, kSysExFile, kUnclosedSysEx };

// A SysEx file starts with 0xF0 and holds a 0xF7 somewhere after it; a file
// that starts with 0xF0 and holds no 0xF7 is neither kind. The stream is read
// in blocks from its beginning and left wherever the scan stopped.
FileKind DetectFileKind(std::istream& stream, uint64_t size) {
    if (stream.get() != kSysExStart)
        return FileKind::kUpdateFile;
    char block[32 * 1024];
    uint64_t left = size - 1;
    while (left > 0) {
        std::streamsize want = static_cast<std::streamsize>(std::min<uint64_t>(left, sizeof block));
        stream.read(block, want);
        size_t got = static_cast<size_t>(stream.gcount());
        if (std::memchr(block, kSysExEnd, got) != nullptr)
            return FileKind::kSysExFile;
        if (got == 0)
            break;
        left -= got;
    }
    return FileKind::kUnclosedSysEx;
}

// Little-endian reads from an update file. Every read is capped by the bytes
// the stream still holds, so a declared count never reserves memory beyond
// the file. Once a read has come up short, every later read fails too.
class UpdateFileReader {
public:
    UpdateFileReader(std::istream& stream, uint64_t size) : stream(stream), remaining(size) {}

    bool Failed() const { return failed; }

    bool ReadU16(uint16_t& value) {
        uint8_t b[2];
        if (!ReadRaw(b, sizeof b))
            return false;
        value = static_cast<uint16_t>(b[0] | (b[1] << 8));
        return true;
    }

    bool ReadU32(uint32_t& value) {
        uint8_t b[4];
        if (!ReadRaw(b, sizeof b))
            return false;
        value = static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 |
                static_cast<uint32_t>(b[2]) << 16 | static_cast<uint32_t>(b[3]) << 24;
        return true;
    }

    // Appends up to `count` bytes to the target in one block: all of them, or
    // only those the stream still holds, and then the read fails.
    template <typename Container> bool ReadBytes(uint32_t count, Container& target) {
        if (failed)
            return false;
        size_t present = static_cast<size_t>(std::min<uint64_t>(count, remaining));
        size_t start = target.size();
        target.resize(start + present);
        size_t got = present > 0 ? Read(&target[start], present) : 0;
        target.resize(start + got);
        if (got < count)
            failed = true;
        return !failed;
    }

    // A 32-bit count, then that many bytes. `countRead` tells whether the
    // count itself was there.
    bool ReadString(std::string& target, bool& countRead) {
        uint32_t count = 0;
        countRead = ReadU32(count);
        return countRead && ReadBytes(count, target);
    }

private:
    bool ReadRaw(uint8_t* bytes, size_t count) {
        if (failed || remaining < count || Read(bytes, count) < count) {
            failed = true;
            return false;
        }
        return true;
    }

    size_t Read(void* bytes, size_t count) {
        stream.read(static_cast<char*>(bytes), static_cast<std::streamsize>(count));
        size_t got = static_cast<size_t>(stream.gcount());
        remaining -= got;
        return got;
    }

    std::istream& stream;
    uint64_t remaining;
    bool failed = false;
};

// A backslash followed by the letter n becomes a line feed, pairs taken from
// left to right; a message of exactly "<sysex>" becomes the SysEx instructions.
std::string ApplyMessageRules(const std::string& stored) {
    std::string message;
    message.reserve(stored.size());
    for (size_t i = 0; i < stored.size(); ++i) {
        if (stored[i] == '\\' && i + 1 < stored.size() && stored[i + 1] == 'n') {
            message += '\n';
            ++i;
        } else {
            message += stored[i];
        }
    }
    if (message == "<sysex>")
        return sysExInstructions;
    return message;
}

} // namespace

std::string FirmwareVersion::ToString() const {
    return FormatText("%u.%02u", static_cast<unsigned>(major), static_cast<unsigned>(minor));
}

Update::Update(std::istream& stream) {
    // A stream that is not in a good state is never taken for a SysEx file.
    bool wasGood = stream.good();
    uint64_t size = StreamSize(stream);
    if (wasGood && size > 0) {
        FileKind kind = DetectFileKind(stream, size);
        if (kind == FileKind::kUnclosedSysEx)
            throw ParseError(kBadHeader);
        isSysEx = kind == FileKind::kSysExFile;
        stream.clear();
        stream.seekg(0, std::ios::beg);
    }
    if (isSysEx)
        ReadSysExFile(stream, size);
    else
        ReadUpdateFile(stream, size);
}

void Update::ReadUpdateFile(std::istream& stream, uint64_t size) {
    UpdateFileReader reader(stream, size);

    std::string magic;
    reader.ReadBytes(static_cast<uint32_t>(kMagicSize), magic);
    if (magic != kMagic)
        throw ParseError(kBadHeader);

    uint16_t formatVersion = 0;
    if (!reader.ReadU16(formatVersion) || formatVersion != kFormatVersion)
        throw ParseError(kWrongVersion);

    bool countRead = false;
    reader.ReadString(productName, countRead);
    reader.ReadU16(version.major);
    reader.ReadU16(version.minor);
    std::string storedMessage;
    reader.ReadString(storedMessage, countRead);
    for (uint16_t& value : headerValues)
        reader.ReadU16(value);
    message = ApplyMessageRules(storedMessage);
    if (reader.Failed())
        throw ParseError(kTruncated);

    uint64_t totalSysEx = 0;
    while (!reader.Failed()) {
        uint32_t tag = 0;
        if (!reader.ReadU32(tag))
            break;
        switch (tag) {
        case kTagSysEx: {
            uint32_t count = 0;
            if (!reader.ReadU32(count))
                break;
            totalSysEx += count;
            if (totalSysEx > kMaxTotalSysEx)
                throw ParseError(kTooLarge);
            std::vector<uint8_t> data;
            if (!reader.ReadBytes(count, data))
                throw ParseError(kTruncatedSysEx);
            // The data arrived whole; a delay cut short by the end of the
            // file counts as no delay, and the list ends here.
            uint32_t delay = 0;
            reader.ReadU32(delay);
            portions.emplace_back(std::move(data), delay);
            break;
        }
        case kTagImage: {
            uint32_t count = 0;
            if (reader.ReadU32(count))
                reader.ReadBytes(count, image); // a cut-short picture keeps what is there
            break;
        }
        case kTagPortSettings:
        case kTagMacPortNames: {
            std::string text;
            reader.ReadString(text, countRead);
            if (!countRead)
                break;
            if (tag == kTagPortSettings)
                ParsePortSettings(portSettings, text);
            else
                AddPortNames(macPortNames, text);
            break;
        }
        default:
            fprintf(stderr, "%s:%u\n", __FILE__, static_cast<unsigned>(__LINE__));
            throw ParseError(kUnrecognised);
        }
    }

    if (portSettings.names.empty())
        portSettings.names.insert(productName);
    if (macPortNames.empty())
        macPortNames.insert(productName);
}

void Update::ReadSysExFile(std::istream& stream, uint64_t size) {
    productName = "<SysEx Update Device>";
    if (size > kMaxTotalSysEx)
        throw ParseError(kTooLarge);
    std::vector<uint8_t> data(static_cast<size_t>(size));
    stream.read(reinterpret_cast<char*>(data.data()), static_cast<std::streamsize>(size));
    uint64_t got = static_cast<uint64_t>(stream.gcount());
    if (got < size)
        throw ParseError(FormatText("Failed to load all of the sysex file. (Got:%u was;%u)",
                                    static_cast<unsigned>(got), static_cast<unsigned>(size)));
    portions.emplace_back(std::move(data), 0);
    message = sysExInstructions;
}

uint32_t Update::GetTotalSysExSize() const {
    return std::accumulate(portions.begin(), portions.end(), uint32_t{0},
                           [](uint32_t total, const SysExPortion& portion) {
                               return total + static_cast<uint32_t>(portion.GetData().size());
                           });
}
