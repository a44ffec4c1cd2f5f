// Tells whether this machine executes 32-bit x86 code natively: exits 0 when a far call from
// this 64-bit process into the 32-bit user code segment comes back, and dies of the fault when
// the machine gives no such segment. An emulator registered for 32-bit programs through
// binfmt_misc cannot answer for it, since nothing here is a 32-bit program.
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

static void Refused(int signal) {
    (void)signal;
    static const char text[] = "executes_i686: the far call into 32-bit code faulted\n";
    if (write(2, text, sizeof text - 1) < 0) _exit(1);
    _exit(1);
}

int main(void) {
    // Code and stack below 4 GiB: the 32-bit side sees only the low halves of addresses.
    const size_t size = 2 * 4096;
    uint8_t* page = mmap(NULL, size, PROT_READ | PROT_WRITE | PROT_EXEC,
                         MAP_PRIVATE | MAP_ANONYMOUS | MAP_32BIT, -1, 0);
    if (page == MAP_FAILED) {
        perror("executes_i686: mmap");
        return 2;
    }
    const uint32_t base = (uint32_t)(uintptr_t)page;
    const uint32_t stackTop = base + (uint32_t)size - 16;

    // 64-bit side: keep the stack pointer in memory, switch to the low stack, far-call the
    // 32-bit side, come back to the old stack.
    //   push rbx; mov [rip+save], rsp; mov esp, stackTop; lcall [rip+target];
    //   mov rsp, [rip+save]; mov eax, 42; pop rbx; ret
    // 32-bit side: mov eax, 23; lret
    uint8_t* code = page;
    size_t at = 0;
    const size_t saveAt = 0x100, targetAt = 0x108, code32At = 0x110;
    code[at++] = 0x53; // push rbx
    code[at++] = 0x48;
    code[at++] = 0x89;
    code[at++] = 0x25; // mov [rip+rel32], rsp
    int32_t rel = (int32_t)(saveAt - (at + 4));
    memcpy(code + at, &rel, 4);
    at += 4;
    code[at++] = 0xBC; // mov esp, imm32 (zero-extends)
    memcpy(code + at, &stackTop, 4);
    at += 4;
    code[at++] = 0xFF;
    code[at++] = 0x1D; // lcall [rip+rel32] (m16:32)
    rel = (int32_t)(targetAt - (at + 4));
    memcpy(code + at, &rel, 4);
    at += 4;
    code[at++] = 0x48;
    code[at++] = 0x8B;
    code[at++] = 0x25; // mov rsp, [rip+rel32]
    rel = (int32_t)(saveAt - (at + 4));
    memcpy(code + at, &rel, 4);
    at += 4;
    code[at++] = 0x5B; // pop rbx
    code[at++] = 0xC3; // ret (eax holds what the 32-bit side set)

    const uint32_t code32 = base + (uint32_t)code32At;
    const uint16_t selector = kUser32CodeSelector;
    memcpy(code + targetAt, &code32, 4);
    memcpy(code + targetAt + 4, &selector, 2);
    code[code32At] = 0xB8; // mov eax, 23
    const uint32_t mark = 23;
    memcpy(code + code32At + 1, &mark, 4);
    code[code32At + 5] = 0xCB; // lret

    signal(SIGSEGV, Refused);
    signal(SIGBUS, Refused);
    signal(SIGILL, Refused);
    uint32_t (*farCall)(void) = (uint32_t(*)(void))(uintptr_t)page;
    const uint32_t answer = farCall();
    if (answer != mark) {
        fprintf(stderr, "executes_i686: the 32-bit side answered %u, not %u\n", answer, mark);
        return 1;
    }
    return 0;
}
