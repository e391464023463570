// Loads actor files with the project's loader, drives each exactly as the
// demo does (StepCharacter) at 1, 16 and 33 ms frames with the cross-fade and
// the contact locks off and on, and prints how smoothly it moves: the largest
// move of a bone tip in one frame while walking steadily and in the 300 ms
// after W is pressed and released, the slide of the heel, the ball and the
// toe tip of a planted foot per contact, and the speed.
//
//     motiontrace [actor files...]     (./data/walker.xml first, where it is found)
//     motiontrace --csv DIR [FILE]     a start and a stop frame by frame, switches off and both on, as
//                                      CSV files for tools/plots.sh (docs/gait-csv.md); FILE defaults
//                                      to ./data/walker.xml
#include <errno.h>
#include <math.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "QV_motion_trace.h"

namespace
{
const char* Name(const measure::sSwitches& s)
{
    if (s.mCrossFade && s.mContactLock)
        return "both on";
    if (s.mCrossFade)
        return "fade";
    if (s.mContactLock)
        return "contact";
    return "off";
}

void Report(const std::string& path)
{
    printf("%s\n", path.c_str());
    printf("%-8s %3s | %6s %6s %6s %5s %5s | %5s %5s %3s | %5s %5s %3s | %5s %5s %3s | %5s %5s | %6s %6s\n", "switches",
           "dt", "steady", "start", "stop", "st/s", "sp/s", "heel", "mean", "n", "ball", "mean", "n", "toe", "mean",
           "n", "st gl", "sp gl", "speed", "stride");
    measure::sSwitches configs[4];
    configs[1].mCrossFade = true;
    configs[2].mContactLock = true;
    configs[3].mCrossFade = configs[3].mContactLock = true;
    for (const measure::sSwitches& sw : configs)
        for (unsigned int dt : {1u, 16u, 33u})
        {
            const measure::sMotionReport r = measure::TraceMotion(path, dt, sw);
            printf("%-8s %3u | %6.3f %6.3f %6.3f %5.2f %5.2f | %5.2f %5.2f %3d | %5.2f %5.2f %3d | %5.2f %5.2f %3d | "
                   "%5.2f %5.2f | %6.3f %6.3f%s\n",
                   Name(sw), dt, r.mSteadyMove, r.mStartMove, r.mStopMove, r.mStartMove / r.mSteadyMove,
                   r.mStopMove / r.mSteadyMove, r.mHeelSlide, r.mHeelMean, r.mHeelContacts, r.mBallSlide, r.mBallMean,
                   r.mBallContacts, r.mToeSlide, r.mToeMean, r.mToeContacts, r.mStartGlide, r.mStopGlide, r.mSpeed,
                   r.mStride, r.mFinite ? "" : "  NOT FINITE");
        }
    printf("\n");
}
// One run of the export: standing, W pressed at time 0, walking, W released, standing again.
const unsigned int kCsvDt = 16;  // the demo's usual frame
const double kCsvStandMs = 1000; // standing before the recording begins
const double kCsvBeforeMs = 500, kCsvWalkMs = 3000, kCsvAfterMs = 1500;

// The feet and the largest bone-tip move of every frame around a start and a
// stop, with the switches as given, written to path (columns in
// docs/gait-csv.md). Positions along the walk are measured along the root's
// travel from the first recorded frame to the last, from the root's place at
// the first; heights above y = 0.
void ExportRun(const std::string& actor, const measure::sSwitches& sw, const std::string& path)
{
    measure::cHost h(actor, sw);
    struct sRow
    {
        double t;
        bool walk, locked[2];
        double move;
        cVector3D heel[2], ball[2];
    };
    std::vector<sRow> rows;
    std::vector<cVector3D> tips(h.actor().mArmature.mBones.size());
    for (double t = 0; t < kCsvStandMs; t += kCsvDt)
        h.Frame(kCsvDt, false);
    measure::TipMove(h, tips); // the tips' places before the first recorded frame
    const cVector3D root0 = h.Root();
    for (double t = -kCsvBeforeMs + kCsvDt; t <= kCsvWalkMs + kCsvAfterMs; t += kCsvDt)
    {
        const bool walk = t > 0 && t <= kCsvWalkMs;
        h.Frame(kCsvDt, walk);
        sRow r;
        r.t = t;
        r.walk = walk;
        r.move = measure::TipMove(h, tips);
        for (int s = 0; s < 2; ++s)
        {
            r.locked[s] = h.Foot(s).mLock;
            cVector3D p[cFootLock::kContactPoints];
            h.ContactPoints(s, p);
            r.heel[s] = h.Unshifted(p[cFootLock::kHeel]);
            r.ball[s] = h.Unshifted(p[cFootLock::kBall]);
        }
        rows.push_back(r);
    }
    const cVector3D travel = h.Root() - root0;
    double fx = travel.mData[0], fz = travel.mData[2];
    const double len = hypot(fx, fz);
    fx = len > 0 ? fx / len : 0;
    fz = len > 0 ? fz / len : 1;
    auto along = [&](const cVector3D& p) {
        return (p.mData[0] - root0.mData[0]) * fx + (p.mData[2] - root0.mData[2]) * fz;
    };
    FILE* f = fopen(path.c_str(), "w");
    if (!f)
        throw measure::cMeasureError("cannot write " + path + ": " + strerror(errno));
    fprintf(f, "time_ms,walk,move,right_heel_fwd,right_heel_up,right_ball_fwd,right_ball_up,right_locked,"
               "left_heel_fwd,left_heel_up,left_ball_fwd,left_ball_up,left_locked\n");
    for (const sRow& r : rows)
    {
        fprintf(f, "%.0f,%d,%.5f", r.t, r.walk ? 1 : 0, r.move);
        for (int s = 0; s < 2; ++s)
            fprintf(f, ",%.5f,%.5f,%.5f,%.5f,%d", along(r.heel[s]), r.heel[s].mData[1], along(r.ball[s]),
                    r.ball[s].mData[1], r.locked[s] ? 1 : 0);
        fprintf(f, "\n");
    }
    const bool bad = ferror(f) != 0;
    if (fclose(f) != 0 || bad)
        throw measure::cMeasureError("cannot write " + path);
}

// motiontrace --csv DIR [FILE]: motion_off.csv and motion_on.csv (cross-fade
// and contact locks both on) in DIR.
int ExportCsv(const std::string& dir, const std::string& actor)
{
    if (mkdir(dir.c_str(), 0777) != 0 && errno != EEXIST)
    {
        fprintf(stderr, "motiontrace: cannot make %s: %s\n", dir.c_str(), strerror(errno));
        return 1;
    }
    try
    {
        measure::sSwitches on;
        on.mCrossFade = on.mContactLock = true;
        ExportRun(actor, measure::sSwitches(), dir + "/motion_off.csv");
        printf("%s/motion_off.csv\n", dir.c_str());
        ExportRun(actor, on, dir + "/motion_on.csv");
        printf("%s/motion_on.csv\n", dir.c_str());
    }
    catch (const cQVError& e)
    {
        fprintf(stderr, "motiontrace: %s: %s\n", actor.c_str(), e.what());
        return 1;
    }
    return 0;
}
} // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && std::string(argv[1]) == "--csv")
    {
        if (argc < 3 || argc > 4)
        {
            fprintf(stderr, "usage: motiontrace --csv DIR [actor.xml]\n");
            return 2;
        }
        return ExportCsv(argv[2], argc == 4 ? argv[3] : "./data/walker.xml");
    }

    // The walker first, for comparison, wherever it can be found (and even
    // where it cannot, when nothing else is asked for).
    const char* walker = "./data/walker.xml";
    std::vector<std::string> paths;
    if (argc == 1 || access(walker, R_OK) == 0)
        paths.push_back(walker);
    for (int i = 1; i < argc; ++i)
        paths.push_back(argv[i]);

    printf("Per-frame moves in units: steady, the largest move of any bone tip in one frame of steady walking;\n"
           "start and stop, the same in the 300 ms after pressing and after releasing W; st/s and sp/s, those\n"
           "over steady. heel, ball, toe: the worst slide of a heel, a ball of the foot and a toe tip over one\n"
           "contact, and the mean over n contacts, %% of a stride (a point that never comes down to its foot's\n"
           "ground has no contacts). st gl, sp gl: the farthest a heel, ball or toe tip glides over the ground\n"
           "while down on it in the 300 ms after pressing and after releasing W, %% of a stride.\n"
           "Speed in units per second; stride: travel per walk cycle.\n\n");
    int status = 0;
    for (const std::string& path : paths)
    {
        try
        {
            Report(path);
        }
        catch (const cQVError& e)
        {
            fprintf(stderr, "motiontrace: %s: %s\n", path.c_str(), e.what());
            status = 1;
        }
    }
    return status;
}
