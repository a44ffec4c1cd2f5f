// The stack protector's runtime that the plug-in carries: a smashed frame ends the process with
// Windows' stack overrun status, and the host's first call seeds a guard of the process's own.
#include "dispatch.h"
#include "host_side.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

extern "C" uintptr_t __stack_chk_guard;

namespace {

const uintptr_t kUnseededGuard = 0xBB40E64Eu;

// Writes past its buffer; the length is hidden from the compiler so the check is the runtime's.
__attribute__((noinline)) void SmashFrame(volatile size_t length) {
    char buffer[8];
    std::memset(buffer, 'x', length);
    asm volatile("" : : "r"(buffer) : "memory");
}

TEST(StackGuard, SmashedFrameEndsTheProcessWithTheOverrunStatus) {
    SmashFrame(sizeof(void*)); // within bounds: returns
    EXPECT_EXIT(SmashFrame(64),
                ::testing::ExitedWithCode(static_cast<int>(STATUS_STACK_BUFFER_OVERRUN)), "");
}

// The host's first message, an idle one, through the entry point. Like the host's frames, the
// frames of this test that are live while the guard is seeded must not be guarded by it.
__attribute__((no_stack_protector)) void FirstCall() {
    hostside::CallRecord idle(GetModuleHandleA(nullptr));
    idle.SetMessage(hostside::kMessageIdle);
    FMExternCallProc(reinterpret_cast<ExternCallRecord*>(idle.Bytes()));
}

// A process that ended any other way (a failed guard check among them) does not pass for one
// that came back with a seeded guard.
bool SeededGuard(uintptr_t guard) {
    return guard != 0 && guard != kUnseededGuard && guard != STATUS_STACK_BUFFER_OVERRUN;
}

// In a new process: the guard must be unseeded until the host's first call (loading runs
// nothing of the plug-in's own), seeded by it, and left alone by later calls. The process comes
// back with its guard as its exit code, 0 when any of that failed. The seeding happens only in
// such a process and ends it: a guarded frame of this test that saw the word change would fail
// its check on return.
__attribute__((no_stack_protector)) void ExitWithFirstSeededGuard() {
    const bool unseededBefore = __stack_chk_guard == kUnseededGuard;
    FirstCall();
    const uintptr_t seeded = __stack_chk_guard;
    FirstCall();
    const bool keptAfter = __stack_chk_guard == seeded;
    ExitProcess(unseededBefore && keptAfter ? static_cast<UINT>(seeded) : 0u);
}

TEST(StackGuard, TheHostsFirstCallSeedsAGuardOfTheProcesssOwn) {
    uintptr_t first = 0;
    EXPECT_EXIT(
        ExitWithFirstSeededGuard(),
        [&first](int status) {
            first = static_cast<uint32_t>(status);
            return SeededGuard(first);
        },
        "")
        << "the guard was seeded before the first call, not by it, or again later";
    EXPECT_EXIT(
        ExitWithFirstSeededGuard(),
        [first](int status) {
            const uintptr_t second = static_cast<uint32_t>(status);
            return SeededGuard(second) && second != first;
        },
        "")
        << "another process's guard: " << std::hex << first;
}

} // namespace
