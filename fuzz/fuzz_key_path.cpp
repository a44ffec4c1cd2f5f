// Fuzzes the preferences key path: never more than 255 characters, never a cut path, and the
// empty levels, the ancestor one create needs and the broken characters that a split into
// characters, then levels, finds, with no lead bytes and with those of code page 932.
#include "title_text.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

bool NoLeadBytes(unsigned char) {
    return false;
}

bool Cp932LeadBytes(unsigned char byte) {
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

// The text's characters: a lead byte with a byte after it makes one of two, any other byte one.
std::vector<std::string> Characters(const std::string& text, LeadByteTest isLead) {
    std::vector<std::string> characters;
    for (size_t i = 0; i < text.size(); ++i) {
        const size_t length =
            isLead(static_cast<unsigned char>(text[i])) && i + 1 < text.size() ? 2 : 1;
        characters.push_back(text.substr(i, length));
        i += length - 1;
    }
    return characters;
}

// The path split at every backslash that is a character of its own: every piece a level.
std::vector<std::string> ModelLevels(const std::string& path, LeadByteTest isLead) {
    std::vector<std::string> levels(1);
    for (const std::string& character : Characters(path, isLead)) {
        if (character == "\\")
            levels.emplace_back();
        else
            levels.back() += character;
    }
    return levels;
}

bool ModelHasEmptyLevel(const std::vector<std::string>& levels) {
    for (const std::string& level : levels) {
        if (level.empty()) return true;
    }
    return false;
}

// The levels but the last 32, joined again; none when there are at most 32.
size_t ModelAncestorLength(const std::vector<std::string>& levels) {
    if (levels.size() <= kMostLevelsCreatedAtOnce) return 0;
    size_t length = 0;
    for (size_t level = 0; level < levels.size() - kMostLevelsCreatedAtOnce; ++level)
        length += (level == 0 ? 0 : 1) + levels[level].size();
    return length;
}

bool ModelEndsInside(const std::string& text, LeadByteTest isLead) {
    const std::vector<std::string> characters = Characters(text, isLead);
    return !characters.empty() && characters.back().size() == 1 &&
           isLead(static_cast<unsigned char>(characters.back()[0]));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Product and version are the input's two halves, each ending at its first zero byte.
    // The first byte's lowest bit picks the code page.
    if (size == 0) return 0;
    const LeadByteTest isLead = (data[0] & 1) != 0 ? Cp932LeadBytes : NoLeadBytes;
    ++data;
    --size;
    const std::string input(reinterpret_cast<const char*>(data), size);
    const size_t middle = size / 2;
    const std::string product = input.substr(0, middle).c_str();
    const std::string version = input.substr(middle).c_str();

    char path[kKeyPathBufferSize + 1];
    path[kKeyPathBufferSize] = '\x5A'; // a guard byte just past the buffer the routine owns
    char(&owned)[kKeyPathBufferSize] = *reinterpret_cast<char(*)[kKeyPathBufferSize]>(path);
    const bool composed = ComposePreferencesKeyPath(product.c_str(), version.c_str(), owned);
    const std::string expected =
        "Software\\FileMaker\\" + product + "\\" + version + "\\Preferences";

    if (path[kKeyPathBufferSize] != '\x5A') std::abort();
    if (composed != (expected.size() <= 255)) std::abort();
    if (composed && expected != path) std::abort();
    if (!composed && path[0] != '\0') std::abort(); // a cut path would create the wrong key
    const std::vector<std::string> levels = ModelLevels(expected, isLead);
    if (composed && HasEmptyKeyLevel(path, isLead) != ModelHasEmptyLevel(levels)) std::abort();
    if (composed && !ModelHasEmptyLevel(levels) &&
        RequiredAncestorLength(path, isLead) != ModelAncestorLength(levels))
        std::abort();
    if (EndsInsideCharacter(version.c_str(), isLead) != ModelEndsInside(version, isLead))
        std::abort();
    return 0;
}
