// Reading update files and plain SysEx files into an Update.
#include "testsupport.h"
#include "update.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <fstream>
#include <new>
#include <random>
#include <sstream>
#include <string>
#include <vector>

// Every allocation of this test program goes through here so that a test can
// see the largest single request made while it watches.
namespace {
std::atomic<bool> watchingAllocations{false};
std::atomic<size_t> largestAllocation{0};

// Released through a pointer the compiler cannot see through, so that it does
// not pair the inlined operators with malloc and free and warn about them.
void (*volatile releaseMemory)(void*) = std::free;
} // namespace

void* operator new(std::size_t size) {
    if (watchingAllocations.load(std::memory_order_relaxed)) {
        size_t seen = largestAllocation.load();
        while (size > seen && !largestAllocation.compare_exchange_weak(seen, size)) {
        }
    }
    if (void* memory = std::malloc(size != 0 ? size : 1))
        return memory;
    throw std::bad_alloc();
}

void operator delete(void* memory) noexcept {
    releaseMemory(memory);
}

void operator delete(void* memory, std::size_t) noexcept {
    releaseMemory(memory);
}

namespace {

using Bytes = std::vector<uint8_t>;

// Notes the largest single allocation made while it exists.
class AllocationWatch {
public:
    AllocationWatch() {
        largestAllocation = 0;
        watchingAllocations = true;
    }
    ~AllocationWatch() { watchingAllocations = false; }
    AllocationWatch(const AllocationWatch&) = delete;
    AllocationWatch& operator=(const AllocationWatch&) = delete;
    size_t Largest() const { return largestAllocation.load(); }
};

Update Load(const std::string& file) {
    std::istringstream stream(file, std::ios::binary);
    return Update(stream);
}

// The ParseError message, or "loaded" when the file loads.
std::string LoadError(const std::string& file) {
    try {
        Load(file);
    } catch (const ParseError& error) {
        return error.what();
    }
    return "loaded";
}

Bytes ToBytes(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

const char kBadHeader[] = "Update file was invalid (bad header).";
const char kWrongVersion[] =
    "Update file is wrong version. Please check you have the latest version of the updater.";
const char kTruncated[] = "Update file was truncated. Did it download correctly?";
const char kTruncatedSysEx[] = "Trucated sysex";
const char kUnrecognised[] = "File contains unrecognised data. Please Please check you have the "
                             "latest version of the updater.";

std::string Header(const std::string& product = "Pad") {
    return UpdateFileBuilder().Header(product).Data();
}

void ExpectDefaultNumbers(const PortSettings& settings) {
    EXPECT_EQ(settings.ideal, 1024);
    EXPECT_EQ(settings.max, 3072);
    EXPECT_EQ(settings.delay, 200);
    EXPECT_EQ(settings.unprepdelay, 100);
    EXPECT_TRUE(settings.chunks);
}

TEST(UpdateFileTest, HeaderOnlyFileLoadsWithProductAsPortName) {
    std::string file = UpdateFileBuilder()
                           .Magic("VeskUpdateFile")
                           .U16(4)
                           .Text("Pad Pro")
                           .U16(3)
                           .U16(7)
                           .Text("Hello")
                           .U16(11)
                           .U16(0xBEEF)
                           .U16(13)
                           .Data();
    Update update = Load(file);
    EXPECT_FALSE(update.IsSysEx());
    EXPECT_EQ(update.GetProductName(), "Pad Pro");
    EXPECT_EQ(update.GetMessage(), "Hello");
    EXPECT_EQ(update.GetVersion().ToString(), "3.07");
    EXPECT_EQ(update.GetHeaderValues()[0], 11);
    EXPECT_EQ(update.GetHeaderValues()[1], 0xBEEF);
    EXPECT_EQ(update.GetHeaderValues()[2], 13);
    EXPECT_EQ(update.GetPortionCount(), 0u);
    EXPECT_EQ(update.GetTotalSysExSize(), 0u);
    EXPECT_TRUE(update.GetImage().empty());
    EXPECT_EQ(update.GetPortSettings().names, std::set<std::string>{"Pad Pro"});
    EXPECT_EQ(update.GetMacPortNames(), std::set<std::string>{"Pad Pro"});
    ExpectDefaultNumbers(update.GetPortSettings());
}

TEST(UpdateFileTest, RecordsInAnyOrderKeepPortionsInFileOrder) {
    std::string file = UpdateFileBuilder()
                           .Header("Pad")
                           .Image({0x89, 'P'})
                           .Portion({0xF0, 1, 0xF7}, 500)
                           .Settings("win:A:ideal:512:name:Pad USB")
                           .Portion({}, 250)
                           .Image({'N', 'G'})
                           .Portion({0xF0, 2, 3, 0xF7}, 0)
                           .Data();
    Update update = Load(file);
    ASSERT_EQ(update.GetPortionCount(), 3u);
    EXPECT_EQ(update.GetPortion(0).GetData(), (Bytes{0xF0, 1, 0xF7}));
    EXPECT_EQ(update.GetPortion(0).GetDelay(), 500u);
    EXPECT_TRUE(update.GetPortion(1).GetData().empty());
    EXPECT_EQ(update.GetPortion(1).GetDelay(), 250u);
    EXPECT_EQ(update.GetPortion(2).GetData(), (Bytes{0xF0, 2, 3, 0xF7}));
    EXPECT_EQ(update.GetTotalSysExSize(), 7u);
    EXPECT_EQ(update.GetImage(), ToBytes("\x89PNG"));
    EXPECT_EQ(update.GetPortSettings().ideal, 512);
    EXPECT_EQ(update.GetPortSettings().names, std::set<std::string>{"Pad USB"});
    EXPECT_EQ(update.GetMacPortNames(), std::set<std::string>{"Pad"});
}

TEST(UpdateFileTest, PortSettingsRecordsApplyInFileOrderAndNamesAccumulate) {
    std::string file = UpdateFileBuilder()
                           .Header("Pad")
                           .Settings("win:A:ideal:512:delay:50")
                           .MacNames("X$Y$X")
                           .Settings("mac:A:ideal:1")
                           .Settings("win:B:ideal:256:name:X")
                           .MacNames("Z")
                           .Data();
    Update update = Load(file);
    const PortSettings& settings = update.GetPortSettings();
    EXPECT_EQ(settings.ideal, 256);
    EXPECT_EQ(settings.delay, 50);
    EXPECT_EQ(settings.max, 3072);
    EXPECT_EQ(settings.names, std::set<std::string>{"X"});
    EXPECT_EQ(update.GetMacPortNames(), (std::set<std::string>{"X", "Y", "Z"}));
}

TEST(UpdateFileTest, MessageRules) {
    struct Case {
        std::string stored;
        std::string expected;
    };
    const Case cases[] = {
        {"First\\nSecond", "First\nSecond"},
        {"a\\\\nb", "a\\\nb"},
        {"\\n\\n", "\n\n"},
        {"\\nn", "\nn"},
        {"ends with \\", "ends with \\"},
        {"n\\ and \\N", "n\\ and \\N"},
        {"<sysex>", sysExInstructions},
        {"<SYSEX>", "<SYSEX>"},
        {"<sysex> ", "<sysex> "},
        {"<sysex>\\n", "<sysex>\n"},
        {"", ""},
    };
    for (const Case& c : cases) {
        Update update = Load(UpdateFileBuilder().Header("Pad", 1, 0, c.stored).Data());
        EXPECT_EQ(update.GetMessage(), c.expected) << c.stored;
    }
    // The product name is taken as stored.
    Update update = Load(UpdateFileBuilder().Header("A\\nB").Data());
    EXPECT_EQ(update.GetProductName(), "A\\nB");
}

TEST(UpdateFileTest, FileCutShortInTheHeader) {
    const std::string full = UpdateFileBuilder().Header("Pad", 1, 2, "Hi").Data();
    for (size_t size = 0; size < full.size(); ++size) {
        const char* expected = size < 14 ? kBadHeader : size < 16 ? kWrongVersion : kTruncated;
        EXPECT_EQ(LoadError(full.substr(0, size)), expected) << "size " << size;
    }
    EXPECT_EQ(LoadError(full), "loaded");
}

TEST(UpdateFileTest, BadMagicOrVersion) {
    struct Case {
        std::string file;
        const char* expected;
    };
    const std::string rest =
        UpdateFileBuilder().Text("Pad").U16(1).U16(0).Text("").Data() + std::string(6, '\0');
    const Case cases[] = {
        {UpdateFileBuilder().Magic("VeskUpdateFilf").U16(4).Data() + rest, kBadHeader},
        {UpdateFileBuilder().Magic("veskUpdateFile").U16(4).Data() + rest, kBadHeader},
        {UpdateFileBuilder().Magic("VeskUpdateFile").U16(3).Data() + rest, kWrongVersion},
        {UpdateFileBuilder().Magic("VeskUpdateFile").U16(5).Data() + rest, kWrongVersion},
        {UpdateFileBuilder().Magic("VeskUpdateFile").U16(0x0104).Data() + rest, kWrongVersion},
        {UpdateFileBuilder().Magic("VeskUpdateFile").U16(4).Data() + rest, "loaded"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(LoadError(c.file), c.expected) << c.file;
}

TEST(UpdateFileTest, FileThatCannotBeOpenedHasABadHeader) {
    std::ifstream missing("/nonexistent/kestrane/missing.upd", std::ios::binary);
    try {
        Update update(missing);
        FAIL() << "loaded";
    } catch (const ParseError& error) {
        EXPECT_STREQ(error.what(), kBadHeader);
    }
}

TEST(UpdateFileTest, ReadingStartsAtTheBeginningOfTheStream) {
    std::istringstream stream(UpdateFileBuilder().Header("Pad").Portion({1, 2}, 9).Data(),
                              std::ios::binary);
    stream.seekg(20);
    Update update(stream);
    EXPECT_EQ(update.GetProductName(), "Pad");
    ASSERT_EQ(update.GetPortionCount(), 1u);
    EXPECT_EQ(update.GetPortion(0).GetDelay(), 9u);
}

TEST(UpdateFileTest, RecordsCutShortByTheEndOfTheFile) {
    const std::string header = Header("Pad");
    const std::string portion = UpdateFileBuilder().Portion({1, 2, 3, 4}, 77).Data();
    struct Case {
        const char* name;
        std::string records;
        const char* expected;
        size_t portions;
        Bytes image;
    };
    const Case cases[] = {
        {"one stray byte", portion + "\x01", "loaded", 1, {}},
        {"three stray bytes", portion + std::string("\x01\0\0", 3), "loaded", 1, {}},
        {"tag 1 ends in its count", UpdateFileBuilder().U32(1).U16(4).Data(), "loaded", 0, {}},
        {"tag 2 ends in its count", UpdateFileBuilder().U32(2).U16(4).Data(), "loaded", 0, {}},
        {"tag 1 data cut short", portion.substr(0, 10), kTruncatedSysEx, 0, {}},
        {"tag 1 data cut to nothing", portion.substr(0, 8), kTruncatedSysEx, 0, {}},
        {"tag 2 data cut short",
         UpdateFileBuilder().U32(2).U32(6).Bytes({9, 8, 7}).Data(),
         "loaded",
         0,
         {9, 8, 7}},
        {"tag 0", UpdateFileBuilder().U32(0).Data(), kUnrecognised, 0, {}},
        {"tag 4", UpdateFileBuilder().U32(4).Text("win:A:ideal:1").Data(), kUnrecognised, 0, {}},
        {"tag 6 after a portion",
         portion + UpdateFileBuilder().U32(6).Data(),
         kUnrecognised,
         0,
         {}},
        {"tag 0xFFFFFFFF", UpdateFileBuilder().U32(0xFFFFFFFF).Data(), kUnrecognised, 0, {}},
    };
    for (const Case& c : cases) {
        std::string file = header + c.records;
        EXPECT_EQ(LoadError(file), c.expected) << c.name;
        if (std::string(c.expected) != "loaded")
            continue;
        Update update = Load(file);
        EXPECT_EQ(update.GetPortionCount(), c.portions) << c.name;
        EXPECT_EQ(update.GetImage(), c.image) << c.name;
    }
}

TEST(UpdateFileTest, PortionWhoseDelayIsCutShortIsKeptWithoutDelay) {
    std::string file =
        UpdateFileBuilder().Header("Pad").Portion({0xF0, 5, 0xF7}, 0x01020304).Data();
    Update update = Load(file.substr(0, file.size() - 2));
    ASSERT_EQ(update.GetPortionCount(), 1u);
    EXPECT_EQ(update.GetPortion(0).GetData(), (Bytes{0xF0, 5, 0xF7}));
    EXPECT_EQ(update.GetPortion(0).GetDelay(), 0u);
}

TEST(UpdateFileTest, TextsCutShortAreAppliedWithTheBytesPresent) {
    // Each record declares two more bytes than the file holds.
    std::string settings =
        UpdateFileBuilder().Header("Product").U32(3).U32(20).Magic("win:A:name:Pad One").Data();
    Update withSettings = Load(settings);
    EXPECT_EQ(withSettings.GetPortSettings().names, std::set<std::string>{"Pad One"});
    EXPECT_EQ(withSettings.GetMacPortNames(), std::set<std::string>{"Product"});

    std::string names = UpdateFileBuilder().Header("Product").U32(5).U32(5).Magic("X$Y").Data();
    EXPECT_EQ(Load(names).GetMacPortNames(), (std::set<std::string>{"X", "Y"}));

    // A text record that ends inside its count is ignored.
    std::string inCount = UpdateFileBuilder().Header("Product").U32(3).U16(1).Data();
    EXPECT_EQ(Load(inCount).GetPortSettings().names, std::set<std::string>{"Product"});
}

TEST(UpdateFileTest, UnknownTagNamesTheReaderOnStandardError) {
#ifdef __EMSCRIPTEN__
    GTEST_SKIP() << "GoogleTest captures nothing from standard error under node";
#endif
    std::string file = UpdateFileBuilder().Header("Pad").U32(4).Data();
    testing::internal::CaptureStderr();
    std::string error = LoadError(file);
    std::string diagnostic = testing::internal::GetCapturedStderr();
    EXPECT_EQ(error, kUnrecognised);
    EXPECT_NE(diagnostic.find("update.cpp:"), std::string::npos) << diagnostic;
    EXPECT_EQ(diagnostic.back(), '\n');
}

TEST(UpdateFileTest, HugeDeclaredCountsReserveNothingBeyondTheFile) {
    struct Case {
        const char* name;
        std::string file;
        const char* expected;
    };
    const Case cases[] = {
        {"product name",
         UpdateFileBuilder().Magic("VeskUpdateFile").U16(4).U32(0xFFFFFFFF).Magic("Pad").Data(),
         kTruncated},
        {"message",
         UpdateFileBuilder()
             .Magic("VeskUpdateFile")
             .U16(4)
             .Text("Pad")
             .U16(1)
             .U16(0)
             .U32(0xFFFFFFF0)
             .Data(),
         kTruncated},
        {"portion", Header() + UpdateFileBuilder().U32(1).U32(0xFFFFFFFF).U32(0xF7F7).Data(),
         kTruncatedSysEx},
        {"image", Header() + UpdateFileBuilder().U32(2).U32(0xFFFFFFFF).Magic("PNG").Data(),
         "loaded"},
        {"settings", Header() + UpdateFileBuilder().U32(3).U32(0x80000000).Magic("win").Data(),
         "loaded"},
        {"mac names", Header() + UpdateFileBuilder().U32(5).U32(0xFFFFFFFF).Magic("M").Data(),
         "loaded"},
    };
    for (const Case& c : cases) {
        AllocationWatch watch;
        EXPECT_EQ(LoadError(c.file), c.expected) << c.name;
        EXPECT_LT(watch.Largest(), 64u * 1024) << c.name;
    }
    Update update = Load(cases[3].file);
    EXPECT_EQ(update.GetImage(), ToBytes("PNG"));
    EXPECT_EQ(Load(cases[5].file).GetMacPortNames(), std::set<std::string>{"M"});
}

TEST(FirmwareVersionTest, TextAndKnown) {
    struct Case {
        uint16_t major, minor;
        const char* text;
        bool known;
    };
    const Case cases[] = {
        {1, 5, "1.05", true},  {2, 10, "2.10", true},
        {1, 2, "1.02", true},  {1, 123, "1.123", true},
        {0, 0, "0.00", false}, {0, 1, "0.01", true},
        {7, 0, "7.00", true},  {65535, 65535, "65535.65535", true},
    };
    for (const Case& c : cases) {
        Update update = Load(UpdateFileBuilder().Header("Pad", c.major, c.minor).Data());
        EXPECT_EQ(update.GetVersion().major, c.major);
        EXPECT_EQ(update.GetVersion().minor, c.minor);
        EXPECT_EQ(update.GetVersion().ToString(), c.text);
        EXPECT_EQ(update.GetVersion().IsKnown(), c.known) << c.text;
    }
}

void ExpectSysExUpdate(const Update& update, const std::string& file) {
    EXPECT_TRUE(update.IsSysEx());
    EXPECT_EQ(update.GetProductName(), "<SysEx Update Device>");
    EXPECT_EQ(update.GetMessage(), sysExInstructions);
    EXPECT_FALSE(update.GetVersion().IsKnown());
    EXPECT_TRUE(update.GetPortSettings().names.empty());
    EXPECT_TRUE(update.GetMacPortNames().empty());
    ExpectDefaultNumbers(update.GetPortSettings());
    EXPECT_TRUE(update.GetImage().empty());
    for (uint16_t value : update.GetHeaderValues())
        EXPECT_EQ(value, 0);
    ASSERT_EQ(update.GetPortionCount(), 1u);
    EXPECT_EQ(update.GetPortion(0).GetData(), ToBytes(file));
    EXPECT_EQ(update.GetPortion(0).GetDelay(), 0u);
    EXPECT_EQ(update.GetTotalSysExSize(), file.size());
}

TEST(SysExFileTest, WholeFileIsOnePortion) {
    const std::string cases[] = {
        "\xF0\xF7",
        "\xF0\x43\x01\xF7\xF0\x43\x02\xF7\x12\x34\xF0\x43\x03\xF7",
        std::string("\xF0\0\0\x7F\xF7", 5),
        "\xF0\x01\x02\xF7\x55\x66",
        "\xF0\xF0\xF0\xF7",
    };
    for (const std::string& file : cases) {
        SCOPED_TRACE(testing::PrintToString(ToBytes(file)));
        ExpectSysExUpdate(Load(file), file);
    }
}

TEST(SysExFileTest, EndFoundAnywhereInALargeFile) {
    // The end marker may lie far beyond the first bytes that are looked at.
    for (size_t at : {size_t{65535}, size_t{65536}, size_t{65537}, size_t{300000}}) {
        std::string file(at + 1, '\x10');
        file[0] = '\xF0';
        file[at] = '\xF7';
        ExpectSysExUpdate(Load(file), file);
    }
}

TEST(SysExFileTest, KindIsDecidedByContent) {
    // An update file may hold both marker bytes; it is still an update file.
    std::string update = UpdateFileBuilder().Header("\xF0\xF7").Portion({0xF0, 0xF7}, 0).Data();
    EXPECT_FALSE(Load(update).IsSysEx());

    struct Case {
        std::string file;
        const char* expected;
    };
    const Case cases[] = {
        {"\xF0", kBadHeader},
        {"\xF0\x43\x01\x02", kBadHeader},
        {std::string(70000, '\xF0'), kBadHeader},
        {std::string("\x00\xF0\xF7", 3), kBadHeader},
        {"\xF7\xF0\xF7", kBadHeader},
        {"", kBadHeader},
    };
    for (const Case& c : cases)
        EXPECT_EQ(LoadError(c.file), c.expected) << c.file.size() << " bytes";
}

// SysEx sizes are 32-bit throughout: an update whose data adds up to more is
// refused before any of the large data is read. The files are sparse, so
// they take next to nothing on disk.
TEST(UpdateFileTest, SysExBeyondFourGigabytesIsRefusedBeforeItIsRead) {
    const std::string tooLarge =
        "Update file is too large: its SysEx data adds up to more than 4 GB.";
    const std::string unique = std::to_string(std::random_device()());
    const std::string updatePath = testing::TempDir() + "kestrane_large_" + unique + ".upd";
    const std::string sysExPath = testing::TempDir() + "kestrane_large_" + unique + ".syx";
    {
        // Two bytes, then a portion of 4294967295 bytes: one byte too many.
        std::ofstream file(updatePath, std::ios::binary);
        file << UpdateFileBuilder()
                    .Header("Pad")
                    .Portion({0xF0, 0xF7}, 0)
                    .U32(1)
                    .U32(UINT32_MAX)
                    .Data();
        file.seekp(UINT32_MAX, std::ios::cur);
        file << UpdateFileBuilder().U32(0).Data();
        // A plain SysEx file of 4 GiB and one byte.
        std::ofstream sysEx(sysExPath, std::ios::binary);
        sysEx << "\xF0\x01\xF7";
        sysEx.seekp(static_cast<std::streamoff>(UINT32_MAX) - 2, std::ios::cur);
        sysEx << '\xF7';
        ASSERT_TRUE(file.good() && sysEx.good());
    }
    for (const std::string& path : {updatePath, sysExPath}) {
        std::ifstream file(path, std::ios::binary);
        try {
            Update update(file);
            ADD_FAILURE() << path << " loaded";
        } catch (const ParseError& error) {
            EXPECT_EQ(error.what(), tooLarge) << path;
        }
    }
    std::remove(updatePath.c_str());
    std::remove(sysExPath.c_str());

    // Exactly 4294967295 bytes in all is still an update: its declared count
    // fits, and the file that is cut short says so.
    std::istringstream cutShort(UpdateFileBuilder()
                                    .Header("Pad")
                                    .Portion({0xF0}, 0)
                                    .U32(1)
                                    .U32(UINT32_MAX - 1)
                                    .U32(0)
                                    .Data());
    try {
        Update update(cutShort);
        ADD_FAILURE() << "loaded";
    } catch (const ParseError& error) {
        EXPECT_STREQ(error.what(), "Trucated sysex");
    }
}

TEST(SysExFileTest, FilesOnDiskAreReadByContentWhateverTheirName) {
    // Names of this process's own, so that two suites running at once do not
    // write each other's files.
    const std::string unique = std::to_string(std::random_device()());
    const std::string updatePath = testing::TempDir() + "kestrane_update_named_" + unique + ".syx";
    const std::string sysExPath = testing::TempDir() + "kestrane_sysex_named_" + unique + ".upd";
    const std::string sysEx = "\xF0\x43\x10\xF7\xF0\x43\x11\xF7";
    {
        std::ofstream(updatePath, std::ios::binary)
            << UpdateFileBuilder().Header("Pad").Portion({0xF0, 0xF7}, 3).Data();
        std::ofstream(sysExPath, std::ios::binary) << sysEx;
    }
    std::ifstream updateFile(updatePath, std::ios::binary);
    Update update(updateFile);
    EXPECT_FALSE(update.IsSysEx());
    EXPECT_EQ(update.GetProductName(), "Pad");
    ASSERT_EQ(update.GetPortionCount(), 1u);
    EXPECT_EQ(update.GetPortion(0).GetDelay(), 3u);

    std::ifstream sysExFile(sysExPath, std::ios::binary);
    ExpectSysExUpdate(Update(sysExFile), sysEx);
    std::remove(updatePath.c_str());
    std::remove(sysExPath.c_str());
}

// A stream that claims more bytes than it can deliver, as a file that shrinks
// while it is being read.
class ShrinkingBuffer : public std::streambuf {
public:
    ShrinkingBuffer(std::string data, off_type claimedSize)
        : data(std::move(data)), claimedSize(claimedSize) {
        setg(&this->data[0], &this->data[0], &this->data[0] + this->data.size());
    }

protected:
    pos_type seekoff(off_type offset, std::ios::seekdir dir, std::ios::openmode) override {
        off_type base = dir == std::ios::beg ? 0 : dir == std::ios::end ? claimedSize : Position();
        return seekpos(base + offset, std::ios::in);
    }
    pos_type seekpos(pos_type position, std::ios::openmode) override {
        off_type at = position;
        if (at < 0 || at > claimedSize)
            return pos_type(off_type(-1));
        virtualPosition = at;
        off_type inData = std::min<off_type>(at, static_cast<off_type>(data.size()));
        setg(&data[0], &data[0] + inData, &data[0] + data.size());
        return position;
    }

private:
    off_type Position() const {
        return gptr() == egptr() ? std::max<off_type>(virtualPosition, egptr() - eback())
                                 : gptr() - eback();
    }
    std::string data;
    off_type claimedSize;
    off_type virtualPosition = 0;
};

TEST(SysExFileTest, FileYieldingFewerBytesThanItsSize) {
    ShrinkingBuffer buffer("\xF0\x01\xF7", 10);
    std::istream stream(&buffer);
    try {
        Update update(stream);
        FAIL() << "loaded";
    } catch (const ParseError& error) {
        EXPECT_STREQ(error.what(), "Failed to load all of the sysex file. (Got:3 was;10)");
    }
}

TEST(SysExFileTest, InstructionsText) {
    EXPECT_EQ(sysExInstructions.size(), 315u);
    EXPECT_EQ(sysExInstructions.rfind("To apply this update file, please detach", 0), 0u);
    EXPECT_EQ(std::count(sysExInstructions.begin(), sysExInstructions.end(), '\n'), 5);
    const std::string end = "you can start the update process.\n";
    EXPECT_EQ(sysExInstructions.substr(sysExInstructions.size() - end.size()), end);
}

} // namespace
