// Reads the host's argument text and writes result texts back.
#pragma once

#include "call_record.h"

#include <cstddef>
#include <cstdint>

// Copies argument `number` (from 1) into `destination`, which holds at least `cap` bytes, and
// reports its length (0 for a missing, empty or over-long argument). A "|" separates only where
// a character of the ANSI code page begins. Writes no terminator.
void GetArgument(HostHandle argumentHandle, int16_t number, uint32_t cap, char* destination,
                 int32_t* length);

// Argument `number` as a zero-terminated text in `text`, which holds the cap's bytes and the
// terminator; the text counts up to its first zero byte.
template <size_t BufferSize>
void GetTextArgument(HostHandle argumentHandle, int16_t number, char (&text)[BufferSize]) {
    static_assert(BufferSize > 1, "room for at least one byte and the terminator");
    int32_t length = 0;
    GetArgument(argumentHandle, number, BufferSize - 1, text, &length);
    text[length] = '\0';
}

// Resizes the result handle to `length` bytes and copies the text in, without a terminator.
// A failed resize drops the result silently.
void SetResultText(HostHandle resultHandle, const char* bytes, uint32_t length);

// Some bytes of a text that is answered in pieces.
struct TextPiece {
    const char* bytes;
    size_t length;
};

// SetResultText for the text that the pieces make one after another. A total longer than the
// host's 32-bit size can say drops the result silently, as a failed resize does.
void SetResultPieces(HostHandle resultHandle, const TextPiece* pieces, size_t count);

// SetResultText for a zero-terminated text.
void SetResultString(HostHandle resultHandle, const char* text);
