#include "disassembler.h"

#include <new>

#include "disassembled_program.h"
#include "disassembler_elf32_arm.h"
#include "disassembler_elf32_x86.h"
#include "disassembler_elf64_x64.h"
#include "disassembler_macho.h"
#include "disassembler_win32.h"

namespace ovpatch {
namespace {

using Factory = std::unique_ptr<Disassembler> (*)(const uint8_t *, size_t);

template <typename T> std::unique_ptr<Disassembler> Make(const uint8_t *data, size_t length)
{
    return std::unique_ptr<Disassembler>(new (std::nothrow) T(data, length));
}

// The order is part of the patch format: an element is disassembled by the
// first candidate that accepts it.
const Factory kCandidates[] = {
    &Make<DisassemblerWin32X86>,
    &Make<DisassemblerWin32X64>,
    &Make<DisassemblerElf32X86>,
    &Make<DisassemblerElf64X64>,
    &Make<DisassemblerElf32ARM>,
    &Make<DisassemblerMacho>,
};

} // namespace

Disassembler::Disassembler(const void *data, size_t length)
    : m_Start(static_cast<const uint8_t *>(data)), m_End(m_Start + length), m_Length(length)
{
}

Disassembler::~Disassembler() = default;

std::unique_ptr<Disassembler> DetectExecutable(const void *data, size_t length)
{
    const auto *bytes = static_cast<const uint8_t *>(data);
    for (Factory make : kCandidates) {
        if (!make)
            continue;
        std::unique_ptr<Disassembler> candidate = make(bytes, length);
        if (candidate && candidate->CheckHeader())
            return candidate;
    }
    return nullptr;
}

PatchStatus DetectExecutableKind(const void *data, size_t length, ExecutableType *type,
                                 size_t *detectedLength)
{
    const std::unique_ptr<Disassembler> disassembler = DetectExecutable(data, length);
    if (!disassembler) {
        *type = EXE_UNKNOWN;
        *detectedLength = 0;
        return PS_NOT_EXECUTABLE;
    }
    *type = disassembler->kind();
    *detectedLength = disassembler->length();
    return PS_OK;
}

PatchStatus ParseExecutable(const void *data, size_t length,
                            std::unique_ptr<DisassembledProgram> *program)
{
    program->reset();
    const std::unique_ptr<Disassembler> disassembler = DetectExecutable(data, length);
    if (!disassembler)
        return PS_NOT_EXECUTABLE;
    std::unique_ptr<DisassembledProgram> built(new (std::nothrow)
                                                   DisassembledProgram(disassembler->kind()));
    if (!built || !disassembler->BuildProgram(built.get()))
        return PS_DISASSEMBLY_FAILED;
    *program = std::move(built);
    return PS_OK;
}

} // namespace ovpatch
