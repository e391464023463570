// The actor file's text (docs/actor-file.md) from a description of what it
// holds: the one writer of actor files, behind the walker's generator, the
// importer and the load benchmark's synthetic files. The markup and its
// layout are the writer's; how numbers read is the caller's (a
// NumberFormat), so that each program keeps writing the bytes it always
// has.
#ifndef QV_ACTOR_FILE_H
#define QV_ACTOR_FILE_H

#include <string>
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
// of them.
std::string FormatActorFile(const sActorFile& file, NumberFormat number);

} // namespace author

#endif // QV_ACTOR_FILE_H
