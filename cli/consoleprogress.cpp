#include "consoleprogress.h"

#include <algorithm>
#include <cmath>
#include <iomanip>

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
constexpr size_t kLineWidth = kBarWidth + kStatusWidth + 8;

// Keeps a status text on one line of the bar display.
std::string OneLine(const std::string& text) {
    std::string line = text;
    std::replace(line.begin(), line.end(), '\n', ' ');
    if (line.size() > kStatusWidth)
        line.replace(kStatusWidth - 3, std::string::npos, "...");
    return line;
}

} // namespace

ConsoleProgress::ConsoleProgress(std::ostream& out, std::istream& in, bool isTerminal,
                                 bool autoAcknowledge)
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
        out << "Progress: " << percent << "%" << std::endl;
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
    if (isTerminal)
        Redraw();
    else
        out << text << std::endl;
}

void ConsoleProgress::Error(const std::string& text) {
    EndBarLine();
    out << "Error: " << text << std::endl;
}

void ConsoleProgress::Completed(const std::string& text) {
    outcome = text;
    EndBarLine();
}

void ConsoleProgress::BlockingMessage(const std::string& text) {
    EndBarLine();
    out << "\n" << text << "\n";
    if (autoAcknowledge) {
        out << "(acknowledged: --yes)\n" << std::endl;
        return;
    }
    out << "Press Enter to continue... " << std::flush;
    std::string line;
    if (!std::getline(in, line))
        out << "\n(no input to read; going on)";
    out << "\n" << std::endl;
}

void ConsoleProgress::Redraw() {
    std::string bar(kBarWidth, ' ');
    std::string percent = "    ";
    if (indeterminate) {
        // A short block that moves one step each time the sender reports.
        int span = kBarWidth - 4;
        int position = indeterminateStep % (2 * span);
        if (position > span)
            position = 2 * span - position;
        bar.replace(static_cast<size_t>(position), 4, "<==>");
        ++indeterminateStep;
    } else {
        size_t filled = static_cast<size_t>(std::lround(fraction * kBarWidth));
        bar.replace(0, filled, filled, '#');
        percent = std::to_string(static_cast<int>(fraction * 100.0f)) + "%";
    }
    std::string line = "[" + bar + "] " + percent + " " + OneLine(status);
    // Padding overwrites a longer previous line; no terminal control codes needed.
    out << "\r" << std::left << std::setw(static_cast<int>(kLineWidth)) << line << std::flush;
    barShown = true;
}

void ConsoleProgress::EndBarLine() {
    if (barShown) {
        out << "\n";
        barShown = false;
    }
}
