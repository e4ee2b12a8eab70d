#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "nothrow_vector.h"
#include "patchstatus.h"

// The encoded form of a program: flat tables in which every address field is
// the index of its label and all plain bytes are pooled. These tables are what
// a patch diffs, so their layout in streams is fixed:
//
//   stream 0  image base (varint of its low 32 bits), then origins
//   stream 1  ops
//   stream 2  copy_bytes: length varint, then the raw bytes
//   stream 3  abs32_ix
//   stream 4  rel32_ix
//   stream 5  abs32_rvas, delta-coded
//   stream 6  rel32_rvas, delta-coded
//   stream 7  copy_counts
//   stream 8, 9 unused
//
// A table is its entry count followed by every entry, all unsigned varints; a
// delta-coded table stores each entry minus the one before (modulo 2^32).
namespace ovpatch {

class ByteWriter;
class ReaderGroup;
class WriterGroup;

enum OpCode : uint32_t
{
    OP_ORIGIN = 0,              // next origin becomes the current RVA
    OP_COPY_RUN = 1,            // next copy count n, then n pooled bytes
    OP_COPY_ONE = 2,            // one pooled byte
    OP_REL32 = 3,               // next rel32_ix: 4-byte relative address
    OP_ABS32 = 4,               // next abs32_ix: 4-byte absolute address
    OP_MAKE_PE_RELOCS = 5,      // PE base relocations of type 3 (HIGHLOW)
    OP_MAKE_ELF_RELOCS = 6,     // ELF32 relocations of type 8 (R_386_RELATIVE)
    OP_MAKE_ELF_ARM_RELOCS = 7, // ELF32 relocations of type 23 (R_ARM_RELATIVE)
    OP_MAKE_PE64_RELOCS = 8,    // PE base relocations of type 10 (DIR64)
    // 0x1000-0x5FFF: an ARM branch; the code is its compressed op.
};

class EncodedProgram
{
public:
    EncodedProgram() = default;
    EncodedProgram(const EncodedProgram &) = delete;
    EncodedProgram &operator=(const EncodedProgram &) = delete;

    uint64_t image_base() const { return m_ImageBase; }
    void set_image_base(uint64_t base) { m_ImageBase = base; }

    // Building, used by DisassembledProgram::EncodeProgram. Each returns
    // false when an allocation fails.
    //
    // Stores a label's RVA at its index; a negative (unassigned) index fails.
    bool DefineAbs32Label(int32_t index, uint32_t rva);
    bool DefineRel32Label(int32_t index, uint32_t rva);
    // Gives every index no label took the RVA before it (0 for the first),
    // so gaps cost nothing after delta coding.
    void EndDefinitions();
    bool AddOrigin(uint32_t rva);
    // Merges with a copy right before it; a lone byte is OP_COPY_ONE.
    bool AddCopy(const uint8_t *bytes, size_t n);
    bool AddRel32(int32_t index);
    bool AddAbs32(int32_t index);
    bool AddArmBranch(uint16_t compressedOp, int32_t index);
    // One of the OP_MAKE_*_RELOCS codes.
    bool AddOp(uint32_t op);

    // Writes the tables into streams 0-7 of group; false if any write failed.
    bool Save(WriterGroup *group) const;
    // Reads tables saved by Save; null when a table is truncated or streams
    // 0-8 hold bytes that are not part of a table.
    static std::unique_ptr<EncodedProgram> Load(ReaderGroup *group);
    // Appends the program's bytes to out, relocation tables rebuilt where the
    // ops say so. Call once: it fills abs32_relocs. False on a bad label
    // index, an exhausted or unconsumed table, an unknown op code or a second
    // relocation table of the same family.
    bool Assemble(ByteWriter *out);

    // Logs the table sizes at the debug level.
    void LogSummary() const;

    const NoThrowVector<uint32_t> &rel32_rvas() const { return m_Rel32Rvas; }
    const NoThrowVector<uint32_t> &abs32_rvas() const { return m_Abs32Rvas; }
    const NoThrowVector<uint32_t> &ops() const { return m_Ops; }
    const NoThrowVector<uint32_t> &origins() const { return m_Origins; }
    const NoThrowVector<uint32_t> &copy_counts() const { return m_CopyCounts; }
    const NoThrowVector<uint8_t> &copy_bytes() const { return m_CopyBytes; }
    const NoThrowVector<uint32_t> &rel32_ix() const { return m_Rel32Ix; }
    const NoThrowVector<uint32_t> &abs32_ix() const { return m_Abs32Ix; }
    const NoThrowVector<uint32_t> &abs32_relocs() const { return m_Abs32Relocs; }

private:
    bool WriteRelocations(ByteWriter *out, bool pe, uint32_t type);

    uint64_t m_ImageBase = 0;
    NoThrowVector<uint32_t> m_Rel32Rvas;
    NoThrowVector<uint32_t> m_Abs32Rvas;
    NoThrowVector<uint32_t> m_Ops;
    NoThrowVector<uint32_t> m_Origins;
    NoThrowVector<uint32_t> m_CopyCounts;
    NoThrowVector<uint8_t> m_CopyBytes;
    NoThrowVector<uint32_t> m_Rel32Ix;
    NoThrowVector<uint32_t> m_Abs32Ix;
    NoThrowVector<uint32_t> m_Abs32Relocs;
};

// Sorts relocation RVAs the way the relocation tables are rebuilt: ascending
// over every element but the last, which keeps its place. Patches are made
// against exactly this order.
void SortRelocations(uint32_t *rvas, size_t n);

// Status forms used by the package and ensemble code: PS_OK, or
// PS_STREAM_ERROR when saving fails, PS_BAD_ENCODED_PROGRAM when loading
// fails (no program is returned), PS_ASSEMBLY_FAILED when assembling fails.
PatchStatus WriteEncodedProgram(const EncodedProgram &program, WriterGroup *group);
PatchStatus ReadEncodedProgram(ReaderGroup *group, std::unique_ptr<EncodedProgram> *program);
PatchStatus Assemble(EncodedProgram *program, ByteWriter *out);

} // namespace ovpatch
