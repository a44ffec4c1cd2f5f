// Turns a decimal text into the 16-bit value a DEVMODE field receives.
#include "decimal_value.h"

namespace {

// The C locale's white space, without depending on the thread's locale.
bool IsWhiteSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

} // namespace

int16_t DecimalFieldValue(const char* text) {
    if (text == nullptr) return 0;
    while (IsWhiteSpace(*text))
        ++text;
    bool negative = false;
    if (*text == '+' || *text == '-') {
        negative = *text == '-';
        ++text;
    }
    // Unsigned arithmetic wraps modulo 2^32, a multiple of 65536, so the low 16 bits stay exact
    // however many digits follow, and no overflow can occur.
    uint32_t value = 0;
    for (; IsDigit(*text); ++text)
        value = value * 10u + static_cast<uint32_t>(*text - '0');
    if (negative) value = 0u - value;

    // The low 16 bits as a signed number, worked out in signed arithmetic on both branches.
    const int32_t low = static_cast<int32_t>(value & 0xFFFFu);
    return static_cast<int16_t>(low >= 0x8000 ? low - 0x10000 : low);
}
