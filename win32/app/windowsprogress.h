// The application's progress sink: every report of the transfer engine
// becomes a message posted to the main window, which shows it.
#pragma once

#include "progress.h"

// Called on the worker thread. Each operation logs its report and posts it;
// only BlockingMessage touches a window itself (its modal box).
class WindowsUpdateProgress : public UpdateProgress {
public:
    // Ends the indeterminate animation and moves the bar.
    void Progress(float fraction) override;
    // Starts the indeterminate animation.
    void ProgressIndeterminate() override;
    // The status row, " Updating: <text>"; the bar stays where it is.
    void Status(const std::string& text) override;
    // The failure box.
    void Error(const std::string& text) override;
    // The status row, " Completed: <text>", and an information box.
    void Completed(const std::string& text) override;
    // A modal box owned by the main window, on the calling thread: returns
    // when the user has dismissed it.
    void BlockingMessage(const std::string& text) override;
};
