// The capture as it crosses the process boundary. The reader runs in a child
// process (QV_child.h) and samples the scene into a cWireWriter; the parent
// turns the bytes back into an sCapture with DecodeCapture, which trusts
// nothing in them: every count is bounded before anything is sized by it,
// every size must agree and every value must be finite.
//
// The bytes, in the machine's own byte order (both ends are one program):
//   "QVCAP01\n"                         magic and version
//   then an error:   'E' u32 n, n bytes  one line; nothing follows
//   or the capture:  'H' f64 rate (frames per second), u32 joints, u32 frames,
//                    per joint: i32 parent (-1 for the first, else an earlier
//                    joint), u8 animated (0 or 1), u32 n, n bytes of name;
//                    per frame: 'F', per joint f64 w x y z (world rotation,
//                    unit) and f64 x y z (world position), or an error
//                    record in its place (the reader failed while sampling);
//                    then, when the source has a skinned mesh, 'B':
//                    u32 vertices, u32 triangles, u8 texcoords (0 or 1);
//                    per vertex u8 n (1 ... kMaxInfluences), then n times
//                    u32 joint, f64 weight, f64 x y z (position in the
//                    joint's frame), f64 x y z (unit normal in it); per
//                    vertex f64 u v when texcoords is 1; per triangle u32
//                    three vertices; u32 width, u32 height (0 0: no
//                    texture), width x height x 4 bytes RGBA, rows top
//                    first; u32 n, n bytes of a note (what was left out);
//                    'Z', and nothing after it.
#ifndef QV_CAPTURE_WIRE_H
#define QV_CAPTURE_WIRE_H

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "QV_import.h"

namespace qvimport
{

// ---- Limits: what any capture keeps to, on both sides ---------------------------

const size_t kMaxJoints = 5000;       // joints of the skeleton
const size_t kMaxFrames = 200000;     // frames of the clip
const size_t kMaxSamples = 20000000;  // frames x joints
const double kMinRate = 10;           // frames per second
const double kMaxRate = 240;          //
const size_t kMaxNameBytes = 1024;    // a joint's name
const size_t kMaxMessageBytes = 1000; // an error's message
const size_t kMaxSceneNodes = 100000; // nodes of a whole scene, skeleton or not
const size_t kMaxBvhChannels = 64;    // channels of one BVH joint
// The skinned mesh; the first three are the actor file's own limits.
const size_t kMaxBodyVertices = 1000000;  // vertices of all the meshes
const size_t kMaxBodyTriangles = 2000000; // triangles of all the meshes
const unsigned kMaxTextureSide = 4096;    // a texture's width and height, pixels
const size_t kMaxInfluences = 16;         // joints moving one vertex (the file keeps the heaviest 4)

// ---- Sinks: where a reader puts the capture ------------------------------------

// The reader samples the scene frame by frame into a sink: Begin once, then
// exactly `frames` calls of Frame, then End.
class cCaptureSink
{
public:
    virtual ~cCaptureSink() = default;
    // The joints (parents first), the rate in frames per second, and how many
    // frames follow.
    virtual void Begin(const std::vector<sJoint>& joints, double rate, size_t frames) = 0;
    // One frame: every joint's world rotation and position.
    virtual void Frame(const std::vector<sQuat>& rotation, const std::vector<sVec3>& position) = 0;
    // The skinned mesh, after the frames, when the source has one.
    virtual void Body(const sCaptureBody& body) = 0;
    virtual void End() {}
};

// A sink that keeps the capture in this process.
class cCaptureBuilder : public cCaptureSink
{
public:
    void Begin(const std::vector<sJoint>& joints, double rate, size_t frames) override;
    void Frame(const std::vector<sQuat>& rotation, const std::vector<sVec3>& position) override;
    void Body(const sCaptureBody& body) override;

    sCapture mCapture;
};

// A sink that writes the bytes above to `out`, in pieces of up to 64 KiB.
// Each record is whole in the buffer before any of it goes out.
class cWireWriter : public cCaptureSink
{
public:
    explicit cWireWriter(std::function<void(const char*, size_t)> out);
    void Begin(const std::vector<sJoint>& joints, double rate, size_t frames) override;
    void Frame(const std::vector<sQuat>& rotation, const std::vector<sVec3>& position) override;
    void Body(const sCaptureBody& body) override;
    void End() override;
    // The reader failed: the message, in place of the capture or of the next
    // frame. Nothing may follow.
    void Error(const std::string& message);

private:
    void Magic();
    void Flush();

    std::function<void(const char*, size_t)> mOut;
    std::string mBuffer;
    bool mStarted = false;
};

// ---- Decoding ----------------------------------------------------------------------

// Bytes from the other side: up to `size` of them into data, 0 at their end.
class cWireSource
{
public:
    virtual ~cWireSource() = default;
    virtual size_t Read(void* data, size_t size) = 0;
};

class cMemorySource : public cWireSource
{
public:
    cMemorySource(const void* data, size_t size) : mData((const char*)data), mLeft(size) {}
    size_t Read(void* data, size_t size) override;

private:
    const char* mData;
    size_t mLeft;
};

// Bytes that are not a capture. mEnded: they stopped short, as they do when
// the other side died.
class cWireError : public cImportError
{
public:
    cWireError(const std::string& what, bool ended) : cImportError(what), mEnded(ended) {}
    bool mEnded;
};

// The capture the bytes hold. The reader's own failure (an error record)
// throws cImportError with its message, made one line; bytes that break
// the format or the limits throw cWireError.
sCapture DecodeCapture(cWireSource& in);

} // namespace qvimport

#endif // QV_CAPTURE_WIRE_H
