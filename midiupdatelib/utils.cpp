#include "utils.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <time.h>
#endif
#ifdef __EMSCRIPTEN__
#include <emscripten.h>
#endif

namespace {

constexpr size_t kTextBufferSize = 288;

std::atomic<TimeSource*> timeSource{nullptr};
std::atomic<LogSink*> logSink{nullptr};

#ifdef _WIN32
int64_t PlatformTimeMs() {
    LARGE_INTEGER frequency = {};
    LARGE_INTEGER counter = {};
    if (!QueryPerformanceFrequency(&frequency))
        LogText("Error getting time frew");
    if (!QueryPerformanceCounter(&counter))
        LogText("Error getting time");
    // Two truncating divisions, as the clock has always computed it; callers
    // only ever compare readings of this same clock.
    int64_t ticksPerMs = frequency.QuadPart / 1000;
    if (ticksPerMs <= 0)
        return 0;
    return counter.QuadPart / ticksPerMs;
}

void PlatformSleep(uint32_t ms) {
    Sleep(ms);
}

void PlatformLog(const char* text) {
    OutputDebugStringA(text);
    fputs(text, stdout);
}
#else
int64_t PlatformTimeMs() {
#ifdef __EMSCRIPTEN__
    // The browser's (or node's) monotonic clock, in fractions of a millisecond.
    return static_cast<int64_t>(emscripten_get_now());
#else
    timespec now = {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
#endif
}

void PlatformSleep(uint32_t ms) {
#if defined(__EMSCRIPTEN__) && defined(KESTRANE_ASYNC_SLEEP)
    // On the browser's main thread, which must not block: the call returns to
    // the browser and resumes here once the time has passed (ASYNCIFY).
    emscripten_sleep(ms);
#else
    timespec wait = {};
    wait.tv_sec = static_cast<time_t>(ms / 1000);
    wait.tv_nsec = static_cast<long>(ms % 1000) * 1000000L;
    while (nanosleep(&wait, &wait) != 0) {
        // Interrupted by a signal: sleep what is left.
    }
#endif
}

void PlatformLog(const char* text) {
    fputs(text, stdout);
}
#endif

} // namespace

std::string FormatText(const char* format, ...) {
    char buffer[kTextBufferSize] = {};
    va_list args;
    va_start(args, format);
    vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    return buffer;
}

void LogText(const char* format, ...) {
    char buffer[kTextBufferSize] = {};
    va_list args;
    va_start(args, format);
    vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    if (LogSink* sink = logSink.load())
        sink->Write(buffer);
    else
        PlatformLog(buffer);
}

void SleepMs(uint32_t ms) {
    if (TimeSource* source = timeSource.load())
        source->Sleep(ms);
    else
        PlatformSleep(ms);
}

int64_t GetTimeMs() {
    if (TimeSource* source = timeSource.load())
        return source->NowMs();
    return PlatformTimeMs();
}

std::string ByteSizeText(uint32_t bytes) {
    char buffer[12] = {};
    // The count goes through single precision first, as the size texts always have.
    double value = static_cast<float>(bytes);
    if (bytes >= 1048576)
        snprintf(buffer, sizeof buffer, "%.1fMB", value / 1048576.0);
    else if (bytes >= 1024)
        snprintf(buffer, sizeof buffer, "%.1fKB", value / 1024.0);
    else if (bytes == 1)
        snprintf(buffer, sizeof buffer, "1 byte");
    else
        snprintf(buffer, sizeof buffer, "%d bytes", static_cast<int>(bytes));
    return buffer;
}

TimeSource* SetTimeSource(TimeSource* source) {
    return timeSource.exchange(source);
}

LogSink* SetLogSink(LogSink* sink) {
    return logSink.exchange(sink);
}
