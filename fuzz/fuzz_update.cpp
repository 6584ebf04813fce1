// Feeds arbitrary bytes to the update reader. Any input must either load or
// end in a ParseError; crashes, leaks, undefined behaviour and allocations
// far beyond the input's size (caught with -malloc_limit_mb) are failures.
#include "update.h"

#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::istringstream stream(std::string(reinterpret_cast<const char*>(data), size),
                              std::ios::binary);
    try {
        Update update(stream);
        // Touch what was read, so that every member is really built.
        volatile size_t seen =
            update.GetTotalSysExSize() + update.GetImage().size() + update.GetMessage().size() +
            update.GetProductName().size() + update.GetPortSettings().names.size() +
            update.GetMacPortNames().size() + update.GetVersion().ToString().size();
        (void)seen;
        Update copy = update;
        (void)copy;
    } catch (const ParseError&) {
    }
    return 0;
}
