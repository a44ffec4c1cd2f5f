// The stack protector's guard word and its failure routine, in place of the compiler's libssp.
#include "stack_guard.h"

#include <windows.h>

#include <cstdint>

extern "C" {

// Never zero, even before seeding; the seeding below only mixes into it. The word and the
// failure routine are used by code that the compiler adds when it writes out the frames, after
// link-time optimisation has decided what is used, so they are kept whatever it finds.
__attribute__((used)) uintptr_t __stack_chk_guard = 0xBB40E64Eu;

static bool stackGuardSeeded = false;

// libssp seeds its guard with CryptAcquireContextA at load, which loads a provider library
// while the loader lock is held, inside the host's LoadLibrary. Here the seed waits for the
// host's first call, and these calls load nothing and take no lock; they are what Windows' own
// compilers use for their cookie. The function must not be protected itself: the word changes
// under its own frame. Kept apart from the check below, which every call makes, so that the
// check needs no frame of its own.
__attribute__((no_stack_protector, noinline)) static void SeedStackGuard() {
    stackGuardSeeded = true;
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    uintptr_t seed = now.dwLowDateTime ^ now.dwHighDateTime;
    seed ^= GetCurrentProcessId() ^ GetCurrentThreadId() ^ GetTickCount();
    seed ^= counter.LowPart ^ static_cast<uintptr_t>(counter.HighPart);
    // Where the stack and this library lie differs from process to process under ASLR.
    seed ^= reinterpret_cast<uintptr_t>(&now) ^ reinterpret_cast<uintptr_t>(&SeedStackGuard);
    if (seed != 0) __stack_chk_guard ^= seed;
}

__attribute__((no_stack_protector)) void SeedStackGuardOnce() {
    if (!stackGuardSeeded) SeedStackGuard();
}

// A smashed frame cannot be trusted to unwind or to run anything of the host's: end the process
// at once, with the status Windows itself reports for a stack buffer overrun. Nothing is shown.
__attribute__((used, noreturn)) void __stack_chk_fail() {
    TerminateProcess(GetCurrentProcess(), STATUS_STACK_BUFFER_OVERRUN);
    for (;;) {
    }
}
}
