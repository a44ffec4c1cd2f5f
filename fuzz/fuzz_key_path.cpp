// Fuzzes the preferences key path: never more than 255 characters, never a cut path, and the
// empty levels and depth that a plain split at its backslashes finds.
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

// The path split at every backslash: an empty piece is an empty level, and every piece a level.
KeyPathFault ModelFault(const std::string& path) {
    std::vector<std::string> levels;
    for (size_t start = 0;;) {
        const size_t end = path.find('\\', start);
        levels.push_back(path.substr(start, end == std::string::npos ? end : end - start));
        if (end == std::string::npos) break;
        start = end + 1;
    }
    for (const std::string& level : levels) {
        if (level.empty()) return KeyPathFault::kEmptyLevel;
    }
    return levels.size() > kMostKeyLevels ? KeyPathFault::kTooManyLevels : KeyPathFault::kNone;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Product and version are the input's two halves, each ending at its first zero byte.
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
    if (composed && FindKeyPathFault(path, NoLeadBytes) != ModelFault(expected)) std::abort();
    return 0;
}
