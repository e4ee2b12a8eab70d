// Induced sorting (SA-IS, Nong, Zhang and Chan 2009) with a virtual sentinel:
// the text is treated as followed by a unique smallest character at position
// n, which is never stored. Suffix i is S-type when it is smaller than suffix
// i + 1 and L-type otherwise; an LMS position is an S-type position whose
// left neighbour is L-type. Sorting the LMS substrings, naming them, sorting
// the reduced string recursively and inducing L and S suffixes from the
// sorted LMS suffixes yields the full suffix array. The reduced string lives
// in the upper half of sa, so recursion needs no second array.

#include "suffixarray.h"

#include <algorithm>
#include <new>

namespace ovpatch {

namespace {

using Index = int32_t;

class TypeBits
{
public:
    explicit TypeBits(Index n) : m_Bits(new (std::nothrow) uint8_t[n / 8 + 1]()), m_Size(n) {}
    ~TypeBits() { delete[] m_Bits; }
    TypeBits(const TypeBits &) = delete;
    TypeBits &operator=(const TypeBits &) = delete;

    bool ok() const { return m_Bits != nullptr; }
    // The sentinel position n is S-type.
    bool isS(Index i) const { return i == m_Size || (m_Bits[i >> 3] >> (i & 7)) & 1; }
    void setS(Index i) { m_Bits[i >> 3] |= static_cast<uint8_t>(1u << (i & 7)); }
    bool isLms(Index i) const { return i > 0 && isS(i) && !isS(i - 1); }

private:
    uint8_t *m_Bits;
    Index m_Size;
};

template <typename Char>
void computeBuckets(const Char *s, Index n, Index alphabet, Index *bucket, bool ends)
{
    std::fill(bucket, bucket + alphabet, 0);
    for (Index i = 0; i < n; ++i)
        ++bucket[s[i]];
    Index sum = 0;
    for (Index c = 0; c < alphabet; ++c) {
        const Index count = bucket[c];
        bucket[c] = ends ? sum + count : sum;
        sum += count;
    }
}

template <typename Char>
void induceLTypes(const Char *s, Index *sa, Index n, Index alphabet, Index *bucket,
                  const TypeBits &types)
{
    computeBuckets(s, n, alphabet, bucket, false);
    // The sentinel sorts first and induces suffix n - 1, which is L-type.
    sa[bucket[s[n - 1]]++] = n - 1;
    for (Index i = 0; i < n; ++i) {
        const Index j = sa[i] - 1;
        if (sa[i] > 0 && !types.isS(j))
            sa[bucket[s[j]]++] = j;
    }
}

template <typename Char>
void induceSTypes(const Char *s, Index *sa, Index n, Index alphabet, Index *bucket,
                  const TypeBits &types)
{
    computeBuckets(s, n, alphabet, bucket, true);
    for (Index i = n - 1; i >= 0; --i) {
        const Index j = sa[i] - 1;
        if (sa[i] > 0 && types.isS(j))
            sa[--bucket[s[j]]] = j;
    }
}

// True when the LMS substrings starting at a and b differ (in characters or
// types). A substring that reaches the sentinel differs from every other.
template <typename Char>
bool lmsSubstringsDiffer(const Char *s, Index n, const TypeBits &types, Index a, Index b)
{
    for (Index d = 0;; ++d) {
        if (a + d == n || b + d == n || s[a + d] != s[b + d] ||
            types.isS(a + d) != types.isS(b + d))
            return true;
        if (d > 0 && (types.isLms(a + d) || types.isLms(b + d)))
            return false;
    }
}

template <typename Char> bool sais(const Char *s, Index *sa, Index n, Index alphabet)
{
    if (n == 0)
        return true;
    if (n == 1) {
        sa[0] = 0;
        return true;
    }
    TypeBits types(n);
    Index *bucket = new (std::nothrow) Index[alphabet];
    if (!types.ok() || bucket == nullptr) {
        delete[] bucket;
        return false;
    }
    // Position n - 1 is L-type: it is followed by the sentinel.
    for (Index i = n - 2; i >= 0; --i) {
        if (s[i] < s[i + 1] || (s[i] == s[i + 1] && types.isS(i + 1)))
            types.setS(i);
    }

    // Stage 1: sort the LMS substrings by one round of induced sorting.
    computeBuckets(s, n, alphabet, bucket, true);
    std::fill(sa, sa + n, -1);
    for (Index i = 1; i < n; ++i) {
        if (types.isLms(i))
            sa[--bucket[s[i]]] = i;
    }
    induceLTypes(s, sa, n, alphabet, bucket, types);
    induceSTypes(s, sa, n, alphabet, bucket, types);

    Index lmsCount = 0;
    for (Index i = 0; i < n; ++i) {
        if (types.isLms(sa[i]))
            sa[lmsCount++] = sa[i];
    }

    // Name the sorted LMS substrings; equal substrings share a name. LMS
    // positions are at least two apart, so position / 2 is a unique slot.
    std::fill(sa + lmsCount, sa + n, -1);
    Index names = 0;
    Index previous = -1;
    for (Index i = 0; i < lmsCount; ++i) {
        const Index position = sa[i];
        if (previous < 0 || lmsSubstringsDiffer(s, n, types, position, previous)) {
            ++names;
            previous = position;
        }
        sa[lmsCount + position / 2] = names - 1;
    }
    for (Index i = n - 1, j = n - 1; i >= lmsCount; --i) {
        if (sa[i] >= 0)
            sa[j--] = sa[i];
    }

    // Stage 2: sort the reduced string, recursively unless all names differ.
    Index *reduced = sa + n - lmsCount;
    if (names < lmsCount) {
        if (!sais<Index>(reduced, sa, lmsCount, names)) {
            delete[] bucket;
            return false;
        }
    } else {
        for (Index i = 0; i < lmsCount; ++i)
            sa[reduced[i]] = i;
    }

    // Stage 3: place the LMS suffixes in their sorted order at the ends of
    // their buckets and induce the rest.
    for (Index i = 1, j = 0; i < n; ++i) {
        if (types.isLms(i))
            reduced[j++] = i;
    }
    for (Index i = 0; i < lmsCount; ++i)
        sa[i] = reduced[sa[i]];
    std::fill(sa + lmsCount, sa + n, -1);
    computeBuckets(s, n, alphabet, bucket, true);
    for (Index i = lmsCount - 1; i >= 0; --i) {
        const Index j = sa[i];
        sa[i] = -1;
        sa[--bucket[s[j]]] = j;
    }
    induceLTypes(s, sa, n, alphabet, bucket, types);
    induceSTypes(s, sa, n, alphabet, bucket, types);
    delete[] bucket;
    return true;
}

} // namespace

bool BuildSuffixArray(const uint8_t *text, int32_t n, int32_t *sa)
{
    if (n < 0)
        return false;
    return sais<uint8_t>(text, sa, n, 256);
}

} // namespace ovpatch
