// qvexport: an actor file's skeleton, body and walks out to the formats
// other programs read (glTF 2.0 as .gltf or .glb, BVH), sampled as the demo
// plays them, so that a viewer that knows nothing of foot locks shows the
// same walk: the travel and the heading the locks give are baked into the
// root (or, in place, kept apart as a track of their own).
//
// The stages, each a function of this header:
//   ParsePath     "walk 4, left 90, walk 4, stop" -> the steps of a walk path
//   SampleActor   the actor file played through StepCharacter -> sScene:
//                 the skeleton at rest and one clip per action (or the path)
//   FormatGltf    sScene -> a glTF 2.0 document (.gltf: JSON with the data
//                 embedded; .glb: the binary container)
//   FormatBvh     sScene -> a BVH file (one clip)
//   ExportFile    the whole of qvexport IN OUT: read, sample, format, write
//                 whole or not at all
//
// Every failure is a cExportError (a cQVError) whose message is one line.
#ifndef QV_EXPORT_H
#define QV_EXPORT_H

#include <array>
#include <string>
#include <vector>

#include "QV_body.h"
#include "QV_error.h"

namespace qvexport
{

class cExportError : public cQVError
{
public:
    explicit cExportError(const std::string& what);
};

// One step of a walk path: walk straight for a time, walk while turning by
// an angle, or stand for a time.
struct sPathStep
{
    enum eKind
    {
        kWalk,  // mAmount seconds of walking straight on
        kLeft,  // mAmount degrees turned to the left while walking
        kRight, // mAmount degrees turned to the right while walking
        kStand  // mAmount seconds standing (a stop: the walk ends, the stand plays)
    };
    eKind mKind = kWalk;
    double mAmount = 0; // seconds or degrees, positive
};

// "walk 4, left 90, walk 4, stop": steps separated by commas, each a word
// and a number (walk SECONDS, left DEGREES, right DEGREES, stand SECONDS;
// stop alone is stand 1). Throws cExportError naming the step it cannot
// read.
std::vector<sPathStep> ParsePath(const std::string& text);

// How the actor is played and written.
struct sOptions
{
    unsigned int mFrameMs = 10;   // the fixed frame length the actor is played and sampled at, ms (1 ... 100)
    unsigned int mCycles = 1;     // each action's loop played this many times (1 ... 1000)
    bool mContactLock = true;     // the contact locks (cActor::mContactLock); false: the ankle locks
    bool mCrossFade = true;       // the cross-fade between actions (cActor::mCrossFade)
    bool mInPlace = false;        // the loops as they are, the travel kept apart (sClip::mTravel)
    std::vector<sPathStep> mPath; // a walk path; empty: one clip per action
    std::string mAction;          // only the action of this name; empty: every action
};

// Throws cExportError for an option out of its range.
void CheckOptions(const sOptions& opt);

// A rigid transform in double precision: a unit quaternion (x, y, z, w)
// and a translation. The library's frame: +y up, units as the file's.
struct sTransform
{
    std::array<double, 4> mRotation{{0, 0, 0, 1}};
    std::array<double, 3> mTranslation{{0, 0, 0}};
};

// A bone as the formats see it.
struct sJoint
{
    std::string mName;
    int mParent = -1;      // index into sScene::mJoints, -1 for the root; parents come first
    sTransform mRest;      // local, relative to the parent (the root's: the world)
    sTransform mRestWorld; // the rest frame in the world
    double mLength = 0;    // along the bone's +y, units
};

// One animation: every joint's local transform at every frame.
struct sClip
{
    std::string mName;
    double mFrameTime = 0.01; // seconds between frames
    // [frame][joint]: local transforms. Baked, the root's holds the travel
    // and the heading; in place, the loop's own root motion alone.
    std::vector<std::vector<sTransform>> mFrames;
    // [frame]: the travel and heading apart (in place), identity when baked:
    // the root's world transform is mTravel[frame] times its local one.
    std::vector<sTransform> mTravel;
};

// What is written: the skeleton at rest, its clips and the body.
struct sScene
{
    std::string mName;           // the armature's name
    std::vector<sJoint> mJoints; // parents before children
    std::vector<sClip> mClips;
    bool mInPlace = false; // the clips keep the travel apart (a "travel" node above the root in glTF)
    cBody mBody;           // the skinned mesh at rest (bone numbers as mJoints'); empty without one
};

// Plays the actor file (its text) as the demo does, through the measuring
// layer's host (PrepareCharacter, then StepCharacter frame by frame at
// opt.mFrameMs), and samples it. Without a path: one clip per action (or
// the one opt.mAction names: a cExportError lists the actions when none is
// called so), each
// started on its own and played for one loop first (so that the locks have
// settled), then sampled from a restart of its clock over opt.mCycles loops,
// the last frame the pose the next loop starts from. With a path: one clip
// "path", from the demo's start (standing) through the steps. Throws the
// reader's cXmlError for a file it refuses, a cQVError for one the demo
// cannot play, cExportError for a skeleton the formats cannot hold.
sScene SampleActor(const std::string& actorText, const sOptions& opt);

// The scene as glTF 2.0: binary false, a .gltf JSON document with its
// buffer embedded as a data URI; true, a .glb container.
std::string FormatGltf(const sScene& scene, bool binary);

// The scene's first clip as BVH: a hierarchy of the joints with their rest
// offsets, each with three rotation channels (Z X Y) and the root with three
// position channels before them; every joint without children ends in an End
// Site at its tip. The bodies and the other clips are not written.
std::string FormatBvh(const sScene& scene);

// The formats, chosen by OUT's extension.
enum class eFormat
{
    kGltf,
    kGlb,
    kBvh
};
// The format for a file name's extension (.gltf, .glb, .bvh, any case);
// throws cExportError for any other.
eFormat FormatOf(const std::string& path);

// What ExportFile did, for its summary line.
struct sSummary
{
    size_t mJoints = 0;
    size_t mClips = 0;
    size_t mFrames = 0;   // over all clips
    size_t mVertices = 0; // of the body written; 0: none
};

// qvexport IN OUT: checks that OUT is not IN and has a known extension,
// reads IN (a regular file), samples it and writes OUT whole or not at all
// (WriteFileAtomically: an existing OUT is replaced only once the new one is
// complete).
sSummary ExportFile(const std::string& in, const std::string& out, const sOptions& opt);

} // namespace qvexport

#endif // QV_EXPORT_H
