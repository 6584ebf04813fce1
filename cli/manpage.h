// The manual page kestrane-cli(1), made from the command table and the tool's
// own options and texts, so that it says what the help says.
#pragma once

#include <ostream>
#include <string>
#include <vector>

struct ManPageSettings {
    std::string date; // shown in the page's footer, "2026-12-11"; may be empty
    // Where the example update is installed; with it the page has FILES and
    // EXAMPLES sections that use it.
    std::string exampleUpdate;
};

// One command line of the EXAMPLES section.
struct ManPageExample {
    std::string explanation;
    std::vector<std::string> args; // after the tool's name
};

// The examples of the page, each run on the example update at `exampleUpdate`.
std::vector<ManPageExample> ManPageExamples(const std::string& exampleUpdate);

// Text for a roff input line, printed as it is: a backslash becomes \(rs and
// a hyphen \- (a hyphen-minus, which options and paths need, rather than a
// typographic hyphen), and a line that starts with '.' or '\'' gets \& in
// front, so that it is not read as a request. Each line of a text with line
// breaks is treated so.
std::string RoffEscape(const std::string& text);

// Writes the page, in the man macros.
void WriteManPage(std::ostream& out, const ManPageSettings& settings);
