#include "testsupport.h"

LogCapture::LogCapture() : previous(SetLogSink(this)) {}

LogCapture::~LogCapture() {
    SetLogSink(previous);
}

void LogCapture::Write(const char* written) {
    std::lock_guard<std::mutex> lock(mutex);
    text += written;
}

std::string LogCapture::Text() const {
    std::lock_guard<std::mutex> lock(mutex);
    return text;
}

bool LogCapture::Contains(const std::string& part) const {
    return Text().find(part) != std::string::npos;
}

size_t LogCapture::Count(const std::string& part) const {
    std::string all = Text();
    size_t count = 0;
    for (size_t at = all.find(part); at != std::string::npos; at = all.find(part, at + 1))
        ++count;
    return count;
}

void LogCapture::Clear() {
    std::lock_guard<std::mutex> lock(mutex);
    text.clear();
}

void RecordingProgress::Progress(float fraction) {
    fractions.push_back(fraction);
    calls.push_back("Progress " + std::to_string(fraction));
}

void RecordingProgress::ProgressIndeterminate() {
    calls.push_back("Indeterminate");
}

void RecordingProgress::Status(const std::string& text) {
    calls.push_back("Status " + text);
}

void RecordingProgress::Error(const std::string& text) {
    calls.push_back("Error " + text);
}

void RecordingProgress::Completed(const std::string& text) {
    completed.push_back(text);
    calls.push_back("Completed " + text);
}

void RecordingProgress::BlockingMessage(const std::string& text) {
    blocking.push_back(text);
    calls.push_back("Blocking " + text);
}

UpdateFileBuilder& UpdateFileBuilder::Magic(const std::string& magic) {
    data += magic;
    return *this;
}

UpdateFileBuilder& UpdateFileBuilder::U16(uint16_t value) {
    data += static_cast<char>(value & 0xFF);
    data += static_cast<char>(value >> 8);
    return *this;
}

UpdateFileBuilder& UpdateFileBuilder::U32(uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8)
        data += static_cast<char>((value >> shift) & 0xFF);
    return *this;
}

UpdateFileBuilder& UpdateFileBuilder::Bytes(const std::vector<uint8_t>& bytes) {
    data.append(bytes.begin(), bytes.end());
    return *this;
}

UpdateFileBuilder& UpdateFileBuilder::Text(const std::string& text) {
    U32(static_cast<uint32_t>(text.size()));
    data += text;
    return *this;
}

UpdateFileBuilder& UpdateFileBuilder::Header(const std::string& product, uint16_t major,
                                             uint16_t minor, const std::string& message) {
    return Magic("VeskUpdateFile")
        .U16(4)
        .Text(product)
        .U16(major)
        .U16(minor)
        .Text(message)
        .U16(0)
        .U16(0)
        .U16(0);
}

UpdateFileBuilder& UpdateFileBuilder::Portion(const std::vector<uint8_t>& bytes, uint32_t delay) {
    return U32(1).U32(static_cast<uint32_t>(bytes.size())).Bytes(bytes).U32(delay);
}

UpdateFileBuilder& UpdateFileBuilder::Image(const std::vector<uint8_t>& bytes) {
    return U32(2).U32(static_cast<uint32_t>(bytes.size())).Bytes(bytes);
}

UpdateFileBuilder& UpdateFileBuilder::Settings(const std::string& text) {
    return U32(3).Text(text);
}

UpdateFileBuilder& UpdateFileBuilder::MacNames(const std::string& text) {
    return U32(5).Text(text);
}

UpdateFileBuilder& UpdateFileBuilder::Truncate(size_t size) {
    data.resize(size);
    return *this;
}
