/* Drives the i686 host-service thunk (host/call_host_service_i686.S) with stdcall and cdecl
 * services of 0, 1 and 2 arguments, and checks for each: what the service received, the whole
 * of EAX coming back, the stack pointer around the call and the callee-saved registers. A static
 * 32-bit Linux program, so that it runs under user-mode emulation on machines without 32-bit
 * x86 code:
 *   gcc -m32 -static -std=c11 -O2 -Wall -Wextra -Werror tests/thunk/service_thunk_test.c \
 *       host/call_host_service_i686.S -o service_thunk_test
 *   qemu-i386-static ./service_thunk_test
 * A thunk that leaves the stack wrong mostly returns into garbage; that crash is caught and
 * reported against its case instead of ending the run. */
#define _DEFAULT_SOURCE
#include <inttypes.h>
#include <setjmp.h>
#include <signal.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

uint32_t CallHostService(const void* service, uint32_t count, const uint32_t* arguments);

/* Values for EBX, ESI, EDI and EBP during the call. Addresses in the never-mapped first page,
 * so returning into one of them faults at once. */
#define EBX_VALUE 0x0EB1
#define ESI_VALUE 0x0E51
#define EDI_VALUE 0x0ED1
#define EBP_VALUE 0x0EBD
#define STR(x) STR_(x)
#define STR_(x) #x

/* probe(service, count, arguments) calls CallHostService with the values above in the
 * callee-saved registers and records ESP just before and just after that call, EAX and the four
 * registers afterwards. It keeps its own stack pointer in probe_home, so it gets back to its
 * caller even when the thunk has unbalanced the stack. */
void probe(const void* service, uint32_t count, const uint32_t* arguments);
uint32_t probe_home, probe_esp_before, probe_esp_after, probe_eax, probe_regs[4];
/* clang-format off */
__asm__(
    ".text\n"
    ".globl probe\n"
    "probe:\n"
    "  pushl %ebp\n"
    "  pushl %ebx\n"
    "  pushl %esi\n"
    "  pushl %edi\n"
    "  movl %esp, probe_home\n"
    "  movl 20(%esp), %eax\n"
    "  movl 24(%esp), %ecx\n"
    "  movl 28(%esp), %edx\n"
    "  pushl %edx\n"
    "  pushl %ecx\n"
    "  pushl %eax\n"
    "  movl $" STR(EBX_VALUE) ", %ebx\n"
    "  movl $" STR(ESI_VALUE) ", %esi\n"
    "  movl $" STR(EDI_VALUE) ", %edi\n"
    "  movl $" STR(EBP_VALUE) ", %ebp\n"
    "  movl %esp, probe_esp_before\n"
    "  call CallHostService\n"
    "  movl %esp, probe_esp_after\n"
    "  movl %eax, probe_eax\n"
    "  movl %ebx, probe_regs\n"
    "  movl %esi, probe_regs+4\n"
    "  movl %edi, probe_regs+8\n"
    "  movl %ebp, probe_regs+12\n"
    "  movl probe_home, %esp\n"
    "  popl %edi\n"
    "  popl %esi\n"
    "  popl %ebx\n"
    "  popl %ebp\n"
    "  ret\n");
/* clang-format on */

/* The services: each counts its calls, keeps its arguments and answers `answer`. */
static volatile uint32_t seen_calls, seen_args[2], answer;

#define STDCALL __attribute__((stdcall))
#define CDECL __attribute__((cdecl))
static uint32_t STDCALL std0(void) {
    seen_calls++;
    return answer;
}
static uint32_t STDCALL std1(uint32_t a) {
    seen_calls++;
    seen_args[0] = a;
    return answer;
}
static uint32_t STDCALL std2(uint32_t a, uint32_t b) {
    seen_calls++;
    seen_args[0] = a;
    seen_args[1] = b;
    return answer;
}
static uint32_t CDECL cdecl0(void) {
    seen_calls++;
    return answer;
}
static uint32_t CDECL cdecl1(uint32_t a) {
    seen_calls++;
    seen_args[0] = a;
    return answer;
}
static uint32_t CDECL cdecl2(uint32_t a, uint32_t b) {
    seen_calls++;
    seen_args[0] = a;
    seen_args[1] = b;
    return answer;
}

/* Answers carry noise in the high word, as a 16-bit status may. */
struct service_case {
    const char* name;
    const void* service;
    uint32_t count, arguments[2], answer;
};
static const struct service_case cases[] = {
    {"stdcall/0", (const void*)std0, 0, {0}, 0xDEAD0001},
    {"stdcall/1", (const void*)std1, 1, {0xA1A10011}, 0xBEEF8002},
    {"stdcall/2", (const void*)std2, 2, {0xA1A10021, 0xB2B20022}, 0xFFFF0003},
    {"cdecl/0", (const void*)cdecl0, 0, {0}, 0xC0DE0004},
    {"cdecl/1", (const void*)cdecl1, 1, {0xC3C30011}, 0xF00D8005},
    {"cdecl/2", (const void*)cdecl2, 2, {0xC3C30021, 0xD4D40022}, 0x7FFF0006},
};

static int failures;

static void check(const char* name, const char* what, uint32_t got, uint32_t expected) {
    if (got == expected) return;
    printf("%s: %s: got 0x%08" PRIx32 ", expected 0x%08" PRIx32 "\n", name, what, got, expected);
    failures++;
}

static sigjmp_buf recover;
static void on_crash(int signal) {
    siglongjmp(recover, signal);
}

static void run(const struct service_case* c) {
    seen_calls = seen_args[0] = seen_args[1] = 0;
    answer = c->answer;
    int signal = sigsetjmp(recover, 1);
    if (signal != 0) {
        printf("%s: crashed with signal %d\n", c->name, signal);
        failures++;
        return;
    }
    probe(c->service, c->count, c->arguments);

    check(c->name, "calls", seen_calls, 1);
    for (uint32_t a = 0; a < c->count; a++)
        check(c->name, a == 0 ? "argument 1" : "argument 2", seen_args[a], c->arguments[a]);
    check(c->name, "EAX", probe_eax, c->answer);
    check(c->name, "ESP after the call", probe_esp_after, probe_esp_before);
    check(c->name, "EBX", probe_regs[0], EBX_VALUE);
    check(c->name, "ESI", probe_regs[1], ESI_VALUE);
    check(c->name, "EDI", probe_regs[2], EDI_VALUE);
    check(c->name, "EBP", probe_regs[3], EBP_VALUE);
}

int main(void) {
    static char crash_stack[1 << 16];
    stack_t alternate = {.ss_sp = crash_stack, .ss_size = sizeof crash_stack};
    struct sigaction action = {.sa_handler = on_crash, .sa_flags = SA_ONSTACK};
    sigemptyset(&action.sa_mask);
    sigaltstack(&alternate, NULL);
    sigaction(SIGSEGV, &action, NULL);
    sigaction(SIGBUS, &action, NULL);
    sigaction(SIGILL, &action, NULL);

    const size_t total = sizeof cases / sizeof cases[0];
    for (size_t i = 0; i < total; i++)
        run(&cases[i]);
    printf("service_thunk_test: %zu cases, %d failed checks\n", total, failures);
    return failures == 0 ? 0 : 1;
}
