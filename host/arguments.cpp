// Reads the host's argument text and writes result texts back.
#include "arguments.h"

#include "argument_scan.h"
#include "code_page.h"
#include "host_services.h"

#include <cstdint>
#include <cstring>

void GetArgument(HostHandle argumentHandle, int16_t number, uint32_t cap, char* destination,
                 int32_t* length) {
    *length = 0;
    // The host always passes a handle; a null one reads as an empty text rather than a crash.
    if (argumentHandle == nullptr) return;

    // The size is asked before the block is locked; the block is read only while locked.
    const uint32_t size = HostHandleSize(argumentHandle);
    HostPrepareHandle(argumentHandle);
    HostLockHandle(argumentHandle);
    *length = ScanArgument(*argumentHandle, size, number, cap, destination,
                           ProcessAnsiCodePage().isLeadByte);
    HostUnlockHandle(argumentHandle);
}

void SetResultText(HostHandle resultHandle, const char* bytes, uint32_t length) {
    const TextPiece text = {bytes, length};
    SetResultPieces(resultHandle, &text, 1);
}

void SetResultPieces(HostHandle resultHandle, const TextPiece* pieces, size_t count) {
    if (resultHandle == nullptr) return;
    uint32_t total = 0;
    for (size_t i = 0; i < count; ++i) {
        if (pieces[i].length > UINT32_MAX - total) return;
        total += static_cast<uint32_t>(pieces[i].length);
    }
    HostResizeHandle(resultHandle, total);
    if (HostLastHandleError() != 0) return;
    // A resized block is written at once, without locking it.
    char* end = *resultHandle;
    for (size_t i = 0; i < count; ++i) {
        if (pieces[i].length == 0) continue;
        std::memcpy(end, pieces[i].bytes, pieces[i].length);
        end += pieces[i].length;
    }
}

void SetResultString(HostHandle resultHandle, const char* text) {
    SetResultText(resultHandle, text, static_cast<uint32_t>(std::strlen(text)));
}
