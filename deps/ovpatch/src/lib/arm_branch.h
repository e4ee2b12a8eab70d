#pragma once

#include <cstdint>

// Coding of the ARM and Thumb branches whose targets become labels. A branch
// is split into its relative target and a "compressed op": the bits of the
// instruction that are not the offset, tagged with the branch type in bits
// 12-15 (0x1000 ARM_B8 ... 0x5000 ARM_B21). The compressed op travels as the
// op code of an encoded program, so the tag and bit layout are fixed.
//
// The instruction value is the halfword for ARM_B8 and ARM_B11, the word for
// ARM_B24, and (first halfword << 16) | second halfword for the two 32-bit
// Thumb-2 forms. All arithmetic is modulo 2^32.
namespace ovpatch {

enum ArmBranchType : uint8_t
{
    ARM_B8 = 0,   // Thumb conditional branch, 2 bytes
    ARM_B11 = 1,  // Thumb unconditional branch, 2 bytes
    ARM_B24 = 2,  // ARM B/BL, 4 bytes
    ARM_BL25 = 3, // Thumb-2 BL/BLX/B, 4 bytes
    ARM_B21 = 4,  // Thumb-2 conditional branch, 4 bytes
};

constexpr uint16_t kArmNoOpSize = 0xFFFF;

// Bytes of a branch of the given type; kArmNoOpSize for an unknown type.
uint16_t ArmBranchOpSize(uint32_t type);

// Splits an instruction at sourceRva into its compressed op and its target
// relative to sourceRva. False for an unknown type.
bool DecodeArmBranch(uint32_t type, uint32_t instruction, uint32_t sourceRva,
                     uint16_t *compressedOp, uint32_t *relativeTarget);

// The inverse of DecodeArmBranch. Bits of compressedOp above the ones the
// type uses are ignored. False for an unknown type.
bool EncodeArmBranch(uint32_t type, uint32_t compressedOp, uint32_t relativeTarget,
                     uint32_t *instruction);

} // namespace ovpatch
