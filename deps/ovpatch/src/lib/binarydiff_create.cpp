// Diff creation: a suffix array of the old image lets each position of the
// new image find its longest match in the old one. The scan walks the new
// image and only starts a new control triple where a match beats the old
// alignment clearly, so nearly identical stretches (code shifted by a few
// bytes, changed addresses) stay inside one triple as runs of zero diff
// bytes, which compress well.

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "binarydiff.h"
#include "enginelog.h"
#include "suffixarray.h"

namespace ovpatch {

namespace {

constexpr size_t kMaxImageSize = size_t(1) << 31;
// A match replaces the current alignment when it is longer by more than this.
constexpr int64_t kMatchAdvantage = 8;
// Long matches are taken at once, which bounds the scan on repetitive data.
constexpr int64_t kLongMatch = 10240;

int64_t matchLength(const uint8_t *a, int64_t aLength, const uint8_t *b, int64_t bLength)
{
    const int64_t limit = std::min(aLength, bLength);
    int64_t i = 0;
    while (i + 8 <= limit) {
        uint64_t x, y;
        std::memcpy(&x, a + i, 8);
        std::memcpy(&y, b + i, 8);
        if (x != y)
            return i + __builtin_ctzll(x ^ y) / 8;
        i += 8;
    }
    while (i < limit && a[i] == b[i])
        ++i;
    return i;
}

class DiffScanner
{
public:
    DiffScanner(const uint8_t *old, int64_t oldSize, const uint8_t *next, int64_t newSize,
                const int32_t *suffixes)
        : m_Old(old), m_OldSize(oldSize), m_New(next), m_NewSize(newSize), m_Suffixes(suffixes)
    {
    }

    bool run(ByteWriter *control, ByteWriter *diff, ByteWriter *extra);
    // Indexes the suffix array by the first two bytes of each suffix, which
    // takes most steps off every search. False when memory runs out.
    bool indexPrefixes();

private:
    // Longest match of new[scan, newSize) in the old image; its old start
    // goes to *position.
    int64_t search(int64_t scan, int64_t *position) const;
    bool emit(int64_t lastScan, int64_t lastPosition, int64_t scan, int64_t position,
              ByteWriter *control, ByteWriter *diff, ByteWriter *extra);

