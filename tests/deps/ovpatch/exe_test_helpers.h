#pragma once

#include <cstdint>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "disassembled_program.h"
#include "disassembler.h"
#include "encoded_program.h"
#include "streams.h"

// Helpers shared by the PE and Mach-O disassembler tests.
namespace exetest {

using Bytes = std::vector<uint8_t>;

inline Bytes readFixture(const std::string &relative)
{
    std::ifstream in(std::string(OV3_TEST_DATA_DIR) + "/" + relative, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void put16(Bytes *b, size_t at, uint32_t v)
{
    if (b->size() < at + 2)
        b->resize(at + 2);
    (*b)[at] = static_cast<uint8_t>(v);
    (*b)[at + 1] = static_cast<uint8_t>(v >> 8);
}

inline void put32(Bytes *b, size_t at, uint32_t v)
{
    put16(b, at, v & 0xFFFF);
    put16(b, at + 2, v >> 16);
}

inline void put64(Bytes *b, size_t at, uint64_t v)
{
    put32(b, at, static_cast<uint32_t>(v));
    put32(b, at + 4, static_cast<uint32_t>(v >> 32));
}

inline void putBytes(Bytes *b, size_t at, const Bytes &bytes)
{
    if (b->size() < at + bytes.size())
        b->resize(at + bytes.size());
    std::copy(bytes.begin(), bytes.end(), b->begin() + static_cast<long>(at));
}

// The full apply-side path of a disassembled executable: parse, encode, save
// into a stream-group image, load that image back and assemble. Returns the
// assembled bytes through out.
inline ::testing::AssertionResult roundTrip(const Bytes &data, Bytes *out)
{
    using namespace ovpatch;
    std::unique_ptr<DisassembledProgram> program;
    const PatchStatus parsed = ParseExecutable(data.data(), data.size(), &program);
    if (parsed != PS_OK)
        return ::testing::AssertionFailure() << "ParseExecutable: " << PatchStatusName(parsed);
    std::unique_ptr<EncodedProgram> encoded = program->EncodeProgram();
    if (!encoded)
        return ::testing::AssertionFailure() << "EncodeProgram failed";
    WriterGroup writers;
    ByteWriter image;
    if (!encoded->Save(&writers) || !writers.WriteImage(&image))
        return ::testing::AssertionFailure() << "saving failed";
    ReaderGroup readers;
    if (!readers.Parse(image.data(), image.length()))
        return ::testing::AssertionFailure() << "image does not parse";
    std::unique_ptr<EncodedProgram> loaded = EncodedProgram::Load(&readers);
    if (!loaded)
        return ::testing::AssertionFailure() << "loading failed";
    ByteWriter assembled;
    if (!loaded->Assemble(&assembled))
        return ::testing::AssertionFailure() << "Assemble failed";
    out->assign(assembled.data(), assembled.data() + assembled.length());
    return ::testing::AssertionSuccess();
}

// Deterministic xorshift sequence, so corruption failures reproduce.
class Xorshift
{
public:
    explicit Xorshift(uint32_t seed) : m_State(seed ? seed : 1) {}
    uint32_t next()
    {
        m_State ^= m_State << 13;
        m_State ^= m_State >> 17;
        m_State ^= m_State << 5;
        return m_State;
    }

private:
    uint32_t m_State;
};

// Feeds truncated and corrupted copies of data through detection and
// disassembly. Nothing is expected of the result; the sanitizer build turns
// any read outside the buffer into a failure.
inline void exercise(const Bytes &bytes)
{
    using namespace ovpatch;
    // An exact-size heap copy, so the sanitizer sees reads past the end.
    std::unique_ptr<uint8_t[]> copy(new uint8_t[bytes.size() ? bytes.size() : 1]);
    std::copy(bytes.begin(), bytes.end(), copy.get());
    std::unique_ptr<DisassembledProgram> program;
    if (ParseExecutable(copy.get(), bytes.size(), &program) == PS_OK) {
        std::unique_ptr<EncodedProgram> encoded = program->EncodeProgram();
        ByteWriter out;
        if (encoded)
            encoded->Assemble(&out);
    }
}

// Sets every aligned 32-bit word of [from, to), one at a time, to values that
// sit on the bounds a header check must get right.
inline void sweepHeaderWords(const Bytes &data, size_t from, size_t to)
{
    const uint32_t size = static_cast<uint32_t>(data.size());
    const uint32_t values[] = {0,          1,    7,        0x7FFFFFFF, 0x80000000,
                               0xFFFFFFFF, size, size - 1, size - 4,   size + 1};
    for (size_t at = from; at + 4 <= std::min(to, data.size()); at += 4) {
        for (uint32_t v : values) {
            Bytes bytes = data;
            put32(&bytes, at, v);
            exercise(bytes);
        }
    }
}

inline void abuse(const Bytes &data, uint32_t seed)
{
    using namespace ovpatch;
    const size_t step = data.size() / 61 + 1;
    for (size_t cut = 0; cut < data.size(); cut += step)
        exetest::exercise(Bytes(data.begin(), data.begin() + static_cast<long>(cut)));

    Xorshift random(seed);
    for (int round = 0; round < 120; ++round) {
        Bytes bytes = data;
        // Header damage is what reaches the parsers' bounds checks, so most
        // flips land in the first 1 KiB.
        const int flips = 1 + static_cast<int>(random.next() % 4);
        for (int i = 0; i < flips; ++i) {
            const size_t range =
                (random.next() % 4 == 0) ? bytes.size() : std::min<size_t>(1024, bytes.size());
            const size_t at = random.next() % range;
            bytes[at] = static_cast<uint8_t>(random.next());
        }
        exetest::exercise(bytes);
    }
}

} // namespace exetest
