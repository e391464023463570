// Plays an actor file as the demo plays it (cGaitHost, on cHost: its
// character step, StepCharacter) and measures the gait: speed, cadence,
// stride, stance, joint angles, pelvis motion, arm swing, foot slide, ground
// contact, standing drift and steering. Used by tools/walkertrace and by the
// gait test. Where a foot touches the ground is judged by the foot locks'
// contact points (heel, ball, toe tip), as the core places them.
//
// The generated walker is recognised by its skeleton (the authoring layer's
// QV_walker_skeleton.h) and measured against its anatomical bone frames and
// the phase its clips start at (QV_gait_params.h), for the comparison with
// normal adult gait; other layouts get what their legs give. The arithmetic
// is the authoring layer's double-precision V3 and M3 (QV_gait_math.h).
//
// A walk is traced in stages, each a function below: settle into the walk,
// record the frames, find the strikes, the phases and the contacts, gather
// the per-phase curves, and sum it all up in a WalkReport.
//
// Index: helpers; sLayout and FindLayout (where the legs are); cGaitHost;
// reports (WalkReport, StandReport, TurnReport); PhaseBins; the stages of
// a walk's trace; the traces; printing.
#ifndef QV_GAIT_TRACE_H
#define QV_GAIT_TRACE_H

#include <stdio.h>

#include <string>
#include <vector>

#include "QV_gait_math.h"
#include "QV_measure_host.h"

namespace measure
{

using walker::Deg;
using walker::M3;
using walker::V3;

// World rotation block and translation of a library matrix, in doubles.
M3 RotOf(const cMatrix4D& m);
V3 PosOf(const cMatrix4D& m);
V3 TailOf(const cBone& b);
inline double Horiz(const V3& v) { return sqrt(v.x * v.x + v.z * v.z); }

// One leg, found from its foot bone upwards. Bone indices into the
// armature's bones.
struct sLeg
{
    int hip = -1;   // the thigh's parent (pelvis or hips); -1 when the thigh is the root
    int thigh = -1; // the shin's parent
    int shin = -1;  // the foot's parent
    int foot = -1;  // the foot bone QV_character.h names; the foot lock holds its head (the ankle)
    int toe = -1;   // the foot's first child; -1 when it has none and the foot's own tip is the toe
};

// Where the trace finds what it measures in an armature.
struct sLayout
{
    int root = -1;
    int marker = -1;     // the root's first child: the foot locks' forward
    sLeg leg[2];         // right, left
    bool walker = false; // the generated walker's bones: its anatomical frames and arms are known
};

// Finds the legs from the two foot bones of QV_character.h: foot, then its
// parent the shin, its parent the thigh and the thigh's parent. Returns an
// empty string, or why the armature cannot be traced (one line).
std::string FindLayout(const cArmature& arm, sLayout& layout);

// The host with what the gait trace knows of the body at rest: where the
// legs are, the leg's length, the bones' rest frames. Positions are world
// positions on the floor the walk began on (cHost::Unshifted), in doubles.
class cGaitHost : public cHost
{
public:
    // Throws as cHost does, and cMeasureError when the legs cannot be found
    // (FindLayout) or the root's first child gives no walking direction.
    explicit cGaitHost(const std::string& path);
    explicit cGaitHost(const sActorText& text);

    using cHost::Frame;
    // One unpaused frame of the demo: StepCharacter with these keys held,
    // walkCycle the walk slot.
    void Frame(unsigned int dt, bool walk, bool left, bool right, unsigned int walkCycle);

    // Rest-pose facts, measured before the first frame.
    sLayout layout;
    // The unit speed and stride are given in. The walker: its hip joints'
    // height; other layouts: thigh plus shin, joint to joint.
    double legLength = 0;
    std::vector<M3> restWorld; // every bone's rest rotation, world axes
    M3 bodyRest;               // right, forward, up in the root's rest frame
    double restAnkle[2] = {};  // sagittal foot-to-shin angle at rest (layouts but the walker's)

