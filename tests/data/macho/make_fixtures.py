#!/usr/bin/env python3
"""Writes the generated Mach-O test fixtures.

No Mach-O linker for 32-bit x86 is packaged here, so this script lays out
small but well-formed executables itself: a zero page, __TEXT with one code
section, __DATA with one data section, __LINKEDIT and an entry-point command.
The code is a deterministic stream of functions that call, jump to and (in
64-bit files) address each other and the data RIP-relatively, mixed with
filler instructions. Version 2 inserts functions and changes filler, so every
displacement after the insertion moves, as between two releases.

Outputs: gen_x86_v1, gen_x86_v2, gen_x64_v1, gen_x64_v2 and universal (a fat
file holding gen_x86_v1 and gen_x64_v1).
"""
import os
import random
import struct

PAGE = 0x1000
FILLER = [b"\x90", b"\x31\xc0", b"\x01\xd8", b"\x89\xc1", b"\x83\xc0\x07", b"\x85\xc0"]


def align(value, to):
    return (value + to - 1) // to * to


def functions(version, count, rng):
    """Function bodies as lists of items: bytes or (kind, argument)."""
    bodies = []
    for index in range(count):
        body = [b"\x55"]
        for _ in range(rng.randrange(3, 9)):
            choice = rng.randrange(10)
            if choice < 4:
                body.append(rng.choice(FILLER) * rng.randrange(1, 4))
            elif choice < 6:
                body.append(("call", rng.randrange(count)))
            elif choice == 6:
                body.append(("jcc", None))
            elif choice == 7:
                body.append(("lea_data", rng.randrange(16)))
            elif choice == 8:
                body.append(("call_ptr", rng.randrange(16)))
            else:
                body.append(("call_outside", None))
        if version >= 2 and index % 5 == 2:
            body.insert(1, b"\x83\xc0\x01" * 3)
        body.append(b"\xc3")
        bodies.append(body)
    return bodies


def item_size(item, is64):
    if isinstance(item, bytes):
        return len(item)
    kind = item[0]
    if kind in ("call", "call_outside"):
        return 5
    if kind == "jcc":
        return 6
    if kind == "lea_data":
        return 7 if is64 else 0
    if kind == "call_ptr":
        return 6 if is64 else 0
    raise ValueError(kind)


