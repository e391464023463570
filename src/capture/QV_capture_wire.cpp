// The capture's bytes across the process boundary: the writer in the child,
// the strict decoder in the parent.
//
// Index
//   [SECTION] Builder   the capture kept in this process
//   [SECTION] Writer    records into bytes
//   [SECTION] Decoder   bytes back into a capture (and its body), checked
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "QV_capture_wire.h"

namespace qvimport
{
namespace
{

const char kMagic[8] = {'Q', 'V', 'C', 'A', 'P', '0', '1', '\n'};
const size_t kFlushBytes = 65536;
const size_t kDoublesPerJoint = 7; // rotation w x y z, position x y z

// A unit quaternion as the reader computes it is unit to about 1e-16.
const double kUnitTolerance = 1e-6;

} // namespace

// ---- [SECTION] Builder --------------------------------------------------------

void cCaptureBuilder::Begin(const std::vector<sJoint>& joints, double rate, size_t frames)
{
    mCapture = sCapture();
    mCapture.mJoints = joints;
    mCapture.mRate = rate;
    mCapture.mRotation.reserve(frames);
    mCapture.mPosition.reserve(frames);
}

void cCaptureBuilder::Frame(const std::vector<sQuat>& rotation, const std::vector<sVec3>& position)
{
    mCapture.mRotation.push_back(rotation);
    mCapture.mPosition.push_back(position);
}

void cCaptureBuilder::Body(const sCaptureBody& body) { mCapture.mBody = body; }

// ---- [SECTION] Writer ---------------------------------------------------------

namespace
{

template <class T> void Put(std::string& s, const T& v) { s.append((const char*)&v, sizeof v); }

} // namespace

cWireWriter::cWireWriter(std::function<void(const char*, size_t)> out) : mOut(std::move(out)) {}

void cWireWriter::Magic()
{
    if (!mStarted)
        mBuffer.append(kMagic, sizeof kMagic);
    mStarted = true;
}

void cWireWriter::Flush()
{
    if (!mBuffer.empty())
        mOut(mBuffer.data(), mBuffer.size());
    mBuffer.clear();
}

void cWireWriter::Begin(const std::vector<sJoint>& joints, double rate, size_t frames)
{
    std::string r = "H";
    Put(r, rate);
    Put(r, (uint32_t)joints.size());
    Put(r, (uint32_t)frames);
    for (const sJoint& j : joints)
    {
        Put(r, (int32_t)j.mParent);
        Put(r, (uint8_t)(j.mAnimated ? 1 : 0));
        Put(r, (uint32_t)j.mName.size());
        r += j.mName;
    }
    Magic();
    mBuffer += r;
    Flush();
}

void cWireWriter::Frame(const std::vector<sQuat>& rotation, const std::vector<sVec3>& position)
{
    std::string r = "F";
    r.reserve(1 + rotation.size() * kDoublesPerJoint * sizeof(double));
    for (size_t j = 0; j < rotation.size(); ++j)
    {
        const sQuat& q = rotation[j];
        const sVec3& p = position[j];
        for (double v : {q.w, q.x, q.y, q.z, p.x, p.y, p.z})
            Put(r, v);
    }
    mBuffer += r;
    if (mBuffer.size() >= kFlushBytes)
        Flush();
}

void cWireWriter::Body(const sCaptureBody& body)
{
    const size_t vertices = body.mInfluences.size();
    std::string r = "B";
    Put(r, (uint32_t)vertices);
    Put(r, (uint32_t)(body.mTriangles.size() / 3));
    Put(r, (uint8_t)(body.mTexCoords.empty() ? 0 : 1));
    for (const std::vector<sSkinInfluence>& v : body.mInfluences)
    {
        Put(r, (uint8_t)v.size());
        for (const sSkinInfluence& i : v)
        {
            Put(r, (uint32_t)i.mJoint);
            for (double d : {i.mWeight, i.mLocal.x, i.mLocal.y, i.mLocal.z, i.mNormal.x, i.mNormal.y, i.mNormal.z})
                Put(r, d);
        }
        if (r.size() >= kFlushBytes)
        {
            mBuffer += r;
            Flush();
            r.clear();
        }
    }
    for (double d : body.mTexCoords)
        Put(r, d);
    for (unsigned int t : body.mTriangles)
        Put(r, (uint32_t)t);
    Put(r, (uint32_t)body.mTexture.mWidth);
    Put(r, (uint32_t)body.mTexture.mHeight);
    r.append((const char*)body.mTexture.mPixels.data(), body.mTexture.mPixels.size());
    const std::string note = body.mNote.substr(0, kMaxMessageBytes);
    Put(r, (uint32_t)note.size());
    r += note;
    mBuffer += r;
    Flush();
}

void cWireWriter::End()
{
    mBuffer += 'Z';
    Flush();
}

void cWireWriter::Error(const std::string& message)
{
    const std::string text = message.substr(0, kMaxMessageBytes);
    std::string r = "E";
    Put(r, (uint32_t)text.size());
    r += text;
    Magic();
    mBuffer += r;
    Flush();
}

// ---- [SECTION] Decoder --------------------------------------------------------

size_t cMemorySource::Read(void* data, size_t size)
{
    const size_t n = std::min(size, mLeft);
    std::memcpy(data, mData, n);
    mData += n;
    mLeft -= n;
    return n;
}

namespace
{

[[noreturn]] void Malformed(const std::string& what, bool ended = false)
{
    throw cWireError("the reader's answer is malformed: " + what, ended);
}

// The source read in large pieces, so that a frame is not a system call per
// number.
class cWireReader
{
public:
    explicit cWireReader(cWireSource& in) : mIn(in), mBuffer(kFlushBytes) {}

