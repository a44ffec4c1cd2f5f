// The plug-in's own per-user preference record, made sure of at every accepted start-up.
#include "format_preference.h"

#include <cstring>

FormatPreference formatPreference;

void ResetFormatPreference() {
    static const char kDefault[] = "1 (###) ###-####";
    formatPreference.length = static_cast<int8_t>(sizeof kDefault - 1);
    std::memset(formatPreference.characters, 0, sizeof formatPreference.characters);
    std::memcpy(formatPreference.characters, kDefault, sizeof kDefault);
}

void LoadFormatPreference() { ResetFormatPreference(); }
