/* Source of the PE test fixtures (see make_fixtures.sh). Calls, jumps,
 * jump tables and tables of function pointers give the disassembler relative
 * and absolute address fields to find; VERSION 2 adds a function and changes
 * some constants so that two builds differ the way two releases do. */
#include <stdio.h>
#include <string.h>

#ifndef VERSION
#define VERSION 1
#endif

#ifdef FIXTURE_DLL
#define EXPORT __declspec(dllexport)
#else
#define EXPORT
#endif

typedef int (*op_fn)(int, int);

#if VERSION >= 2
/* New code ahead of everything else, so that every function after it moves
 * and every call displacement across it changes. */
__attribute__((noinline)) int fixture_checksum(const char *text)
{
    unsigned sum = 0;
    for (; *text; ++text)
        sum = (sum << 5) + sum + (unsigned char)*text;
    return (int)(sum % 9973u);
}
#endif

static int op_add(int a, int b) { return a + b; }
static int op_sub(int a, int b) { return a - b; }
static int op_mul(int a, int b) { return a * b; }
static int op_xor(int a, int b) { return a ^ b; }
#if VERSION >= 2
static int op_max(int a, int b) { return a > b ? a : b; }
#endif

static const op_fn ops[] = {
    op_add, op_sub, op_mul, op_xor,
#if VERSION >= 2
    op_max,
#endif
};

static const char *const names[] = {"add", "sub", "mul", "xor", "max"};

__attribute__((noinline)) static int dispatch(unsigned which, int a, int b)
{
    switch (which) {
    case 0: return ops[0](a, b) + 1;
    case 1: return ops[1](a, b) * 3;
    case 2: return ops[2](a, b) - 7;
    case 3: return ops[3](a, b) << 2;
    case 4: return (int)strlen(names[which % 5]) + a;
    case 5: return a % (b | 1);
    case 6: return b / (a | 1);
    default: return -1;
    }
}

EXPORT int fixture_run(int seed)
{
    int acc = seed;
    for (unsigned i = 0; i < 64; ++i)
        acc = dispatch(i % 9, acc, (int)i * (VERSION + 2)) ^ (int)(sizeof(ops) / sizeof(ops[0]));
    return acc;
}

EXPORT const char *fixture_name(unsigned i) { return names[i % 5]; }

#ifndef FIXTURE_DLL
int main(int argc, char **argv)
{
    (void)argv;
    printf("fixture %d: %d %s\n", VERSION, fixture_run(argc), fixture_name((unsigned)argc));
#if VERSION >= 2
    printf("%d\n", fixture_checksum(fixture_name(3)));
#endif
    return 0;
}
#endif
