// Derives the host product's name from a window title and composes its preferences key path.
#include "title_text.h"

std::string ProductNameFromTitle(const std::string& title, LeadByteTest) { return title; }

bool ComposePreferencesKeyPath(const char*, const char*, char (&path)[kKeyPathBufferSize]) {
    path[0] = '\0';
    return false;
}
