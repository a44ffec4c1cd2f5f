// Fuzzes the preferences key path: never more than 255 characters, never a cut path.
#include "title_text.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

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
    return 0;
}
