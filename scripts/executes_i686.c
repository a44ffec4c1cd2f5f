// Tells whether this machine executes 32-bit x86 code natively. This 64-bit process far-calls a
// few bytes through the 32-bit user code segment; they ask the kernel for the process id with
// the 32-bit system call and add one, which only 32-bit mode does (in 64-bit mode the 0x40 is a
// prefix). Exits 0 when the answer comes back right, 1 with the reason otherwise: a machine
// without the segment faults, a kernel without 32-bit system calls answers wrong or faults.
// Nothing here is a 32-bit program, so an emulator registered through binfmt_misc cannot answer
// in the machine's place.
//   gcc -O1 -o executes_i686 executes_i686.c && ./executes_i686
#define _GNU_SOURCE
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

// The 32-bit user code segment of Linux on x86-64 (__USER32_CS).
enum { kUser32CodeSelector = 0x23 };
enum { kPage = 4096 };

static void Refused(int signal) {
    (void)signal;
    static const char text[] = "executes_i686: the far call into 32-bit code faulted\n";
    if (write(2, text, sizeof text - 1) < 0) _exit(1);
    _exit(1);
}

// Memory below 4 GiB: the 32-bit side sees only the low halves of addresses.
static uint8_t* LowPage(void) {
    void* page = mmap(NULL, kPage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_32BIT,
                      -1, 0);
    if (page == MAP_FAILED) {
        perror("executes_i686: mmap");
        _exit(1);
    }
    return page;
}

static void Put32(uint8_t* at, uint32_t value) {
    memcpy(at, &value, sizeof value);
}

// The distance from the end of a RIP-relative operand at `operand` to `target`.
static uint32_t Relative(const uint8_t* operand, const uint8_t* target) {
    return (uint32_t)(int32_t)(target - (operand + 4));
}

int main(void) {
    uint8_t* code = LowPage();
    uint8_t* data = LowPage(); // the stack of the 32-bit side, the saved stack pointer, the target
    uint8_t* save = data;
    uint8_t* target = data + 8;
    const uint32_t stackTop = (uint32_t)(uintptr_t)(data + kPage - 16);
    uint8_t* code32 = code + 0x80;

    // 64-bit side: push rbx; mov [save], rsp; mov esp, stackTop; lcall [target];
    // mov rsp, [save]; pop rbx; ret (EAX holds what the 32-bit side answered)
    uint8_t* at = code;
    *at++ = 0x53;
    *at++ = 0x48, *at++ = 0x89, *at++ = 0x25;
    Put32(at, Relative(at, save)), at += 4;
    *at++ = 0xBC;
    Put32(at, stackTop), at += 4;
    *at++ = 0xFF, *at++ = 0x1D; // far call through an m16:32 pointer
    Put32(at, Relative(at, target)), at += 4;
    *at++ = 0x48, *at++ = 0x8B, *at++ = 0x25;
    Put32(at, Relative(at, save)), at += 4;
    *at++ = 0x5B;
    *at++ = 0xC3;

    // 32-bit side: mov eax, 20 (getpid); int 0x80; inc eax; nop; lret
    const uint8_t side32[] = {0xB8, 20, 0, 0, 0, 0xCD, 0x80, 0x40, 0x90, 0xCB};
    memcpy(code32, side32, sizeof side32);
    Put32(target, (uint32_t)(uintptr_t)code32);
    const uint16_t selector = kUser32CodeSelector;
    memcpy(target + 4, &selector, sizeof selector);

    if (mprotect(code, kPage, PROT_READ | PROT_EXEC) != 0) {
        perror("executes_i686: mprotect");
        return 1;
    }
    // The handler runs on a stack of its own: the fault comes while the small low stack is in use.
    static uint8_t handlerStack[1 << 16];
    const stack_t alternate = {.ss_sp = handlerStack, .ss_size = sizeof handlerStack};
    sigaltstack(&alternate, NULL);
    struct sigaction action = {.sa_handler = Refused, .sa_flags = SA_ONSTACK};
    sigemptyset(&action.sa_mask);
    sigaction(SIGSEGV, &action, NULL);
    sigaction(SIGBUS, &action, NULL);
    sigaction(SIGILL, &action, NULL);
    uint32_t (*farCall)(void) = (uint32_t(*)(void))(uintptr_t)code;
    const uint32_t answer = farCall();
    const uint32_t expected = (uint32_t)getpid() + 1;
    if (answer != expected) {
        fprintf(stderr, "executes_i686: the 32-bit side answered %u, not %u\n", answer, expected);
        return 1;
    }
    return 0;
}
