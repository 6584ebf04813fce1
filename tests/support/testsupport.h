// Shared fixtures of the unit tests: a captured diagnostic log and a progress
// sink that records every call.
#pragma once

#include "progress.h"
#include "utils.h"

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

// Captures every LogText text while it exists (and keeps the test output quiet).
class LogCapture : public LogSink {
public:
    LogCapture();
    ~LogCapture() override;
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    void Write(const char* text) override;
    std::string Text() const;
    bool Contains(const std::string& part) const;
    size_t Count(const std::string& part) const;
    void Clear();

private:
    LogSink* previous;
    mutable std::mutex mutex;
    std::string text;
};

// Records every sink call as one line: "Progress 0.5", "Indeterminate",
// "Status <text>", "Error <text>", "Completed <text>", "Blocking <text>".
class RecordingProgress : public UpdateProgress {
public:
    void Progress(float fraction) override;
    void ProgressIndeterminate() override;
    void Status(const std::string& text) override;
    void Error(const std::string& text) override;
    void Completed(const std::string& text) override;
    void BlockingMessage(const std::string& text) override;

    std::vector<std::string> calls;
    std::vector<float> fractions; // every Progress value, in order
    std::vector<std::string> completed;
    std::vector<std::string> blocking;
};

// Builds an update file in memory, the way the format lays it out.
class UpdateFileBuilder {
public:
    UpdateFileBuilder& Magic(const std::string& magic);
    UpdateFileBuilder& U16(uint16_t value);
    UpdateFileBuilder& U32(uint32_t value);
    UpdateFileBuilder& Bytes(const std::vector<uint8_t>& bytes);
    UpdateFileBuilder& Text(const std::string& text); // count + bytes
    // Magic, version 4, product, version, message and header values 0, 0, 0.
    UpdateFileBuilder& Header(const std::string& product, uint16_t major = 1, uint16_t minor = 0,
                              const std::string& message = "");
    UpdateFileBuilder& Portion(const std::vector<uint8_t>& data, uint32_t delay);
    UpdateFileBuilder& Image(const std::vector<uint8_t>& bytes);
    UpdateFileBuilder& Settings(const std::string& text); // tag 3
    UpdateFileBuilder& MacNames(const std::string& text); // tag 5
    UpdateFileBuilder& Truncate(size_t size);

    const std::string& Data() const { return data; }

private:
    std::string data;
};
