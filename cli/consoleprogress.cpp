#include "consoleprogress.h"

#include <algorithm>
#include <cmath>

#ifdef _WIN32
#include <io.h>
#define KESTRANE_ISATTY _isatty
#define KESTRANE_FILENO _fileno
#else
#include <unistd.h>
#define KESTRANE_ISATTY isatty
#define KESTRANE_FILENO fileno
#endif

namespace {

constexpr int kBarWidth = 30;
constexpr size_t kStatusWidth = 60;

// Keeps a status text on one line of the bar display.
std::string OneLine(const std::string& text) {
    std::string line = text;
    std::replace(line.begin(), line.end(), '\n', ' ');
    if (line.size() > kStatusWidth)
        line = line.substr(0, kStatusWidth - 3) + "...";
    return line;
}

} // namespace

ConsoleProgress::ConsoleProgress(FILE* out, FILE* in, bool isTerminal, bool autoAcknowledge)
    : out(out), in(in), isTerminal(isTerminal), autoAcknowledge(autoAcknowledge) {}

bool ConsoleProgress::IsTerminal(FILE* stream) {
    return KESTRANE_ISATTY(KESTRANE_FILENO(stream)) != 0;
}

void ConsoleProgress::Progress(float value) {
    indeterminate = false;
    fraction = std::isfinite(value) ? std::min(std::max(value, 0.0f), 1.0f) : 0.0f;
    if (isTerminal) {
        Redraw();
        return;
    }
    // Plain output: a line for every tenth of the way.
    int percent = static_cast<int>(fraction * 100.0f);
    if (percent / 10 != lastPercentPrinted / 10 || (percent == 100 && lastPercentPrinted != 100)) {
        fprintf(out, "Progress: %d%%\n", percent);
        fflush(out);
        lastPercentPrinted = percent;
    }
}

void ConsoleProgress::ProgressIndeterminate() {
    indeterminate = true;
    if (isTerminal)
        Redraw();
}

void ConsoleProgress::Status(const std::string& text) {
    if (text == status)
        return;
    status = text;
    if (isTerminal) {
        Redraw();
        return;
    }
    fprintf(out, "%s\n", text.c_str());
    fflush(out);
}

void ConsoleProgress::Error(const std::string& text) {
    EndBarLine();
    fprintf(stderr, "Error: %s\n", text.c_str());
}

void ConsoleProgress::Completed(const std::string& text) {
    outcome = text;
    EndBarLine();
    fprintf(out, "\n%s\n", text.c_str());
    fflush(out);
}

void ConsoleProgress::BlockingMessage(const std::string& text) {
    EndBarLine();
    fprintf(out, "\n%s\n", text.c_str());
    if (autoAcknowledge) {
        fprintf(out, "(acknowledged: --yes)\n\n");
        fflush(out);
        return;
    }
    fprintf(out, "Press Enter to continue... ");
    fflush(out);
    int c;
    do {
        c = fgetc(in);
    } while (c != '\n' && c != EOF);
    if (c == EOF)
        fprintf(out, "\n(no input to read; going on)\n");
    fprintf(out, "\n");
    fflush(out);
}

void ConsoleProgress::Redraw() {
    std::string bar(kBarWidth, ' ');
    if (indeterminate) {
        // A short block that moves one step each time the sender reports.
        int span = kBarWidth - 4;
        int position = indeterminateStep % (2 * span);
        if (position > span)
            position = 2 * span - position;
        bar.replace(static_cast<size_t>(position), 4, "<==>");
        ++indeterminateStep;
    } else {
        int filled = static_cast<int>(std::lround(fraction * kBarWidth));
        bar.replace(0, static_cast<size_t>(filled), static_cast<size_t>(filled), '#');
    }
    std::string percent = indeterminate ? std::string("    ")
                                        : std::to_string(static_cast<int>(fraction * 100.0f)) + "%";
    std::string line = "[" + bar + "] " + percent + " " + OneLine(status);
    // Pad to overwrite a longer previous line; no terminal control codes needed.
    fprintf(out, "\r%-*s", static_cast<int>(kBarWidth + kStatusWidth + 8), line.c_str());
    fflush(out);
    barShown = true;
}

void ConsoleProgress::EndBarLine() {
    if (barShown) {
        fprintf(out, "\n");
        barShown = false;
    }
}
