/* Calls one of the host's handle services on i686, whichever convention it follows.
 *
 *   uint32_t __cdecl CallHostService(const void* service, uint32_t count,
 *                                    const uint32_t* arguments);
 *
 * Pushes `count` 32-bit words from `arguments` right to left, calls `service` and answers what
 * it leaves in EAX. The services are stdcall as far as anyone knows, but nothing here can prove
 * it: a service that left its arguments to the caller would unbalance every call. So the stack
 * pointer is kept in EBP, which both conventions preserve, and put back from there after the
 * call, whatever the service removed. Windows' C names carry a leading underscore, ELF's do not
 * (the same source is built for a 32-bit Linux test under user emulation). */
#ifdef __ELF__
#define SYMBOL(name) name
#else
#define SYMBOL(name) _##name
#endif

    .text
    .p2align 4
    .globl SYMBOL(CallHostService)
SYMBOL(CallHostService):
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

#ifdef __ELF__
    .section .note.GNU-stack,"",@progbits
#endif