def build(is64, version):
    rng = random.Random(1234)
    count = 40
    bodies = functions(version, count, rng)
    if version >= 2:
        extra = functions(version, 3, random.Random(99))
        bodies[10:10] = extra
    ncmds = 5
    seg_size = 72 if is64 else 56
    sect_size = 80 if is64 else 68
    header_size = 32 if is64 else 28
    cmds_size = seg_size * 4 + sect_size * 2 + 24
    text_offset = align(header_size + cmds_size, 16)
    base = 0x100000000 if is64 else 0x1000

    # Lay out the code to learn each function's address.
    starts = []
    position = text_offset
    for body in bodies:
        starts.append(position)
        position += sum(item_size(item, is64) for item in body)
    text_end = position
    text_seg_size = align(text_end, PAGE)
    data_offset = text_seg_size
    data_size = 16 * (8 if is64 else 4)
    data_seg_size = align(data_size, PAGE)
    linkedit_offset = data_offset + data_seg_size
    linkedit_size = 64

    def vm(offset):
        return base + offset

    code = bytearray()
    for number, body in enumerate(bodies):
        for item in body:
            here = text_offset + len(code)
            if isinstance(item, bytes):
                code += item
                continue
            kind, argument = item
            if kind == "call":
                code += b"\xe8" + struct.pack("<i", starts[argument] - (here + 5))
            elif kind == "call_outside":
                code += b"\xe8" + struct.pack("<i", 0x7FFFFF00)
            elif kind == "jcc":
                # Forward to this function's final ret.
                end = starts[number] + sum(item_size(i, is64) for i in body) - 1
                code += b"\x0f\x84" + struct.pack("<i", end - (here + 6))
            elif kind == "lea_data" and is64:
                target = data_offset + argument * 8
                code += b"\x48\x8d\x05" + struct.pack("<i", target - (here + 7))
            elif kind == "call_ptr" and is64:
                target = data_offset + argument * 8
                code += b"\xff\x15" + struct.pack("<i", target - (here + 6))
    assert text_offset + len(code) == text_end

    data = bytearray()
    for slot in range(16):
        target = vm(starts[(slot * 7) % len(starts)])
        data += struct.pack("<Q" if is64 else "<I", target)

    commands = bytearray()

    def segment(name, vmaddr, vmsize, fileoff, filesize, sections):
        if is64:
            cmd = struct.pack("<II16sQQQQiiII", 0x19, seg_size + sect_size * len(sections),
                              name, vmaddr, vmsize, fileoff, filesize, 7, 5, len(sections), 0)
        else:
            cmd = struct.pack("<II16sIIIIiiII", 0x1, seg_size + sect_size * len(sections),
                              name, vmaddr, vmsize, fileoff, filesize, 7, 5, len(sections), 0)
        for sectname, segname, addr, size, offset, flags in sections:
            if is64:
                cmd += struct.pack("<16s16sQQIIIIIIII", sectname, segname, addr, size, offset,
                                   4, 0, 0, flags, 0, 0, 0)
            else:
                cmd += struct.pack("<16s16sIIIIIIIII", sectname, segname, addr, size, offset,
                                   4, 0, 0, flags, 0, 0)
        return cmd

    commands += segment(b"__PAGEZERO", 0, base, 0, 0, [])
    commands += segment(b"__TEXT", base, text_seg_size, 0, text_seg_size,
                        [(b"__text", b"__TEXT", vm(text_offset), len(code), text_offset,
                          0x80000400)])
    commands += segment(b"__DATA", vm(data_offset), data_seg_size, data_offset, data_seg_size,
                        [(b"__data", b"__DATA", vm(data_offset), data_size, data_offset, 0)])
    commands += segment(b"__LINKEDIT", vm(linkedit_offset), PAGE, linkedit_offset,
                        linkedit_size, [])
    # LC_MAIN: entry offset and stack size.
    commands += struct.pack("<IIQQ", 0x80000028, 24, text_offset, 0)
    assert len(commands) == cmds_size

    if is64:
        header = struct.pack("<IIIIIIII", 0xFEEDFACF, 0x01000007, 3, 2, ncmds, cmds_size,
                             0x200085, 0)
    else:
        header = struct.pack("<IIIIIII", 0xFEEDFACE, 7, 3, 2, ncmds, cmds_size, 0x200085)
    image = bytearray(header + commands)
    image += bytes(text_offset - len(image))
    image += code
    image += bytes(data_offset - len(image))
    image += data
    image += bytes(linkedit_offset - len(image))
    image += bytes(rng.randrange(256) for _ in range(linkedit_size))
    return bytes(image)


def universal(slices):
    header = struct.pack(">II", 0xCAFEBABE, len(slices))
    offset = align(8 + 20 * len(slices), PAGE)
    records = b""
    body = b""
    for cputype, image in slices:
        records += struct.pack(">IIIII", cputype, 3, offset + len(body), len(image), 12)
        body += image + bytes(align(len(image), PAGE) - len(image))
    return header + records + bytes(offset - 8 - len(records)) + body


def main():
    os.chdir(os.path.dirname(os.path.abspath(__file__)))
    images = {}
    for is64, tag in ((False, "x86"), (True, "x64")):
        for version in (1, 2):
            name = "gen_%s_v%d" % (tag, version)
            images[name] = build(is64, version)
            with open(name, "wb") as out:
                out.write(images[name])
    with open("universal", "wb") as out:
        out.write(universal([(7, images["gen_x86_v1"]), (0x01000007, images["gen_x64_v1"])]))


if __name__ == "__main__":
    main()
