// The argument scanner against a step-by-step model of the separator and cap rules.
#include "argument_scan.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

// The rules written out byte by byte, exactly as the host's argument text is defined.
int32_t ModelArgument(const std::string& text, int16_t number, uint32_t cap, std::string* copied) {
    int32_t k = 1;
    uint32_t c = 0;
    bool complete = false;
    int32_t noted = 0;
    copied->clear();
    for (size_t i = 0; i < text.size(); ++i) {
        if (c >= cap) return 0;
        const char byte = text[i];
        if (k == number) {
            if (byte != '|') {
                copied->push_back(byte);
                ++c;
            } else if (c > 0) {
                noted = static_cast<int32_t>(c);
                complete = true;
                ++k;
            } else {
                ++k;
            }
        } else if (byte == '|') {
            ++k;
        }
        if (complete) return noted;
    }
    return static_cast<int32_t>(c);
}

TEST(ArgumentScan, AgreesWithTheModelOnRandomTexts) {
    std::mt19937 random(20261210);
    const char alphabet[] = {'a', '|', ' ', '\0', '\x83'};
    for (int round = 0; round < 20000; ++round) {
        std::string text(random() % 24, 'a');
        for (char& byte : text)
            byte = alphabet[random() % sizeof alphabet];
        const int16_t number = static_cast<int16_t>(static_cast<int>(random() % 8) - 1);
        const uint32_t cap = random() % 8;

        std::string expected;
        const int32_t expectedLength = ModelArgument(text, number, cap, &expected);
        std::vector<char> destination(cap + 1, '#');
        const int32_t length = ScanArgument(text.data(), static_cast<uint32_t>(text.size()), number,
                                            cap, destination.data());
        ASSERT_EQ(expectedLength, length)
            << "text \"" << text << "\" number " << number << " cap " << cap;
        ASSERT_EQ(expected.substr(0, static_cast<size_t>(length)),
                  std::string(destination.data(), static_cast<size_t>(length)));
        ASSERT_EQ('#', destination[cap]) << "written past the cap";
    }
}

TEST(ArgumentScan, EmptyOrNullTextHasNoArguments) {
    char destination[4] = "##";
    EXPECT_EQ(0, ScanArgument(nullptr, 0, 1, 3, destination));
    EXPECT_EQ(0, ScanArgument("", 0, 1, 3, destination));
    EXPECT_EQ('#', destination[0]);
}

} // namespace
