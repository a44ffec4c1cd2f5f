// The product name taken from a window title and the preferences key path, with a single-byte
// code page, with one whose lead bytes are those of code page 932, and with UTF-8.
#include "title_text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
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

const AnsiCodePage kSingleByte = {NoLeadBytes, false};
const AnsiCodePage kCp932 = {Cp932LeadBytes, false};
// Code page 65001: IsDBCSLeadByte answers no for every byte.
const AnsiCodePage kUtf8 = {NoLeadBytes, true};

// The product name made from `title` in a buffer of exactly the title's bytes, where
// AddressSanitizer sees any byte read or written past them.
std::string ProductOf(const std::string& title, const AnsiCodePage& codePage) {
    std::vector<char> buffer(title.begin(), title.end());
    const size_t length = ProductNameFromTitle(buffer.data(), buffer.size(), codePage);
    EXPECT_LE(length, title.size());
    return std::string(buffer.data(), std::min(length, title.size()));
}

struct TitleCase {
    const char* title;
    const char* product;
};

TEST(ProductName, CutAndReplacementsInASingleByteCodePage) {
    const TitleCase cases[] = {
        {"FileMaker Pro - [Contacts]", "FileMaker Pro"},
        {"FileMaker Developer - [Contacts]", "FileMaker Pro"},
        {"FileMaker Pro Advanced - [Contacts]", "FileMaker Pro"},
        {"FileMaker Pro", "FileMaker Pro"},
        {"", ""},
        // "- [" at byte 0, 1 or 2 leaves the whole title; from byte 3 the byte before it goes.
        {"- [x]", "- [x]"},
        {"A- [x]", "A- [x]"},
        {"AB- [x]", "AB- [x]"},
        {"ABC- [x]", "AB"},
        {"ABCD- [x]", "ABC"},
        {"A B - [x] - [y]", "A B"},
        {"ABC -[x] - [y]", "ABC -[x]"},
        // Case-sensitive, every occurrence, no overlap, and the second pass sees the first's
        // result without searching its own result again.
        {"developer ADVANCED advanced", "developer ADVANCED advanced"},
        {"DeveloperDeveloper", "ProPro"},
        {"DevelopeDeveloperr", "DevelopePror"},
        {"Devel Advancedoper", "Developer"},
        {" Advance Advancedd", " Advanced"},
        {" Advanced Advanced", ""},
        {"X Developer Advanced - [a - [b]]", "X Pro"},
        {"Developer - [", "Pro"},
    };
    for (const TitleCase& c : cases) {
        EXPECT_EQ(c.product, ProductOf(c.title, kSingleByte)) << "title \"" << c.title << "\"";
    }
}

TEST(ProductName, SearchesBeginOnlyOnCharacterBoundaries) {
    const TitleCase cases[] = {
        // 0x83 0x44 is one character: the "D" is its second byte, so this is no "Developer".
        {"\x83"
         "Developer",
         "\x83"
         "Developer"},
        // After a complete double-byte character the next "Developer" is a real one.
        {"\x83\x40"
         "Developer",
         "\x83\x40"
         "Pro"},
        {"\x83"
         "DeveloperDeveloper",
         "\x83"
         "DeveloperPro"},
        {"\x83 Advanced", "\x83 Advanced"},
        {"\x83\x83 Advanced", "\x83\x83"},
        // The "- [" that begins on a trailing byte is not the one that cuts.
        {"ABC\x83- [x]", "ABC\x83- [x]"},
        {"ABC\x83- [x] - [y]", "ABC\x83- [x]"},
        {"\x83\x40\x83\x40 - [x]", "\x83\x40\x83\x40"},
        // The whole character before "- [" goes: a lone lead byte left at the end would join
        // the backslash after it into one character and the key would lose a level.
        {"FileMaker Pro\x81\x40- [Customers]", "FileMaker Pro"},
        {"\x82\x60\x82\x61- [x]", "\x82\x60"},
        {"AB\x83\x40- [x]", "AB"},
        {"\x83\x40\x83\x40- [x] - [y]", "\x83\x40"},
        // A lead byte as the last byte has no second byte to skip.
        {"Developer\x83", "Pro\x83"},
        {"\x83", "\x83"},
    };
    for (const TitleCase& c : cases) {
        EXPECT_EQ(c.product, ProductOf(c.title, kCp932)) << "title \"" << c.title << "\"";
    }
    // The same bytes in a single-byte code page are all characters of their own.
    EXPECT_EQ("\x83Pro", ProductOf("\x83"
                                     "Developer",
                                     kSingleByte));
    EXPECT_EQ("AB\x83", ProductOf("AB\x83\x40- [x]", kSingleByte));
}