    const uint8_t *m_Old;
    int64_t m_OldSize;
    const uint8_t *m_New;
    int64_t m_NewSize;
    // Suffix array with a leading entry for the empty suffix (m_OldSize).
    const int32_t *m_Suffixes;
    int64_t m_BackwardLength = 0;
    // First and last suffix-array entry whose suffix starts with the two
    // bytes (b0 << 8 | b1); -1 when no suffix does.
    std::unique_ptr<int32_t[]> m_PrefixFirst;
    std::unique_ptr<int32_t[]> m_PrefixLast;
};

constexpr size_t kPrefixCount = 65536;

bool DiffScanner::indexPrefixes()
{
    m_PrefixFirst.reset(new (std::nothrow) int32_t[kPrefixCount]);
    m_PrefixLast.reset(new (std::nothrow) int32_t[kPrefixCount]);
    if (!m_PrefixFirst || !m_PrefixLast)
        return false;
    std::fill(m_PrefixFirst.get(), m_PrefixFirst.get() + kPrefixCount, -1);
    std::fill(m_PrefixLast.get(), m_PrefixLast.get() + kPrefixCount, -1);
    for (int64_t i = 1; i <= m_OldSize; ++i) {
        const int64_t start = m_Suffixes[i];
        if (start + 2 > m_OldSize)
            continue;
        const size_t key = size_t(m_Old[start]) << 8 | m_Old[start + 1];
        if (m_PrefixFirst[key] < 0)
            m_PrefixFirst[key] = static_cast<int32_t>(i);
        m_PrefixLast[key] = static_cast<int32_t>(i);
    }
    return true;
}

int64_t DiffScanner::search(int64_t scan, int64_t *position) const
{
    const uint8_t *text = m_New + scan;
    const int64_t textLength = m_NewSize - scan;
    int64_t low = 0;
    int64_t high = m_OldSize;
    // Suffixes sharing the first two bytes with the text hold the longest
    // match whenever there are any; they form one run of the array.
    if (textLength >= 2) {
        const size_t key = size_t(text[0]) << 8 | text[1];
        if (m_PrefixFirst[key] >= 0) {
            low = m_PrefixFirst[key];
            high = m_PrefixLast[key];
        }
    }
    while (high - low >= 2) {
        const int64_t middle = low + (high - low) / 2;
        const int64_t start = m_Suffixes[middle];
        const size_t common = static_cast<size_t>(std::min(m_OldSize - start, textLength));
        if (std::memcmp(m_Old + start, text, common) < 0)
            low = middle;
        else
            high = middle;
    }
    const int64_t lowStart = m_Suffixes[low];
    const int64_t highStart = m_Suffixes[high];
    const int64_t lowLength = matchLength(m_Old + lowStart, m_OldSize - lowStart, text, textLength);
    const int64_t highLength =
        matchLength(m_Old + highStart, m_OldSize - highStart, text, textLength);
    if (lowLength > highLength) {
        *position = lowStart;
        return lowLength;
    }
    *position = highStart;
    return highLength;
}

bool DiffScanner::run(ByteWriter *control, ByteWriter *diff, ByteWriter *extra)
{
    int64_t scan = 0;
    int64_t length = 0;
    int64_t position = 0;
    int64_t lastScan = 0;
    int64_t lastPosition = 0;
    int64_t lastOffset = 0;
    while (scan < m_NewSize) {
        // Count how many bytes of the upcoming match already agree under the
        // previous alignment; a match that merely continues it is no reason
        // to start a new triple.
        int64_t oldScore = 0;
        int64_t scoreEnd = scan += length;
        for (; scan < m_NewSize; ++scan) {
            length = search(scan, &position);
            for (; scoreEnd < scan + length; ++scoreEnd) {
                if (scoreEnd + lastOffset < m_OldSize &&
                    m_Old[scoreEnd + lastOffset] == m_New[scoreEnd])
                    ++oldScore;
            }
            if ((length == oldScore && length != 0) || length > oldScore + kMatchAdvantage ||
                (length > kLongMatch && length > oldScore))
                break;
            if (scan + lastOffset < m_OldSize && m_Old[scan + lastOffset] == m_New[scan])
                --oldScore;
        }
        if (length == oldScore && scan != m_NewSize)
            continue;
        if (!emit(lastScan, lastPosition, scan, position, control, diff, extra))
            return false;
        lastScan = scan - m_BackwardLength;
        lastPosition = position - m_BackwardLength;
        lastOffset = position - scan;
    }
    return true;
}

// Emits the triple that covers new[lastScan, scan - backward): the previous
// match extended forwards (diff bytes), then the unmatched rest (extra bytes).
bool DiffScanner::emit(int64_t lastScan, int64_t lastPosition, int64_t scan, int64_t position,
                       ByteWriter *control, ByteWriter *diff, ByteWriter *extra)
{
    // Forward extension of the previous match: the length that keeps the
    // most agreeing bytes while at least half of them agree.
    int64_t forward = 0;
    {
        int64_t agreeing = 0;
        int64_t best = 0;
        for (int64_t i = 0; lastScan + i < scan && lastPosition + i < m_OldSize;) {
            if (m_Old[lastPosition + i] == m_New[lastScan + i])
                ++agreeing;
            ++i;
            if (agreeing * 2 - i > best * 2 - forward) {
                best = agreeing;
                forward = i;
            }
        }
    }
    // Backward extension of the new match, by the same rule.
    int64_t backward = 0;
    if (scan < m_NewSize) {
        int64_t agreeing = 0;
        int64_t best = 0;
        for (int64_t i = 1; scan >= lastScan + i && position >= i; ++i) {
            if (m_Old[position - i] == m_New[scan - i])
                ++agreeing;
            if (agreeing * 2 - i > best * 2 - backward) {
                best = agreeing;
                backward = i;
            }
        }
    }
    // Where the two extensions overlap, split at the point that keeps the
    // most agreeing bytes.
    if (lastScan + forward > scan - backward) {
        const int64_t overlap = (lastScan + forward) - (scan - backward);
        int64_t score = 0;
        int64_t bestScore = 0;
        int64_t split = 0;
        for (int64_t i = 0; i < overlap; ++i) {
            if (m_New[lastScan + forward - overlap + i] ==
                m_Old[lastPosition + forward - overlap + i])
                ++score;
            if (m_New[scan - backward + i] == m_Old[position - backward + i])
                --score;
            if (score > bestScore) {
                bestScore = score;
                split = i + 1;
            }
        }
        forward += split - overlap;
        backward -= split;
    }
    m_BackwardLength = backward;

    uint8_t chunk[4096];
    for (int64_t done = 0; done < forward;) {
        const int64_t n = std::min<int64_t>(sizeof(chunk), forward - done);
        for (int64_t i = 0; i < n; ++i)
            chunk[i] =
                static_cast<uint8_t>(m_New[lastScan + done + i] - m_Old[lastPosition + done + i]);
        if (!diff->Write(chunk, static_cast<size_t>(n)))
            return false;
        done += n;
    }
    const int64_t extraLength = (scan - backward) - (lastScan + forward);
    if (!extra->Write(m_New + lastScan + forward, static_cast<size_t>(extraLength)))
        return false;
    const int64_t seek = (position - backward) - (lastPosition + forward);
    return control->WriteVarSint32(static_cast<int32_t>(forward)) &&
           control->WriteVarSint32(static_cast<int32_t>(extraLength)) &&
           control->WriteVarSint32(static_cast<int32_t>(seek));
}

bool writePlainBody(ByteWriter *control, ByteWriter *diff, ByteWriter *extra, ByteWriter *out)
{
    return out->Reserve(control->length() + diff->length() + extra->length() + 15) &&
           out->WriteVarSize(control->length()) && out->WriteVarSize(diff->length()) &&
           out->WriteVarSize(extra->length()) && out->AppendAndRelease(control) &&
           out->AppendAndRelease(diff) && out->AppendAndRelease(extra);
}

} // namespace

bool CreateBinaryDiff(ByteReader *oldImage, ByteReader *newImage, ByteWriter *out, bool withHeader,
                      uint8_t method)
{
    if (oldImage->remaining() >= kMaxImageSize) {
        LogError(" old stream too large");
        return false;
    }
    if (newImage->remaining() >= kMaxImageSize) {
        LogError(" new stream too large");
        return false;
    }
    if (method >= kDiffMethodCount) {
        LogError("Invalid compression method");
        return false;
    }
    ByteReader oldBytes;
    ByteReader newBytes;
    if (!oldImage->TakeSlice(oldImage->remaining(), &oldBytes)) {
        LogError("error in old_stream size");
        return false;
    }
    if (!newImage->TakeSlice(newImage->remaining(), &newBytes)) {
        LogError("error in new_stream size");
        return false;
    }
    const int64_t oldSize = static_cast<int64_t>(oldBytes.length());
    const int64_t newSize = static_cast<int64_t>(newBytes.length());

    ByteWriter control, diff, extra;
    {
        std::unique_ptr<int32_t[]> suffixes(new (std::nothrow) int32_t[oldSize + 1]);
        if (!suffixes || !BuildSuffixArray(oldBytes.start(), static_cast<int32_t>(oldSize),
                                           suffixes.get() + 1)) {
            LogError("unable to allocate suffix array");
            return false;
        }
        suffixes[0] = static_cast<int32_t>(oldSize);
        DiffScanner scanner(oldBytes.start(), oldSize, newBytes.start(), newSize, suffixes.get());
        if (!scanner.indexPrefixes()) {
            LogError("unable to allocate suffix array");
            return false;
        }
        if (!scanner.run(&control, &diff, &extra))
            return false;
    }

    if (withHeader) {
        if (!out->Write(kDiffMagic, kDiffMagicSize) ||
            !out->WriteVarUint32(Checksum32(newBytes.start(), newBytes.length())))
            return false;
    }
    if (!out->WriteByte(method) || !out->WriteVarSize(static_cast<uint64_t>(newSize)))
        return false;
    switch (method) {
    case DIFF_UNCOMPRESSED:
        return writePlainBody(&control, &diff, &extra, out);
    case DIFF_EACH_STREAM_LZMA2:
        return out->WriteLzma2(control.data(), control.length()) &&
               out->WriteLzma2(diff.data(), diff.length()) &&
               out->WriteLzma2(extra.data(), extra.length());
    default: {
        ByteWriter body;
        return writePlainBody(&control, &diff, &extra, &body) &&
               out->WriteLzma2(body.data(), body.length());
    }
    }
}

} // namespace ovpatch
