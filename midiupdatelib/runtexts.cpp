#include "runtexts.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

std::string BoundedText(size_t capacity, const char* format, ...) {
    if (capacity == 0)
        return std::string();
    std::vector<char> buffer(capacity, '\0');
    va_list args;
    va_start(args, format);
    vsnprintf(buffer.data(), buffer.size(), format, args);
    va_end(args);
    return buffer.data();
}

std::string UpdatingText(const std::string& text) {
    return BoundedText(256, " Updating: %s", text.c_str());
}

std::string CompletedText(const std::string& text) {
    return BoundedText(512, " Completed: %s", text.c_str());
}

std::string FailureText(const std::string& reason) {
    return BoundedText(1024, "The update failed for the following reason:\n\n%s", reason.c_str());
}

std::string SummaryText(const Update& update) {
    const FirmwareVersion version = update.GetVersion();
    return FormatText(" Product: '%s' \tFirmware version: %u.%02u", update.GetProductName().c_str(),
                      static_cast<unsigned>(version.major), static_cast<unsigned>(version.minor));
}

std::string StartMessageText(const Update& update) {
    if (update.GetMessage().empty())
        return std::string();
    return update.GetMessage() + "\n\nClick OK to start.";
}

void LogUpdateDetails(const Update& update) {
    LogText("Product name:   %s\n", update.GetProductName().c_str());
    LogText("Message:        %s\n", update.GetMessage().c_str());
    LogText("Image:          %u bytes\n", static_cast<unsigned>(update.GetImage().size()));
    LogText("Port names:     %u\n", static_cast<unsigned>(update.GetPortSettings().names.size()));
    LogText("SysEx portions: %u\n", static_cast<unsigned>(update.GetPortionCount()));
    LogText("Total SysEx:    %u bytes\n", static_cast<unsigned>(update.GetTotalSysExSize()));
}

std::string ConfirmTitle(const Update& update) {
    return "Update " + update.GetProductName();
}

std::string ConfirmQuestion(const Update& update) {
    return "Do you want to update your " + update.GetProductName() + " to version " +
           update.GetVersion().ToString() + " now?";
}

int ProgressPercent(float fraction) {
    const float percent = 100.0f * fraction;
    // Shares outside 0..1 (and NaN) never come from the sender; they are
    // held to the bar's range rather than converted out of int's.
    if (!(percent >= 0.0f))
        return 0;
    if (percent >= 100.0f)
        return 100;
    return static_cast<int>(percent);
}
