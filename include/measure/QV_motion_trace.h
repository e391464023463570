// Measures how smoothly the character moves, played as the demo plays it
// (cHost): how far any bone tip moves in one frame while walking steadily and
// just after W is pressed or released, how far the heel, the ball and the
// toe tip of a planted foot (the foot locks' contact points) slide over the
// ground while they touch it, and how fast the character travels; also how
// far a foot glides over the ground in a start or a stop. Used by
// tools/motiontrace and by tests/test_motion_fidelity.cpp.
//
// Contents: sMotionReport, sRunPlan (what is measured, over which run);
// sTrack, ContactLevel, ContactSlides (ground contact of one point);
// TipMove; TraceMotion (the run and its report).
#ifndef QV_MOTION_TRACE_H
#define QV_MOTION_TRACE_H

#include <string>
#include <vector>

#include "QV_measure_host.h"

namespace measure
{

struct sMotionReport
{
    unsigned int mDt = 0;   // frame length, ms
    double mSteadyMove = 0; // largest move of a bone tip in one frame of steady walking, units
    double mStartMove = 0;  // the same in the 300 ms after W is pressed (from standing)
    double mStopMove = 0;   // the same in a stop: the 300 ms after W is released (from walking), or
                            // until the stand has faded in, when that is later
    double mHeelSlide = 0;  // worst slide of a heel over one contact, % of stride
    double mBallSlide = 0;  // worst slide of a ball of the foot over one contact, % of stride
    double mToeSlide = 0;   // worst slide of a toe tip (the tail of the foot's first child)
                            // over one contact, % of stride
    double mHeelMean = 0;   // mean of the heel's slides per contact, % of stride
    double mBallMean = 0;
    double mToeMean = 0;
    int mHeelContacts = 0; // contacts measured
    int mBallContacts = 0;
    int mToeContacts = 0;
    double mStartGlide = 0; // farthest a heel, ball or toe tip moves over the ground while down on
                            // it in the 300 ms after W is pressed (from the frame before), % of stride
    double mStopGlide = 0;  // the same in a stop (as mStopMove)
    double mSpeed = 0;      // travel over the ground while walking steadily, units per second
    double mStride = 0;     // travel per cycle of the walk clip, units
    bool mFinite = true;    // no not-a-number or infinity in any world matrix, in any frame
};

// Phases of the run, milliseconds. The first start and stop frame the
// steady walk; the others come after standing and walking for times that
// differ from trial to trial, so that W is pressed and released at many
// points of the clips.
struct sRunPlan
{
    double mStandMs = 2000;  // standing before W is first pressed
    double mSettleMs = 3000; // walking before the steady measurement
    double mSteadyMs = 12000;
    double mWindowMs = 300;                              // after pressing and after releasing W (a stop
                                                         // runs on until the stand has faded in)
    int mTrials = 12;                                    // starts and stops measured
    double mTrialStandMs = 900, mTrialStandStepMs = 487; // standing before the k-th start
    double mTrialWalkMs = 1500, mTrialWalkStepMs = 211;  // walking before the k-th stop
};

// One foot point's height and ground position over a run.
struct sTrack
{
    std::vector<float> mY;
    std::vector<float> mX, mZ;
    void Add(const cVector3D& p);
};

// Where a point touches the ground: within eps of the level where it spends
// the lowest fifth of the run (it stands there for longer than that), eps
// widened by three times the scatter of those heights, so that a captured
// walk's jitter does not cut its contacts into pieces. (TraceMotion leaves
// out a point whose level is well above its foot's others: it never
// touches the ground.)
double ContactLevel(const sTrack& t, double eps);

// Slides of one point per contact (while it is no higher than level): the
// farthest it gets over the ground from where the contact began. With whole
// set, a contact already running when the track begins, or still running
// when it ends, is left out; without, it counts from the track's first
// sample and up to its last.
void ContactSlides(const sTrack& t, double level, bool whole, std::vector<double>& slides);

// Largest distance any bone tip moved, on the floor the walk began on,
// since the tips were last recorded; records them (one per bone).
double TipMove(const cHost& h, std::vector<cVector3D>& tips);

// Stands, walks, stands again, with the switches as given, at frames of dt
// milliseconds. Throws as cHost does for a file it cannot host.
sMotionReport TraceMotion(const std::string& path, unsigned int dt, const sSwitches& sw,
                          const sRunPlan& plan = sRunPlan());

} // namespace measure

#endif // QV_MOTION_TRACE_H
