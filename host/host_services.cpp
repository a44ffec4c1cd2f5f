// Calls the host's handle services through the record of the current call.
#include "host_services.h"

#if defined(__i386__)

// The 32-bit host's services may follow either convention: they go through one thunk
// (call_host_service_i686.S) that puts the stack pointer back whatever the service removed.
extern "C" uint32_t __cdecl CallHostService(const void* service, uint32_t count,
                                            const uint32_t* arguments);

namespace {

uint32_t Word(HostHandle handle) {
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(handle));
}

uint32_t CallWithHandle(HostService service, HostHandle handle) {
    const uint32_t arguments[] = {Word(handle)};
    return CallHostService(service, 1, arguments);
}

} // namespace

void HostResizeHandle(HostHandle handle, uint32_t newSize) {
    const uint32_t arguments[] = {Word(handle), newSize};
    CallHostService(currentCallRecord->resizeHandle, 2, arguments);
}

uint32_t HostHandleSize(HostHandle handle) {
    return CallWithHandle(currentCallRecord->handleSize, handle);
}

void HostPrepareHandle(HostHandle handle) {
    CallWithHandle(currentCallRecord->prepareHandle, handle);
}

void HostLockHandle(HostHandle handle) {
    CallWithHandle(currentCallRecord->lockHandle, handle);
}

void HostUnlockHandle(HostHandle handle) {
    CallWithHandle(currentCallRecord->unlockHandle, handle);
}

namespace {
uint32_t LastHandleErrorWord() {
    return CallHostService(currentCallRecord->lastHandleError, 0, nullptr);
}
} // namespace

#else

// x86-64 has one calling convention: the services are plain calls, with handles as 8-byte
// pointers and sizes as 32 bits.
namespace {

template <typename Signature> Signature* Service(HostService service) {
    return reinterpret_cast<Signature*>(const_cast<void*>(service));
}

} // namespace

void HostResizeHandle(HostHandle handle, uint32_t newSize) {
    Service<void(HostHandle, uint32_t)>(currentCallRecord->resizeHandle)(handle, newSize);
}

uint32_t HostHandleSize(HostHandle handle) {
    return Service<uint32_t(HostHandle)>(currentCallRecord->handleSize)(handle);
}

void HostPrepareHandle(HostHandle handle) {
    Service<void(HostHandle)>(currentCallRecord->prepareHandle)(handle);
}

void HostLockHandle(HostHandle handle) {
    Service<void(HostHandle)>(currentCallRecord->lockHandle)(handle);
}

void HostUnlockHandle(HostHandle handle) {
    Service<void(HostHandle)>(currentCallRecord->unlockHandle)(handle);
}

namespace {
uint32_t LastHandleErrorWord() {
    return Service<uint32_t()>(currentCallRecord->lastHandleError)();
}
} // namespace

#endif

int16_t HostLastHandleError() {
    // The status is 16 bits wide: whatever the high word of the answer holds is not part of it.
    const uint32_t status = LastHandleErrorWord();
    return static_cast<int16_t>(static_cast<uint16_t>(status & 0xFFFFu));
}
