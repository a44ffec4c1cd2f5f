// The plug-in's format record as it is stored and held in memory.
#include "format_record.h"

#include <cstring>

namespace {

const char kDefaultFormat[] = "1 (###) ###-####";

} // namespace

void SetDefaultFormatRecord(FormatPreference& record) {
    record.length = static_cast<int8_t>(sizeof kDefaultFormat - 1);
    std::memset(record.characters, 0, sizeof record.characters);
    std::memcpy(record.characters, kDefaultFormat, sizeof kDefaultFormat);
}

bool StoredRecordSizeAccepted(uint32_t size) {
    return size < sizeof(FormatPreference);
}

bool FinishStoredRecord(FormatPreference& record, uint32_t bytesRead) {
    if (!StoredRecordSizeAccepted(bytesRead)) return false;
    if (record.length < 0 || record.length > kLongestFormatText) return false;
    record.characters[record.length] = '\0';
    return true;
}
