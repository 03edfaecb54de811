/* Can this machine run 32-bit x86 code at all? wine64 runs the shipped 32-bit programs in its
 * WoW64 mode, which switches the processor to the 32-bit user code segment (selector 0x23); on
 * some machines that mode is missing and the switch faults. This native program makes the same
 * switch, runs an instruction whose meaning differs between the two modes, and comes back.
 *
 * Built on the spot by scripts/wine-env.sh (cc -no-pie: the code must lie below 4 GiB, where a
 * 32-bit instruction pointer reaches it). Exit 0 and "32-bit code ran" when it works; killed by a
 * signal after "switching" when the mode is missing; any other outcome is a fault of the probe. */
#define _GNU_SOURCE
#include <stdio.h>
#include <sys/mman.h>

unsigned long probe32_saved_rsp;
unsigned probe32_run(unsigned long stack_top);

/* The 64-bit stack may lie above 4 GiB, out of reach of ESP: the 32-bit part gets its own stack,
 * and the 64-bit one comes back from memory, not from a register's upper half (undefined after a
 * mode switch). 0x48 is "dec eax" in 32-bit mode but a REX prefix (here of a nop) in 64-bit mode,
 * so EAX tells which mode really ran. */
__asm__(".text\n"
        ".globl probe32_run\n"
        "probe32_run:\n"
        "  push %rbx\n  push %rbp\n  push %r12\n  push %r13\n  push %r14\n  push %r15\n"
        "  mov %rsp, probe32_saved_rsp(%rip)\n"
        "  mov %rdi, %rsp\n"
        "  pushq $0x23\n"
        "  lea probe32_code(%rip), %rax\n"
        "  push %rax\n"
        "  lretq\n"
        ".code32\n"
        "probe32_code:\n"
        "  xorl %eax, %eax\n"
        "  .byte 0x48\n"
        "  nop\n"
        "  pushl $0x33\n"
        "  pushl $probe32_back\n"
        "  lretl\n"
        ".code64\n"
        "probe32_back:\n"
        "  mov probe32_saved_rsp(%rip), %rsp\n"
        "  pop %r15\n  pop %r14\n  pop %r13\n  pop %r12\n  pop %rbp\n  pop %rbx\n"
        "  ret\n");

int main(void) {
    enum { STACK = 65536 };
    char *stack = mmap(NULL, STACK, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_32BIT,
                       -1, 0);
    if (stack == MAP_FAILED) {
        perror("probe32: no memory below 4 GiB for the 32-bit stack");
        return 2;
    }
    printf("switching\n");
    fflush(stdout);
    unsigned eax = probe32_run((unsigned long)(stack + STACK - 16));
    if (eax != 0xffffffffu) {
        printf("came back, but the code ran in 64-bit mode (eax %08x)\n", eax);
        return 3;
    }
    printf("32-bit code ran\n");
    return 0;
}
