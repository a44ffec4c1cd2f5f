// The host's handles and the six services that the plug-in calls on them, in both conventions.
#include "host_side.h"

#include "host_memory.h"

#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <new>

namespace hostside {
namespace {

const size_t kGuard = 8;

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

// Each service by its name in the record and in either convention.
struct ServiceEntry {
    Service service;
    const char* name;
    const void* stdcallService;
    const void* cdeclService;
};
const ServiceEntry kServices[] = {
    {Service::ResizeHandle, "resizeHandle", Code(&ResizeHandle), Code(&ResizeHandleCdecl)},
    {Service::HandleSize, "handleSize", Code(&HandleSize), Code(&HandleSizeCdecl)},
    {Service::PrepareHandle, "prepareHandle", Code(&PrepareHandle), Code(&PrepareHandleCdecl)},
    {Service::LockHandle, "lockHandle", Code(&LockHandle), Code(&LockHandleCdecl)},
    {Service::UnlockHandle, "unlockHandle", Code(&UnlockHandle), Code(&UnlockHandleCdecl)},
    {Service::LastHandleError, "lastHandleError", Code(&LastHandleError),
     Code(&LastHandleErrorCdecl)},
};

const ServiceEntry* FindService(Service service) {
    for (const ServiceEntry& entry : kServices)
        if (entry.service == service) return &entry;
    return nullptr;
}

} // namespace

void UseServiceConvention(ServiceConvention convention) {
    serviceConvention = convention;
}
ServiceConvention CurrentServiceConvention() {
    return serviceConvention;
}

const void* ServiceFunction(Service service) {
    const ServiceEntry* entry = FindService(service);
    if (entry == nullptr) return nullptr;
    return serviceConvention == ServiceConvention::Cdecl ? entry->cdeclService
                                                         : entry->stdcallService;
}

const char* ServiceName(Service service) {
    const ServiceEntry* entry = FindService(service);
    return entry ? entry->name : "?";
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

} // namespace hostside
