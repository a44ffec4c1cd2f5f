// Loads the plug-in, builds its call records at the host's offsets and calls its entry point.
#include "host_side.h"

#include "host_memory.h"

#include <cstring>

namespace hostside {
namespace {

// Where each service goes in the record.
struct ServiceSlot {
    size_t offset;
    Service service;
};
const ServiceSlot kServiceSlots[] = {
    {offsets::kResizeHandle, Service::ResizeHandle},
    {offsets::kHandleSize, Service::HandleSize},
    {offsets::kPrepareHandle, Service::PrepareHandle},
    {offsets::kLockHandle, Service::LockHandle},
    {offsets::kUnlockHandle, Service::UnlockHandle},
    {offsets::kLastHandleError, Service::LastHandleError},
};

} // namespace

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

CallRecord::CallRecord(HMODULE instance) {
    pages_ = TakeRecordPages(kPageSize);
    bytes_ = pages_ + kPageSize - offsets::kRecordSize;
    std::memset(bytes_, kCanary, offsets::kRecordSize);
    PutWord(offsets::kInstance, reinterpret_cast<uintptr_t>(instance));
    for (const ServiceSlot& slot : kServiceSlots)
        PutWord(slot.offset, reinterpret_cast<uintptr_t>(ServiceFunction(slot.service)));
}

CallRecord::~CallRecord() {
    Revoke();
    ReturnRecordPages(pages_);
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
