// The scene reader itself, in the calling process: the BVH check, Assimp, and
// the scene sampled into a sink. Nothing here is protected from Assimp: a
// hostile file can crash, hang or exhaust the process. ReadScene and
// ReadSceneFromMemory (QV_capture.h) run it in a child process under limits;
// the fuzz target calls it directly, to see inside.
#ifndef QV_SCENE_READER_H
#define QV_SCENE_READER_H

#include <cstddef>
#include <string>

#include "QV_capture_wire.h"

namespace qvimport
{

// Refuses, with one line, a BVH file that Assimp 5.2's BVH reader must not
// see: one whose joint has its CHANNELS or OFFSET after a child joint (the
// reader then writes freed memory), more joints than kMaxJoints (its
// recursion can overflow the stack), text in UTF-16 or UTF-32, control
// characters in the hierarchy, a frame count or frame time that makes no
// sense, or fewer values than the frames announced. The file is split into
// tokens as that reader splits it and its grammar followed as that reader
// follows it, to the end of the hierarchy; anything the reader would take
// differently is refused. Data whose first token is not HIERARCHY is not
// BVH to that reader, and passes.
void CheckBvh(const char* data, size_t size);

// The scene in a file, or in memory (hint: the format's file extension,
// "bvh"), sampled into sink. Throws cImportError with one line, or
// std::bad_alloc when the reader ran out of memory.
void SampleSceneFile(const std::string& path, cCaptureSink& sink);
void SampleSceneMemory(const void* data, size_t size, const char* hint, cCaptureSink& sink);

// A texture's image from its file's bytes: PNG (libpng) or JPEG (libjpeg),
// as 8-bit RGBA, an image wider or taller than kMaxTextureSide halved until
// it is not (up to 16 times that). False, with why in a few words, for
// anything else.
bool DecodeTexture(const unsigned char* data, size_t size, sImage& image, std::string& why);

// A texture file beside the source is read if it is no larger than this.
const size_t kMaxTextureFileBytes = size_t(64) << 20;

// SampleSceneMemory into a capture kept here.
sCapture ReadSceneInProcess(const void* data, size_t size, const char* hint);

} // namespace qvimport

#endif // QV_SCENE_READER_H