// With UTF-8 as the ANSI code page the character before "- [" goes with all its bytes; a part
// of it left behind would reach the key name as a broken sequence.
TEST(ProductName, Utf8CutTakesTheWholeCharacter) {
    const TitleCase cases[] = {
        // An ideographic space (3 bytes), an accented letter (2) and a printer symbol (4).
        {"FileMaker Pro\xE3\x80\x80- [Customers]", "FileMaker Pro"},
        {"Caf\xC3\xA9- [x]", "Caf"},
        {"AB\xF0\x9F\x96\xA8- [x]", "AB"},
        {"\xE2\x82\xAC- [x]", ""},
        // The "- [" at byte 2 keeps the whole title, whatever the characters.
        {"\xC3\xA9- [x]", "\xC3\xA9- [x]"},
        // A broken sequence loses only its last byte, as in a single-byte code page.
        {"ABC\x80- [x]", "ABC"},
        {"AB\xE3\x80- [x]", "AB\xE3"},
        {"A\x80\x80\x80\x80- [x]", "A\x80\x80\x80"},
        {"A\xC0\x80- [x]", "A\xC0"},
        // The searches need nothing more: no UTF-8 character holds an ASCII byte.
        {"\xC3\xA9"
         "Developer Advanced - [x]",
         "\xC3\xA9"
         "Pro"},
    };
    for (const TitleCase& c : cases) {
        EXPECT_EQ(c.product, ProductOf(c.title, kUtf8)) << "title \"" << c.title << "\"";
    }
    // The same bytes in a single-byte code page lose one byte.
    EXPECT_EQ("Caf\xC3", ProductOf("Caf\xC3\xA9- [x]", kSingleByte));
}

TEST(ProductName, LongTitlesOfEveryByte) {
    std::string everyByte;
    for (int byte = 1; byte < 256; ++byte)
        everyByte += static_cast<char>(byte);
    std::string title;
    for (int i = 0; i < 40; ++i)
        title += everyByte;
    EXPECT_EQ(title, ProductOf(title, kSingleByte));
    EXPECT_EQ(title, ProductOf(title, kCp932));
    EXPECT_EQ(title, ProductOf(title, kUtf8));

    const std::string longName(10000, 'x');
    EXPECT_EQ(longName, ProductOf(longName + " - [" + longName + "]", kSingleByte));
}

TEST(KeyPath, ComposedFromProductAndVersion) {
    char path[kKeyPathBufferSize];
    ASSERT_TRUE(ComposePreferencesKeyPath("FileMaker Pro", "7.0", path));
    EXPECT_STREQ("Software\\FileMaker\\FileMaker Pro\\7.0\\Preferences", path);
    ASSERT_TRUE(ComposePreferencesKeyPath("", "7.0\\sub", path));
    EXPECT_STREQ("Software\\FileMaker\\\\7.0\\sub\\Preferences", path);
    ASSERT_TRUE(ComposePreferencesKeyPath("", "", path));
    EXPECT_STREQ("Software\\FileMaker\\\\\\Preferences", path);
}

// "A" and then `count` - 1 more levels "\A".
std::string Levels(int count) {
    std::string path = "A";
    for (int level = 1; level < count; ++level)
        path += "\\A";
    return path;
}

