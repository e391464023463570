// qvimport: captured motion (anything Assimp reads with a skeleton and an
// animation) in, an actor file the demo walks with out.
//
// The stages, each a function of this header, in the order Import runs them:
//   (ReadScene     file -> sCapture, in the capture layer: QV_capture.h)
//   BuildSkeleton  which joints become bones, their names and tails
//   FindFeet       ankles, knees, hips and toe tips of both legs
//   Upright        turns the capture so that up is +Z, ground at z = 0
//   RepeatLoop     a walk made to loop, one stride, played three times
//   PutInMotion    a cycle authored in place travels as its feet say
//   LevelFloor     a floor that is not level is turned level
//   CheckTwoLegs   refuses a figure with more feet on the ground
//   FindContacts   per foot and frame: planted or not
//   CheckSteps     refuses feet that never plant, hops and runs
//   FindCycles     heel strike to heel strike of the left foot
//   CheckCycles    refuses steps that go nowhere
//   FindStance     a frame standing on both feet at the start or end
//   BuildStand     or, where the clip never stands, one built from its poses
//   BuildActor     bones, rest matrices and the three actions' samples;
//     PlantCycle   each walk's legs re-posed so that a foot on the ground
//                  stays put
//     BuildBody    the source's skinned mesh, if any, at the stand, on the
//                  bones written
//   ReduceKeys     drops keys within an angle bound under the library's nlerp
//   WriteActorXml  the file text
//
// Every failure is a cImportError whose message is one line.
#ifndef QV_IMPORT_H
#define QV_IMPORT_H

#include <cmath>
#include <cstddef>
#include <stdexcept>
#include <string>
#include <vector>

#include "QV_action.h"
#include "QV_actor_file.h"
#include "QV_body.h"
#include "QV_error.h"
#include "QV_import_math.h"

namespace qvimport
{

class cImportError : public cQVError
{
public:
    explicit cImportError(const std::string& what) : cQVError(what) {}
};

struct sOptions
{
    std::string mLeftFoot; // joint names of the ankles; empty: found by their names
    std::string mRightFoot;
    int mCycle = 0;   // 1-based index of the gait cycle to use; 0: the best steady one
    int mFrameA = -1; // explicit cycle: first and last frame (the last pose equals the first)
    int mFrameB = -1;
    double mToleranceDeg = 0.1; // key reduction bound per joint rotation, degrees
    double mHipHeight = 2.0;    // standing hip height in the file, units
    bool mOwnTiming = false;    // play the chosen cycle at its own pace, not the steady walk's mean
    int mStandFrame = -1;       // the frame to stand on; -1: found
    std::string mSpeedCsv;      // where to write the capture's own root speed (CapturedRootSpeed); empty: not
    bool mPlant = true;         // hold the feet still while they are down (PlantCycle); false: the legs as captured
};

// The standing hip height a file may have (sOptions::mHipHeight, file units).
// Above the upper bound a captured figure (about twice as tall as its hips,
// arms up) would reach past the million units from its root that the loader
// accepts; below the lower one the smallest lengths the file needs (a toe,
// a centimetre of bob) near the 1e-9 under which the writer puts zero.
const double kMinHipHeight = 0.001;
const double kMaxHipHeight = 100000;

// Throws cImportError, one line, for options no capture can be imported
// with (a hip height outside its range). Import checks them first.
void CheckOptions(const sOptions& opt);

// ---- Stage: read scene -------------------------------------------------------

struct sJoint
{
    std::string mName;      // as in the source file
    int mParent = -1;       // index in sCapture::mJoints, parents first; -1 for the skeleton's root
    bool mAnimated = false; // the source has a channel for it
};

// One joint's share in moving a vertex of the source's mesh. The vertex (and
// its normal) rides on the joint's world frame as the capture gives it
// (world rotation and position, no scale): at frame f it lies at
// position[f][joint] + rotation[f][joint] * mLocal.
struct sSkinInfluence
{
    int mJoint = 0;     // in sCapture::mJoints
    double mWeight = 0; // > 0; a vertex's weights need not sum to 1
    sVec3 mLocal;       // source units, in the joint's frame
    sVec3 mNormal;      // unit, in the joint's frame
};

// The skinned mesh a source carries, bound to the capture's joints (the
// source's own joints that became none moved to their nearest captured
// ancestor). Empty (no triangles): the source has none.
struct sCaptureBody
{
    std::vector<std::vector<sSkinInfluence>> mInfluences; // per vertex, one joint at least
    std::vector<double> mTexCoords;                       // u, v per vertex (v = 0 at the image's top), or none
    std::vector<unsigned int> mTriangles;                 // three vertex indices each
    sImage mTexture;                                      // the texture, or none
    std::string mNote; // what was left out and why (a texture that could not be read, ...), or empty

