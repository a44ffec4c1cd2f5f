// The plug-in's format record as it is stored and held in memory; pure logic, so any bytes a
// registry read can leave in the record can be fed to it.
#pragma once

#include <cstdint>

// A length byte followed by up to 30 characters and, in memory, a terminator.
struct FormatPreference {
    int8_t length;
    char characters[31];
};
static_assert(sizeof(FormatPreference) == 32, "a length byte, 30 characters, a terminator");

const int8_t kLongestFormatText = 30;

// Length 16, "1 (###) ###-####", and zero bytes after it.
void SetDefaultFormatRecord(FormatPreference& record);

// A stored value fits the record only if it leaves room for the terminator: 31 bytes or less.
bool StoredRecordSizeAccepted(uint32_t size);

// Finishes a record into which a read has put `bytesRead` bytes from its length byte on: ends
// the text at the length byte. Refuses (false, record unchanged) a read larger than a stored
// record can be and a length byte that is negative or above 30, which would place the
// terminator outside the record. Characters the read did not reach keep what they held.
bool FinishStoredRecord(FormatPreference& record, uint32_t bytesRead);
