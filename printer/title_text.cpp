// Derives the host product's name from a window title and composes its preferences key path.
#include "title_text.h"

#include <cstring>

namespace {

const char kProductKeyRoot[] = "Software\\FileMaker\\";
const char kPreferencesLeaf[] = "\\Preferences";

// How many bytes the character at `position` takes: two for a lead byte with a byte after it.
size_t CharacterLength(const std::string& text, size_t position, LeadByteTest isLeadByte) {
    const bool doubleByte =
        isLeadByte(static_cast<unsigned char>(text[position])) && position + 1 < text.size();
    return doubleByte ? 2 : 1;
}

// The position of the first `piece` in `text` at or after `from` (a character boundary), found
// one whole character at a time so that a match never begins on a trailing byte. When
// `previous` is given it receives where the character before the match begins (the match's own
// position when nothing stands before it since `from`).
size_t FindOnCharacterBoundary(const std::string& text, size_t from, const char* piece,
                               LeadByteTest isLeadByte, size_t* previous = nullptr) {
    const size_t pieceLength = std::strlen(piece);
    size_t position = from;
    size_t before = from;
    while (position < text.size()) {
        if (text.compare(position, pieceLength, piece) == 0) {
            if (previous != nullptr) *previous = before;
            return position;
        }
        before = position;
        position += CharacterLength(text, position, isLeadByte);
    }
    return std::string::npos;
}

// Replaces every `from` left to right without overlap; the search resumes after each
// replacement, so the text put in is never searched again.
std::string ReplaceEvery(const std::string& text, const char* from, const char* to,
                         LeadByteTest isLeadByte) {
    const size_t fromLength = std::strlen(from);
    std::string replaced;
    size_t copied = 0;
    size_t match;
    while ((match = FindOnCharacterBoundary(text, copied, from, isLeadByte)) != std::string::npos) {
        replaced.append(text, copied, match - copied);
        replaced += to;
        copied = match + fromLength;
    }
    replaced.append(text, copied, std::string::npos);
    return replaced;
}

// How many bytes a UTF-8 character that opens with `byte` takes, or 0 when no well-formed one
// opens with it.
size_t Utf8SequenceLength(unsigned char byte) {
    if (byte >= 0xC2 && byte <= 0xDF) return 2;
    if (byte >= 0xE0 && byte <= 0xEF) return 3;
    if (byte >= 0xF0 && byte <= 0xF4) return 4;
    return 0;
}

// Where the UTF-8 character that ends just before `end` (above 0) begins: at the byte that opens
// it, when the continuation bytes (10xxxxxx) before `end` complete a character opened there;
// otherwise the last byte stands alone, as the byte of a broken sequence does.
size_t Utf8CharacterStart(const std::string& text, size_t end) {
    size_t start = end - 1;
    while (start > 0 && end - start < 4 && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80)
        --start;
    const size_t length = end - start;
    if (length > 1 && Utf8SequenceLength(static_cast<unsigned char>(text[start])) == length)
        return start;
    return end - 1;
}

// Where the key path level that begins at `level` ends: at the backslash after it, or at the
// terminator. A backslash that is the second byte of a double-byte character separates nothing.
const char* KeyLevelEnd(const char* level, LeadByteTest isLeadByte) {
    const char* at = level;
    for (; *at != '\0' && *at != '\\'; ++at) {
        if (isLeadByte(static_cast<unsigned char>(*at)) && at[1] != '\0') ++at;
    }
    return at;
}

} // namespace

std::string ProductNameFromTitle(const std::string& title, const AnsiCodePage& codePage) {
    // A document window's title reads "<product> - [<file>]": the character before the
    // bracket (normally a blank) goes with it, all its bytes: a lone lead byte would join the
    // key path's next backslash into one character, and a part of a UTF-8 character would
    // reach the key name as a broken sequence. A "- [" within the first three bytes cannot
    // follow a product name. UTF-8 has no ASCII byte inside a character, so its searches need
    // no lead bytes.
    size_t previous = 0;
    const size_t bracket = FindOnCharacterBoundary(title, 0, "- [", codePage.isLeadByte, &previous);
    std::string product = title;
    if (bracket != std::string::npos && bracket > 2) {
        if (codePage.utf8) previous = Utf8CharacterStart(title, bracket);
        product.resize(previous);
    }

    product = ReplaceEvery(product, "Developer", "Pro", codePage.isLeadByte);
    return ReplaceEvery(product, " Advanced", "", codePage.isLeadByte);
}

bool ComposePreferencesKeyPath(const char* product, const char* version,
                               char (&path)[kKeyPathBufferSize]) {
    path[0] = '\0';
    const size_t rootLength = sizeof kProductKeyRoot - 1;
    const size_t leafLength = sizeof kPreferencesLeaf - 1;
    const size_t productLength = std::strlen(product);
    const size_t versionLength = std::strlen(version);
    // Compared piece by piece, so no sum of lengths can wrap around.
    size_t room = kKeyPathBufferSize - 1 - rootLength - 1 - leafLength;
    if (productLength > room) return false;
    room -= productLength;
    if (versionLength > room) return false;

    char* end = path;
    std::memcpy(end, kProductKeyRoot, rootLength);
    end += rootLength;
    std::memcpy(end, product, productLength);
    end += productLength;
    *end++ = '\\';
    std::memcpy(end, version, versionLength);
    end += versionLength;
    std::memcpy(end, kPreferencesLeaf, leafLength + 1);
    return true;
}

bool EndsInsideCharacter(const char* text, LeadByteTest isLeadByte) {
    bool inside = false;
    for (const char* at = text; *at != '\0'; ++at)
        inside = !inside && isLeadByte(static_cast<unsigned char>(*at));
    return inside;
}

bool HasEmptyKeyLevel(const char* path, LeadByteTest isLeadByte) {
    const char* level = path;
    for (;;) {
        const char* end = KeyLevelEnd(level, isLeadByte);
        if (end == level) return true;
        if (*end == '\0') return false;
        level = end + 1;
    }
}

size_t RequiredAncestorLength(const char* path, LeadByteTest isLeadByte) {
    unsigned levels = 1;
    for (const char* end = KeyLevelEnd(path, isLeadByte); *end != '\0';
         end = KeyLevelEnd(end + 1, isLeadByte))
        ++levels;
    if (levels <= kMostLevelsCreatedAtOnce) return 0;
    // The ancestor ends at the backslash after its last level.
    const char* end = KeyLevelEnd(path, isLeadByte);
    for (unsigned kept = 1; kept < levels - kMostLevelsCreatedAtOnce; ++kept)
        end = KeyLevelEnd(end + 1, isLeadByte);
    return static_cast<size_t>(end - path);
}
