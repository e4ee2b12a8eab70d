#pragma once

#include <cstddef>
#include <cstdint>

namespace ovpatch {

// Sorts the suffixes of text[0, n) by induced sorting (SA-IS) in O(n) time:
// sa[i] is the start of the i-th smallest suffix. A shorter suffix sorts
// before every longer one that it prefixes. Working memory beyond sa is at
// most n / 2 + 256 indices and n bits per recursion level. Requires
// n < 2^31. Returns false when memory runs out.
bool BuildSuffixArray(const uint8_t *text, int32_t n, int32_t *sa);

} // namespace ovpatch
