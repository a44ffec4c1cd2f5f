// Fuzzes the cutting and normalising of window titles against a plain model, with an ASCII and
// a double-byte lead-byte table.
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

// Where each character of `text` begins.
std::vector<bool> CharacterStarts(const std::string& text, LeadByteTest isLead) {
    std::vector<bool> starts(text.size(), false);
    for (size_t i = 0; i < text.size();) {
        starts[i] = true;
        i += isLead(static_cast<unsigned char>(text[i])) && i + 1 < text.size() ? 2 : 1;
    }
    return starts;
}

size_t FindAtBoundary(const std::string& text, const std::string& piece, size_t from,
                      LeadByteTest isLead) {
    const std::vector<bool> starts = CharacterStarts(text, isLead);
    for (size_t i = from; i + piece.size() <= text.size(); ++i) {
        if (starts[i] && text.compare(i, piece.size(), piece) == 0) return i;
    }
    return std::string::npos;
}

std::string ReplaceAll(std::string text, const std::string& piece, const std::string& with,
                       LeadByteTest isLead) {
    for (size_t at = FindAtBoundary(text, piece, 0, isLead); at != std::string::npos;
         at = FindAtBoundary(text, piece, at + with.size(), isLead)) {
        text.replace(at, piece.size(), with);
    }
    return text;
}

std::string ModelProductName(const std::string& title, LeadByteTest isLead) {
    std::string name = title;
    const size_t cut = FindAtBoundary(title, "- [", 0, isLead);
    if (cut != std::string::npos && cut > 2) {
        // The whole character before the match goes, one byte or two.
        const std::vector<bool> starts = CharacterStarts(title, isLead);
        size_t previous = cut - 1;
        while (!starts[previous])
            --previous;
        name = title.substr(0, previous);
    }
    name = ReplaceAll(name, "Developer", "Pro", isLead);
    return ReplaceAll(name, " Advanced", "", isLead);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const LeadByteTest isLead = data[0] & 1 ? DoubleByteLeads : NoLeadBytes;
    // A window title never holds a zero byte: it ends there.
    const std::string raw(reinterpret_cast<const char*>(data + 1), size - 1);
    const std::string title = raw.substr(0, raw.find('\0'));

    const std::string name = ProductNameFromTitle(title, isLead);
    if (name.size() > title.size()) std::abort();
    if (name != ModelProductName(title, isLead)) std::abort();
    return 0;
}
