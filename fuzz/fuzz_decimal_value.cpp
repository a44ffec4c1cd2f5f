// Fuzzes the decimal rule against a model that keeps the number modulo 65536 digit by digit.
#include "decimal_value.h"

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

int16_t ModelValue(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r')))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    uint32_t value = 0; // the number modulo 65536
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        value = (value * 10 + static_cast<uint32_t>(text[i] - '0')) % 65536;
    if (negative) value = (65536 - value) % 65536;
    return static_cast<int16_t>(value >= 32768 ? static_cast<int32_t>(value) - 65536
                                               : static_cast<int32_t>(value));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The plug-in hands the rule a terminated text: it ends at the first zero byte.
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::string terminated = text.substr(0, text.find('\0'));
    if (DecimalFieldValue(terminated.c_str()) != ModelValue(terminated)) std::abort();
    return 0;
}
