/* Source of the small shared-object pairs used by the ensemble round-trip
 * tests. VERSION 2 adds a function and changes a few constants, which moves
 * code and data the way a real update does. Rebuild with make_fixtures.sh. */
/* Declared here instead of included: the cross toolchains come without C
 * library headers, and the fixtures are shared objects that leave these
 * symbols to the dynamic linker. */
typedef __SIZE_TYPE__ size_t;
int printf(const char *format, ...);
int atoi(const char *text);
int strcmp(const char *a, const char *b);

typedef int (*operation)(int, int);

static int add(int a, int b) { return a + b; }
static int sub(int a, int b) { return a - b; }
static int mul(int a, int b) { return a * b; }
#if VERSION >= 2
static int mix(int a, int b) { return (a ^ (b << 3)) + 17 * b; }
#endif
static int quo(int a, int b) { return b ? a / b : 0; }

static const operation table[] = {
    add, sub, mul,
#if VERSION >= 2
    mix,
#endif
    quo,
};

static const char *names[] = {
    "add", "sub", "mul",
#if VERSION >= 2
    "mix",
#endif
    "quo",
};

static unsigned checksum(const char *text)
{
    unsigned sum = VERSION * 31u;
    while (*text)
        sum = sum * 131u + (unsigned char)*text++;
    return sum;
}

static void report(const char *name, int value)
{
    printf("%-6s %8d %08x\n", name, value, checksum(name));
}

static int fold(int seed, int rounds)
{
    int value = seed;
    for (int i = 0; i < rounds; ++i) {
        const size_t n = sizeof table / sizeof table[0];
        value = table[i % n](value, i + 3);
        if (value > 100000 || value < -100000)
            value %= 977;
    }
    return value;
}

struct record
{
    const char *label;
    int weight;
    operation op;
};

static struct record records[] = {
    {"alpha", 3, add},
    {"beta", 5, mul},
#if VERSION >= 2
    {"gamma", 7, mix},
#endif
    {"delta", 11, sub},
};

static int walk(int start)
{
    int value = start;
    for (size_t i = 0; i < sizeof records / sizeof records[0]; ++i) {
        value = records[i].op(value, records[i].weight);
        report(records[i].label, value);
    }
    return value;
}

int sample_main(int argc, char **argv)
{
    int seed = argc > 1 ? atoi(argv[1]) : 7;
    for (size_t i = 0; i < sizeof table / sizeof table[0]; ++i)
        report(names[i], table[i](seed, (int)i + 2));
    report("fold", fold(seed, 40 + VERSION));
    report("walk", walk(seed));
    if (argc > 2 && strcmp(argv[2], "--version") == 0)
        printf("sample %d\n", VERSION);
    return 0;
}
