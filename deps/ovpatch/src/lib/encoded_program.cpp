#include "encoded_program.h"

#include <algorithm>
#include <cstdio>
#include <new>
#include <string>

#include "arm_branch.h"
#include "enginelog.h"
#include "streams.h"

namespace ovpatch {
namespace {

constexpr uint32_t kUnassignedRva = 0xFFFFFFFF;

// Stream assignment of a saved program.
enum : size_t
{
    kStreamBaseAndOrigins = 0,
    kStreamOps = 1,
    kStreamCopyBytes = 2,
    kStreamAbs32Ix = 3,
    kStreamRel32Ix = 4,
    kStreamAbs32Rvas = 5,
    kStreamRel32Rvas = 6,
    kStreamCopyCounts = 7,
    kLastCheckedStream = 8,
};

// Relocation entry types written by the make-relocations ops.
constexpr uint32_t kPeHighLow = 3;
constexpr uint32_t kPeDir64 = 10;
constexpr uint32_t kElfRelative386 = 8;
constexpr uint32_t kElfRelativeArm = 23;
constexpr size_t kPeMaxBlockEntries = 4096;

bool DefineLabel(NoThrowVector<uint32_t> *rvas, int32_t index, uint32_t rva)
{
    if (index < 0)
        return false;
    const size_t i = static_cast<size_t>(index);
    if (i >= rvas->size() && !rvas->resize(i + 1, kUnassignedRva))
        return false;
    (*rvas)[i] = rva;
    return true;
}

void FillGaps(NoThrowVector<uint32_t> *rvas)
{
    uint32_t previous = 0;
    for (uint32_t &rva : *rvas) {
        if (rva == kUnassignedRva)
            rva = previous;
        previous = rva;
    }
}

bool WriteTable(ByteWriter *out, const NoThrowVector<uint32_t> &table)
{
    bool ok = out->WriteVarSize(table.size());
    for (uint32_t value : table)
        ok &= out->WriteVarSize(value);
    return ok;
}

bool WriteDeltaTable(ByteWriter *out, const NoThrowVector<uint32_t> &table)
{
    bool ok = out->WriteVarSize(table.size());
    uint32_t previous = 0;
    for (uint32_t value : table) {
        ok &= out->WriteVarSize(static_cast<uint32_t>(value - previous));
        previous = value;
    }
    return ok;
}

bool ReadTable(ByteReader *in, NoThrowVector<uint32_t> *table)
{
    uint32_t count = 0;
    if (!in->ReadVarUint32(&count))
        return false;
    table->clear();
    // Every entry takes at least one byte, so a count above what remains is
    // bound to fail; reserving no more than that keeps a forged count from
    // allocating memory the input cannot fill.
    if (!table->reserve(std::min<size_t>(count, in->remaining())))
        return false;
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t value = 0;
        if (!in->ReadVarUint32(&value) || !table->push_back(value))
            return false;
    }
    return true;
}

bool ReadDeltaTable(ByteReader *in, NoThrowVector<uint32_t> *table)
{
    if (!ReadTable(in, table))
        return false;
    uint32_t sum = 0;
    for (uint32_t &value : *table) {
        sum += value;
        value = sum;
    }
    return true;
}

bool WriteLe16(ByteWriter *out, uint32_t value)
{
    const uint8_t bytes[2] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8)};
    return out->Write(bytes, sizeof(bytes));
}

bool WriteLe32(ByteWriter *out, uint32_t value)
{
    const uint8_t bytes[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                              static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
    return out->Write(bytes, sizeof(bytes));
}

// One PE base relocation block: page RVA, block size, then the entries,
// padded to an even count so the size stays a multiple of 4.
bool WritePeBlock(ByteWriter *out, uint32_t page, NoThrowVector<uint16_t> *entries)
{
    if (entries->size() % 2 != 0 && !entries->push_back(0))
        return false;
    bool ok = WriteLe32(out, page);
    ok &= WriteLe32(out, static_cast<uint32_t>(8 + 2 * entries->size()));
    for (uint16_t entry : *entries)
        ok &= WriteLe16(out, entry);
    entries->clear();
    return ok;
}

bool ArmBranchTypeOfOp(uint32_t op, uint32_t *type)
{
    switch (op & 0xF000) {
    case 0x1000:
        *type = ARM_B8;
        return true;
    case 0x2000:
        *type = ARM_B11;
        return true;
    case 0x3000:
        *type = ARM_B24;
        return true;
    case 0x4000:
        *type = ARM_BL25;
        return true;
    case 0x5000:
        *type = ARM_B21;
        return true;
    default:
        return false;
    }
}

} // namespace