TEST(KeyPath, EmptyLevels) {
    const struct {
        std::string path;
        LeadByteTest isLead;
        bool empty;
    } cases[] = {
        {"Software\\FileMaker\\FileMaker Pro\\7.0\\Preferences", NoLeadBytes, false},
        {"Software\\FileMaker\\\\7.0\\Preferences", NoLeadBytes, true},
        {"Software\\FileMaker\\FileMaker Pro\\\\Preferences", NoLeadBytes, true},
        {"\\Software", NoLeadBytes, true},
        {"Software\\", NoLeadBytes, true},
        {"\\", NoLeadBytes, true},
        {"", NoLeadBytes, true},
        {Levels(100), NoLeadBytes, false},
        {Levels(33) + "\\", NoLeadBytes, true},
        // In code page 932 "ソ" is 0x83 0x5C: its second byte separates no levels.
        {"Software\\\x83\\\\7.0", Cp932LeadBytes, false},
        {"Software\\\x83\\\\7.0", NoLeadBytes, true},
        {"Software\\\x83\\", Cp932LeadBytes, false},
        {"Software\\\x83", Cp932LeadBytes, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.empty, HasEmptyKeyLevel(c.path.c_str(), c.isLead))
            << "path \"" << c.path << "\"" << (c.isLead == NoLeadBytes ? "" : " in code page 932");
    }
}

// One call creates at most 32 levels, so a deeper path needs all but its last 32 levels to exist.
TEST(KeyPath, AncestorThatMustExistForOneCall) {
    const std::string root = "Software\\FileMaker";
    const struct {
        std::string path;
        LeadByteTest isLead;
        std::string ancestor;
    } cases[] = {
        {Levels(31), NoLeadBytes, ""},
        {Levels(32), NoLeadBytes, ""},
        {Levels(33), NoLeadBytes, "A"},
        {Levels(100), NoLeadBytes, Levels(68)},
        {root + "\\" + Levels(31), NoLeadBytes, "Software"},
        {root + "\\" + Levels(32), NoLeadBytes, root},
        {"Software\\" + std::string(200, 'x') + "\\" + Levels(22), NoLeadBytes, ""},
        // The second byte of "ソ" (0x83 0x5C) is no separator in code page 932.
        {Levels(32) + "\x83\\A", Cp932LeadBytes, ""},
        {Levels(32) + "\x83\\A", NoLeadBytes, "A"},
        {"\x83\\\\" + Levels(32), Cp932LeadBytes, "\x83\\"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.ancestor.size(), RequiredAncestorLength(c.path.c_str(), c.isLead))
            << "path \"" << c.path << "\"" << (c.isLead == NoLeadBytes ? "" : " in code page 932")
            << ", ancestor \"" << c.ancestor << "\"";
    }
}

// In code page 932 a version "7.0" + 0x83 would make, with the backslash after it, the one key
// "7.0ソPreferences"; a lead byte with its second byte, or one that is a second byte itself, is
// whole.
TEST(KeyPath, TextThatEndsInsideADoubleByteCharacter) {
    const struct {
        const char* text;
        LeadByteTest isLead;
        bool inside;
    } cases[] = {
        {"7.0\x83", Cp932LeadBytes, true},      {"\x83", Cp932LeadBytes, true},
        {"7.0\x83\x5C", Cp932LeadBytes, false}, {"\x83\x83", Cp932LeadBytes, false},
        {"\x83\x83\x83", Cp932LeadBytes, true}, {"7.0\x83", NoLeadBytes, false},
        {"7.0", Cp932LeadBytes, false},         {"", Cp932LeadBytes, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.inside, EndsInsideCharacter(c.text, c.isLead))
            << "text \"" << c.text << "\"" << (c.isLead == NoLeadBytes ? "" : " in code page 932");
    }
}

TEST(KeyPath, RefusesAnythingOver255Characters) {
    // 19 bytes of root, a separator and 12 of leaf leave 223 for the product and the version.
    const struct {
        size_t productLength;
        size_t versionLength;
        bool fits;
    } cases[] = {
        {220, 3, true}, {221, 3, false}, {23, 200, true}, {24, 200, false},   {223, 0, true},
        {0, 223, true}, {224, 0, false}, {0, 224, false}, {100000, 0, false}, {0, 100000, false},
    };
    for (const auto& c : cases) {
        const std::string product(c.productLength, 'p');
        const std::string version(c.versionLength, 'v');
        // AddressSanitizer guards the buffer's end.
        char path[kKeyPathBufferSize];
        const bool fits = ComposePreferencesKeyPath(product.c_str(), version.c_str(), path);
        EXPECT_EQ(c.fits, fits) << "product " << c.productLength << " version " << c.versionLength;
        if (fits) {
            EXPECT_EQ(32 + c.productLength + c.versionLength, std::strlen(path));
        } else {
            EXPECT_STREQ("", path) << "a refused path must leave nothing to use";
        }
    }
}

} // namespace
