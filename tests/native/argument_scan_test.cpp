// The argument scanner against a step-by-step model of the separator and cap rules, with a
// single-byte code page and with one whose lead bytes are those of code page 932.
#include "argument_scan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

namespace {

bool NoLeadBytes(unsigned char) {
    return false;
}

// The lead bytes of code page 932: 0x81 to 0x9F and 0xE0 to 0xFC.
bool Cp932LeadBytes(unsigned char byte) {
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

// The rules written out byte by byte, exactly as the host's argument text is defined, walking
// the characters as the title search does: a lead byte with a byte after it makes a character
// of two, and a "|" separates only where a character begins.
int32_t ModelArgument(const std::string& text, int16_t number, uint32_t cap, LeadByteTest isLead,
                      std::string* copied) {
    int32_t k = 1;
    uint32_t c = 0;
    bool complete = false;
    int32_t noted = 0;
    bool secondByte = false;
    copied->clear();
    for (size_t i = 0; i < text.size(); ++i) {
        if (c >= cap) return 0;
        const char byte = text[i];
        const bool separator = byte == '|' && !secondByte;
        secondByte = !secondByte && !separator && isLead(static_cast<unsigned char>(byte));
        if (k == number) {
            if (!separator) {
                copied->push_back(byte);
                ++c;
            } else if (c > 0) {
                noted = static_cast<int32_t>(c);
                complete = true;
                ++k;
            } else {
                ++k;
            }
        } else if (separator) {
            ++k;
        }
        if (complete) return noted;
    }
    return static_cast<int32_t>(c);
}

// What ScanArgument answers, as the text it copied.
std::string Scanned(const std::string& text, int16_t number, uint32_t cap, LeadByteTest isLead) {
    std::vector<char> destination(cap + 1, '#');
    const int32_t length = ScanArgument(text.data(), static_cast<uint32_t>(text.size()), number,
                                        cap, destination.data(), isLead);
    EXPECT_EQ('#', destination[cap]) << "written past the cap";
    return std::string(destination.data(), static_cast<size_t>(std::max(length, 0)));
}

TEST(ArgumentScan, AgreesWithTheModelOnRandomTexts) {
    std::mt19937 random(20261210);
    // A lead byte of code page 932, and one that is also a second byte, next to "|".
    const char alphabet[] = {'a', '|', ' ', '\0', '\x83', '\x9F'};
    for (const LeadByteTest isLead : {NoLeadBytes, Cp932LeadBytes}) {
        for (int round = 0; round < 20000; ++round) {
            std::string text(random() % 24, 'a');
            for (char& byte : text)
                byte = alphabet[random() % sizeof alphabet];
            const int16_t number = static_cast<int16_t>(static_cast<int>(random() % 8) - 1);
            const uint32_t cap = random() % 8;

            std::string expected;
            const int32_t expectedLength = ModelArgument(text, number, cap, isLead, &expected);
            std::vector<char> destination(cap + 1, '#');
            const int32_t length = ScanArgument(text.data(), static_cast<uint32_t>(text.size()),
                                                number, cap, destination.data(), isLead);
            const char* codePage = isLead == NoLeadBytes ? "single-byte" : "932";
            ASSERT_EQ(expectedLength, length) << "code page " << codePage << " text \"" << text
                                              << "\" number " << number << " cap " << cap;
            ASSERT_EQ(expected.substr(0, static_cast<size_t>(length)),
                      std::string(destination.data(), static_cast<size_t>(length)));
            ASSERT_EQ('#', destination[cap]) << "written past the cap";
        }
    }
}

// In code page 932 "ポ" is 0x83 0x7C and the full-width minus 0x81 0x7C: the "|" in them is a
// second byte, not a separator. Where the lead bytes before a "|" pair off, it separates.
TEST(ArgumentScan, BarAfterALeadByteIsItsSecondByte) {
    const std::string po = "\x83\x7C";
    const std::string minus = "\x81\x7C";
    const struct {
        std::string text;
        int16_t number;
        uint32_t cap;
        LeadByteTest isLead;
        std::string expected;
    } cases[] = {
        {"A" + po + "|7.0", 1, 200, Cp932LeadBytes, "A" + po},
        {"A" + po + "|7.0", 2, 200, Cp932LeadBytes, "7.0"},
        {"A" + minus + "B|7.0", 1, 200, Cp932LeadBytes, "A" + minus + "B"},
        {po + po + po + "|x", 1, 200, Cp932LeadBytes, po + po + po},
        {po + po + po + "|x", 2, 200, Cp932LeadBytes, "x"},
        // 0x83 0x83 is one character, so the "|" after it begins one; three lead bytes leave
        // the third waiting for the "|".
        {"\x83\x83||x", 1, 200, Cp932LeadBytes, "\x83\x83"},
        {"\x83\x83||x", 3, 200, Cp932LeadBytes, "x"},
        {"\x83\x83\x83||x", 1, 200, Cp932LeadBytes, "\x83\x83\x83|"},
        {"\x83\x83\x83||x", 2, 200, Cp932LeadBytes, "x"},
        // Lead bytes pair off from the argument's start, not from the text's.
        {"\x83||" + po, 2, 200, Cp932LeadBytes, po},
        {"a|" + po, 2, 200, Cp932LeadBytes, po},
        {"a|\x83", 2, 200, Cp932LeadBytes, "\x83"},
        // The cap counts bytes: a "|" that is a second byte does not end the argument.
        {"ab" + po + "|c", 1, 4, Cp932LeadBytes, ""},
        {"ab" + po + "|c", 1, 5, Cp932LeadBytes, "ab" + po},
        {"ab" + po, 1, 4, Cp932LeadBytes, "ab" + po},
        {"ab" + po + "|c", 2, 5, Cp932LeadBytes, "c"},
        // In a single-byte code page the same bytes are characters of their own.
        {"A" + po + "|7.0", 1, 200, NoLeadBytes, "A\x83"},
        {"A" + po + "|7.0", 2, 200, NoLeadBytes, ""},
        {"A" + po + "|7.0", 3, 200, NoLeadBytes, "7.0"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.expected, Scanned(c.text, c.number, c.cap, c.isLead))
            << "text \"" << c.text << "\" number " << c.number << " cap " << c.cap
            << (c.isLead == NoLeadBytes ? " single-byte" : " code page 932");
    }
}

TEST(ArgumentScan, EmptyOrNullTextHasNoArguments) {
    char destination[4] = "##";
    EXPECT_EQ(0, ScanArgument(nullptr, 0, 1, 3, destination, Cp932LeadBytes));
    EXPECT_EQ(0, ScanArgument("", 0, 1, 3, destination, Cp932LeadBytes));
    EXPECT_EQ('#', destination[0]);
}

} // namespace
