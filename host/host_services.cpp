// Calls the host's handle services through the record of the current call.
#include "host_services.h"

// Calls `service` with `count` 32-bit arguments from `arguments` (pushed right to left) and
// answers what it leaves in EAX. The services are stdcall as far as anyone knows, but nothing
// here can prove it: a service that left its arguments to the caller would unbalance every
// call. So the stack pointer is kept in EBP, which both conventions preserve, and put back from
// there after the call, whatever the service removed.
extern "C" uint32_t __cdecl CallHostService(const void* service, uint32_t count,
                                            const uint32_t* arguments);
asm(R"(
    .text
    .p2align 4
    .globl _CallHostService
_CallHostService:
    pushl %ebp
    movl %esp, %ebp
    movl 12(%ebp), %ecx
    movl 16(%ebp), %edx
1:
    testl %ecx, %ecx
    jz 2f
    pushl -4(%edx,%ecx,4)
    decl %ecx
    jmp 1b
2:
    call *8(%ebp)
    movl %ebp, %esp
    popl %ebp
    ret
)");

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

int16_t HostLastHandleError() {
    // The status is 16 bits wide: whatever the high word of EAX holds is not part of it.
    const uint32_t status = CallHostService(currentCallRecord->lastHandleError, 0, nullptr);
    return static_cast<int16_t>(static_cast<uint16_t>(status & 0xFFFFu));
}
