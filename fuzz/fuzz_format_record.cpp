// Fuzzes the stored format record: any bytes of any length, as a registry read could leave
// them, never write outside the 32-byte record and always leave a terminated text.
#include "format_record.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Exactly the record's size on the heap, so AddressSanitizer sees a byte past it.
    std::unique_ptr<FormatPreference> record(new FormatPreference);
    SetDefaultFormatRecord(*record);
    const uint32_t stored = static_cast<uint32_t>(size);
    if (!StoredRecordSizeAccepted(stored)) {
        // Refused before any read: the record keeps its default.
        if (stored <= 31) std::abort();
        if (FinishStoredRecord(*record, stored)) std::abort();
        return 0;
    }
    std::memcpy(record.get(), data, size); // what the read puts there
    const FormatPreference before = *record;
    if (FinishStoredRecord(*record, stored)) {
        if (record->length < 0 || record->length > kLongestFormatText) std::abort();
        if (record->characters[record->length] != '\0') std::abort();
        if (std::memcmp(record->characters, before.characters, record->length) != 0) std::abort();
    } else if (std::memcmp(record.get(), &before, sizeof before) != 0) {
        std::abort(); // a refused record is left as it was, for the caller to reset
    }
    return 0;
}
