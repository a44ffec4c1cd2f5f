// The in-memory start-up record after LoadFormatPreference, called on the plug-in's own code
// against Wine's real registry: what each stored value leaves in the record.
#include "harness.h"
#include "registry_helpers.h"

#include "call_record.h"
#include "format_preference.h"

#include <cstring>
#include <string>

namespace {

const char kFormatKeyPath[] =
    "Software\\FileMaker\\FileMaker Pro\\5.5\\PlugIns\\Tesmun Plugin\\2.0v1";
const std::string kDefaultText = "1 (###) ###-####";

StoredValue ReadFormatValue() {
    return ReadValue(kFormatKeyPath, "format_string");
}

void StoreFormatValue(const std::string& bytes, DWORD type) {
    StoreValue(kFormatKeyPath, nullptr, "format_string", bytes, type);
}

// The record's text as a C text reads it, and its length byte.
std::string RecordText() {
    return std::string(formatPreference.characters,
                       strnlen(formatPreference.characters, sizeof formatPreference.characters));
}

class FormatRecord : public ::testing::Test {
  protected:
    FormatRecord() : record_(GetModuleHandleA(nullptr)) {
        currentCallRecord = reinterpret_cast<ExternCallRecord*>(record_.Bytes());
        saved_ = ReadFormatValue();
        RegDeleteTreeA(HKEY_CURRENT_USER, kFormatKeyPath);
    }
    ~FormatRecord() override {
        RegDeleteTreeA(HKEY_CURRENT_USER, kFormatKeyPath);
        if (saved_.status == ERROR_SUCCESS) StoreFormatValue(saved_.bytes, saved_.type);
    }

    // Loads the record over a stale one, so that only what the load wrote can pass.
    void Load() {
        std::memset(&formatPreference, 0x5A, sizeof formatPreference);
        LoadFormatPreference();
        const int length = formatPreference.length;
        ASSERT_TRUE(length >= 0 && length <= 30) << "length " << length;
        EXPECT_EQ('\0', formatPreference.characters[length]) << "length " << length;
    }

    hostside::CallRecord record_;
    StoredValue saved_;
    MessageBoxCatcher boxes_;
};

TEST_F(FormatRecord, FirstStartStoresTheDefaultAndTheSecondReadsItBack) {
    Load();
    EXPECT_EQ(16, formatPreference.length);
    EXPECT_EQ(kDefaultText, RecordText());
    // The registry adds the terminator that follows the 17 counted bytes in the record.
    EXPECT_EQ("\x10" + kDefaultText + '\0', ReadFormatValue().bytes);

    Load();
    EXPECT_EQ(16, formatPreference.length);
    EXPECT_EQ(kDefaultText, RecordText());
    EXPECT_TRUE(boxes_.Boxes().empty()) << boxes_.Boxes()[0].text;
}

TEST_F(FormatRecord, StoredValuesAsTheRecordHoldsThem) {
    const struct {
        const char* description;
        std::string stored;
        DWORD type;
        int8_t length;
        std::string text;
        const char* box; // empty when none
    } cases[] = {
        {"length 5, ABCDE",
         "\x05"
         "ABCDE",
         REG_BINARY, 5, "ABCDE", ""},
        {"length 8 over five characters keeps the default's tail",
         "\x08"
         "ABCDE",
         REG_BINARY, 8, "ABCDE#) ", ""},
        {"a length byte below the characters cuts them",
         "\x03"
         "ABCDE",
         REG_BINARY, 3, "ABC", ""},
        {"31 bytes", "\x1E" + std::string(30, 'z'), REG_BINARY, 30, std::string(30, 'z'), ""},
        {"the type is not looked at",
         "\x05"
         "ABCDE",
         REG_SZ, 5, "ABCDE", ""},
        {"a number is bytes too", std::string("\x03XYZ", 4), REG_DWORD, 3, "XYZ", ""},
        {"length 0", std::string(1, '\0'), REG_BINARY, 0, "", ""},
        {"an empty value leaves the default's length byte", "", REG_BINARY, 16, kDefaultText, ""},
        {"32 bytes", "\x05" + std::string(31, 'z'), REG_BINARY, 16, kDefaultText, "error 0"},
        {"length byte 31", "\x1F" + std::string(30, 'z'), REG_BINARY, 16, kDefaultText, "error 13"},
        {"negative length byte",
         "\x80"
         "ABCDE",
         REG_BINARY, 16, kDefaultText, "error 13"},
    };
    for (const auto& c : cases) {
        RegDeleteTreeA(HKEY_CURRENT_USER, kFormatKeyPath);
        StoreFormatValue(c.stored, c.type);
        const size_t boxesBefore = boxes_.Boxes().size();
        Load();
        EXPECT_EQ(c.length, formatPreference.length) << c.description;
        EXPECT_EQ(c.text, RecordText()) << c.description;
        const std::string box =
            boxes_.Boxes().size() > boxesBefore ? boxes_.Boxes().back().text : "";
        EXPECT_EQ(c.box, box) << c.description;
    }
}

} // namespace