    bool Empty() const { return mTriangles.empty(); }
};

// The captured motion sampled at a constant rate. Rotations and positions are
// world space (the source file's axes and units, later turned upright).
struct sCapture
{
    std::vector<sJoint> mJoints;
    double mRate = 0;                          // frames per second
    std::vector<std::vector<sQuat>> mRotation; // [frame][joint]
    std::vector<std::vector<sVec3>> mPosition; // [frame][joint]
    sCaptureBody mBody;                        // the skinned mesh, if the source has one

    size_t Frames() const { return mRotation.size(); }
};

// ---- Stage: skeleton ---------------------------------------------------------

struct sSkeleton
{
    std::vector<int> mBoneJoints; // joints that become bones (parents first)
    std::vector<int> mTail;       // per joint: the joint its bone points at, or -1
    std::vector<int> mChildCount; // per joint: number of joints in its subtree (itself excluded)
};

sSkeleton BuildSkeleton(const sCapture& cap);

// ---- Stage: find feet --------------------------------------------------------

struct sLeg
{
    int mHip = -1, mKnee = -1, mAnkle = -1; // joints
    int mToe = -1;                          // the ankle's child towards the toes, or -1
    int mTip = -1;                          // the farthest joint below the ankle (the toe tip), or -1
    double mLength = 0;                     // thigh + shin, source units
};

struct sFeet
{
    sLeg mLeg[2];     // 0 left, 1 right
    int mPelvis = -1; // the joint both legs hang from (the skeleton's root)
};

sFeet FindFeet(const sCapture& cap, const sOptions& opt);

// ---- Stage: upright ----------------------------------------------------------

// Turns the capture so that +Z is up (a proper rotation: the figure is not
// mirrored) and moves it so that the ground is z = 0. Returns the ground
// height found, in source units.
double Upright(sCapture& cap, const sFeet& feet);

// ---- Stage: loop --------------------------------------------------------------

// A short clip made to loop (shorter than a stride can be, moving at both
// ends, not turning, its last frame its first again or the one before it)
// is played kLoopTimes over end to end, each time travelling on as far as
// the clip does, so that it holds whole strides. Returns how many times the
// clip now plays its loop: 1 when it is left as it is.
int RepeatLoop(sCapture& cap, const sFeet& feet);

// ---- Stage: floor -------------------------------------------------------------

// A cycle authored in place (a game asset: the hips do not travel and the
// foot on the ground slides backwards at walking speed) is put in motion:
// every joint travels along where the figure faces at the speed the standing
// feet slide back. Returns that speed, source units per second; 0 for a clip
// that travels itself (it is left as it is).
double PutInMotion(sCapture& cap, const sFeet& feet);

// The floor the feet stand on, a plane fitted to where they stand still, is
// turned level (the figure with it) at z = 0 where it rises by more than 2.5 %
// of a leg over the ground walked. Returns its slope (rise per unit across),
// 0 where it was left as it was.
double LevelFloor(sCapture& cap, const sFeet& feet);

// ---- Stage: checks (what is not a walk is refused with the reason) ------------

// Refuses a figure with another end of its skeleton on the ground as often as
// a foot (a quadruped).
void CheckTwoLegs(const sCapture& cap, const sFeet& feet);

// ---- Stage: contacts and cycles ----------------------------------------------

struct sContacts
{
    std::vector<char> mDown[2]; // per foot and frame: planted
    double mWalkSpeed = 0;      // typical pelvis speed while walking, source units per second
};

sContacts FindContacts(const sCapture& cap, const sFeet& feet);

struct sCycle
{
    int mBegin = 0, mEnd = 0; // heel strikes of the left foot; the cycle is [mBegin, mEnd]
    double mSpeed = 0;        // pelvis travel per second, source units
    double mClosure = 0;      // how far the last pose is from the first, radians summed over joints
    bool mSteady = false;     // part of the steady walk
    double mPlaySeconds = 0;  // the action's period; 0: as captured
    int mStrides = 1;         // gait cycles from mBegin to mEnd (a run of steady cycles end to end)
};

// A cycle over frames [begin, end] (begin < end), not steady.
sCycle DescribeCycle(const sCapture& cap, const sFeet& feet, int begin, int end);

// Refuses a foot that never stands still while down (a figure that never
// plants), and flight phases in most cycles (hops, a run).
void CheckSteps(const sCapture& cap, const sFeet& feet, const sContacts& contacts);

// The cycles, the steady ones marked: at the walk's full speed and usual
// duration, and straight (turning no more than kMaxSteadyTurn) where any of
// those is.
std::vector<sCycle> FindCycles(const sCapture& cap, const sFeet& feet, const sContacts& contacts);

// The most a steady cycle, or a run of them, turns: 15 degrees, a stride on
// a circle about nine strides round (a capture's straight walk wavers by a
// few degrees; a corner turns by far more).
const double kMaxSteadyTurn = 15 * M_PI / 180;

// How far the figure turns from frame begin to frame end, radians, to its
// left positive (the hips' facing, summed frame by frame).
double Turn(const sCapture& cap, const sFeet& feet, int begin, int end);

// Refuses gait cycles none of which walks: the pelvis going on by 0.15 of a
// leg or more and each foot stepping on by half of that, the same way
// (boxing, dancing, stepping on the spot). No cycles: nothing to say here.
void CheckCycles(const sCapture& cap, const sFeet& feet, const sContacts& contacts, const std::vector<sCycle>& cycles);

// The frame to stand on: both feet planted and the body at its stillest,
// from the first or last fifth of the clip.
int FindStance(const sCapture& cap, const sFeet& feet, const sContacts& contacts);

// Whether frame f is a stand: the ankles no more than 0.35 of a leg apart
// and the body all but still.
bool IsStanding(const sCapture& cap, const sFeet& feet, const sContacts& contacts, int f);

// A stand built from the clip's own poses, for a clip that never stands: the
// walk's frame where the legs pass each other (`from`), its feet set flat
// under the hips, a hip width apart, the hips lowered as the legs need.
// Appended to the capture as a frame of its own; returns its index.
int BuildStand(sCapture& cap, const sFeet& feet, const sContacts& contacts, const sCycle& walk, int& from);

// The walk a report is made of: captured speed (pelvis travel per second in
// leg lengths) and cadence (steps per minute) over the steady cycles.
struct sGaitMeasure
{
    double mSpeedLegs = 0;
    double mCadence = 0;
    int mCycles = 0;
};
sGaitMeasure MeasureCapture(const sCapture& cap, const sFeet& feet, const std::vector<sCycle>& cycles);

// The capture's own root speed as the imported walk replays it, to set the
// walk's travel in the demo against: the walk's cycle looped `cycles` times at
// the pace the file plays it (playSeconds per cycle), and for each captured
// frame the pelvis's horizontal travel from the one before over the time the
// file gives that frame, in file units (scale: file units per source unit)
// per second. Each loop starts at the right heel strike inside the cycle (the
// left one when there is none), as the gait trace's cycles do.
struct sSpeedSample
{
    double mTimeMs = 0; // since the right heel strike
    double mSpeed = 0;  // file units per second
};
std::vector<sSpeedSample> CapturedRootSpeed(const sCapture& cap, const sFeet& feet, const sContacts& contacts,
                                            const sCycle& walk, double scale, double playSeconds, int cycles);

// ---- Stage: build actions ----------------------------------------------------

struct sOutBone
{
    std::string mName;
    int mParent = -1; // index in sActorOut::mBones
    sVec3 mOffset;    // head in the parent's frame (file units)
    sQuat mRest;      // rest rotation relative to the parent
    double mLength = 0;
};

struct sKey
{
    unsigned int mTime = 0;  // ms
    sQuat mValue;            // relative to the bone's rest rotation
    bool mHasHeight = false; // the root's keys carry the hips' height, the others none
    double mHeight = 0;      // hips over their rest (standing) height at this time, file units
};

// ---- Stage: plant feet (within build actions) ---------------------------------

// A leg's bones, indices in sActorOut::mBones: the thigh (from the hip), the
// shin, the foot (the demo's foot bone) and its first child (the toes), or
// -1 where there is none.
struct sLegBones
{
    int mThigh = -1, mShin = -1, mFoot = -1, mToe = -1;
};

// What planting did to one walk: per foot (0 left) and key, held or not;
// per key, the pelvis's travel over the floor to the next, in body space
// and file units; the largest horizontal shift asked of an ankle and the
// largest part of one the leg could not reach (leg lengths), and the
// largest turn of a foot about the vertical (degrees).
struct sLoopPlant
{
    std::vector<char> mHeld[2];
    std::vector<sVec3> mPelvisStep;
    double mLargestShift = 0, mLargestMiss = 0, mLargestTurnDeg = 0;
    double mLargestPitchDeg = 0; // the largest pitch that laid a foot flat (degrees)
    double mLargestHipDrop = 0;  // file units the hips came down for a held foot to reach the floor
};

struct sActorOut;

// Re-poses the legs of a looped walk so that each foot, while down (down: per
// key of the loop but the last, which repeats the first), keeps its heading
// while it lies flat and rolls about its lowest point (heel, ball, toe tip,
// placed as the demo's contact locks place them), which moves backwards
// under the body by the pelvis's step each key; it is held on past a contact
// while it scrapes the floor lifting off. A foot that stands all but flat
// (heel and front within 2 % of a leg where the leg is most upright) is
// pitched to lie flat there, by one turn over the contact. The thigh and
// shin turn so that the leg reaches the foot, whose roll and height stay;
// while a foot swings, its turn, pitch and shift ease round the loop from
// one contact's to the next's, and it clears the floor by its distance over
// the ground from where it is held, up to 1 % of a leg. keys: per key, every bone's rotation relative to its rest (the
// legs' are replaced). hipHeight: per key and the last again, the root's
// height over the floor (file units); given, a held foot's lowest joint
// (ankle, ball or toe tip) stands on the floor at every key it is held, the
// hips eased down where a leg would not reach it; null, the feet keep their
// captured heights.
sLoopPlant PlantCycle(const sActorOut& out, const sLegBones legs[2], const std::vector<char> down[2],
                      const std::vector<sVec3>& pelvisStep, std::vector<std::vector<sQuat>>& keys,
                      std::vector<double>* hipHeight = nullptr);

// The pose in body space (the root's frame) as the library builds it from
// keys relative to the rest rotations: every bone's rotation and head.
void BodyPose(const sActorOut& out, const std::vector<sQuat>& keys, std::vector<sQuat>& world,
              std::vector<sVec3>& head);

// The points a foot stands on, by the rule the demo's contact locks follow
// (HeelDrop, FootContactPoints in the core's QV_footlock.h), in body space.
// FootHeel: the heel in the foot bone's frame, placed from the rest pose.
// FootPoints: heel, ball and toe tip in the pose world and head give
// (BodyPose).
sVec3 FootHeel(const sActorOut& out, const sLegBones& bones);
void FootPoints(const sActorOut& out, const sLegBones& bones, const sVec3& heel, const std::vector<sQuat>& world,
                const std::vector<sVec3>& head, sVec3 p[3]);

struct sOutAction
{
    std::string mName;
    unsigned int mLength = 0;                 // ms
    std::vector<std::vector<sKey>> mChannels; // per bone
};

struct sActorOut
{
    std::string mName;
    std::vector<sOutBone> mBones;     // parents first; 0 is the root
    sOutAction mAction[kActionSlots]; // walk, stand, second walk (QV_character.h's slots)
    double mScale = 1;                // file units per source unit
    double mFigureHeight = 0;         // standing height, file units
    double mLegLength = 0;            // thigh + shin, file units
    double mWalkLowestMax = 0;        // the captured walk's lowest foot point (ankles, toe tips) at its
                                      // highest over the cycle, file units over the ground: where the
                                      // capture itself has both feet off the ground (heels are not joints)
    int mCycleFrames[2][2] = {};      // frames of the two walks
    int mStanceFrame = 0;             // the frame stood on, or the one a built stand was made from
    bool mStandBuilt = false;         // the clip never stands: the stand was built (BuildStand)
    sLoopPlant mPlant[2];             // what planting the feet did to the two walks (empty with --no-plant)
    author::sFileBody mBody;          // the source's skinned mesh at the stand, or none (BuildBody)
    std::string mBodyNote;            // what of the source's mesh was left out and why, or empty
};

// The names the demo looks its feet up by.
extern const char* const kLeftFootName;
extern const char* const kRightFootName;

// ---- Stage: body (within build actions) -----------------------------------------

// The capture's body where the file's bones stand at rest, which is the
// stand: every vertex placed by its joints at frame `stance`, moved into the
// file's model frame as the bones are (turned by standYaw about +Z, scaled,
// the pelvis over the ground at its standing height, the root's half turn),
// its weights on the bones of its joints (boneOfJoint: per capture joint its
// bone, or -1 for a joint written as none, whose weight goes to its nearest
// ancestor written, or to the root bone 0 above them all). Texture
// coordinates and the texture (as a PNG) as they are; empty for none.
author::sFileBody BuildBody(const sCapture& cap, const std::vector<int>& boneOfJoint, int stance, double standYaw,
                            double scale, double ground, int pelvis);

// contacts: which feet are down, for planting them (opt.mPlant).
sActorOut BuildActor(const sCapture& cap, const sSkeleton& sk, const sFeet& feet, const sContacts& contacts,
                     const sCycle& walk, const sCycle& walk2, int stance, const sOptions& opt);

// ---- Stage: reduce keys ------------------------------------------------------

// Keeps the first and last key and as few between as needed so that, played
// with the library's interpolation at every dropped key's time, no rotation
// is more than tolDeg degrees from the key it replaces, and no root height
// more than heightTol units from its key's.
std::vector<sKey> ReduceKeys(const std::vector<sKey>& keys, double tolDeg, double heightTol = 0.001);
// The bound on the root's heights for a figure whose hips stand hipHeight
// high: a thousandth of a unit at the default 2 units (half a millimetre,
// well under the centimetre a capture's floor moves by), in proportion.
double HeightTolerance(double hipHeight);
// The worst angle, degrees, between the full keys and the reduced ones
// evaluated as the library evaluates them, at the full keys' times.
double ReductionError(const std::vector<sKey>& full, const std::vector<sKey>& reduced);

// ---- Stage: write file -------------------------------------------------------

std::string WriteActorXml(const sActorOut& actor);

// ---- All stages --------------------------------------------------------------

struct sImportResult
{
    sActorOut mActor;
    std::string mXml;
    sGaitMeasure mCaptured;     // over the steady cycles
    sGaitMeasure mCapturedWalk; // the cycle the walk plays, at the pace it plays it
    std::vector<sCycle> mCycles;
    double mRate = 0;
    std::vector<sSpeedSample> mRootSpeed; // the capture's own over three loops of the walk (CapturedRootSpeed)
    double mInPlaceSpeed = 0;             // a clip authored in place: the speed its feet gave it (PutInMotion)
    double mFloorSlope = 0;               // the captured floor's slope, levelled (LevelFloor); 0: level
    int mLoopTimes = 1;                   // times a looping clip was played end to end (RepeatLoop)
    size_t mSourceFrames = 0;             // the clip's frames as read
};

sImportResult Import(const sCapture& source, const sOptions& opt);

} // namespace qvimport

#endif // QV_IMPORT_H
