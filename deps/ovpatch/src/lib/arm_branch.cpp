#include "arm_branch.h"

namespace ovpatch {
namespace {

// Sign-extends value from bit `bit` (the sign bit) to 32 bits.
uint32_t SignExtend(uint32_t value, unsigned bit)
{
    const uint32_t sign = 1u << bit;
    value &= (sign << 1) - 1;
    return (value ^ sign) - sign;
}

uint32_t Bit(uint32_t value, unsigned bit)
{
    return (value >> bit) & 1u;
}

} // namespace

uint16_t ArmBranchOpSize(uint32_t type)
{
    switch (type) {
    case ARM_B8:
    case ARM_B11:
        return 2;
    case ARM_B24:
    case ARM_BL25:
    case ARM_B21:
        return 4;
    default:
        return kArmNoOpSize;
    }
}

bool DecodeArmBranch(uint32_t type, uint32_t instr, uint32_t sourceRva, uint16_t *compressedOp,
                     uint32_t *relativeTarget)
{
    switch (type) {
    case ARM_B8:
        *relativeTarget = SignExtend((instr & 0xFF) << 1, 8) + 4;
        *compressedOp = static_cast<uint16_t>((instr >> 8) | 0x1000);
        return true;
    case ARM_B11:
        *relativeTarget = SignExtend((instr & 0x7FF) << 1, 11) + 4;
        *compressedOp = static_cast<uint16_t>((instr >> 11) | 0x2000);
        return true;
    case ARM_B24:
        *relativeTarget = SignExtend((instr & 0xFFFFFF) << 2, 25) + 8;
        *compressedOp = static_cast<uint16_t>((instr >> 24) | 0x3000);
        return true;
    case ARM_BL25: {
        // The offset is S:I1:I2:imm10:imm11:0 with I1 = NOT(J1 XOR S) and
        // I2 = NOT(J2 XOR S).
        const uint32_t s = Bit(instr, 26);
        const uint32_t i1 = Bit(~(Bit(instr, 13) ^ s), 0);
        const uint32_t i2 = Bit(~(Bit(instr, 11) ^ s), 0);
        const uint32_t v =
            s << 24 | i1 << 23 | i2 << 22 | ((instr >> 16) & 0x3FF) << 12 | (instr & 0x7FF) << 1;
        // BLX switches to ARM state, where the target is relative to the
        // word-aligned PC: a halfword-aligned source reads 2 bytes closer.
        const bool blx = Bit(instr, 14) && !Bit(instr, 12);
        const uint32_t adjust = (blx && (sourceRva & 3) != 0) ? 2 : 4;
        *relativeTarget = SignExtend(v, 24) + adjust;
        *compressedOp =
            static_cast<uint16_t>(0x4000 | adjust << 8 | (instr >> 27) << 3 | Bit(instr, 15) << 2 |
                                  Bit(instr, 14) << 1 | Bit(instr, 12));
        return true;
    }
    case ARM_B21: {
        // J1 lands on bit 19 and J2 on bit 18, the reverse of the
        // architecture's order; encoding reverses it again, so the bytes
        // survive, and stored patches depend on exactly this order.
        const uint32_t v = Bit(instr, 26) << 20 | Bit(instr, 13) << 19 | Bit(instr, 11) << 18 |
                           ((instr >> 16) & 0x3F) << 12 | (instr & 0x7FF) << 1;
        *relativeTarget = SignExtend(v, 20) + 4;
        *compressedOp = static_cast<uint16_t>(((instr >> 22) & 0xF) | 0x5000);
        return true;
    }
    default:
        return false;
    }
}

bool EncodeArmBranch(uint32_t type, uint32_t op, uint32_t rel, uint32_t *instruction)
{
    switch (type) {
    case ARM_B8:
        *instruction = ((op << 8) & 0xFFF00) | (((rel - 4) >> 1) & 0xFF);
        return true;
    case ARM_B11:
        *instruction = ((op << 11) & 0x7FF800) | (((rel - 4) >> 1) & 0x7FF);
        return true;
    case ARM_B24:
        *instruction = (op << 24) | (((rel - 8) >> 2) & 0xFFFFFF);
        return true;
    case ARM_BL25: {
        const uint32_t d = rel - ((op >> 8) & 0xF);
        const uint32_t s = Bit(d, 24);
        *instruction = Bit(op, 0) << 12 | Bit(op, 1) << 14 | Bit(op, 2) << 15 |
                       ((op >> 3) & 0x1F) << 27 | ((d >> 1) & 0x7FF) | ((d >> 12) & 0x3FF) << 16 |
                       s << 26 | Bit(~(Bit(d, 23) ^ s), 0) << 13 | Bit(~(Bit(d, 22) ^ s), 0) << 11;
        return true;
    }
    case ARM_B21: {
        const uint32_t d = rel - 4;
        *instruction = 0xF0008000 | (op & 0xF) << 22 | Bit(d, 20) << 26 | Bit(d, 19) << 13 |
                       Bit(d, 18) << 11 | ((d >> 12) & 0x3F) << 16 | ((d >> 1) & 0x7FF);
        return true;
    }
    default:
        return false;
    }
}

} // namespace ovpatch
