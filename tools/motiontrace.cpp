// Loads actor files with the project's loader, drives each exactly as the
// demo does (StepCharacter) at 1, 16 and 33 ms frames with the cross-fade and
// the contact locks off and on, and prints how smoothly it moves: the largest
// move of a bone tip in one frame while walking steadily, in the 300 ms
// after W is pressed and in a stop (the 300 ms after W is released, or
// until the stand has faded in, when that is later), the slide of the heel, the ball and the
// toe tip of a planted foot per contact, and the speed.
//
//     motiontrace [actor files...]     (./data/walker.xml first, where it is found)
//     motiontrace --csv DIR [FILE]     a start and a stop frame by frame, switches off and both on, as
//                                      CSV files for tools/plots.sh (docs/gait-csv.md); FILE defaults
//                                      to ./data/walker.xml
#include <stdio.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "QV_motion_trace.h"
#include "QV_trace_csv.h"

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

// motiontrace --csv DIR [FILE]: motion_off.csv and motion_on.csv (cross-fade
// and contact locks both on) in DIR.
int ExportCsv(const std::string& dir, const std::string& actor)
{
    try
    {
        for (const std::string& written : measure::ExportMotionCSV(actor, dir))
            printf("%s\n", written.c_str());
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
           "start and stop, the same in the 300 ms after pressing W and in a stop (the 300 ms after releasing W,\n"
           "or until the stand has faded in, when that is later); st/s and sp/s, those\n"
           "over steady. heel, ball, toe: the worst slide of a heel, a ball of the foot and a toe tip over one\n"
           "contact, and the mean over n contacts, %% of a stride (a point that never comes down to its foot's\n"
           "ground has no contacts). st gl, sp gl: the farthest a heel, ball or toe tip glides over the ground\n"
           "while down on it in a start and in a stop, %% of a stride.\n"
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
