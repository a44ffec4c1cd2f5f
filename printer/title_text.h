// Derives the host product's name from a window title and composes its preferences key path;
// pure text logic, with the code page's rules passed in.
#pragma once

#include "code_page.h"

#include <string>

// Cuts the title at its first "- [" (dropping the character before it, all its bytes) when that
// stands at byte 3 or later, then normalises the product name: every "Developer" becomes "Pro",
// then every " Advanced" is removed. Searches are case-sensitive and begin only on character
// boundaries.
std::string ProductNameFromTitle(const std::string& title, const AnsiCodePage& codePage);

const unsigned kKeyPathBufferSize = 256;

// Writes "Software\FileMaker\<product>\<version>\Preferences" into `path`; answers false,
// leaving `path` empty, when the path would pass 255 characters.
bool ComposePreferencesKeyPath(const char* product, const char* version,
                               char (&path)[kKeyPathBufferSize]);

// Windows takes a key path of at most this many levels in one call.
const unsigned kMostKeyLevels = 32;

// What makes Windows refuse a key path that Wine takes: an empty level (a backslash at either
// end, or two together), which Wine skips and so writes one level up, and more levels than
// Windows takes in one call, which Wine creates.
enum class KeyPathFault { kNone, kEmptyLevel, kTooManyLevels };

// The fault of `path`, an empty level before too many levels. A backslash that is the second
// byte of a double-byte character separates no levels.
KeyPathFault FindKeyPathFault(const char* path, LeadByteTest isLeadByte);

// Whether `text` ends inside a double-byte character: its last character is a lead byte without
// a second byte. Put before a key path's backslash, that byte would take the backslash as its
// second byte, and two levels would be one key of another name.
bool EndsInsideCharacter(const char* text, LeadByteTest isLeadByte);
