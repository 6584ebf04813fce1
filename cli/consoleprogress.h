// Shows a run's progress on a console: a bar and the current status line on a
// terminal, plain lines otherwise.
#pragma once

#include "progress.h"

#include <cstdio>
#include <istream>
#include <ostream>
#include <string>

class ConsoleProgress : public UpdateProgress {
public:
    // `out` gets the display; blocking messages are acknowledged by a line
    // read from `in`, or at once when `autoAcknowledge` is set. The outcome
    // is kept for the caller to print (GetOutcome), so that it comes last.
    ConsoleProgress(std::ostream& out, std::istream& in, bool isTerminal, bool autoAcknowledge);

    void Progress(float fraction) override;
    void ProgressIndeterminate() override;
    void Status(const std::string& text) override;
    void Error(const std::string& text) override;
    void Completed(const std::string& text) override;
    void BlockingMessage(const std::string& text) override;

    // The outcome text of the last Completed call; empty before it.
    const std::string& GetOutcome() const { return outcome; }

    // Whether a C stream is an interactive terminal.
    static bool IsTerminal(FILE* stream);

private:
    void Redraw();
    void EndBarLine();

    std::ostream& out;
    std::istream& in;
    bool isTerminal;
    bool autoAcknowledge;
    bool indeterminate = false;
    bool barShown = false;
    int indeterminateStep = 0;
    int lastPercentPrinted = -10; // so that 0% is printed too
    float fraction = 0.0f;
    std::string status;
    std::string outcome;
};
