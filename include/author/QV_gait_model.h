// The walk cycle model behind the walker's walk clips.
//
// How a walk is built (phase 0 = right heel strike, the left leg runs half a
// cycle behind). The demo's foot locks hold the ankle (the foot bone's head)
// and move the root by the ankle's backward slide, so the ankle paths are
// authored first and the legs are solved to reach them:
// - Locked stance, 0 to 50 %: the ankle moves straight back relative to the
//   root, covering one step, at a constant height; the foot rolls from heel
//   to flat in the first 8 %. Its speed eases at both ends (to about half
//   at the hand-over, as speedDip sets), so that the hand-over from one foot
//   to the other (when the arriving foot's lock lags by one frame) costs
//   little slide even at 33 ms frames. From 27 % the
//   heel starts to lift, and lifts further wherever the shin would otherwise
//   lean more than ankleStance (14 degrees) over the foot, so the ankle
//   dorsiflexes no further than an adult's; the ankle rises with the heel
//   while staying locked (its ball slides back a little as the foot pitches).
// - Pre-swing, 50 to 60 %: the other foot has landed and carries the body;
//   the ball of this foot stays put on the ground while the heel rises, so
//   its ankle moves forwards and its lock lets go.
// - Swing, 60 to 100 %: the ankle travels forwards over the ground along a
//   path that never reverses (so its lock stays free) and brakes to rest at
//   heel strike; it is well on its way by mid swing, ahead of the hip with
//   the shin nearly upright as it passes low. Its height first lifts, then
//   follows from a knee that straightens onto the heel-strike posture. The
//   ankle plantarflexes a little more after toe-off, comes back to neutral,
//   and dorsiflexes only where ball or toes (held level) would otherwise pass
//   closer to the ground than an adult's do.
// - Hip height: the pelvis hangs from the root through a link bone whose
//   tilt lowers and raises the hips; the tilt is solved so the stance knee
//   follows an adult's curve (nearly straight at heel strike, bending under
//   load, easing through mid stance, kept long while the heel lifts), and
//   lowered a touch wherever a leg would otherwise fall short of its target.
// - List, rotation and side sway of the pelvis, trunk counter-rotation,
//   breathing and arm swing are sinusoids locked to the leg cycle.
// Every leg pose is solved by two-bone inverse kinematics, so the authored
// feet are exactly where the gait puts them.
#ifndef QV_GAIT_MODEL_H
#define QV_GAIT_MODEL_H

#include <vector>

#include "QV_gait_params.h"
#include "QV_pose_author.h"

namespace walker
{

class WalkModel
{
public:
    // Builds every curve of the cycle, in the order their dependencies need
    // (see the constructor).
    WalkModel(const Author& a, const GaitParams& g);

    PelvisState Pelvis(double ph) const;
    // Leg target at the leg's own phase p (0 = its heel strike).
    LegTarget Leg(int side, double p, const PelvisState& pelvis) const;
    // Everything the poser needs at phase ph.
    Author::PoseInput Input(double ph) const;

private:
    // The swing curves, over the leg's own phase from toe-off to heel strike.
    struct sSwing
    {
        double y0 = 0;                // relative ankle y at toe-off
        std::vector<Knot> worldY;     // ankle travel over the ground since toe-off
        std::vector<Knot> lift;       // ankle height over the ground
        std::vector<Knot> kneeLate;   // knee flexion, late swing
        std::vector<Knot> ankleSwing; // ankle angle
    };

    const Author& A;
    GaitParams G;
    double mStep = 0;
    double mFootX[2] = {0, 0};
    // Set once each by the constructor; each is built from those above it
    // (and mSoleStrike, mAnkleY0 and mPitch settle together).
    std::vector<double> mProgress; // cumulative stance progress table
    std::vector<Knot> mHeelOff;    // sole pitch from heel-off to 50 %, before the lift for ankleStance
    std::vector<Knot> mHeelLift;   // that lift over stance, degrees of sole pitch toes down (settled)
    std::vector<Knot> mSoleLate;   // sole pitch, 50 % to toe-off
    double mAnkleY0 = 0;           // landing ankle, ahead of the root
    double mSoleStrike = 0;        // sole pitch at heel strike
    std::vector<Knot> mPitch;      // link pitch over half a cycle
    std::vector<double> mReach;    // extra link pitch where a leg falls short, half a cycle
    sSwing mSwing;

    // Stance timing.
    double Speed(double u) const;
    std::vector<double> SpeedProfile() const;
    double Progress(double u) const;
    double StanceY(double q) const;
    double RootTravel(double q0, double q1) const;

    // The foot's pitch.
    double Sole(double p) const;
    double SoleBeforeLift(double p) const;
    std::vector<Knot> HeelOffCurve() const;
    double HeelLift(double p) const;
    std::vector<Knot> HeelLiftCurve() const;
    std::vector<Knot> SoleLate() const;
    double FootDown(double sole) const;

    // The three parts of a leg's cycle.
    LegTarget Stance(int side, double p) const;
    LegTarget PreSwing(int side, double p) const;
    LegTarget Swing(int side, double p, const PelvisState& pelvis) const;

    // The pelvis without its link pitch, and the pitch.
    PelvisState PelvisShape(double ph) const;
    double SolvePitch(double ph, double knee) const;
    std::vector<Knot> PitchCurve() const;
    void SettleSoleStrike();
    double LandingY() const;
    double PitchAt(double ph) const;
    double NeededPitch(double ph) const;
    std::vector<double> ReachCorrection() const;
    sSwing SwingCurves() const;

    // Leg geometry.
    double SwingShin(double p) const;
    double ShinAngle(const V3& hip, const V3& ankle) const;
    double SoleForClearance(double za, double clear, double toeShare) const;
    void StanceAngles(double p, double& hip, double& knee) const;
    double KneeFromDistance(double D) const;
    void Angles(double dy, double dz, double& hip, double& knee) const;
};

} // namespace walker

#endif // QV_GAIT_MODEL_H
