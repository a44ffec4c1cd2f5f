// Derives the host product's name from a window title and composes its preferences key path.
#include "title_text.h"

#include <cstring>

namespace {

const char kProductKeyRoot[] = "Software\\FileMaker\\";
const char kPreferencesLeaf[] = "\\Preferences";

const size_t kNotFound = static_cast<size_t>(-1);

// How many bytes the character at `position` of the `length` bytes of `text` takes: two for a
// lead byte with a byte after it.
size_t CharacterLength(const char* text, size_t length, size_t position, LeadByteTest isLeadByte) {
    const bool doubleByte =
        isLeadByte(static_cast<unsigned char>(text[position])) && position + 1 < length;
    return doubleByte ? 2 : 1;
}

// The position of the first `piece` in the `length` bytes of `text` at or after `from` (a
// character boundary), or kNotFound; found one whole character at a time so that a match never
// begins on a trailing byte. When `previous` is given it receives where the character before
// the match begins (the match's own position when nothing stands before it since `from`).
// Reads no byte before `from` or from `length` on.
size_t FindOnCharacterBoundary(const char* text, size_t length, size_t from, const char* piece,
                               LeadByteTest isLeadByte, size_t* previous = nullptr) {
    const size_t pieceLength = std::strlen(piece);
    size_t position = from;
    size_t before = from;
    while (position < length) {
        if (length - position >= pieceLength &&
            std::memcmp(text + position, piece, pieceLength) == 0) {
            if (previous != nullptr) *previous = before;
            return position;
        }
        before = position;
        position += CharacterLength(text, length, position, isLeadByte);
    }
    return kNotFound;
}

// Replaces every `from` in the `length` bytes of `text` left to right without overlap and
// answers the new length. The search resumes after each replacement, so the text put in is never
// searched again. The work is done in place: the replacement is never longer than what it
// replaces, so the bytes written never reach the bytes still to be searched.
template <size_t FromSize, size_t ToSize>
size_t ReplaceEvery(char* text, size_t length, const char (&from)[FromSize],
                    const char (&to)[ToSize], LeadByteTest isLeadByte) {
    static_assert(ToSize <= FromSize, "a replacement in place cannot be longer");
    const size_t fromLength = FromSize - 1;
    const size_t toLength = ToSize - 1;
    size_t written = 0;
    size_t copied = 0;
    size_t match;
    while ((match = FindOnCharacterBoundary(text, length, copied, from, isLeadByte)) != kNotFound) {
        std::memmove(text + written, text + copied, match - copied);
        written += match - copied;
        std::memcpy(text + written, to, toLength);
        written += toLength;
        copied = match + fromLength;
    }
    if (copied < length) std::memmove(text + written, text + copied, length - copied);
    return written + (length - copied);
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
size_t Utf8CharacterStart(const char* text, size_t end) {
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

size_t ProductNameFromTitle(char* title, size_t length, const AnsiCodePage& codePage) {
    // A document window's title reads "<product> - [<file>]": the character before the
    // bracket (normally a blank) goes with it, all its bytes: a lone lead byte would join the
    // key path's next backslash into one character, and a part of a UTF-8 character would
    // reach the key name as a broken sequence. A "- [" within the first three bytes cannot
    // follow a product name. UTF-8 has no ASCII byte inside a character, so its searches need
    // no lead bytes.
    size_t previous = 0;
    const size_t bracket =
        FindOnCharacterBoundary(title, length, 0, "- [", codePage.isLeadByte, &previous);
    if (bracket != kNotFound && bracket > 2) {
        if (codePage.utf8) previous = Utf8CharacterStart(title, bracket);
        length = previous;
    }

    length = ReplaceEvery(title, length, "Developer", "Pro", codePage.isLeadByte);
    return ReplaceEvery(title, length, " Advanced", "", codePage.isLeadByte);
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