void SortRelocations(uint32_t *rvas, size_t n)
{
    if (n > 1)
        std::sort(rvas, rvas + n - 1);
}

bool EncodedProgram::DefineAbs32Label(int32_t index, uint32_t rva)
{
    return DefineLabel(&m_Abs32Rvas, index, rva);
}

bool EncodedProgram::DefineRel32Label(int32_t index, uint32_t rva)
{
    return DefineLabel(&m_Rel32Rvas, index, rva);
}

void EncodedProgram::EndDefinitions()
{
    FillGaps(&m_Abs32Rvas);
    FillGaps(&m_Rel32Rvas);
}

bool EncodedProgram::AddOrigin(uint32_t rva)
{
    return m_Ops.push_back(OP_ORIGIN) && m_Origins.push_back(rva);
}

bool EncodedProgram::AddCopy(const uint8_t *bytes, size_t n)
{
    if (!m_Ops.empty()) {
        if (m_Ops.back() == OP_COPY_ONE) {
            if (!m_CopyCounts.push_back(1))
                return false;
            m_Ops.back() = OP_COPY_RUN;
        }
        if (m_Ops.back() == OP_COPY_RUN) {
            if (n > kUnassignedRva - m_CopyCounts.back())
                return false;
            if (!m_CopyBytes.append(bytes, n))
                return false;
            m_CopyCounts.back() += static_cast<uint32_t>(n);
            return true;
        }
    }
    if (n > kUnassignedRva)
        return false;
    if (n == 1)
        return m_Ops.push_back(OP_COPY_ONE) && m_CopyBytes.push_back(bytes[0]);
    return m_Ops.push_back(OP_COPY_RUN) && m_CopyCounts.push_back(static_cast<uint32_t>(n)) &&
           m_CopyBytes.append(bytes, n);
}

bool EncodedProgram::AddRel32(int32_t index)
{
    return m_Ops.push_back(OP_REL32) && m_Rel32Ix.push_back(static_cast<uint32_t>(index));
}

bool EncodedProgram::AddAbs32(int32_t index)
{
    return m_Ops.push_back(OP_ABS32) && m_Abs32Ix.push_back(static_cast<uint32_t>(index));
}

bool EncodedProgram::AddArmBranch(uint16_t compressedOp, int32_t index)
{
    return m_Ops.push_back(compressedOp) && m_Rel32Ix.push_back(static_cast<uint32_t>(index));
}

bool EncodedProgram::AddOp(uint32_t op)
{
    return m_Ops.push_back(op);
}

bool EncodedProgram::Save(WriterGroup *group) const
{
    ByteWriter *base = group->stream(kStreamBaseAndOrigins);
    bool ok = base->WriteVarUint32(static_cast<uint32_t>(m_ImageBase));
    ok &= WriteTable(base, m_Origins);

    ByteWriter *ops = group->stream(kStreamOps);
    ok &= ops->Reserve(m_Ops.size() + 5);
    ok &= WriteTable(ops, m_Ops);

    ByteWriter *copyBytes = group->stream(kStreamCopyBytes);
    ok &= copyBytes->WriteVarSize(m_CopyBytes.size());
    ok &= copyBytes->Write(m_CopyBytes.data(), m_CopyBytes.size());

    ok &= WriteTable(group->stream(kStreamAbs32Ix), m_Abs32Ix);
    ok &= WriteTable(group->stream(kStreamRel32Ix), m_Rel32Ix);
    ok &= WriteDeltaTable(group->stream(kStreamAbs32Rvas), m_Abs32Rvas);
    ok &= WriteDeltaTable(group->stream(kStreamRel32Rvas), m_Rel32Rvas);
    ok &= WriteTable(group->stream(kStreamCopyCounts), m_CopyCounts);
    return ok;
}

