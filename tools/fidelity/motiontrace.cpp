// Loads actor files with the project's loader, drives each exactly as the
// demo does (StepCharacter) at 1, 16 and 33 ms frames with the cross-fade and
// the contact locks off and on, and prints how smoothly it moves: the largest
// move of a bone tip in one frame while walking steadily and in the 300 ms
// after W is pressed and released, the slide of the heel and of the ball of
// a planted foot per contact, and the speed.
//
//     motiontrace [actor files...]     (./data/walker.xml first, where it is found)
#include <stdio.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "motion_trace.h"

namespace
{
const char* Name(const motion::sSwitches& s)
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
    printf("%-8s %3s | %6s %6s %6s %5s %5s | %5s %5s %3s | %5s %5s %3s | %5s %5s | %6s %6s\n", "switches", "dt",
           "steady", "start", "stop", "st/s", "sp/s", "heel", "mean", "n", "ball", "mean", "n", "st gl", "sp gl",
           "speed", "stride");
    motion::sSwitches configs[4];
    configs[1].mCrossFade = true;
    configs[2].mContactLock = true;
    configs[3].mCrossFade = configs[3].mContactLock = true;
    for (const motion::sSwitches& sw : configs)
        for (unsigned int dt : {1u, 16u, 33u})
        {
            const motion::sMotionReport r = motion::TraceMotion(path, dt, sw);
            printf("%-8s %3u | %6.3f %6.3f %6.3f %5.2f %5.2f | %5.2f %5.2f %3d | %5.2f %5.2f %3d | %5.2f %5.2f | "
                   "%6.3f %6.3f%s\n",
                   Name(sw), dt, r.mSteadyMove, r.mStartMove, r.mStopMove, r.mStartMove / r.mSteadyMove,
                   r.mStopMove / r.mSteadyMove, r.mHeelSlide, r.mHeelMean, r.mHeelContacts, r.mBallSlide,
                   r.mBallMean, r.mBallContacts, r.mStartGlide, r.mStopGlide, r.mSpeed, r.mStride,
                   r.mFinite ? "" : "  NOT FINITE");
        }
    printf("\n");
}
} // namespace

int main(int argc, char** argv)
{
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
           "over steady. heel, ball: the worst slide of a heel and of a ball of the foot over one contact, and\n"
           "the mean over n contacts, %% of a stride. st gl, sp gl: the farthest a heel or ball glides over\n"
           "the ground while down on it in the 300 ms after pressing and after releasing W, %% of a stride.\n"
           "Speed in units per second; stride: travel per walk cycle.\n\n");
    int status = 0;
    for (const std::string& path : paths)
    {
        try
        {
            Report(path);
        }
        catch (const cXmlError& e)
        {
            fprintf(stderr, "motiontrace: %s: %s\n", path.c_str(), e.what());
            status = 1;
        }
        catch (const std::string& problem)
        {
            fprintf(stderr, "motiontrace: %s: %s\n", path.c_str(), problem.c_str());
            status = 1;
        }
    }
    return status;
}
