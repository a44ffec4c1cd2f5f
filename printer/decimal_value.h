// Turns a decimal text into the 16-bit value a DEVMODE field receives; pure text logic.
#pragma once

#include <cstdint>

// Skips leading white space, takes one optional sign and the digits up to the first other
// character; no digits give 0. The result is the number modulo 65536 as a signed value.
int16_t DecimalFieldValue(const char* text);
