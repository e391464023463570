// Fuzz target for qvimport's BVH path: any bytes, checked and read as a BVH
// file by Assimp and taken through every stage of the import, must either
// give an actor file or be refused with a cImportError. A crash, a sanitizer
// report or any other exception is a finding. The reading runs in this
// process (QV_scene_reader.h), not in the child the program uses, so that
// the fuzzer sees its coverage and its faults.

#include <cstddef>
#include <cstdint>
#include <new>

#include "QV_capture.h"
#include "QV_scene_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    try
    {
        const qvimport::sCapture cap = qvimport::ReadSceneInProcess(data, size, "bvh");
        qvimport::Import(cap, qvimport::sOptions());
    }
    catch (const qvimport::cImportError&)
    {
    }
    catch (const std::bad_alloc&)
    {
        // Assimp said it ran out of memory; the program names its limit.
        // (A real exhaustion is reported by libFuzzer's own limit first.)
    }
    return 0;
}
