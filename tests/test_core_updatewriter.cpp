// The update-file writer: the layout it writes, read back by the reader, and
// inputs without end refused at the block limit.
#include "testsupport.h"
#include "update.h"
#include "updatewriter.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace fs = std::filesystem;

namespace {

std::vector<uint8_t> Bytes(const std::string& text) {
    return std::vector<uint8_t>(text.begin(), text.end());
}

// The writer copies its portions and picture from files: a fresh folder for
// them, removed with its content.
class UpdateWriter : public ::testing::Test {
protected:
    UpdateWriter() : folder(FreshPath()) { fs::create_directories(folder); }
    ~UpdateWriter() override {
        std::error_code ignored;
        fs::remove_all(folder, ignored);
    }

    std::string File(const std::string& name, const std::string& bytes) const {
        const std::string path = (folder / name).string();
        std::ofstream out(path, std::ios::binary);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        EXPECT_TRUE(out.good()) << path;
        return path;
    }

    fs::path folder;

private:
    static fs::path FreshPath() {
        std::random_device random;
        return fs::temp_directory_path() /
               ("kestrane-writer-test-" + std::to_string(random()) + std::to_string(random()));
    }
};

} // namespace

// The file holds the header and then the records in a fixed order: the
// portions, the picture, the settings texts, the port-name texts.
TEST_F(UpdateWriter, WritesTheUpdateFileLayout) {
    const std::string first = "\xF0\x7D\x01\x02\xF7";
    const std::string second = "\xF0\x7D\x03\xF7\xF0\x7D\x04\xF7";
    const std::string picture = std::string("\x89PNG\r\n\x1A\n\0\0", 10);

    UpdateFileContents contents;
    contents.productName = "Pad";
    contents.version = {2, 10};
    contents.message = "Hello\\nthere";
    contents.settingsTexts = {"win:A:ideal:256", "mac:B:max:1"};
    contents.macNameTexts = {"X$Y"};
    contents.imagePath = File("p.png", picture);
    contents.portions = {{File("a.syx", first), 500, ""}, {File("b.syx", second), 0, ""}};
    std::stringstream written;
    const UpdateFileSummary summary = WriteUpdateFile(contents, written, "out.upd");

    UpdateFileBuilder expected;
    expected.Header("Pad", 2, 10, "Hello\\nthere")
        .Portion(Bytes(first), 500)
        .Portion(Bytes(second), 0)
        .Image(Bytes(picture))
        .Settings("win:A:ideal:256")
        .Settings("mac:B:max:1")
        .MacNames("X$Y");
    EXPECT_EQ(written.str(), expected.Data());
    EXPECT_EQ(summary.portionCount, 2u);
    EXPECT_EQ(summary.sysExBytes, first.size() + second.size());
    EXPECT_EQ(summary.fileBytes, expected.Data().size());
}

#ifndef _WIN32

// A device or pipe tells no size: it is copied as it is read and refused once
// it passes the limit (a smaller one here), so /dev/zero ends at once.
TEST_F(UpdateWriter, RefusesAStreamOnceItPassesTheLimit) {
    const uint64_t limit = 100000;
    UpdateFileContents contents;
    contents.productName = "P";
    contents.blockLimit = limit;
    contents.portions = {{"/dev/zero", 0, ""}};
    try {
        std::stringstream written;
        WriteUpdateFile(contents, written, "out.upd");
        ADD_FAILURE() << "a portion of /dev/zero was written";
    } catch (const UpdateWriteError& error) {
        EXPECT_EQ(std::string(error.what()),
                  "the portion file '/dev/zero' is too large for an update file (more than "
                  "100000 bytes)");
    }

#ifdef __EMSCRIPTEN__
    // Under node, mkfifo makes a plain file: node's file access has no pipes.
    GTEST_SKIP() << "the pipe part: no named pipes under node";
#endif
    // Through a pipe, exactly the limit is taken and one byte more is not.
    const std::string pipe = (folder / "pipe").string();
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    contents.portions = {{pipe, 7, ""}};
    std::string taken;
    for (uint64_t size : {limit, limit + 1}) {
        const std::string data(static_cast<size_t>(size), '\x42');
        std::thread writer([&pipe, &data] { std::ofstream(pipe, std::ios::binary) << data; });
        std::stringstream written;
        bool accepted = true;
        try {
            WriteUpdateFile(contents, written, "out.upd");
        } catch (const UpdateWriteError&) {
            accepted = false;
        }
        writer.join();
        EXPECT_EQ(accepted, size == limit) << size;
        if (accepted)
            taken = written.str();
    }
    std::istringstream takenStream(taken);
    const Update update(takenStream);
    ASSERT_EQ(update.GetPortionCount(), 1u);
    EXPECT_EQ(update.GetPortion(0).GetData(), std::vector<uint8_t>(limit, 0x42));
    EXPECT_EQ(update.GetPortion(0).GetDelay(), 7u);
}

#endif // _WIN32
