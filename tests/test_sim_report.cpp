// The words for what the emulated device made of each portion: one line per
// portion, the same in kestrane-cli's sim summary and in the browser tests'
// device.
#include "simreport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

PortionReport Report(bool complete, uint64_t wireBytes, bool matched = true,
                     int64_t firstDifference = -1, uint32_t restarts = 0) {
    PortionReport report;
    report.complete = complete;
    report.wireBytes = wireBytes;
    report.matched = matched;
    report.firstDifferenceOffset = firstDifference;
    report.restarts = restarts;
    return report;
}

TEST(PortionSummary, OneLinePerPortionInWords) {
    struct Case {
        const char* name;
        PortionReport report;
        const char* words; // after "Portion 2 of 3: "
    };
    const Case cases[] = {
        {"nothing arrived", Report(false, 0), "not received."},
        {"part of it arrived", Report(false, 120), "incomplete (120 bytes)."},
        {"all of it, as expected", Report(true, 283), "received, as expected."},
        {"all of it, with a difference", Report(true, 283, false, 7),
         "received, differs at wire byte 7."},
        {"started over once", Report(true, 300, true, -1, 1),
         "received, as expected (started over once, after a message was cut off)."},
        {"started over more often", Report(false, 40, true, -1, 3),
         "incomplete (40 bytes) (started over 3 times, after messages were cut off)."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<PortionReport> reports = {Report(true, 10), c.report, Report(false, 0)};
        EXPECT_EQ(PortionSummary(reports), std::string("Portion 1 of 3: received, as expected.\n") +
                                               "Portion 2 of 3: " + c.words + "\n" +
                                               "Portion 3 of 3: not received.\n");
    }
    EXPECT_EQ(PortionSummary({}), "");
}

} // namespace
