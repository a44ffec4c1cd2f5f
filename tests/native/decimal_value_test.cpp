// The decimal rule for the DEVMODE fields, against the C library and a modular model.
#include "decimal_value.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <string>

namespace {

// Wraps a number into the field's signed 16 bits.
int16_t Field(long long number) {
    const long long low = ((number % 65536) + 65536) % 65536;
    return static_cast<int16_t>(low >= 32768 ? low - 65536 : low);
}

// The rule spelled out with the remainder taken at every digit, so any length fits.
int16_t ModelValue(const std::string& text) {
    size_t i = text.find_first_not_of(" \t\n\v\f\r");
    if (i == std::string::npos) return 0;
    bool negative = false;
    if (text[i] == '+' || text[i] == '-') negative = text[i++] == '-';
    long long remainder = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        remainder = (remainder * 10 + (text[i] - '0')) % 65536;
    return Field(negative ? -remainder : remainder);
}

TEST(DecimalValue, Cases) {
    const std::string thousandNines(1000, '9'); // 10^1000 - 1, which is -1 modulo 65536
    const struct {
        std::string text;
        int16_t expected;
    } cases[] = {
        {"", 0},
        {"abc", 0},
        {"-", 0},
        {"+", 0},
        {"  12", 12},
        {"\t\n\v\f\r7", 7},
        {"-3", -3},
        {"+5", 5},
        {"7 copies", 7},
        {"12x34", 12},
        {"- 3", 0},
        {"+-3", 0},
        {"32767", 32767},
        {"32768", -32768},
        {"65535", -1},
        {"65536", 0},
        {"65537", 1},
        {"-65536", 0},
        {"-32769", 32767},
        {"0007", 7},
        {"4294967296", 0},
        {"4294967297", 1},
        {thousandNines, -1},
        {"-" + thousandNines, 1},
        {std::string(1000, '0') + "42", 42},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.expected, DecimalFieldValue(c.text.c_str())) << "text \"" << c.text << "\"";
}

TEST(DecimalValue, StopsAtTheTerminatorAndAcceptsNull) {
    const char text[] = {'1', '2', '\0', '3'};
    EXPECT_EQ(12, DecimalFieldValue(text));
    EXPECT_EQ(0, DecimalFieldValue(nullptr));
}

TEST(DecimalValue, AgreesWithStrtollWhereItCannotOverflow) {
    std::mt19937 random(20240705);
    const char alphabet[] = " \t+-0123456789x\xA0";
    for (int round = 0; round < 20000; ++round) {
        std::string text(random() % 18, ' ');
        for (char& c : text)
            c = alphabet[random() % (sizeof alphabet - 1)];
        EXPECT_EQ(Field(std::strtoll(text.c_str(), nullptr, 10)), DecimalFieldValue(text.c_str()))
            << "text \"" << text << "\"";
    }
}

TEST(DecimalValue, AgreesWithTheModelOnLongDigitRuns) {
    std::mt19937 random(7);
    for (int round = 0; round < 2000; ++round) {
        std::string text = (random() % 2 ? "-" : "") + std::string(random() % 1200, '0');
        for (char& c : text)
            if (c == '0') c = static_cast<char>('0' + random() % 10);
        EXPECT_EQ(ModelValue(text), DecimalFieldValue(text.c_str())) << "text \"" << text << "\"";
    }
}

} // namespace
