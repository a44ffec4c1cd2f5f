// The host's memory: blocks and call records' pages, above 4 GiB on x86-64, held back on reuse.
#include "host_memory.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <deque>
#include <map>

// Handle words, blocks and records all come from here. On x86-64 they come from one area
// reserved above 4 GiB, so that an address cut to 32 bits anywhere in the plug-in cannot pass
// for a whole one (Wine hands out low addresses first, and runs out of high ones for separate
// requests). Blocks are carved from chunks and kept for reuse by size, powers of two from 64
// bytes, so that a soak's hundreds of thousands of calls take no new memory; larger blocks have
// pages of their own, kept by size. A freed block waits behind a few others before it is handed
// out again, so a plug-in that kept an old address does not at once see the next call's bytes.

namespace hostside {
namespace {

// How many freed blocks or record pages wait before one is handed out again.
const size_t kHeldBack = 16;

// Takes the block that has waited longest, once kHeldBack others wait behind it; or none.
template <typename Queue> typename Queue::value_type TakeWaited(Queue& queue) {
    if (queue.size() <= kHeldBack) return nullptr;
    auto taken = queue.front();
    queue.pop_front();
    return taken;
}

#if defined(__x86_64__)
struct HighBlock {
    size_t bucket;
    size_t bytes; // for a block with pages of its own, their size; keeps the block 16-byte aligned
};
const size_t kSmallestBlock = 64;
const size_t kBuckets = 11; // up to 64 KiB
const size_t kChunkSize = 1 << 20;
const size_t kHostAreaSize = size_t(64) << 30; // only reserved; pages are committed as needed
const uintptr_t kLowest = uintptr_t(1) << 32;

// Commits `size` bytes (a multiple of 4 KiB) of the area; aborts when it cannot.
void* HighPages(size_t size) {
    static uint8_t* area = nullptr;
    static size_t used = 0;
    if (area == nullptr) {
        area = static_cast<uint8_t*>(
            VirtualAlloc(nullptr, kHostAreaSize, MEM_RESERVE | MEM_TOP_DOWN, PAGE_NOACCESS));
        if (area == nullptr || reinterpret_cast<uintptr_t>(area) < kLowest) {
            std::fprintf(stderr, "host side: no address space above 4 GiB (got %p)\n",
                         static_cast<void*>(area));
            std::abort();
        }
    }
    if (kHostAreaSize - used < size ||
        VirtualAlloc(area + used, size, MEM_COMMIT, PAGE_READWRITE) == nullptr) {
        std::fprintf(stderr, "host side: out of host memory for %zu bytes\n", size);
        std::abort();
    }
    void* pages = area + used;
    used += size;
    return pages;
}

std::deque<HighBlock*>& FreeBlocks(size_t bucket) {
    static std::deque<HighBlock*> lists[kBuckets];
    return lists[bucket];
}

std::map<size_t, std::deque<HighBlock*>>& FreeLargeBlocks() {
    static std::map<size_t, std::deque<HighBlock*>> lists;
    return lists;
}

HighBlock* NewHighBlock(size_t bucket, size_t bytes) {
    if (bucket == kBuckets) {
        const size_t rounded = (bytes + 4095) & ~size_t(4095);
        HighBlock* block = TakeWaited(FreeLargeBlocks()[rounded]);
        if (block == nullptr) block = static_cast<HighBlock*>(HighPages(rounded));
        block->bytes = rounded;
        return block;
    }
    if (HighBlock* block = TakeWaited(FreeBlocks(bucket))) return block;
    static uint8_t* chunk = nullptr;
    static size_t chunkLeft = 0;
    const size_t size = kSmallestBlock << bucket;
    if (chunkLeft < size) {
        chunk = static_cast<uint8_t*>(HighPages(kChunkSize));
        chunkLeft = kChunkSize;
    }
    auto* block = reinterpret_cast<HighBlock*>(chunk);
    chunk += size;
    chunkLeft -= size;
    return block;
}
#endif

std::deque<uint8_t*>& SpareRecordPages() {
    static std::deque<uint8_t*> spare;
    return spare;
}

} // namespace

void* AllocateHostMemory(size_t size) {
#if defined(__x86_64__)
    const size_t bytes = size + sizeof(HighBlock);
    size_t bucket = 0;
    while (bucket < kBuckets && (kSmallestBlock << bucket) < bytes)
        ++bucket;
    // NewHighBlock stops the test when the area is used up.
    HighBlock* block = NewHighBlock(bucket, bytes);
    block->bucket = bucket;
    return block + 1;
#else
    void* memory = std::malloc(size);
    if (memory == nullptr) {
        std::fprintf(stderr, "host side: out of memory for %zu bytes\n", size);
        std::abort();
    }
    return memory;
#endif
}

void FreeHostMemory(void* memory) {
    if (memory == nullptr) return;
#if defined(__x86_64__)
    HighBlock* block = static_cast<HighBlock*>(memory) - 1;
    if (block->bucket == kBuckets)
        FreeLargeBlocks()[block->bytes].push_back(block);
    else
        FreeBlocks(block->bucket).push_back(block);
#else
    std::free(memory);
#endif
}

// Pages for call records: a page that ends with the record, then an inaccessible one, so a read
// or write past what the plug-in may touch faults at once. A released record's page is made
// inaccessible too, and waits behind a few others before it holds a record again, so that a
// plug-in that kept the address faults instead of reading the next call's record; the pairs are
// kept, which spares a soak hundreds of thousands of mappings.
uint8_t* TakeRecordPages(size_t pageSize) {
    uint8_t* pages = TakeWaited(SpareRecordPages());
    DWORD old;
    if (pages != nullptr) {
        VirtualProtect(pages, pageSize, PAGE_READWRITE, &old);
        return pages;
    }
#if defined(__x86_64__)
    pages = static_cast<uint8_t*>(HighPages(2 * pageSize));
#else
    pages = static_cast<uint8_t*>(
        VirtualAlloc(nullptr, 2 * pageSize, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    if (pages == nullptr) {
        std::fprintf(stderr, "host side: no pages for a call record\n");
        std::abort();
    }
#endif
    VirtualProtect(pages + pageSize, pageSize, PAGE_NOACCESS, &old);
    return pages;
}

void ReturnRecordPages(uint8_t* pages) {
    SpareRecordPages().push_back(pages);
}

} // namespace hostside
