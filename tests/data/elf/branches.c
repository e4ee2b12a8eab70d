/* Source of the cross-compiled ELF fixtures: calls, conditional branches and
   tables of code addresses, so that the fixtures hold relative branches and
   relative relocations in a real compiler's and linker's layout. */
typedef int (*op_t)(int);

__attribute__((noinline)) static int square(int x) { return x * x; }
__attribute__((noinline)) static int twice(int x) { return x + x; }
__attribute__((noinline)) static int negate(int x) { return -x; }
__attribute__((noinline)) static int clamp(int x) { return x > 100 ? 100 : x < -100 ? -100 : x; }

op_t const fixed_ops[] = {square, twice, negate, clamp};
op_t ops[] = {clamp, negate, twice, square};

__attribute__((noinline)) int apply(unsigned i, int x)
{
    if (i >= 4)
        return clamp(x);
    return fixed_ops[i](ops[i](x));
}

int run(int n)
{
    int sum = 0;
    for (int i = 0; i < n; ++i) {
        sum += apply((unsigned)i % 5, i);
        if (sum > 100000)
            break;
    }
    return clamp(sum);
}
