// How the ANSI code page makes characters of bytes, as the pure text routines are given it.
#pragma once

// Answers whether `byte` opens a double-byte character in the ANSI code page.
typedef bool (*LeadByteTest)(unsigned char byte);

// The ANSI code page: its lead-byte test, and whether it is UTF-8 (code page 65001), whose
// characters of two to four bytes have no lead bytes in the double-byte sense.
struct AnsiCodePage {
    LeadByteTest isLeadByte;
    bool utf8;
};

// The process's ANSI code page; defined in code_page.cpp, with the platform's calls.
AnsiCodePage ProcessAnsiCodePage();
