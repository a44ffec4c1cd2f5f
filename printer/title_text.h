// Derives the host product's name from a window title and composes its preferences key path;
// pure text logic, with the code page's rules passed in.
#pragma once

#include "code_page.h"

#include <cstddef>

// Turns the `length` bytes of `title` into the product name, in place, and answers its length:
// cuts the title at its first "- [" (dropping the character before it, all its bytes) when that
// stands at byte 3 or later, then normalises the name: every "Developer" becomes "Pro", then
// every " Advanced" is removed. Searches are case-sensitive and begin only on character
// boundaries. The name is never longer than the title, so it needs no storage of its own;
// nothing is read or written from byte `length` on, and no terminator is written.
size_t ProductNameFromTitle(char* title, size_t length, const AnsiCodePage& codePage);

const unsigned kKeyPathBufferSize = 256;

// Writes "Software\FileMaker\<product>\<version>\Preferences" into `path`; answers false,
// leaving `path` empty, when the path would pass 255 characters.
bool ComposePreferencesKeyPath(const char* product, const char* version,
                               char (&path)[kKeyPathBufferSize]);

// Whether `path` has an empty level: a backslash at either end, or two together. A backslash that
// is the second byte of a double-byte character separates no levels.
bool HasEmptyKeyLevel(const char* path, LeadByteTest isLeadByte);

// Windows creates at most this many levels of a key path in one call; the tree may be deeper.
const unsigned kMostLevelsCreatedAtOnce = 32;

// How many leading bytes of `path`, a path without empty levels, name the ancestor that must
// exist already for one call to create the path: all of it but its last 32 levels. 0 when the
// path has at most 32 levels, which one call creates from the root.
size_t RequiredAncestorLength(const char* path, LeadByteTest isLeadByte);

// Whether `text` ends inside a double-byte character: its last character is a lead byte without
// a second byte. Put before a key path's backslash, that byte would take the backslash as its
// second byte, and two levels would be one key of another name.
bool EndsInsideCharacter(const char* text, LeadByteTest isLeadByte);
