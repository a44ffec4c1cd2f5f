// Finds one argument in the host's "|"-separated argument text; pure byte logic.
#include "argument_scan.h"

#include <algorithm>
#include <cstring>

namespace {

const char kSeparator = '|';

} // namespace

int32_t ScanArgument(const char* text, uint32_t size, int16_t number, uint32_t cap,
                     char* destination) {
    if (number < 1 || cap == 0 || size == 0 || text == nullptr) return 0;

    // Pass over the arguments in front of the wanted one.
    uint32_t position = 0;
    for (int32_t k = 1; k < number; ++k) {
        const void* separator = std::memchr(text + position, kSeparator, size - position);
        if (separator == nullptr) return 0;
        position = static_cast<uint32_t>(static_cast<const char*>(separator) - text) + 1;
    }

    // Copy at most cap bytes of the wanted argument. It counts only when a "|" ends it below
    // the cap, or when it is the last argument and fits the cap exactly or with room to spare.
    const uint32_t remaining = size - position;
    const uint32_t window = std::min(remaining, cap);
    const char* start = text + position;
    const void* separator = std::memchr(start, kSeparator, window);
    const uint32_t copied =
        separator ? static_cast<uint32_t>(static_cast<const char*>(separator) - start) : window;
    std::memcpy(destination, start, copied);
    if (separator != nullptr) return static_cast<int32_t>(copied);
    return window == remaining ? static_cast<int32_t>(copied) : 0;
}