std::unique_ptr<EncodedProgram> EncodedProgram::Load(ReaderGroup *group)
{
    std::unique_ptr<EncodedProgram> program(new (std::nothrow) EncodedProgram());
    if (!program)
        return nullptr;

    uint32_t imageBase = 0;
    if (!group->stream(kStreamBaseAndOrigins)->ReadVarUint32(&imageBase))
        return nullptr;
    program->m_ImageBase = imageBase;
    if (!ReadDeltaTable(group->stream(kStreamAbs32Rvas), &program->m_Abs32Rvas) ||
        !ReadDeltaTable(group->stream(kStreamRel32Rvas), &program->m_Rel32Rvas) ||
        !ReadTable(group->stream(kStreamBaseAndOrigins), &program->m_Origins) ||
        !ReadTable(group->stream(kStreamOps), &program->m_Ops) ||
        !ReadTable(group->stream(kStreamCopyCounts), &program->m_CopyCounts))
        return nullptr;

    ByteReader *copyBytes = group->stream(kStreamCopyBytes);
    uint32_t length = 0;
    if (!copyBytes->ReadVarUint32(&length) || copyBytes->remaining() < length)
        return nullptr;
    if (!program->m_CopyBytes.append(copyBytes->cursor(), length) || !copyBytes->Skip(length))
        return nullptr;

    if (!ReadTable(group->stream(kStreamAbs32Ix), &program->m_Abs32Ix) ||
        !ReadTable(group->stream(kStreamRel32Ix), &program->m_Rel32Ix))
        return nullptr;

    for (size_t i = 0; i <= kLastCheckedStream; ++i) {
        if (!group->stream(i)->empty())
            return nullptr;
    }
    return program;
}

bool EncodedProgram::WriteRelocations(ByteWriter *out, bool pe, uint32_t type)
{
    SortRelocations(m_Abs32Relocs.data(), m_Abs32Relocs.size());
    if (!pe) {
        bool ok = true;
        for (uint32_t rva : m_Abs32Relocs) {
            ok &= WriteLe32(out, rva);
            ok &= WriteLe32(out, type);
        }
        return ok;
    }
    NoThrowVector<uint16_t> entries(kPeMaxBlockEntries + 1);
    uint32_t page = 0xFFFFFFFF;
    for (uint32_t rva : m_Abs32Relocs) {
        const uint32_t rvaPage = rva & 0xFFFFF000;
        if (rvaPage != page || entries.size() == kPeMaxBlockEntries) {
            if (!entries.empty() && !WritePeBlock(out, page, &entries))
                return false;
            page = rvaPage;
        }
        if (!entries.push_back(static_cast<uint16_t>(type << 12 | (rva & 0xFFF))))
            return false;
    }
    return entries.empty() || WritePeBlock(out, page, &entries);
}

