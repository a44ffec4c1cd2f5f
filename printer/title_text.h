// Derives the host product's name from a window title and composes its preferences key path;
// pure text logic, with the code page's lead-byte test passed in.
#pragma once

#include <string>

typedef bool (*LeadByteTest)(unsigned char byte);

// Cuts the title at its first "- [" (dropping the byte before it) and normalises the product
// name: "Developer" becomes "Pro", then " Advanced" is removed.
std::string ProductNameFromTitle(const std::string& title, LeadByteTest isLeadByte);

const unsigned kKeyPathBufferSize = 256;

// Writes "Software\FileMaker\<product>\<version>\Preferences" into `path`; answers false,
// leaving `path` empty, when the path would pass 255 characters.
bool ComposePreferencesKeyPath(const char* product, const char* version,
                               char (&path)[kKeyPathBufferSize]);
