// The format record after a registry read: which sizes fit and how the text is ended.
#include "format_record.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

const std::string kDefaultText = "1 (###) ###-####";

// A default record over which a read of `stored` has landed, as the registry leaves it.
FormatPreference RecordAfterRead(const std::string& stored) {
    FormatPreference record;
    SetDefaultFormatRecord(record);
    std::memcpy(&record, stored.data(), stored.size());
    return record;
}

TEST(FormatRecord, DefaultIsSixteenCharactersAndATerminator) {
    FormatPreference record;
    std::memset(&record, 0x5A, sizeof record);
    SetDefaultFormatRecord(record);
    EXPECT_EQ(16, record.length);
    EXPECT_EQ(kDefaultText, std::string(record.characters));
    // Every byte after the text is zero too: a later read of a shorter value that carries a
    // length byte beyond its own characters shows them, and they must be the default's.
    std::string expected(sizeof record, '\0');
    expected[0] = 16;
    expected.replace(1, kDefaultText.size(), kDefaultText);
    EXPECT_EQ(expected, std::string(reinterpret_cast<const char*>(&record), sizeof record));
}

TEST(FormatRecord, AcceptsStoredSizesUpTo31Bytes) {
    for (uint32_t size : {0u, 1u, 17u, 31u})
        EXPECT_TRUE(StoredRecordSizeAccepted(size)) << size;
    for (uint32_t size : {32u, 33u, 5000u, 0xFFFFFFFFu})
        EXPECT_FALSE(StoredRecordSizeAccepted(size)) << size;
}

TEST(FormatRecord, TextEndsAtTheLengthByte) {
    const struct {
        std::string stored;
        std::string text;
    } cases[] = {
        {"\x05"
         "ABCDE",
         "ABCDE"},
        // Characters beyond the read keep the default's.
        {"\x08"
         "ABCDE",
         "ABCDE#) "},
        {"\x03"
         "ABCDE",
         "ABC"},
        {std::string(1, '\0'), ""},
        {"\x1E" + std::string(30, 'z'), std::string(30, 'z')},
        // A length beyond the default text reaches the zero bytes behind it.
        {"\x1E", kDefaultText},
        // Nothing read: the default's own length byte stands.
        {"", kDefaultText},
    };
    for (const auto& c : cases) {
        FormatPreference record = RecordAfterRead(c.stored);
        ASSERT_TRUE(FinishStoredRecord(record, static_cast<uint32_t>(c.stored.size())))
            << "stored " << c.stored;
        EXPECT_EQ(c.text, std::string(record.characters)) << "stored " << c.stored;
    }
}

TEST(FormatRecord, EveryLengthByteEitherFitsOrIsRefused) {
    for (int byte = 0; byte < 256; ++byte) {
        FormatPreference record =
            RecordAfterRead(std::string(1, static_cast<char>(byte)) + std::string(30, 'q'));
        const FormatPreference before = record;
        const bool finished = FinishStoredRecord(record, 31);
        const int length = static_cast<int8_t>(byte);
        if (length >= 0 && length <= 30) {
            ASSERT_TRUE(finished) << "length byte " << byte;
            EXPECT_EQ(std::string(static_cast<size_t>(length), 'q'), std::string(record.characters))
                << "length byte " << byte;
        } else {
            ASSERT_FALSE(finished) << "length byte " << byte;
            EXPECT_EQ(0, std::memcmp(&before, &record, sizeof record))
                << "a refused record changed, length byte " << byte;
        }
    }
}

TEST(FormatRecord, RefusesAReadLargerThanAStoredRecord) {
    FormatPreference record = RecordAfterRead("\x05"
                                              "ABCDE");
    EXPECT_FALSE(FinishStoredRecord(record, 32));
    EXPECT_FALSE(FinishStoredRecord(record, 0xFFFFFFFFu));
}

} // namespace
