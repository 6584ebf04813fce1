#include "decimal.h"

bool ParseDecimal(const std::string& text, uint64_t max, uint64_t& value) {
    if (text.empty())
        return false;
    uint64_t number = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        const uint64_t digit = static_cast<uint64_t>(c - '0');
        if (digit > max || number > (max - digit) / 10) // number * 10 + digit would pass max
            return false;
        number = number * 10 + digit;
    }
    value = number;
    return true;
}
