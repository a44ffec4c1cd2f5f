// Turns a decimal text into the 16-bit value a DEVMODE field receives.
#include "decimal_value.h"

int16_t DecimalFieldValue(const char*) { return 0; }
