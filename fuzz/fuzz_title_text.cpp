// Fuzzes the cutting and normalising of window titles against a plain model, with an ASCII and
// a double-byte lead-byte table, and with UTF-8.
#include "title_text.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

bool NoLeadBytes(unsigned char) {
    return false;
}
bool DoubleByteLeads(unsigned char byte) {
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

// How many bytes the UTF-8 character at `i` takes, read forward: a well-formed opening byte
// and all its continuation bytes, or else the one byte.
size_t Utf8Length(const std::string& text, size_t i) {
    const unsigned char byte = static_cast<unsigned char>(text[i]);
    const size_t length = byte >= 0xC2 && byte <= 0xDF   ? 2
                          : byte >= 0xE0 && byte <= 0xEF ? 3
                          : byte >= 0xF0 && byte <= 0xF4 ? 4
                                                         : 1;
    if (i + length > text.size()) return 1;
    for (size_t next = i + 1; next < i + length; ++next) {
        if ((static_cast<unsigned char>(text[next]) & 0xC0) != 0x80) return 1;
    }
    return length;
}

// Where each character of `text` begins.
std::vector<bool> CharacterStarts(const std::string& text, const AnsiCodePage& codePage) {
    std::vector<bool> starts(text.size(), false);
    for (size_t i = 0; i < text.size();) {
        starts[i] = true;
        if (codePage.utf8) {
            i += Utf8Length(text, i);
        } else {
            i += codePage.isLeadByte(static_cast<unsigned char>(text[i])) && i + 1 < text.size()
                     ? 2
                     : 1;
        }
    }
    return starts;
}

size_t FindAtBoundary(const std::string& text, const std::string& piece, size_t from,
                      const AnsiCodePage& codePage) {
    const std::vector<bool> starts = CharacterStarts(text, codePage);
    for (size_t i = from; i + piece.size() <= text.size(); ++i) {
        if (starts[i] && text.compare(i, piece.size(), piece) == 0) return i;
    }
    return std::string::npos;
}

std::string ReplaceAll(std::string text, const std::string& piece, const std::string& with,
                       const AnsiCodePage& codePage) {
    for (size_t at = FindAtBoundary(text, piece, 0, codePage); at != std::string::npos;
         at = FindAtBoundary(text, piece, at + with.size(), codePage)) {
        text.replace(at, piece.size(), with);
    }
    return text;
}

std::string ModelProductName(const std::string& title, const AnsiCodePage& codePage) {
    std::string name = title;
    const size_t cut = FindAtBoundary(title, "- [", 0, codePage);
    if (cut != std::string::npos && cut > 2) {
        // The whole character before the match goes, one byte or up to four.
        const std::vector<bool> starts = CharacterStarts(title, codePage);
        size_t previous = cut - 1;
        while (!starts[previous])
            --previous;
        name = title.substr(0, previous);
    }
    name = ReplaceAll(name, "Developer", "Pro", codePage);
    return ReplaceAll(name, " Advanced", "", codePage);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    // Code page 65001 has no lead bytes in the double-byte sense.
    const AnsiCodePage codePage = data[0] & 2   ? AnsiCodePage{NoLeadBytes, true}
                                  : data[0] & 1 ? AnsiCodePage{DoubleByteLeads, false}
                                                : AnsiCodePage{NoLeadBytes, false};
    // A window title never holds a zero byte: it ends there.
    const std::string raw(reinterpret_cast<const char*>(data + 1), size - 1);
    const std::string title = raw.substr(0, raw.find('\0'));

    // Made in place, in a block of exactly the title's bytes: AddressSanitizer sees any byte
    // read or written past them.
    std::vector<char> buffer(title.begin(), title.end());
    const size_t length = ProductNameFromTitle(buffer.data(), buffer.size(), codePage);
    if (length > title.size()) std::abort();
    if (std::string(buffer.data(), length) != ModelProductName(title, codePage)) std::abort();
    return 0;
}
