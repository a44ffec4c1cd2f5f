// Derives the host product's name from a window title and composes its preferences key path;
// pure text logic, with the code page's lead-byte test passed in.
#pragma once

#include <string>

// Answers whether `byte` opens a double-byte character in the ANSI code page.
typedef bool (*LeadByteTest)(unsigned char byte);

// Cuts the title at its first "- [" (dropping the character before it) when that stands at byte 3
// or later, then normalises the product name: every "Developer" becomes "Pro", then every "
// Advanced" is removed. Searches are case-sensitive and begin only on character boundaries.
std::string ProductNameFromTitle(const std::string& title, LeadByteTest isLeadByte);

const unsigned kKeyPathBufferSize = 256;

// Writes "Software\FileMaker\<product>\<version>\Preferences" into `path`; answers false,
// leaving `path` empty, when the path would pass 255 characters.
bool ComposePreferencesKeyPath(const char* product, const char* version,
                               char (&path)[kKeyPathBufferSize]);
