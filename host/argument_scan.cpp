// Finds one argument in the host's "|"-separated argument text; pure byte logic.
#include "argument_scan.h"

#include <algorithm>
#include <cstring>

namespace {

const char kSeparator = '|';

// Whether the "|" at `bar` begins a character, given that one begins at `boundary`, at or
// before it. Every byte other than a lead byte ends a character, so the lead bytes just before
// the "|" pair off from where their run begins: an odd run leaves its last lead byte waiting for
// a second byte, and that is the "|".
bool BeginsCharacter(const char* boundary, const char* bar, LeadByteTest isLeadByte) {
    // No code page has a lead byte below 0x80, so after an ASCII byte, as in single-byte text,
    // the test need not be asked.
    if (bar == boundary || static_cast<unsigned char>(bar[-1]) < 0x80) return true;
    const char* runStart = bar;
    while (runStart > boundary && isLeadByte(static_cast<unsigned char>(runStart[-1])))
        --runStart;
    return (bar - runStart) % 2 == 0;
}

// The first separator in [from, end), or `end`; `from` begins a character. memchr finds each
// "|", and only the run of lead bytes before it is looked at, so single-byte text is passed over
// at memchr's speed and no byte is looked at twice.
const char* FindSeparator(const char* from, const char* end, LeadByteTest isLeadByte) {
    const char* boundary = from;
    while (boundary < end) {
        const char* bar =
            static_cast<const char*>(std::memchr(boundary, kSeparator, end - boundary));
        if (bar == nullptr) break;
        if (BeginsCharacter(boundary, bar, isLeadByte)) return bar;
        // The "|" ended a double-byte character, so the next byte begins one.
        boundary = bar + 1;
    }
    return end;
}

} // namespace

int32_t ScanArgument(const char* text, uint32_t size, int16_t number, uint32_t cap,
                     char* destination, LeadByteTest isLeadByte) {
    if (number < 1 || cap == 0 || size == 0 || text == nullptr) return 0;
    const char* const textEnd = text + size;

    // Pass over the arguments in front of the wanted one.
    const char* start = text;
    for (int32_t k = 1; k < number; ++k) {
        const char* separator = FindSeparator(start, textEnd, isLeadByte);
        if (separator == textEnd) return 0;
        start = separator + 1;
    }

    // Copy at most cap bytes of the wanted argument. It counts only when a "|" ends it below
    // the cap, or when it is the last argument and fits the cap exactly or with room to spare.
    const uint32_t remaining = static_cast<uint32_t>(textEnd - start);
    const char* const windowEnd = start + std::min(remaining, cap);
    const char* const end = FindSeparator(start, windowEnd, isLeadByte);
    const uint32_t copied = static_cast<uint32_t>(end - start);
    std::memcpy(destination, start, copied);
    if (end < windowEnd || windowEnd == textEnd) return static_cast<int32_t>(copied);
    return 0;
}
