// Whole numbers in decimal digits: what is refused, the limit, and texts far
// beyond 64 bits.
#include "decimal.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace {

constexpr uint64_t kUnset = 777;

TEST(ParseDecimalTest, Table) {
    struct Case {
        const char* text;
        uint64_t max;
        bool valid;
        uint64_t value; // what `value` holds afterwards
    };
    const uint64_t all = UINT64_MAX;
    const Case cases[] = {
        {"0", 0, true, 0},
        {"7", 10, true, 7},
        {"10", 10, true, 10},
        {"11", 10, false, kUnset},
        {"0009", 9, true, 9},
        {"000000000000000000000000000001", 1, true, 1},
        {"65535", 0xFFFF, true, 65535},
        {"65536", 0xFFFF, false, kUnset},
        {"4294967295", 0xFFFFFFFF, true, 4294967295u},
        {"4294967296", 0xFFFFFFFF, false, kUnset},
        {"18446744073709551615", all, true, UINT64_MAX},
        {"18446744073709551616", all, false, kUnset},
        {"99999999999999999999", all, false, kUnset},
        {"184467440737095516150", all, false, kUnset},
        {"5", 4, false, kUnset},
        {"", 10, false, kUnset},
        {"-1", 10, false, kUnset},
        {"+1", 10, false, kUnset},
        {" 1", 10, false, kUnset},
        {"1 ", 10, false, kUnset},
        {"1a", 10, false, kUnset},
        {"0x1", 10, false, kUnset},
        {"1.0", 10, false, kUnset},
    };
    for (const Case& c : cases) {
        uint64_t value = kUnset;
        EXPECT_EQ(ParseDecimal(c.text, c.max, value), c.valid) << "'" << c.text << "'";
        EXPECT_EQ(value, c.value) << "'" << c.text << "'";
    }
}

} // namespace
