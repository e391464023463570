#!/usr/bin/env python3
"""Writes tools/plots/normal_gait.dat, the band of normal adult walking that
the joint-angle and pelvis figures draw behind the walker's curves.

The band is schematic: the adult pattern's key values at the events of the
gait cycle, as the gait textbooks give them (Perry J, Burnfield JM, Gait
Analysis: Normal and Pathological Function, 2nd ed., SLACK 2010, chapters on
the hip, knee, ankle and pelvis; Winter DA, Biomechanics and Motor Control of
Human Movement, 4th ed., Wiley 2009), joined by a smooth periodic curve
(Catmull-Rom through the key points). The spread is one typical
between-subject standard deviation of adult sagittal kinematics, about 5
degrees at the hip, knee and ankle and 2 to 3 degrees at the pelvis (Kadaba
MP et al., Repeatability of kinematic, kinetic and electromyographic data in
normal adult gait, J Orthop Res 7(6):849-860, 1989). Read it as the shape
and size of normal walking, not as a laboratory's table.

Run it to regenerate the file: python3 tools/plots/make_band.py
"""
import os

# Per cent of the cycle (0: heel strike of the side shown) -> degrees.
KEYS = {
    # Thigh against an upright pelvis, flexion +: 30 at contact, extending
    # through stance to about 10 beyond upright at terminal stance, flexing
    # through swing to about 35.
    "hip": [(0, 30), (10, 28), (20, 20), (30, 10), (40, 2), (52, -10), (62, 0), (72, 20), (85, 35), (100, 30)],
    # Knee flexion +: 5 at contact, 15 to 20 in loading response, nearly
    # straight at 40 %, 40 at toe-off (62 %), 60 at 73 %, straight at the next
    # contact.
    "knee": [(0, 5), (6, 12), (14, 18), (25, 11), (40, 4), (50, 10), (62, 40), (73, 60), (85, 35), (95, 6), (100, 5)],
    # Ankle dorsiflexion +: 0 at contact, 5 plantarflexion in loading
    # response, 10 dorsiflexion late in stance, 15 to 20 plantarflexion at
    # toe-off, back to neutral in swing.
    "ankle": [(0, 0), (7, -5), (15, 0), (30, 5), (47, 10), (55, 4), (62, -17), (72, -6), (85, 1), (100, 0)],
    # Pelvic obliquity, the side shown up +: about 4 up in loading response,
    # as much down in its own swing.
    "list": [(0, 0), (15, 4), (35, 1), (50, -1), (65, -4), (85, -1), (100, 0)],
    # Pelvic rotation, the side shown forwards +: about 4 forwards at its
    # contact, as much back at the other side's.
    "rot": [(0, 4), (25, 0), (50, -4), (75, 0), (100, 4)],
}
SD = {"hip": 5.0, "knee": 5.0, "ankle": 5.0, "tilt": 4.0, "list": 2.0, "rot": 3.0}


def periodic_catmull_rom(keys, pct):
    """The curve through the keys (pct ascending, the last at 100 equal to the first) at pct."""
    pts = keys[:-1]  # 100 repeats 0
    n = len(pts)
    for i in range(n):
        x1, y1 = pts[i]
        x2, y2 = pts[(i + 1) % n]
        if x2 <= x1:
            x2 += 100
        p = pct if pct >= x1 else pct + 100
        if x1 <= p <= x2:
            x0, y0 = pts[(i - 1) % n]
            x3, y3 = pts[(i + 2) % n]
            if x0 >= x1:
                x0 -= 100
            if x3 <= x2:
                x3 += 100
            t = (p - x1) / (x2 - x1)
            # Tangents scaled to the uneven spacing of the keys.
            m1 = (y2 - y0) / (x2 - x0) * (x2 - x1)
            m2 = (y3 - y1) / (x3 - x1) * (x2 - x1)
            h00 = 2 * t**3 - 3 * t**2 + 1
            h10 = t**3 - 2 * t**2 + t
            h01 = -2 * t**3 + 3 * t**2
            h11 = t**3 - t**2
            return h00 * y1 + h10 * m1 + h01 * y2 + h11 * m2
    raise ValueError(pct)


HEADER = """# Normal adult walking at self-selected speed, schematic: the mean curve through the textbook key
# values of the adult pattern and one typical between-subject standard deviation, 0 to 100 % of the
# gait cycle in 2 % steps (0 and 100: the heel strike of the side shown). Written by
# tools/plots/make_band.py, which gives the key values and their sources (Perry and Burnfield 2010;
# Winter 2009; the spread after Kadaba et al. 1989).
#
# Sign conventions, all in degrees, each side's own cycle:
#   hip      flexion +, the thigh against an upright pelvis (as the walker's rest frame is); the tilt
#            mean column is 0, so the figures' tilt correction leaves it as it is.
#   knee     flexion +, 0 with the leg straight.
#   ankle    dorsiflexion +, 0 with the foot at right angles to the shank (standing).
#   tilt     anterior pelvic tilt +, against the upright rest frame (the mean 0: the hip above is
#            already against an upright pelvis; the spread that of adults' tilt).
#   list     pelvic obliquity, the side shown up +.
#   rot      pelvic rotation, the side shown forwards +.
#
# pct,hip_mean,hip_sd,knee_mean,knee_sd,ankle_mean,ankle_sd,tilt_mean,tilt_sd,list_mean,list_sd,rot_mean,rot_sd
"""


def main():
    out = os.path.join(os.path.dirname(os.path.abspath(__file__)), "normal_gait.dat")
    rows = []
    for pct in range(0, 101, 2):
        v = {k: periodic_catmull_rom(KEYS[k], pct % 100) for k in KEYS}
        rows.append(
            f"{pct},{v['hip']:.2f},{SD['hip']:.2f},{v['knee']:.2f},{SD['knee']:.2f},{v['ankle']:.2f},{SD['ankle']:.2f},"
            f"0.00,{SD['tilt']:.2f},{v['list']:.2f},{SD['list']:.2f},{v['rot']:.2f},{SD['rot']:.2f}"
        )
    with open(out, "w") as f:
        f.write(HEADER + "\n".join(rows) + "\n")


if __name__ == "__main__":
    main()
