#pragma once

#include <cstddef>
#include <cstdint>

// ELF constants and record layouts read by the ELF disassemblers. All
// multi-byte fields are little-endian (the only byte order of the supported
// machines). Offsets are from the start of their record.
namespace ovpatch {
namespace elf {

constexpr uint8_t kMagic[4] = {0x7F, 'E', 'L', 'F'};

// e_type: ET_EXEC (2) and ET_DYN (3) differ only in bit 0.
constexpr uint16_t ET_EXEC = 2;
constexpr uint16_t EM_386 = 3;
constexpr uint16_t EM_ARM = 40;
constexpr uint16_t EM_X86_64 = 62;
constexpr uint32_t EV_CURRENT = 1;

constexpr uint32_t SHT_PROGBITS = 1;
constexpr uint32_t SHT_NOBITS = 8;
constexpr uint32_t SHT_REL = 9;
constexpr uint32_t SHT_INIT_ARRAY = 14;
constexpr uint32_t SHT_FINI_ARRAY = 15;

constexpr uint32_t PT_LOAD = 1;

// r_info of a relative relocation against symbol 0.
constexpr uint32_t R_386_RELATIVE = 8;
constexpr uint32_t R_ARM_RELATIVE = 23;

// Field offset and width of one header field.
struct Field
{
    uint8_t offset;
    uint8_t size;
};

// The parts of a file's class (32 or 64 bits) that the disassemblers read.
struct ClassLayout
{
    size_t headerSize;        // ELF header
    size_t sectionHeaderSize; // required e_shentsize
    size_t programHeaderSize; // fixed size assumed for program header entries
    size_t relEntrySize;      // SHT_REL entry: r_offset, r_info

    // ELF header (e_ident is the first 16 bytes in both classes)
    Field e_type, e_machine, e_version, e_phoff, e_shoff, e_shentsize, e_phnum, e_shnum, e_shstrndx;
    // Section header
    Field sh_type, sh_addr, sh_offset, sh_size, sh_entsize;
    // Program header
    Field p_type, p_offset, p_vaddr, p_filesz, p_memsz;
    // Relocation entry
    Field r_offset, r_info;
};

// clang-format off
constexpr ClassLayout kElf32 = {
    52, 40, 32, 8,
    // e_type  e_machine e_version e_phoff   e_shoff   e_shentsize e_phnum e_shnum e_shstrndx
    {16, 2},   {18, 2},  {20, 4},  {28, 4},  {32, 4},  {46, 2},    {44, 2}, {48, 2}, {50, 2},
    // sh_type sh_addr   sh_offset sh_size   sh_entsize
    {4, 4},    {12, 4},  {16, 4},  {20, 4},  {36, 4},
    // p_type  p_offset  p_vaddr   p_filesz  p_memsz
    {0, 4},    {4, 4},   {8, 4},   {16, 4},  {20, 4},
    // r_offset r_info
    {0, 4},    {4, 4},
};

constexpr ClassLayout kElf64 = {
    64, 64, 56, 16,
    // e_type  e_machine e_version e_phoff   e_shoff   e_shentsize e_phnum e_shnum e_shstrndx
    {16, 2},   {18, 2},  {20, 4},  {32, 8},  {40, 8},  {58, 2},    {56, 2}, {60, 2}, {62, 2},
    // sh_type sh_addr   sh_offset sh_size   sh_entsize
    {4, 4},    {16, 8},  {24, 8},  {32, 8},  {56, 8},
    // p_type  p_offset  p_vaddr   p_filesz  p_memsz
    {0, 4},    {8, 8},   {16, 8},  {32, 8},  {40, 8},
    // r_offset r_info
    {0, 8},    {8, 8},
};
// clang-format on

} // namespace elf
} // namespace ovpatch
