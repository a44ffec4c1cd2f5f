// The host's side of the plug-in interface: handles, services, the call record and the call.
#include "host_side.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <new>

namespace hostside {
namespace {

const size_t kGuard = 8;

// The host's memory: handle words, blocks and records. On x86-64 it comes from one area
// reserved above 4 GiB, so that an address cut to 32 bits anywhere in the plug-in cannot pass
// for a whole one (Wine hands out low addresses first, and runs out of high ones for separate
// requests). Blocks are carved from chunks and kept for reuse by size, powers of two from 64
// bytes, so that a soak's hundreds of thousands of calls take no new memory; larger blocks have
// pages of their own, kept by size. A freed block waits behind a few others before it is handed
// out again, so a plug-in that kept an old address does not at once see the next call's bytes.
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

struct HandleBox {
    char* word = nullptr;       // the handle points here
    uint8_t* storage = nullptr; // the block, with kGuard canary bytes on both sides
    uint32_t size = 0;
    int lockDepth = 0;
    bool movable = false;

    HandleBox() = default;
    HandleBox(const HandleBox&) = delete;
    HandleBox& operator=(const HandleBox&) = delete;
    ~HandleBox() { FreeHostMemory(storage); }
    char* Block() { return reinterpret_cast<char*>(storage + kGuard); }
    void Allocate(uint32_t newSize, const char* bytes) {
        // A new address, as a host that moves the block would give.
        auto* fresh = static_cast<uint8_t*>(AllocateHostMemory(newSize + 2 * kGuard));
        std::memset(fresh, kCanary, newSize + 2 * kGuard);
        if (bytes != nullptr) std::memcpy(fresh + kGuard, bytes, newSize);
        FreeHostMemory(storage);
        storage = fresh;
        size = newSize;
    }
};

// Handle boxes live in the host's memory too: the handle is the address of their word.
struct HandleBoxDeleter {
    void operator()(HandleBox* box) const {
        box->~HandleBox();
        FreeHostMemory(box);
    }
};
typedef std::unique_ptr<HandleBox, HandleBoxDeleter> HandleBoxPointer;

std::map<Handle, HandleBoxPointer>& Handles() {
    static std::map<Handle, HandleBoxPointer> handles;
    return handles;
}

std::vector<ServiceCall>& Log() {
    static std::vector<ServiceCall> log;
    return log;
}

int16_t pendingResizeStatus = 0;
int16_t lastStatus = 0;

HandleBox* Find(Handle handle) {
    auto found = Handles().find(handle);
    return found == Handles().end() ? nullptr : found->second.get();
}

void WINAPI ResizeHandle(Handle handle, uint32_t newSize) {
    Log().push_back({Service::ResizeHandle, handle, newSize});
    HandleBox* box = Find(handle);
    lastStatus = pendingResizeStatus;
    pendingResizeStatus = 0;
    if (box == nullptr || lastStatus != 0) {
        if (lastStatus == 0) lastStatus = -109; // not a handle of ours
        return;
    }
    std::vector<char> keep(box->Block(), box->Block() + std::min(box->size, newSize));
    box->Allocate(newSize, nullptr);
    std::memcpy(box->Block(), keep.data(), keep.size());
    box->word = box->Block();
}

uint32_t WINAPI HandleSize(Handle handle) {
    Log().push_back({Service::HandleSize, handle, 0});
    HandleBox* box = Find(handle);
    return box ? box->size : 0;
}

void WINAPI PrepareHandle(Handle handle) {
    Log().push_back({Service::PrepareHandle, handle, 0});
}

void WINAPI LockHandle(Handle handle) {
    Log().push_back({Service::LockHandle, handle, 0});
    if (HandleBox* box = Find(handle)) {
        ++box->lockDepth;
        box->word = box->Block();
    }
}

void WINAPI UnlockHandle(Handle handle) {
    Log().push_back({Service::UnlockHandle, handle, 0});
    if (HandleBox* box = Find(handle)) {
        --box->lockDepth;
        if (box->movable && box->lockDepth <= 0) box->word = nullptr;
    }
}

// The status is 16 bits wide; the high word carries noise that a plug-in must not read.
uint32_t WINAPI LastHandleError() {
    Log().push_back({Service::LastHandleError, 0, 0});
    return 0xBEEF0000u | static_cast<uint16_t>(lastStatus);
}

// The same services for a host whose services leave their arguments to the caller.
void __cdecl ResizeHandleCdecl(Handle handle, uint32_t newSize) {
    ResizeHandle(handle, newSize);
}
uint32_t __cdecl HandleSizeCdecl(Handle handle) {
    return HandleSize(handle);
}
void __cdecl PrepareHandleCdecl(Handle handle) {
    PrepareHandle(handle);
}
void __cdecl LockHandleCdecl(Handle handle) {
    LockHandle(handle);
}
void __cdecl UnlockHandleCdecl(Handle handle) {
    UnlockHandle(handle);
}
uint32_t __cdecl LastHandleErrorCdecl() {
    return LastHandleError();
}

ServiceConvention serviceConvention = ServiceConvention::Stdcall;

template <typename Function> const void* Code(Function* function) {
    return reinterpret_cast<const void*>(function);
}

// Where each service goes in the record, in either convention.
struct ServiceAddresses {
    size_t offset;
    const void* stdcallService;
    const void* cdeclService;
};
const ServiceAddresses kServices[] = {
    {offsets::kResizeHandle, Code(&ResizeHandle), Code(&ResizeHandleCdecl)},
    {offsets::kHandleSize, Code(&HandleSize), Code(&HandleSizeCdecl)},
    {offsets::kPrepareHandle, Code(&PrepareHandle), Code(&PrepareHandleCdecl)},
    {offsets::kLockHandle, Code(&LockHandle), Code(&LockHandleCdecl)},
    {offsets::kUnlockHandle, Code(&UnlockHandle), Code(&UnlockHandleCdecl)},
    {offsets::kLastHandleError, Code(&LastHandleError), Code(&LastHandleErrorCdecl)},
};

} // namespace

void UseServiceConvention(ServiceConvention convention) {
    serviceConvention = convention;
}
ServiceConvention CurrentServiceConvention() {
    return serviceConvention;
}

const char* ServiceName(Service service) {
    switch (service) {
    case Service::ResizeHandle:
        return "resizeHandle";
    case Service::HandleSize:
        return "handleSize";
    case Service::PrepareHandle:
        return "prepareHandle";
    case Service::LockHandle:
        return "lockHandle";
    case Service::UnlockHandle:
        return "unlockHandle";
    case Service::LastHandleError:
        return "lastHandleError";
    }
    return "?";
}

std::string DescribeCall(const ServiceCall& call) {
    char text[96];
    std::snprintf(text, sizeof text, "%s(0x%08llx, %u)", ServiceName(call.service),
                  static_cast<unsigned long long>(call.handle), static_cast<unsigned>(call.value));
    return text;
}

const std::vector<ServiceCall>& ServiceLog() {
    return Log();
}
void ClearServiceLog() {
    Log().clear();
}
void FailNextResize(int16_t status) {
    pendingResizeStatus = status;
}

Handle NewHandle(const std::string& bytes, bool movable) {
    HandleBoxPointer box(new (AllocateHostMemory(sizeof(HandleBox))) HandleBox);
    box->Allocate(static_cast<uint32_t>(bytes.size()), bytes.data());
    box->movable = movable;
    box->word = movable ? nullptr : box->Block();
    const Handle handle = reinterpret_cast<Handle>(&box->word);
    Handles()[handle] = std::move(box);
    return handle;
}

std::string HandleBytes(Handle handle) {
    HandleBox* box = Find(handle);
    return box ? std::string(box->Block(), box->size) : std::string();
}

bool HandleCanariesIntact(Handle handle) {
    HandleBox* box = Find(handle);
    if (box == nullptr) return false;
    for (size_t i = 0; i < kGuard; ++i) {
        if (box->storage[i] != kCanary || box->storage[kGuard + box->size + i] != kCanary)
            return false;
    }
    return true;
}

int LockDepth(Handle handle) {
    HandleBox* box = Find(handle);
    return box ? box->lockDepth : 0;
}

void FreeAllHandles() {
    Handles().clear();
}

bool LoadPlugin(const std::string& path, Plugin* plugin, std::string* error) {
    if (GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
        *error = "no such file: " + path;
        return false;
    }
    HMODULE module = LoadLibraryA(path.c_str());
    if (module == nullptr) {
        *error = "not a loadable Windows library: " + path + " (error " +
                 std::to_string(GetLastError()) + ")";
        return false;
    }
    FARPROC entry = GetProcAddress(module, "FMExternCallProc");
    if (entry == nullptr) {
        FreeLibrary(module);
        *error = "the library has no FMExternCallProc entry point: " + path;
        return false;
    }
    plugin->module = module;
    plugin->entry = reinterpret_cast<EntryPoint>(reinterpret_cast<void*>(entry));
    return true;
}

// Pages for call records: a page that ends with the record, then an inaccessible one, so a read
// or write past what the plug-in may touch faults at once. A released record's page is made
// inaccessible too, and waits behind a few others before it holds a record again, so that a
// plug-in that kept the address faults instead of reading the next call's record; the pairs are
// kept, which spares a soak hundreds of thousands of mappings.
namespace {

std::deque<uint8_t*>& SpareRecordPages() {
    static std::deque<uint8_t*> spare;
    return spare;
}

uint8_t* RecordPages(size_t pageSize) {
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

} // namespace

CallRecord::CallRecord(HMODULE instance) {
    pages_ = RecordPages(kPageSize);
    bytes_ = pages_ + kPageSize - offsets::kRecordSize;
    std::memset(bytes_, kCanary, offsets::kRecordSize);
    PutWord(offsets::kInstance, reinterpret_cast<uintptr_t>(instance));
    for (const ServiceAddresses& service : kServices) {
        const void* function = serviceConvention == ServiceConvention::Cdecl
                                   ? service.cdeclService
                                   : service.stdcallService;
        PutWord(service.offset, reinterpret_cast<uintptr_t>(function));
    }
}

CallRecord::~CallRecord() {
    Revoke();
    SpareRecordPages().push_back(pages_);
}

void CallRecord::Revoke() {
    DWORD old;
    VirtualProtect(pages_, kPageSize, PAGE_NOACCESS, &old);
}

void CallRecord::SetHostVersion(int16_t version) {
    std::memcpy(bytes_ + offsets::kHostVersion, &version, sizeof version);
}
void CallRecord::SetMessage(uint8_t message) {
    bytes_[offsets::kMessage] = message;
}
void CallRecord::SetIdleKind(uint8_t kind) {
    bytes_[offsets::kIdleKind] = kind;
}

void CallRecord::SetFunction(uint32_t number, Handle argumentHandle, Handle resultHandle) {
    bytes_[offsets::kMessage] = kMessageExternalFunction;
    Put32(offsets::kFunctionNumber, number);
    PutWord(offsets::kArgumentHandle, argumentHandle);
    PutWord(offsets::kResult, resultHandle);
}

int32_t CallRecord::Result() const {
    int32_t value;
    std::memcpy(&value, bytes_ + offsets::kResult, sizeof value);
    return value;
}

void CallRecord::Put32(size_t offset, uint32_t value) {
    std::memcpy(bytes_ + offset, &value, sizeof value);
}

void CallRecord::PutWord(size_t offset, uintptr_t value) {
    std::memcpy(bytes_ + offset, &value, sizeof value);
}

} // namespace hostside

#if defined(__i386__)
// Calls fn(arg) with the C convention and answers how far the stack pointer moved.
extern "C" int32_t CallCdeclMeasuringStack(void* fn, void* arg);
asm(R"(
    .text
    .globl _CallCdeclMeasuringStack
_CallCdeclMeasuringStack:
    pushl %ebp
    movl %esp, %ebp
    pushl %esi
    movl %esp, %esi
    pushl 12(%ebp)
    call *8(%ebp)
    addl $4, %esp
    movl %esp, %eax
    subl %esi, %eax
    movl %esi, %esp
    popl %esi
    popl %ebp
    ret
)");
#endif

namespace hostside {

int32_t CallEntryPoint(EntryPoint entry, void* record) {
#if defined(__i386__)
    return CallCdeclMeasuringStack(reinterpret_cast<void*>(entry), record);
#else
    entry(record);
    return 0;
#endif
}

} // namespace hostside
