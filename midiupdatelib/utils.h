// Diagnostics and timing utilities used throughout the updater: printf-style
// formatting, the one diagnostic log, a millisecond clock, sleeping and
// byte-size texts.
#pragma once

#include <cstdint>
#include <string>

#if defined(__GNUC__)
#define KESTRANE_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define KESTRANE_PRINTF(fmt, args)
#endif

// Formats into a 288-byte buffer (longer texts are cut at 287 characters).
std::string FormatText(const char* format, ...) KESTRANE_PRINTF(1, 2);

// Writes the formatted text, unchanged, to the debugger output (Windows) and
// then to standard output. Adds no time stamp and no line end.
void LogText(const char* format, ...) KESTRANE_PRINTF(1, 2);

// Blocks the calling thread for the given number of milliseconds.
void SleepMs(uint32_t ms);

// Milliseconds from an arbitrary origin; only differences mean anything.
int64_t GetTimeMs();

// Short human-readable size: "0 bytes", "1 byte", "1.5KB", "4096.0MB".
std::string ByteSizeText(uint32_t bytes);

// Seams for the tests and the emulated-device tools. Production code never
// installs either, and then the platform's own clock, sleep and log outputs
// are used. Install them before any thread that uses the utilities starts.
class TimeSource {
public:
    virtual ~TimeSource() = default;
    virtual int64_t NowMs() = 0;
    virtual void Sleep(uint32_t ms) = 0;
};

class LogSink {
public:
    virtual ~LogSink() = default;
    // Receives each finished log text; may be called from several threads.
    virtual void Write(const char* text) = 0;
};

// Each returns the previously installed object; nullptr restores the platform.
TimeSource* SetTimeSource(TimeSource* source);
LogSink* SetLogSink(LogSink* sink);
