// Text for the terminal: UTF-8 output, texts shown exactly, and command lines to paste.
#include "terminal_text.h"

#include <windows.h>

#include <cctype>
#include <cstdarg>
#include <cstring>

namespace {

// Control characters (C0, DEL and C1) and a lone half of a surrogate pair would not print.
bool Printable(wchar_t c) {
    return c >= 0x20 && !(c >= 0x7F && c < 0xA0) && !(c >= 0xD800 && c < 0xE000);
}

// Spaces other than the ASCII blank, and characters that show nothing (a soft hyphen, the
// zero-width and direction marks): on a terminal each looks like a blank or like nothing.
bool LooksLikeAnother(wchar_t c) {
    return c == 0xA0 || c == 0xAD || c == 0x1680 || (c >= 0x2000 && c <= 0x200F) ||
           (c >= 0x2028 && c <= 0x202F) || (c >= 0x205F && c <= 0x2064) || c == 0x3000 ||
           c == 0xFEFF;
}

// The character of the ANSI code page that starts at text[i], as UTF-8, with the count of its
// bytes in `length`; empty when it would not print or is no character of the code page, and
// with `exact`, when it looks like another.
std::string PrintableCharacter(const std::string& text, size_t i, UINT codePage, size_t* length,
                               bool exact = false) {
    const unsigned char byte = static_cast<unsigned char>(text[i]);
    *length = i + 1 < text.size() && IsDBCSLeadByteEx(codePage, byte) ? 2 : 1;
    wchar_t wide[2];
    const int characters = MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, &text[i],
                                               static_cast<int>(*length), wide, 2);
    if (characters != 1 || !Printable(wide[0]) || (exact && LooksLikeAnother(wide[0])))
        return std::string();
    char utf8[4];
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, wide, 1, utf8, sizeof utf8, nullptr, nullptr);
    return std::string(utf8, static_cast<size_t>(bytes > 0 ? bytes : 0));
}

// Text of the ANSI code page as UTF-8 for a line to paste, with ASCII control characters kept
// for ShellWord to quote; false when another character would not print.
bool PastableText(const std::string& text, std::string* utf8) {
    const UINT codePage = GetACP();
    utf8->clear();
    for (size_t i = 0; i < text.size();) {
        // ASCII is itself in every ANSI code page and in UTF-8, and never begins a pair.
        if (static_cast<unsigned char>(text[i]) < 0x80) {
            *utf8 += text[i++];
            continue;
        }
        size_t length = 1;
        const std::string character = PrintableCharacter(text, i, codePage, &length);
        if (character.empty()) return false;
        *utf8 += character;
        i += length;
    }
    return true;
}

// A UTF-8 word as a POSIX shell reads it back, quoted when it needs to be. A word with an ASCII
// control character gets $'...' quoting, the only kind in which a pasted line can hold one;
// the escapes are octal, since a hexadecimal escape may swallow a digit after it. It goes byte
// by byte, which is safe in UTF-8 only: there no byte of a longer character is ASCII, while in
// a double-byte code page the second byte of a character may be a backslash.
std::string ShellWord(const std::string& word) {
    bool plain = !word.empty();
    bool control = false;
    for (unsigned char c : word) {
        plain = plain && (std::isalnum(c) || std::strchr("_./=:-", c) != nullptr);
        control = control || c < 0x20 || c == 0x7F;
    }
    if (plain) return word;
    if (!control) {
        std::string quoted = "'";
        for (char c : word)
            quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
        return quoted + "'";
    }
    std::string quoted = "$'";
    for (unsigned char c : word) {
        if (c == '\t') {
            quoted += "\\t";
        } else if (c == '\n') {
            quoted += "\\n";
        } else if (c < 0x20 || c == 0x7F) {
            char octal[8];
            std::snprintf(octal, sizeof octal, "\\%03o", c);
            quoted += octal;
        } else if (c == '\\' || c == '\'') {
            quoted += '\\';
            quoted += static_cast<char>(c);
        } else {
            quoted += static_cast<char>(c);
        }
    }
    return quoted + "'";
}

} // namespace

void Write(FILE* stream, const std::string& text) {
    std::fflush(stream);
    HANDLE handle = GetStdHandle(stream == stderr ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (GetConsoleMode(handle, &mode)) {
        std::wstring wide(text.size(), L'\0');
        const int length =
            MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &wide[0],
                                static_cast<int>(wide.size()));
        DWORD written = 0;
        WriteConsoleW(handle, wide.data(), static_cast<DWORD>(length > 0 ? length : 0), &written,
                      nullptr);
        return;
    }
    std::fwrite(text.data(), 1, text.size(), stream);
    std::fflush(stream);
}

void Print(FILE* stream, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    char small[512];
    const int length = std::vsnprintf(small, sizeof small, format, arguments);
    va_end(arguments);
    if (length < 0) return;
    if (static_cast<size_t>(length) < sizeof small) {
        Write(stream, std::string(small, static_cast<size_t>(length)));
        return;
    }
    std::string text(static_cast<size_t>(length) + 1, '\0');
    va_start(arguments, format);
    std::vsnprintf(&text[0], text.size(), format, arguments);
    va_end(arguments);
    text.resize(static_cast<size_t>(length));
    Write(stream, text);
}

std::string Shown(const std::string& text, bool exact) {
    const UINT codePage = GetACP();
    std::string shown;
    for (size_t i = 0; i < text.size();) {
        size_t length = 1;
        const std::string character = PrintableCharacter(text, i, codePage, &length, exact);
        if (text[i] == '\\') {
            shown += exact ? "\\\\" : "\\";
            i += 1;
        } else if (!character.empty()) {
            shown += character;
            i += length;
        } else {
            // Only the first byte: a broken pair's second byte may well be a character itself.
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", static_cast<unsigned char>(text[i]));
            shown += hex;
            i += 1;
        }
    }
    return shown;
}

std::string PastableLine(const std::vector<std::string>& words) {
    std::string line;
    for (const std::string& word : words) {
        std::string utf8;
        if (!PastableText(word, &utf8)) return std::string();
        line += (line.empty() ? "" : " ") + ShellWord(utf8);
    }
    return line;
}