bool EncodedProgram::Assemble(ByteWriter *out)
{
    const uint32_t base = static_cast<uint32_t>(m_ImageBase);
    uint32_t rva = 0;
    size_t nextOrigin = 0, nextCount = 0, nextByte = 0, nextRel32 = 0, nextAbs32 = 0;
    // Relocation tables go where their op stands, but they can only be built
    // once every address is known: the bytes after the op wait in a side
    // writer until then.
    ByteWriter side;
    ByteWriter *dest = out;
    bool pePending = false, elfPending = false;
    uint32_t peType = 0, elfType = 0;

    for (uint32_t op : m_Ops) {
        switch (op) {
        case OP_ORIGIN:
            if (nextOrigin >= m_Origins.size())
                return false;
            rva = m_Origins[nextOrigin++];
            break;
        case OP_COPY_RUN: {
            if (nextCount >= m_CopyCounts.size())
                return false;
            const uint32_t n = m_CopyCounts[nextCount++];
            if (m_CopyBytes.size() - nextByte < n || !dest->Write(&m_CopyBytes[nextByte], n))
                return false;
            nextByte += n;
            rva += n;
            break;
        }
        case OP_COPY_ONE:
            if (nextByte >= m_CopyBytes.size() || !dest->Write(&m_CopyBytes[nextByte], 1))
                return false;
            ++nextByte;
            ++rva;
            break;
        case OP_REL32: {
            if (nextRel32 >= m_Rel32Ix.size())
                return false;
            const uint32_t index = m_Rel32Ix[nextRel32++];
            if (index >= m_Rel32Rvas.size() || !WriteLe32(dest, m_Rel32Rvas[index] - (rva + 4)))
                return false;
            rva += 4;
            break;
        }
        case OP_ABS32: {
            if (nextAbs32 >= m_Abs32Ix.size())
                return false;
            const uint32_t index = m_Abs32Ix[nextAbs32++];
            if (index >= m_Abs32Rvas.size() || !WriteLe32(dest, m_Abs32Rvas[index] + base) ||
                !m_Abs32Relocs.push_back(rva))
                return false;
            rva += 4;
            break;
        }
        case OP_MAKE_PE_RELOCS:
        case OP_MAKE_PE64_RELOCS:
            if (pePending)
                return false;
            pePending = true;
            peType = op == OP_MAKE_PE_RELOCS ? kPeHighLow : kPeDir64;
            dest = &side;
            break;
        case OP_MAKE_ELF_RELOCS:
        case OP_MAKE_ELF_ARM_RELOCS:
            if (elfPending)
                return false;
            elfPending = true;
            elfType = op == OP_MAKE_ELF_RELOCS ? kElfRelative386 : kElfRelativeArm;
            dest = &side;
            break;
        default: {
            uint32_t type = 0;
            if (!ArmBranchTypeOfOp(op, &type) || nextRel32 >= m_Rel32Ix.size())
                return false;
            const uint32_t index = m_Rel32Ix[nextRel32++];
            uint32_t instruction = 0;
            if (index >= m_Rel32Rvas.size() ||
                !EncodeArmBranch(type, op, m_Rel32Rvas[index] - rva, &instruction))
                return false;
            bool ok;
            if (type == ARM_B8 || type == ARM_B11)
                ok = WriteLe16(dest, instruction);
            else if (type == ARM_B24)
                ok = WriteLe32(dest, instruction);
            else
                ok = WriteLe16(dest, instruction >> 16) && WriteLe16(dest, instruction);
            if (!ok)
                return false;
            rva += ArmBranchOpSize(type);
            break;
        }
        }
    }

    if (pePending && (!WriteRelocations(out, true, peType) || !out->AppendAndRelease(&side)))
        return false;
    if (elfPending && (!WriteRelocations(out, false, elfType) || !out->AppendAndRelease(&side)))
        return false;

    return nextCount == m_CopyCounts.size() && nextByte == m_CopyBytes.size() &&
           nextAbs32 == m_Abs32Ix.size() && nextRel32 == m_Rel32Ix.size();
}

void EncodedProgram::LogSummary() const
{
    std::string text = "EncodedProgram Summary";
    auto line = [&text](const char *label, unsigned long long value) {
        char buffer[64];
        std::snprintf(buffer, sizeof(buffer), "\n  %-12s%llu", label, value);
        text += buffer;
    };
    line("image base", m_ImageBase);
    line("abs32 rvas", m_Abs32Rvas.size());
    line("rel32 rvas", m_Rel32Rvas.size());
    line("ops", m_Ops.size());
    line("origins", m_Origins.size());
    line("copy_counts", m_CopyCounts.size());
    line("copy_bytes", m_CopyBytes.size());
    line("abs32_ix", m_Abs32Ix.size());
    line("rel32_ix", m_Rel32Ix.size());
    LogDebug(text);
}

PatchStatus WriteEncodedProgram(const EncodedProgram &program, WriterGroup *group)
{
    return program.Save(group) ? PS_OK : PS_STREAM_ERROR;
}

PatchStatus ReadEncodedProgram(ReaderGroup *group, std::unique_ptr<EncodedProgram> *program)
{
    *program = EncodedProgram::Load(group);
    return *program ? PS_OK : PS_BAD_ENCODED_PROGRAM;
}

PatchStatus Assemble(EncodedProgram *program, ByteWriter *out)
{
    return program->Assemble(out) ? PS_OK : PS_ASSEMBLY_FAILED;
}

} // namespace ovpatch
