// The walker's body and gait parameters: the numbers data/walker.xml is made
// from. Lengths are in units (the walker is about 4 units tall), angles in
// degrees, times in milliseconds, phases in shares of one stride (0 = the
// right heel strike).
#ifndef QV_GAIT_PARAMS_H
#define QV_GAIT_PARAMS_H

#include <math.h>

#include <string>

#include "QV_gait_math.h"

namespace walker
{

// A walk clip starts (at the clock's restart time) this far into the gait
// cycle, whose phase 0 is the right heel strike: at right mid stance, with
// the left foot passing it, both feet lie close to where the standing pose
// has them, so starting to walk from standing moves the skeleton least.
static const double kWalkStartPhase = 0.28;

struct Body
{
    double ankleHeight = 0.11; // ankle above the ground, standing
    double foot = 0.36;        // ankle to ball
    double toes = 0.12;
    double shin = 0.93;
    double thigh = 0.94;
    double hipHalfWidth = 0.20;
    double pelvisFront = 0.30; // root bone: hip centre forwards
    double pelvisDrop = 0.06;  // hip centre below the root's head
    double sacrum = 0.16;      // pelvis bone, up from the hip centre
    double spine = 0.55;
    double chest = 0.60;
    double neck = 0.22;
    double head = 0.60;
    double clavicle = 0.36;
    double clavicleDrop = 0.10;
    double upperArm = 0.72;
    double forearm = 0.60;
    double hand = 0.20;
    double footHalfSpread = 0.17; // ankles' distance from the midline, standing

    double HipHeight() const { return ankleHeight + shin + thigh; }
    double RootHeight() const { return HipHeight() + pelvisDrop; }
    double FootSlope() const { return Deg(asin(ankleHeight / foot)); } // degrees below horizontal
};

struct GaitParams
{
    std::string name = "walk";
    int periodMs = 1130;          // one stride (two steps)
    double stride = 2.92;         // root travel per stride, units
    double leadFraction = 0.42;   // share of the step the landing ankle is ahead of its hip joint
    double speedDip = 0.45;       // 0: constant ankle speed in stance; 0.5: half speed at the hand-over
    double speedDipWidth = 0.07;  // phase width of that dip
    double kneeStrike = 2.0;      // knee flexion at heel strike, degrees
    double kneeLoad = 18.5;       // at 12 %
    double kneeMid = 14.0;        // at 30 %
    double kneeLate = 10.0;       // at 40 %
    double kneeTrail = 11.0;      // at kneeTrailPhase: the trailing leg stays long while its heel lifts
    double kneeTrailPhase = 0.46; // after 40 %; the hips follow the stance knee up to here, then drop
    double kneeMin = 0.8;         // the legs never lock straight
    double toeOff = 0.60;
    double heelOffStart = 0.27; // the heel starts to lift (ankle still locked)
    double heelOffEnd = 16.0;   // sole pitch reached by 50 %, degrees toes down, before the lift below
    double ankleStance = 14.0;  // most ankle dorsiflexion in stance: the heel lifts further rather than
                                // the shin lean further over the foot (adults: about 10, at most 16)
    double heelRise = -62.0;    // sole pitch at toe-off, degrees
    double ankleStrike = 0.0;   // ankle dorsiflexion at heel strike
    double footFlat = 0.08;     // phase at which the sole is flat after heel strike
    double lift = 0.42;         // ankle height in early swing, units over the ground
    double liftPhase = 0.70;
    double liftOff = 0.08;       // ankle rise over the first 4 % of swing
    double lateLift = 0.10;      // ankle over its stance height at 90 %
    double clearance = 0.03;     // lowest point of ball and toes over the ground in mid swing (adults:
                                 // about 1.5 cm, 0.03 units at the walker's size)
    double pushOff = -12.0;      // further plantarflexion just after toe-off
    double ankleSwing = 0.0;     // ankle dorsiflexion through mid swing
    double swingToes = 0.0;      // share of the foot's pitch the toes follow in swing (0: they stay level)
    double swingMidPhase = 0.80; // the swing ankle has covered swingMidShare of its way over the ground
    double swingMidShare = 0.60; // by swingMidPhase, moving at swingMidSpeed times its mean speed
    double swingMidSpeed = 0.85;
    double brake = 0.05;         // share of the cycle the landing foot brakes over
    double kneeSwingPeak = 61.0; // knee flexion at its swing peak
    double kneePeakPhase = 0.73;
    double kneeSwingLate = 36.0;  // knee flexion at 85 %
    double kneeLanding = 4.0;     // knee flexion over its heel-strike value at 93 %
    double pelvisTilt = 1.5;      // forwards, while walking
    double pelvisList = 4.0;      // degrees
    double pelvisRotation = 5.0;  // degrees
    double pelvisSway = 0.03;     // units, side shift of the hip centre
    double trunkLean = 3.0;       // forward, degrees
    double trunkCounter = 0.6;    // chest counter-rotation, share of the pelvis rotation
    double shoulderArc = 27.0;    // full arc, degrees
    double shoulderCentre = -5.0; // flexion at the middle of the arc
    double elbowMin = 12.0;
    double elbowMax = 38.0;
    double headPitch = 0.0;  // positive looks up
    double keyStepMs = 23.0; // about this far apart
};

struct IdleParams
{
    std::string name = "stand";
    int periodMs = 4000;
    double sway = 0.025;   // side shift of the hip centre, units
    double list = 1.0;     // degrees
    double kneeFlex = 8.0; // degrees, standing
    double breath = 1.2;   // chest pitch, degrees
    double shoulderBreath = 1.0;
    double elbow = 10.0;
    double keyStepMs = 50.0;
};

// One parameter set per action slot (walk, stand, second walk) and the body.
struct ActorParams
{
    Body body;
    GaitParams walk;
    IdleParams idle;
    GaitParams walk2;
};

// The parameters of data/walker.xml: an ordinary walk and a brisk one.
ActorParams DefaultActorParams();

} // namespace walker

#endif // QV_GAIT_PARAMS_H
