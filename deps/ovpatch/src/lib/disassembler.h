#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "patchstatus.h"

// Disassemblers recognise one kind of executable and turn its bytes into a
// DisassembledProgram. A disassembler borrows the bytes it is constructed
// over; the program it fills points into them too, so they must outlive both.
namespace ovpatch {

class DisassembledProgram;

class Disassembler
{
public:
    Disassembler(const void *data, size_t length);
    virtual ~Disassembler();
    Disassembler(const Disassembler &) = delete;
    Disassembler &operator=(const Disassembler &) = delete;

    virtual ExecutableType kind() const { return EXE_UNKNOWN; }
    // Checks the headers; on success the disassembler accepts the input and
    // length() may have shrunk to the bytes the executable owns.
    virtual bool CheckHeader() = 0;
    // Fills program; false when the header check has not passed or the
    // input cannot be disassembled.
    virtual bool BuildProgram(DisassembledProgram *program) = 0;

    // "uninitialized" before the header check, null once it passed, the
    // message of the failed check otherwise.
    const char *failure_reason() const { return m_FailureReason; }
    size_t length() const { return m_Length; }
    const uint8_t *start() const { return m_Start; }
    const uint8_t *end() const { return m_End; }

protected:
    bool Good()
    {
        m_FailureReason = nullptr;
        return true;
    }
    bool Bad(const char *reason)
    {
        m_FailureReason = reason;
        return false;
    }
    // Only ever lowers the length.
    void ShrinkLength(size_t length)
    {
        if (length < m_Length)
            m_Length = length;
    }
    const uint8_t *PointerAt(size_t offset) const { return m_Start + offset; }

private:
    const char *m_FailureReason = "uninitialized";
    const uint8_t *m_Start;
    const uint8_t *m_End;
    size_t m_Length;
};

// The first disassembler whose header check accepts the bytes, trying PE32,
// PE32+, ELF32 x86, ELF64 x86-64, ELF32 ARM and Mach-O in that order; null
// when none does.
std::unique_ptr<Disassembler> DetectExecutable(const void *data, size_t length);

// PS_OK with the accepting disassembler's kind and length, or
// PS_NOT_EXECUTABLE with EXE_UNKNOWN and 0.
PatchStatus DetectExecutableKind(const void *data, size_t length, ExecutableType *type,
                                 size_t *detectedLength);

// Detects and disassembles: PS_NOT_EXECUTABLE when nothing accepts the bytes,
// PS_DISASSEMBLY_FAILED when building the program fails (no program is
// returned then), PS_OK otherwise.
PatchStatus ParseExecutable(const void *data, size_t length,
                            std::unique_ptr<DisassembledProgram> *program);

} // namespace ovpatch
