// The plug-in's format record as it is stored and held in memory; pure logic.
#pragma once

#include <cstdint>

// A length byte followed by up to 30 characters and, in memory, a terminator.
struct FormatPreference {
    int8_t length;
    char characters[31];
};
static_assert(sizeof(FormatPreference) == 32, "a length byte, 30 characters, a terminator");
