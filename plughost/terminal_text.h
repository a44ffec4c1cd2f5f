// Text for the terminal: UTF-8 output, texts shown exactly, and command lines to paste.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

// Writes UTF-8 text. A console gets it as wide text, since its own code page may be another;
// a pipe or a file gets the bytes.
void Write(FILE* stream, const std::string& text);

// printf to `stream`; every text argument that comes from outside goes through Shown first.
__attribute__((format(__MINGW_PRINTF_FORMAT, 2, 3))) void Print(FILE* stream, const char* format,
                                                                ...);

// Text of the ANSI code page (what the plug-in, Windows and our arguments hand us) as UTF-8 for
// the terminal. What would not print, and bytes that are no character of the code page, show
// as \xHH; with `exact`, so do characters that look like a blank or like nothing, and a
// backslash shows doubled, so that two texts that differ show apart.
std::string Shown(const std::string& text, bool exact = false);

// A command line that gives `words` back exactly when pasted into a POSIX shell, empty if one
// of them holds a character that the terminal cannot be shown as it is.
std::string PastableLine(const std::vector<std::string>& words);
