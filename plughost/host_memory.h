// The host's memory: blocks and call records' pages, above 4 GiB on x86-64, held back on reuse.
#pragma once

#include <cstddef>
#include <cstdint>

namespace hostside {

// A block of `size` bytes; the test stops when there is none.
void* AllocateHostMemory(size_t size);
void FreeHostMemory(void* memory);

// Two pages: the first for a call record, read-write; the second inaccessible.
uint8_t* TakeRecordPages(size_t pageSize);
// Gives back the pages of a released record, which the caller has made inaccessible.
void ReturnRecordPages(uint8_t* pages);

} // namespace hostside
