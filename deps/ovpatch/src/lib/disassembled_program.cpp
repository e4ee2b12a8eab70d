#include "disassembled_program.h"

#include <limits>
#include <new>
#include <string>

#include "encoded_program.h"
#include "enginelog.h"

namespace ovpatch {
namespace {

// Branches whose target is referenced this often or less cost more as labels
// than as plain bytes.
constexpr int32_t kArmLabelThreshold = 5;

void LogUnreachable(const char *what = "")
{
    LogError(std::string("REACHED UNREACHABLE") + what);
}

} // namespace

DisassembledProgram::DisassembledProgram(ExecutableType kind) : m_Kind(kind) {}

DisassembledProgram::~DisassembledProgram()
{
    for (Instruction *instruction : m_Instructions) {
        if (instruction->kind() != INSN_BYTE)
            delete instruction;
    }
    if (m_ByteCache) {
        for (int i = 0; i < 256; ++i)
            delete m_ByteCache[i];
        delete[] m_ByteCache;
    }
}

bool DisassembledProgram::Append(Instruction *instruction)
{
    if (!instruction)
        return false;
    if (!m_Instructions.push_back(instruction)) {
        if (instruction->kind() != INSN_BYTE)
            delete instruction;
        return false;
    }
    return true;
}

bool DisassembledProgram::EmitOrigin(uint32_t rva)
{
    return Append(new (std::nothrow) OriginInstruction(rva));
}

bool DisassembledProgram::EmitByte(uint8_t value)
{
    if (!m_ByteCache) {
        Instruction **cache = new (std::nothrow) Instruction *[256]();
        if (!cache)
            return false;
        for (int i = 0; i < 256; ++i) {
            cache[i] = new (std::nothrow) ByteInstruction(static_cast<uint8_t>(i));
            if (!cache[i]) {
                for (int j = 0; j < i; ++j)
                    delete cache[j];
                delete[] cache;
                return false;
            }
        }
        m_ByteCache = cache;
    }
    return Append(m_ByteCache[value]);
}

bool DisassembledProgram::EmitBytes(const uint8_t *bytes, size_t count)
{
    // A record counts at most 2^32-1 bytes; longer runs take several records,
    // which encode exactly like one because copies merge.
    constexpr size_t kMaxRecord = std::numeric_limits<uint32_t>::max();
    do {
        const size_t n = count < kMaxRecord ? count : kMaxRecord;
        if (!Append(new (std::nothrow) BytesInstruction(bytes, static_cast<uint32_t>(n))))
            return false;
        bytes += n;
        count -= n;
    } while (count > 0);
    return true;
}

bool DisassembledProgram::EmitRel32(Label *label)
{
    if (!label) {
        LogUnreachable();
        return false;
    }
    return Append(new (std::nothrow) LabelInstruction(INSN_REL32, label));
}

bool DisassembledProgram::EmitAbs32(Label *label)
{
    if (!label) {
        LogUnreachable();
        return false;
    }
    return Append(new (std::nothrow) LabelInstruction(INSN_ABS32, label));
}

bool DisassembledProgram::EmitRel32Arm(uint16_t compressedOp, Label *label, const uint8_t *bytes,
                                       uint16_t opSize)
{
    if (!label) {
        LogUnreachable();
        return false;
    }
    return Append(new (std::nothrow) Rel32ArmInstruction(compressedOp, label, bytes, opSize));
}

bool DisassembledProgram::EmitMakeRelocs(InstructionKind kind)
{
    if (kind != INSN_MAKE_PE_RELOCS && kind != INSN_MAKE_ELF_RELOCS &&
        kind != INSN_MAKE_ELF_ARM_RELOCS) {
        LogUnreachable();
        return false;
    }
    return Append(new (std::nothrow) MakeRelocsInstruction(kind));
}

Label *DisassembledProgram::FindOrMakeLabel(LabelMap *labels, uint32_t rva)
{
    try {
        Label &label = (*labels)[rva];
        label.rva = rva;
        ++label.count;
        return &label;
    } catch (const std::bad_alloc &) {
        return nullptr;
    }
}

Label *DisassembledProgram::FindOrMakeAbs32Label(uint32_t rva)
{
    return FindOrMakeLabel(&m_Abs32Labels, rva);
}

Label *DisassembledProgram::FindOrMakeRel32Label(uint32_t rva)
{
    return FindOrMakeLabel(&m_Rel32Labels, rva);
}

bool DisassembledProgram::AssignLabelIndexes()
{
    for (LabelMap *labels : {&m_Abs32Labels, &m_Rel32Labels}) {
        int32_t index = 0;
        for (auto &entry : *labels) {
            if (entry.second.index != -1)
                LogUnreachable();
            entry.second.index = index++;
        }
    }
    return true;
}

bool DisassembledProgram::TrimLabels()
{
    if (m_Kind != EXE_ELF_32_ARM)
        return true;
    LogDebug("TrimLabels: threshold " + std::to_string(kArmLabelThreshold));

    // Rarely used branch targets travel as the branch's own bytes. The
    // instructions are rewritten before their labels leave the map.
    for (Instruction *&instruction : m_Instructions) {
        if (instruction->kind() != INSN_REL32_ARM)
            continue;
        auto *branch = static_cast<Rel32ArmInstruction *>(instruction);
        if (branch->label()->count > kArmLabelThreshold)
            continue;
        if (branch->opSize() == 0)
            return false;
        Instruction *bytes = new (std::nothrow) BytesInstruction(branch->bytes(), branch->opSize());
        if (!bytes)
            return false;
        delete instruction;
        instruction = bytes;
    }
    try {
        for (auto it = m_Rel32Labels.begin(); it != m_Rel32Labels.end();) {
            if (it->second.count > kArmLabelThreshold) {
                ++it;
                continue;
            }
            auto next = std::next(it);
            // Room first, so the push cannot fail with the node in hand.
            if (m_TrimmedLabels.size() == m_TrimmedLabels.capacity())
                m_TrimmedLabels.reserve(2 * m_TrimmedLabels.size() + 64);
            m_TrimmedLabels.push_back(m_Rel32Labels.extract(it));
            it = next;
        }
    } catch (const std::bad_alloc &) {
        return false;
    }
    return true;
}

std::unique_ptr<EncodedProgram> DisassembledProgram::EncodeProgram() const
{
    std::unique_ptr<EncodedProgram> encoded(new (std::nothrow) EncodedProgram());
    if (!encoded)
        return nullptr;
    encoded->set_image_base(m_ImageBase);

    for (const auto &entry : m_Abs32Labels) {
        if (!encoded->DefineAbs32Label(entry.second.index, entry.second.rva))
            return nullptr;
    }
    for (const auto &entry : m_Rel32Labels) {
        if (!encoded->DefineRel32Label(entry.second.index, entry.second.rva))
            return nullptr;
    }
    encoded->EndDefinitions();

    for (const Instruction *instruction : m_Instructions) {
        bool ok = true;
        switch (instruction->kind()) {
        case INSN_ORIGIN:
            ok = encoded->AddOrigin(static_cast<const OriginInstruction *>(instruction)->rva());
            break;
        case INSN_MAKE_PE_RELOCS:
            ok = encoded->AddOp(m_Kind == EXE_WIN_32_X86 ? OP_MAKE_PE_RELOCS : OP_MAKE_PE64_RELOCS);
            break;
        case INSN_MAKE_ELF_RELOCS:
            ok = encoded->AddOp(OP_MAKE_ELF_RELOCS);
            break;
        case INSN_MAKE_ELF_ARM_RELOCS:
            ok = encoded->AddOp(OP_MAKE_ELF_ARM_RELOCS);
            break;
        case INSN_BYTE: {
            const uint8_t value = static_cast<const ByteInstruction *>(instruction)->value();
            ok = encoded->AddCopy(&value, 1);
            break;
        }
        case INSN_BYTES: {
            const auto *bytes = static_cast<const BytesInstruction *>(instruction);
            ok = encoded->AddCopy(bytes->bytes(), bytes->count());
            break;
        }
        case INSN_REL32:
            ok = encoded->AddRel32(
                static_cast<const LabelInstruction *>(instruction)->label()->index);
            break;
        case INSN_ABS32:
            ok = encoded->AddAbs32(
                static_cast<const LabelInstruction *>(instruction)->label()->index);
            break;
        case INSN_REL32_ARM: {
            const auto *branch = static_cast<const Rel32ArmInstruction *>(instruction);
            ok = encoded->AddArmBranch(branch->compressedOp(), branch->label()->index);
            break;
        }
        default:
            LogUnreachable("Unknown Insn OP kind");
            break;
        }
        if (!ok)
            return nullptr;
    }
    return encoded;
}

PatchStatus TrimLabels(DisassembledProgram *program)
{
    return program->TrimLabels() ? PS_OK : PS_TRIM_FAILED;
}

PatchStatus Encode(const DisassembledProgram &program, std::unique_ptr<EncodedProgram> *encoded)
{
    *encoded = program.EncodeProgram();
    return *encoded ? PS_OK : PS_FAILED;
}

} // namespace ovpatch
