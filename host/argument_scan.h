// Finds one argument in the host's "|"-separated argument text; pure byte logic.
#pragma once

#include "code_page.h"

#include <cstdint>

// Copies argument `number` (from 1) of `text` into `destination` (at most `cap` bytes) and
// returns its length. A "|" separates only where a character begins: after a lead byte it is
// the second byte of a double-byte character. A missing or empty argument, and one that is not
// shorter than the cap while more text follows, give 0; the cap counts bytes. Writes no
// terminator; makes one forward pass.
int32_t ScanArgument(const char* text, uint32_t size, int16_t number, uint32_t cap,
                     char* destination, LeadByteTest isLeadByte);
