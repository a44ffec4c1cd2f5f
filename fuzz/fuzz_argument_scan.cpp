// Fuzzes the argument scanner against a byte-by-byte model of the separator and cap rules, with a
// single-byte and a double-byte lead-byte table.
#include "argument_scan.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

bool NoLeadBytes(unsigned char) {
    return false;
}
bool DoubleByteLeads(unsigned char byte) {
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

// The rules as the host's argument text defines them, one byte at a time: a lead byte with a
// byte after it makes a character of two, and a "|" separates only where a character begins.
int32_t ModelArgument(const uint8_t* text, size_t size, int16_t number, uint32_t cap,
                      LeadByteTest isLead, std::string* copied) {
    int32_t k = 1;
    uint32_t c = 0;
    bool secondByte = false;
    copied->clear();
    for (size_t i = 0; i < size; ++i) {
        if (c >= cap) return 0;
        const bool separator = text[i] == '|' && !secondByte;
        secondByte = !secondByte && !separator && isLead(text[i]);
        if (k == number) {
            if (!separator) {
                copied->push_back(static_cast<char>(text[i]));
                ++c;
            } else if (c > 0) {
                return static_cast<int32_t>(c);
            } else {
                ++k;
            }
        } else if (separator) {
            ++k;
        }
    }
    return static_cast<int32_t>(c);
}

} // namespace

// The first three bytes choose the argument number, the cap and the lead-byte table; the rest is
// the text.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) return 0;
    const int16_t number = static_cast<int16_t>(static_cast<int8_t>(data[0]));
    const uint32_t cap = static_cast<uint32_t>(data[1]) | (static_cast<uint32_t>(data[2] & 1) << 8);
    const LeadByteTest isLead = data[2] & 2 ? DoubleByteLeads : NoLeadBytes;
    const uint8_t* text = data + 3;
    const size_t length = size - 3;

    // Exactly cap bytes of room, so ASan sees any write past the cap.
    std::vector<char> destination(cap);
    std::vector<uint8_t> copy(text, text + length); // exactly the text, so over-reads show too
    const int32_t got =
        ScanArgument(reinterpret_cast<const char*>(copy.data()), static_cast<uint32_t>(length),
                     number, cap, destination.data(), isLead);
    std::string expected;
    const int32_t want = ModelArgument(text, length, number, cap, isLead, &expected);
    if (got != want) std::abort();
    if (got > 0 && std::memcmp(destination.data(), expected.data(), static_cast<size_t>(got)) != 0)
        std::abort();
    return 0;
}