    // Anatomical frame (right, forward, up) carried by bone i, in world axes.
    // The walker's layout only: its bones' rest frames are anatomical.
    M3 Anat(int i) const;
    // The frame the heading h alone gives: right, forward, up of the character.
    M3 HeadingFrame(double h) const;
    M3 HeadingFrame() const { return HeadingFrame(actor().mHeading); }
    // Forward, in world axes, at heading h degrees.
    V3 Forward(double h) const;
    V3 Head(int i) const;
    V3 Tail(int i) const;
    // A point of the actor's scene on the floor the walk began on.
    V3 OnFloor(const cVector3D& p) const;
    // The foot's contact points (cFootLock::kHeel, kBall, kToeTip) as its
    // foot lock finds them, on that floor.
    void FootPoints(int side, V3 out[cFootLock::kContactPoints]) const;
    V3 Heel(int side) const;
    // The tip of the foot's toe: the toe bone's tail, or the foot's own.
    V3 ToeTip(int side) const;
    // Lowest point of the skeleton (heads and tails of every bone).
    double Lowest() const;
    // Lowest point of one foot (heel, ball, toe tip).
    double FootLowest(int side) const;

private:
    void Init();
};

// Angle of v within the sagittal plane of frame a: forwards from straight
// down, degrees.
double SagittalFromDown(const M3& a, const V3& v);

struct WalkReport
{
    std::string clip;
    unsigned int dt = 0;
    bool anatomical = true; // joint angles against the walker's anatomical frames, and arms
    double speedUnits = 0;  // units per second
    double strideUnits = 0; // units
    double speed = 0;       // leg lengths per second
    double cadence = 0;     // steps per minute
    double stride = 0;      // leg lengths
    double stance = 0;      // % of the cycle
    double doubleSupport = 0;
    int airFrames = 0; // frames with both feet off the ground
    double hipPeak = 0, hipPeakPhase = 0, hipAt50 = 0;
    double kneeStrike = 0, kneeAt12 = 0, kneeToeOff = 0, kneePeak = 0, kneePeakPhase = 0;
    double ankleAt8 = 0, ankleAt50 = 0;     // dorsiflexion positive
    double ankleAt62 = 0, ankle62Phase = 0; // deepest plantarflexion around toe-off (58 to 68 %) and where
    double list = 0, rotation = 0;          // half ranges, degrees
    double bob = 0;                         // peak to peak, % of leg length
    int bobPeaks = 0;                       // per stride
    double shoulderArc = 0, armLegCorrelation = 0, elbowMin = 0, elbowMax = 0;
    double slide = 0;                  // worst planted-ankle slide per contact, % of stride
    double toeSkid = 0;                // worst slide of a grounded ball, % of stride
    double ground = 0;                 // worst |lowest point|, % of height
    double clearance = 0;              // lowest point of the swinging foot in mid swing (65 to 90 %), % of height
    int contacts = 0;                  // lock engagements measured
    double heading = 0;                // direction of travel against the heading, degrees
    double footOn = 0, footOff = 0;    // mean phase of ground contact start and end (right foot)
    double rootSlow = 0, rootFast = 0; // root speed over the cycle (5 % means), % of its average
    // Curves over the cycle at 5 % steps (leg's own phase): hip, knee, ankle,
    // hip-centre height over its lowest (units), shoulder, elbow. Without
    // the walker's frames (anatomical false) the hip is the thigh's angle
    // from the vertical, knee and ankle come from the joints' positions, and
    // there are no arm curves.
    double curve[6][20] = {};
};

struct StandReport
{
    double drift = 0;       // % of height over the run
    double ground = 0;      // worst |lowest point|, % of height
    double ankleTravel = 0; // largest ankle movement relative to the root, units
};

struct TurnReport
{
    double meanError = 0, maxError = 0; // degrees between travel and heading
    double turned = 0;                  // degrees of heading covered
};

// Values gathered by phase into equal bins over one cycle.
class PhaseBins
{
public:
    explicit PhaseBins(int n = 100) : mSum(n, 0.0), mCount(n, 0) {}
    void Add(double phase, double v);
    // Value at a phase, interpolated between the centres of the bins around
    // it; empty bins borrow from their nearest filled neighbour.
    double At(double phase) const;
    double Bin(int i) const;
    // Largest value in [a, b) and where it is.
    double Max(double a, double b, double* where = nullptr) const;
    // Smallest value in [a, b) and where it is.
    double Min(double a, double b, double* where = nullptr) const;

private:
    std::vector<double> mSum;
    std::vector<int> mCount;
};

// Ground contact threshold: a foot point this close to the ground touches it.
double ContactThreshold(const cGaitHost& h);

// ---------------------------------------------------------------------------
// The stages of a walk's trace.

// Plays ms milliseconds of frames of dt: walking slot `slot`, or standing.
void Settle(cGaitHost& host, unsigned int dt, double ms, bool walk, unsigned int slot);

// What one frame of a walk shows, measured right after the step.
struct sWalkFrame
{
    double elapsed = 0;        // ms since recording began, at the end of this frame
    unsigned int clock = 0;    // the actor's clock (mTime)
    float heading = 0;         // the actor's heading, degrees
    V3 root;                   // root head, world
    double lowest = 0;         // lowest point of the skeleton
    bool locked[2] = {};       // right, left foot lock engaged
    V3 ankle[2];               // foot bone heads
    V3 ball[2];                // foot bone tails (the foot locks' kBall)
    double footLowest[2] = {}; // the foot lock's heel, ball or toe tip, whichever is lowest
    double toeTip[2] = {};     // height of the toe tip
    V3 hipJoint[2];            // thigh heads
    // Sagittal angles, degrees: hip and knee flexion, ankle dorsiflexion,
    // shoulder flexion against the chest, elbow bend. Other layouts than
    // the walker's: thigh from the vertical, knee and ankle from the joint
    // positions, no arms.
    double hip[2] = {}, knee[2] = {}, ankleAngle[2] = {}, shoulder[2] = {}, elbow[2] = {};
};

struct sWalkRecord
{
    V3 start;                 // root head when recording began
    bool startLocked[2] = {}; // foot locks engaged when recording began
    double period = 0;        // the clip's cycle, ms
    std::vector<sWalkFrame> frames;
};

// Plays runMs milliseconds of walking and measures every frame.
sWalkRecord RecordWalk(cGaitHost& host, unsigned int slot, unsigned int dt, double runMs);

// The walk cycle's phase of every frame (0 = right heel strike), from the
// actor's clock: for a clip of one cycle that starts startPhase into it.
// It starts again with the clip's clock (from startPhase to startPhase + 1).
std::vector<double> CyclePhases(const sWalkRecord& rec, double period, double startPhase);

// Heel strikes: a foot lock engaging after at least 100 ms free.
struct sStrikes
{
    std::vector<double> times;     // heel strikes of either foot, ms
    std::vector<V3> pos[2];        // where each foot's ankle stood at its strikes
    std::vector<size_t> frames[2]; // the frames they happened in
    double worstSlide = 0;         // planted ankle, units
    int contacts = 0;              // lock engagements after a swing
};

sStrikes FindStrikes(const sWalkRecord& rec);

// The frames in which a foot lands: its lowest point reaches the ground
// (within eps) after at least 100 ms off it.
std::vector<size_t> Touchdowns(const sWalkRecord& rec, int side, double eps);

// The phase of every frame from the right foot's landings, for clips whose
// cycle is not known in advance (several strides, or not starting at a
// known phase): landing k is phase k, frames between them in proportion,
// frames outside at the nearest cycle's rate. Landings rather than lock
// engagements, because a lock engages a frame or two after the foot lands.
// Empty with fewer than two landings.
std::vector<double> StrikePhases(const sWalkRecord& rec, double eps);

// Stance and the feet on the ground.
struct sContacts
{
    long stanceFrames = 0;        // feet on the ground, summed over frames
    long doubleFrames = 0;        // frames with both feet down
    int airFrames = 0;            // frames with neither
    double onSum = 0, offSum = 0; // phases of the right foot's contact changes
    int onN = 0, offN = 0;
    double worstSkid = 0;    // grounded ball, units
    double worstGround = 0;  // |lowest point|, units
    double clearance = 1e30; // lowest swinging foot point in mid swing
};

sContacts FindContacts(const sWalkRecord& rec, const std::vector<double>& phase, double eps);

// Everything that is averaged by phase.
struct sPhaseCurves
{
    // Both legs together, each at its own phase (the report's norms), and
    // each leg alone (the exported curves).
    PhaseBins hip, knee, ankle, list, rot, bob, shoulder, elbow, rootSpeed{20};
    PhaseBins sideHip[2], sideKnee[2], sideAnkle[2];
    double sumArm = 0, sumArm2 = 0, sumLeg = 0, sumLeg2 = 0, sumArmLeg = 0;
    long armN = 0;
};

sPhaseCurves PhaseCurves(const cGaitHost& host, const sWalkRecord& rec, const std::vector<double>& phase,
                         unsigned int dt);

// The phases a walk's curves are gathered by: from the clock for the
// walker, from the right foot's landings for other layouts.
std::vector<double> WalkPhases(const cGaitHost& host, const sWalkRecord& rec);

WalkReport Summarise(const cGaitHost& host, const sWalkRecord& rec, const sStrikes& st, const sContacts& c,
                     const sPhaseCurves& pc);

// Everything one walk's trace found, stage by stage.
struct sWalkTrace
{
    sWalkRecord rec;
    std::vector<double> phase; // of every recorded frame
    sStrikes strikes;
    sContacts contacts;
    sPhaseCurves curves;
    WalkReport report;
};

// ---------------------------------------------------------------------------
// The traces.

// TraceWalk with every stage's result kept.
sWalkTrace RunWalk(cGaitHost& host, unsigned int slot, unsigned int dt, double settleMs = 3000, double runMs = 20000);

// Walks slot `slot` at frames of dt ms: settles for settleMs, then measures
// runMs.
WalkReport TraceWalk(cGaitHost& host, unsigned int slot, unsigned int dt, double settleMs = 3000, double runMs = 20000);
// Stands: settles, then watches the root and the ankles for runMs.
StandReport TraceStand(cGaitHost& host, unsigned int dt, double settleMs = 2000, double runMs = 10000);
// Walks while turning (left, or right), compares the direction of travel
// over each stride with the mean heading over it.
TurnReport TraceTurn(cGaitHost& host, unsigned int slot, unsigned int dt, bool left, double settleMs = 3000,
                     double runMs = 12000);

// ---------------------------------------------------------------------------
// Printing.

// The walker's table: a header, then one line per walk.
void PrintWalkHeader(FILE* f);
std::string WalkLine(const WalkReport& r);
void PrintWalk(FILE* f, const WalkReport& r);
// The curves over the cycle, in 5 % steps.
void PrintCurves(FILE* f, const WalkReport& r);

// Other layouts' table: what can be measured without the walker's frames.
void PrintLayoutWalkHeader(FILE* f);
std::string LayoutWalkLine(const WalkReport& r);
// The bones the trace measures, by name.
void PrintLayout(FILE* f, const cGaitHost& host);
// What the trace cannot measure for this layout, one line each.
std::vector<std::string> Unmeasured(const cGaitHost& host);

} // namespace measure

#endif // QV_GAIT_TRACE_H
