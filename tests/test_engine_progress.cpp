// Mapping a step's progress onto its share of the whole bar.
#include "progress.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

struct ConverterCase {
    float from, to, outOf;
    float reported;
    float expected;
};

TEST(ProgressConverterTest, MapsOntoSubRange) {
    const ConverterCase cases[] = {
        {0, 50, 100, 0.0f, 0.0f},   {0, 50, 100, 0.5f, 0.25f},  {0, 50, 100, 1.0f, 0.5f},
        {50, 100, 100, 1.0f, 1.0f}, {50, 100, 100, 0.0f, 0.5f}, {0, 0, 10, 1.0f, 0.0f},
        {0, 0, 10, 0.5f, 0.0f},
    };
    for (const ConverterCase& c : cases) {
        RecordingProgress parent;
        UpdateProgressConverter converter(parent, c.from, c.to, c.outOf);
        converter.Progress(c.reported);
        ASSERT_EQ(parent.fractions.size(), 1u);
        EXPECT_FLOAT_EQ(parent.fractions[0], c.expected)
            << "[" << c.from << "," << c.to << "] of " << c.outOf << " at " << c.reported;
    }
}

TEST(ProgressConverterTest, StackedConvertersCompose) {
    RecordingProgress parent;
    UpdateProgressConverter outer(parent, 50, 100, 100);
    UpdateProgressConverter inner(outer, 50, 100, 100);
    inner.Progress(0.0f);
    EXPECT_FLOAT_EQ(parent.fractions.at(0), 0.75f);
}

TEST(ProgressConverterTest, EmptyWholeReportsZeroNotNaN) {
    RecordingProgress parent;
    UpdateProgressConverter converter(parent, 0, 0, 0);
    converter.Progress(0.0f);
    converter.Progress(1.0f);
    ASSERT_EQ(parent.fractions.size(), 2u);
    for (float fraction : parent.fractions) {
        EXPECT_FALSE(std::isnan(fraction));
        EXPECT_EQ(fraction, 0.0f);
    }
}

TEST(ProgressConverterTest, TextsPassThroughUnchanged) {
    RecordingProgress parent;
    UpdateProgressConverter converter(parent, 0, 1, 2);
    converter.Status("a\nb");
    converter.Error("e");
    converter.Completed("done");
    converter.BlockingMessage("press OK");
    converter.ProgressIndeterminate();
    EXPECT_EQ(parent.calls, (std::vector<std::string>{"Status a\nb", "Error e", "Completed done",
                                                      "Blocking press OK", "Indeterminate"}));
}

// Only where the checks are compiled in and GoogleTest can watch a process die
// (not under node).
#if !defined(NDEBUG) && GTEST_HAS_DEATH_TEST
TEST(ProgressConverterDeathTest, PreconditionsAreAsserted) {
    RecordingProgress parent;
    EXPECT_DEATH(UpdateProgressConverter(parent, 2, 1, 10), "inFrom <= inTo");
    EXPECT_DEATH(UpdateProgressConverter(parent, 11, 12, 10), "inFrom <= inOutOf");
    EXPECT_DEATH(UpdateProgressConverter(parent, 1, 11, 10), "inTo <= inOutOf");
}
#endif

} // namespace
