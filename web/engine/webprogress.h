// The progress sink of the page: what the Windows program's window shows, the
// page shows, in the same words (runtexts.h).
#pragma once

#include "progress.h"

#include <cstdint>
#include <string>

class WebUpdateProgress : public UpdateProgress {
public:
    void Progress(float fraction) override;
    void ProgressIndeterminate() override;
    void Status(const std::string& text) override;
    void Error(const std::string& text) override;
    void Completed(const std::string& text) override;
    // Shows the text in a box on the page and returns once the user has
    // pressed its OK, the page staying responsive meanwhile.
    void BlockingMessage(const std::string& text) override;

    // How often BlockingMessage looks whether the box has been acknowledged.
    static constexpr uint32_t kAcknowledgePollMs = 50;
};