    void Take(void* data, size_t size)
    {
        char* out = (char*)data;
        while (size > 0)
        {
            if (mPos == mEnd && !Fill())
                Malformed("it ends early", true);
            const size_t n = std::min(size, mEnd - mPos);
            std::memcpy(out, mBuffer.data() + mPos, n);
            mPos += n;
            out += n;
            size -= n;
        }
    }
    template <class T> T Get()
    {
        T v;
        Take(&v, sizeof v);
        return v;
    }
    bool AtEnd() { return mPos == mEnd && !Fill(); }

private:
    bool Fill()
    {
        mPos = 0;
        mEnd = mIn.Read(mBuffer.data(), mBuffer.size());
        return mEnd > 0;
    }

    cWireSource& mIn;
    std::vector<char> mBuffer;
    size_t mPos = 0, mEnd = 0;
};

// An error record after its tag: the reader's message, one line.
[[noreturn]] void ReaderFailed(cWireReader& in)
{
    const uint32_t n = in.Get<uint32_t>();
    if (n == 0 || n > kMaxMessageBytes)
        Malformed("an error message of " + std::to_string(n) + " bytes");
    std::string text(n, ' ');
    in.Take(&text[0], n);
    if (!in.AtEnd())
        Malformed("bytes follow the error message");
    for (char& c : text)
        if ((unsigned char)c < 0x20 || c == 0x7f)
            c = '?';
    throw cImportError(text);
}

struct sHeader
{
    double mRate = 0;
    size_t mFrames = 0;
};

sHeader ReadHeader(cWireReader& in, sCapture& cap)
{
    sHeader h;
    h.mRate = in.Get<double>();
    const uint32_t joints = in.Get<uint32_t>();
    h.mFrames = in.Get<uint32_t>();
    if (!(h.mRate >= kMinRate && h.mRate <= kMaxRate))
        Malformed("a rate of " + std::to_string(h.mRate) + " frames per second");
    if (joints == 0 || joints > kMaxJoints)
        Malformed(std::to_string(joints) + " joints");
    if (h.mFrames == 0 || h.mFrames > kMaxFrames || h.mFrames * joints > kMaxSamples)
        Malformed(std::to_string(h.mFrames) + " frames of " + std::to_string(joints) + " joints");
    cap.mRate = h.mRate;
    cap.mJoints.resize(joints);
    for (uint32_t j = 0; j < joints; ++j)
    {
        sJoint& joint = cap.mJoints[j];
        joint.mParent = in.Get<int32_t>();
        const uint8_t animated = in.Get<uint8_t>();
        const uint32_t n = in.Get<uint32_t>();
        if (j == 0 ? joint.mParent != -1 : (joint.mParent < 0 || (uint32_t)joint.mParent >= j))
            Malformed("joint " + std::to_string(j) + " has the parent " + std::to_string(joint.mParent));
        if (animated > 1)
            Malformed("joint " + std::to_string(j) + " is animated " + std::to_string(animated));
        if (n > kMaxNameBytes)
            Malformed("joint " + std::to_string(j) + " has a name of " + std::to_string(n) + " bytes");
        joint.mAnimated = animated == 1;
        joint.mName.resize(n);
        if (n > 0)
            in.Take(&joint.mName[0], n);
    }
    return h;
}

void ReadFrame(cWireReader& in, size_t f, std::vector<double>& values, sCapture& cap)
{
    const size_t joints = cap.mJoints.size();
    in.Take(values.data(), values.size() * sizeof(double));
    for (double v : values)
        if (!std::isfinite(v))
            Malformed("frame " + std::to_string(f) + " holds a value that is not finite");
    std::vector<sQuat>& rotation = cap.mRotation[f];
    std::vector<sVec3>& position = cap.mPosition[f];
    rotation.resize(joints);
    position.resize(joints);
    for (size_t j = 0; j < joints; ++j)
    {
        const double* v = &values[j * kDoublesPerJoint];
        const sQuat q(v[0], v[1], v[2], v[3]);
        if (!(std::fabs(q.Dot(q) - 1.0) <= kUnitTolerance))
            Malformed("frame " + std::to_string(f) + " has a rotation that is not a unit quaternion");
        rotation[j] = q;
        position[j] = sVec3(v[4], v[5], v[6]);
    }
}

// A vector's components, finite and no larger than `bound`.
bool Within(const sVec3& v, double bound)
{
    return std::fabs(v.x) <= bound && std::fabs(v.y) <= bound && std::fabs(v.z) <= bound;
}

sVec3 ReadVec(cWireReader& in)
{
    sVec3 v;
    v.x = in.Get<double>();
    v.y = in.Get<double>();
    v.z = in.Get<double>();
    return v;
}

// The body record after its tag. The reader computed every value from a
// scene whose joints stay within the capture's values, so anything not
// finite, of another size, or out of range is refused, naming it.
void ReadBody(cWireReader& in, sCapture& cap)
{
    sCaptureBody& body = cap.mBody;
    const uint32_t vertices = in.Get<uint32_t>(), triangles = in.Get<uint32_t>();
    const uint8_t texcoords = in.Get<uint8_t>();
    if (vertices == 0 || vertices > kMaxBodyVertices || triangles == 0 || triangles > kMaxBodyTriangles)
        Malformed("a body of " + std::to_string(vertices) + " vertices and " + std::to_string(triangles) +
                  " triangles");
    if (texcoords > 1)
        Malformed("a body whose texture coordinates are " + std::to_string(texcoords));
    const size_t joints = cap.mJoints.size();
    // Positions within the capture's size: a vertex a million times as far
    // from its joint as any number the capture holds is no body of it.
    double reach = 1.0;
    for (const std::vector<sVec3>& frame : cap.mPosition)
        for (const sVec3& p : frame)
            reach = std::max(reach, std::max(std::fabs(p.x), std::max(std::fabs(p.y), std::fabs(p.z))));
    reach *= 1e6;
    body.mInfluences.resize(vertices);
    for (uint32_t v = 0; v < vertices; ++v)
    {
        const uint8_t n = in.Get<uint8_t>();
        if (n == 0 || n > kMaxInfluences)
            Malformed("vertex " + std::to_string(v) + " is moved by " + std::to_string(n) + " joints");
        std::vector<sSkinInfluence>& list = body.mInfluences[v];
        list.resize(n);
        for (sSkinInfluence& i : list)
        {
            const uint32_t joint = in.Get<uint32_t>();
            i.mWeight = in.Get<double>();
            i.mLocal = ReadVec(in);
            i.mNormal = ReadVec(in);
            if (joint >= joints)
                Malformed("vertex " + std::to_string(v) + " is moved by the joint " + std::to_string(joint));
            i.mJoint = (int)joint;
            if (!(i.mWeight > 0 && i.mWeight <= 1.0 + 1e-6) || !Within(i.mLocal, reach) ||
                !(std::fabs(i.mNormal.Length() - 1.0) <= kUnitTolerance))
                Malformed("vertex " + std::to_string(v) + " has a weight, place or normal out of range");
        }
    }
    if (texcoords)
    {
        body.mTexCoords.resize(2 * (size_t)vertices);
        in.Take(body.mTexCoords.data(), body.mTexCoords.size() * sizeof(double));
        for (double t : body.mTexCoords)
            if (!(std::fabs(t) <= 1e6))
                Malformed("a texture coordinate out of range");
    }
    body.mTriangles.resize(3 * (size_t)triangles);
    for (unsigned int& t : body.mTriangles)
    {
        t = in.Get<uint32_t>();
        if (t >= vertices)
            Malformed("a triangle has the vertex " + std::to_string(t));
    }
    const uint32_t width = in.Get<uint32_t>(), height = in.Get<uint32_t>();
    if (width > kMaxTextureSide || height > kMaxTextureSide || (width == 0) != (height == 0))
        Malformed("a texture of " + std::to_string(width) + " x " + std::to_string(height) + " pixels");
    body.mTexture.mWidth = width;
    body.mTexture.mHeight = height;
    body.mTexture.mPixels.resize((size_t)width * height * 4);
    if (!body.mTexture.mPixels.empty())
        in.Take(body.mTexture.mPixels.data(), body.mTexture.mPixels.size());
    const uint32_t note = in.Get<uint32_t>();
    if (note > kMaxMessageBytes)
        Malformed("a note of " + std::to_string(note) + " bytes");
    body.mNote.resize(note);
    if (note > 0)
        in.Take(&body.mNote[0], note);
    for (char& c : body.mNote)
        if ((unsigned char)c < 0x20 || c == 0x7f)
            c = '?';
}

} // namespace

sCapture DecodeCapture(cWireSource& source)
{
    cWireReader in(source);
    char magic[sizeof kMagic];
    in.Take(magic, sizeof magic);
    if (std::memcmp(magic, kMagic, sizeof kMagic) != 0)
        Malformed("it does not start as a capture");
    const char tag = in.Get<char>();
    if (tag == 'E')
        ReaderFailed(in);
    if (tag != 'H')
        Malformed("it starts with a record of an unknown kind");
    sCapture cap;
    const sHeader h = ReadHeader(in, cap);
    cap.mRotation.resize(h.mFrames);
    cap.mPosition.resize(h.mFrames);
    std::vector<double> values(cap.mJoints.size() * kDoublesPerJoint);
    for (size_t f = 0; f < h.mFrames; ++f)
    {
        const char frameTag = in.Get<char>();
        if (frameTag == 'E')
            ReaderFailed(in);
        if (frameTag != 'F')
            Malformed("frame " + std::to_string(f) + " is not a frame");
        ReadFrame(in, f, values, cap);
    }
    char last = in.Get<char>();
    if (last == 'E')
        ReaderFailed(in);
    if (last == 'B')
    {
        ReadBody(in, cap);
        last = in.Get<char>();
    }
    if (last != 'Z')
        Malformed("more frames than the " + std::to_string(h.mFrames) + " announced");
    if (!in.AtEnd())
        Malformed("bytes follow the capture");
    return cap;
}

} // namespace qvimport
