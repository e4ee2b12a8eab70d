/* Source of the linked x86-64 Mach-O fixtures (see make_fixtures.sh). It is
 * freestanding because no macOS SDK is available here; calls, jump tables and
 * RIP-relative loads give the disassembler what a real program gives it.
 * VERSION 2 adds a function and changes constants. */
#ifndef VERSION
#define VERSION 1
#endif

typedef int (*op_fn)(int, int);

__attribute__((noinline)) static int op_add(int a, int b) { return a + b; }
__attribute__((noinline)) static int op_sub(int a, int b) { return a - b; }
__attribute__((noinline)) static int op_mul(int a, int b) { return a * b; }
#if VERSION >= 2
__attribute__((noinline)) static int op_max(int a, int b) { return a > b ? a : b; }
#endif

static const op_fn ops[] = {
    op_add, op_sub, op_mul,
#if VERSION >= 2
    op_max,
#endif
};

volatile int sink;

__attribute__((noinline)) static int dispatch(unsigned which, int a, int b)
{
    switch (which) {
    case 0: return ops[0](a, b) + 1;
    case 1: return ops[1](a, b) * 3;
    case 2: return ops[2](a, b) - 7;
    case 3: return a % (b | 1);
    case 4: return b / (a | 1);
    case 5: return a ^ (b << VERSION);
    default: return -1;
    }
}

__attribute__((noinline)) static int mix(int a, int b)
{
    return op_add(a, b) ^ op_sub(b, a) ^ op_mul(a, VERSION);
}

int start(void)
{
    int acc = VERSION;
    for (unsigned i = 0; i < 64; ++i)
        acc = dispatch(i % 7, acc, (int)i) ^ (int)(sizeof(ops) / sizeof(ops[0]));
    for (unsigned i = 0; i < 16; ++i)
        acc = mix(acc, (int)i) + op_sub(acc, 3);
    sink = acc;
    return acc;
}
