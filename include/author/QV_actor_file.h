// The actor file's text (docs/actor-file.md) from a description of what it
// holds: the one writer of actor files, behind the walker's generator, the
// importer and the load benchmark's synthetic files. The markup and its
// layout are the writer's; how numbers read is the caller's (a
// NumberFormat), so that each program keeps writing the bytes it always
// has.
#ifndef QV_ACTOR_FILE_H
#define QV_ACTOR_FILE_H

#include <string>
#include <utility>
#include <vector>

namespace author
{

// One bone as the file lists it.
struct sFileBone
{
    std::string mName;
    int mParent = -1;   // index in sActorFile::mBones; -1 for the root
    double mLength = 0; // units
    // The rest matrix relative to the parent (the file's model frame for the
    // root): rows of the rotation, each followed by that row's component of
    // the head's offset from the parent's head, in the parent's frame.
    double mRest[3][4] = {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}};
};

// One key of a channel.
struct sFileKey
{
    unsigned int mTime = 0;                // ms
    double mW = 1, mX = 0, mY = 0, mZ = 0; // rotation relative to the bone's rest, a quaternion
    bool mHasHeight = false;               // writes h: the root's keys may carry a height, no other's do
    double mHeight = 0;                    // the root over its rest height, units
};

struct sFileAction
{
    std::string mName;
    unsigned int mLength = 0;                     // ms
    std::vector<std::vector<sFileKey>> mChannels; // one per bone, in the bones' order
};

// One bone's share in moving a vertex.
struct sFileInfluence
{
    int mBone = 0;      // index in sActorFile::mBones
    double mWeight = 0; // 0 ... 1
};

// The skinned body, bound to the bones at their rest pose (docs/actor-file.md,
// "The body"). Empty (no triangles): the file has none.
struct sFileBody
{
    // Per vertex, in the file's model frame (+z up) where the bones stand at
    // rest: positions (units) and normals, three numbers each; texture
    // coordinates, two each (v = 0 at the image's top row), or none.
    std::vector<double> mPositions;
    std::vector<double> mNormals;
    std::vector<double> mTexCoords;
    // Per vertex, one to four bones. The writer keeps at most four (the
    // heaviest), writes weights in ten-thousandths that sum to exactly 1 and
    // drops those that round to 0.
    std::vector<std::vector<sFileInfluence>> mInfluences;
    std::vector<unsigned int> mTriangles;   // three vertex indices each
    std::vector<unsigned char> mTexturePng; // a PNG file's bytes, written as base64; empty: no texture

    bool Empty() const { return mTriangles.empty(); }
};

struct sActorFile
{
    // What comes before <QVArmature>: the XML declaration and any comment,
    // each line with its end of line.
    std::string mProlog = "<?xml version=\"1.0\" ?>\n";
    std::string mName; // the armature's
    std::vector<sFileBone> mBones;
    // The order the hierarchy lists the bones in, as indices into mBones;
    // empty: the bones' own order.
    std::vector<int> mHierarchy;
    std::vector<sFileAction> mActions; // in slot order
    sFileBody mBody;                   // after the actions; none when empty
};

// How a number is written: appends v's text to s.
using NumberFormat = void (*)(std::string& s, double v);

// Six decimals and never a negative zero: the same parameters give the same
// bytes on every machine (the walker's file).
void FixedSixDecimals(std::string& s, double v);
// Seven significant digits, all a float holds; below 1e-9 in size, the
// rounding noise of double-precision work, as 0 (the importer's files).
void SevenDigits(std::string& s, double v);

// The file's text. Names are written as given: the caller keeps markup out
// of them. The body's numbers are written in a compact format of their own
// (five significant digits for positions and texture coordinates, four
// decimals for normals), whatever the caller's, one vertex a line.
std::string FormatActorFile(const sActorFile& file, NumberFormat number);

// The weights of one vertex as the file writes them, in ten-thousandths:
// the (up to) four heaviest influences, each rounded, the rounding taken up
// by the heaviest so that they sum to exactly 10000, those that round to 0
// left out. Influences of the same bone are added together first.
std::vector<std::pair<int, int>> QuantiseWeights(const std::vector<sFileInfluence>& influences);

} // namespace author

#endif // QV_ACTOR_FILE_H
