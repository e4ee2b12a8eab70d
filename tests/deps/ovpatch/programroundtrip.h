#pragma once

#include <cstdint>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "bytes.h"
#include "disassembled_program.h"
#include "disassembler.h"
#include "encoded_program.h"
#include "streams.h"

// The apply path of an executable element: parse, trim, encode, save into a
// stream-group image, parse the image, load and assemble.
struct RoundTrip
{
    ovpatch::PatchStatus status = ovpatch::PS_FAILED;
    const char *step = "";
    Bytes assembled;
};

inline RoundTrip roundTrip(const Bytes &input)
{
    using namespace ovpatch;
    RoundTrip result;
    std::unique_ptr<DisassembledProgram> program;
    result.step = "parse";
    result.status = ParseExecutable(input.data(), input.size(), &program);
    if (result.status != PS_OK)
        return result;
    result.step = "trim";
    if ((result.status = TrimLabels(program.get())) != PS_OK)
        return result;
    std::unique_ptr<EncodedProgram> encoded;
    result.step = "encode";
    if ((result.status = Encode(*program, &encoded)) != PS_OK)
        return result;
    program.reset();

    WriterGroup streams;
    ByteWriter image;
    result.step = "save";
    if ((result.status = WriteEncodedProgram(*encoded, &streams)) != PS_OK)
        return result;
    encoded.reset();
    if (!streams.WriteImage(&image)) {
        result.status = PS_STREAM_ERROR;
        return result;
    }

    ReaderGroup loaded;
    result.step = "load";
    if (!loaded.Parse(image.data(), image.length())) {
        result.status = PS_STREAM_ERROR;
        return result;
    }
    std::unique_ptr<EncodedProgram> reloaded;
    if ((result.status = ReadEncodedProgram(&loaded, &reloaded)) != PS_OK)
        return result;
    ByteWriter out;
    result.step = "assemble";
    if ((result.status = Assemble(reloaded.get(), &out)) != PS_OK)
        return result;
    result.step = "";
    result.assembled = toBytes(out);
    return result;
}

inline bool readFile(const std::string &path, Bytes *bytes)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}
