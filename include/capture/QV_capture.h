// The capture front-end: reads a file of captured or authored motion with
// Assimp (BVH, glTF, FBX, Collada, ...) into the importer's sCapture, and runs
// the import on it. The only part of the project that links Assimp; the
// stages after reading live in the authoring library (QV_import.h).
#ifndef QV_CAPTURE_H
#define QV_CAPTURE_H

#include <cstddef>
#include <string>

#include "QV_import.h"

namespace qvimport
{

// Every joint's world rotation and position per frame, in the file's own axes
// and units. Throws cImportError with one line for a file it cannot use,
// including a path that is not a regular file (a FIFO, a device).
//
// Assimp reads the scene in a child process under limits (QV_child.h: a
// bounded stack, memory and processor time, and a wall-clock limit), which
// hands back only the sampled capture; what comes back is checked before it
// is used. A reader that crashes, hangs or passes a limit on the file is
// one line: "cannot read 'PATH': the reader crashed on this file" and the
// like.
sCapture ReadScene(const std::string& path);
// The same from bytes in memory; hint is the format's file extension ("bvh").
// Also in a child process; QV_scene_reader.h reads without one.
sCapture ReadSceneFromMemory(const void* data, size_t size, const char* hint);

// ReadScene, then Import.
sImportResult ImportFile(const std::string& path, const sOptions& opt);

} // namespace qvimport

#endif // QV_CAPTURE_H
