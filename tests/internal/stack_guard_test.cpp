// The stack protector's runtime that the plug-in carries: a smashed frame ends the process with
// Windows' stack overrun status, and every process seeds a guard of its own.
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
    SmashFrame(sizeof(void*));  // within bounds: returns
    EXPECT_EXIT(SmashFrame(64), ::testing::ExitedWithCode(static_cast<int>(STATUS_STACK_BUFFER_OVERRUN)),
                "");
}

TEST(StackGuard, EveryProcessSeedsItsOwn) {
    const uintptr_t mine = __stack_chk_guard;
    EXPECT_NE(mine, kUnseededGuard) << "the guard was never seeded";
    // The child is a new process: its guard comes back as its exit code.
    EXPECT_EXIT(ExitProcess(static_cast<UINT>(__stack_chk_guard)),
                [mine](int status) {
                    const uintptr_t theirs = static_cast<uint32_t>(status);
                    return theirs != mine && theirs != kUnseededGuard;
                },
                "")
        << "this process's guard: " << std::hex << mine;
}

}  // namespace
