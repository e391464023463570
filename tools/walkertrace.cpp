// Loads an actor file with the project's loader, readies it and drives it
// headless as the demo does (measure::cGaitHost), and prints the gait
// measurements for each walk clip and frame step, the standing drift and the
// steering.
//
//     walkertrace [FILE]             default ./data/walker.xml
//     walkertrace --csv DIR [FILE]   the trace's data as CSV files in DIR
//                                    instead (docs/gait-csv.md)
//
// The generated walker gets its full report, joint-angle norms and arms
// included. Any other actor file the demo plays (PrepareCharacter in
// QV_character.h: three actions, the two foot bones) gets what can be
// measured from its legs, and one line for each measure it cannot give; a
// file the demo refuses gets the demo's one line.
#include <stdio.h>

#include <string>
#include <vector>

#include "QV_character.h"
#include "QV_gait_trace.h"
#include "QV_trace_csv.h"

namespace
{

const unsigned int kSteps[3] = {1, 16, 33};

// The walks: every file the demo plays has both.
const unsigned int kWalks[2] = {kWalkSlot, kSecondWalkSlot};

void PrintWalkerLegend()
{
    printf("\nWalking, per clip and frame step (dt, ms). speed: leg lengths/s; cadnc: steps/min; strd: stride\n"
           "in leg lengths; stnc, dbl: stance and double support, %% of the cycle; air: frames with both feet\n"
           "off the ground. Angles in degrees at the leg's own phase (0 = its heel strike): hipPk: peak hip\n"
           "flexion in late swing; hip50: hip at 50 %%; kHS, k12, kTO: knee at heel strike, 12 %%, toe-off\n"
           "(60 %%); kPk@ph: peak swing knee and its phase; ank8, ank50: ankle (dorsiflexion +) at 8 and 50 %%;\n"
           "ankPF@ph: deepest plantarflexion around toe-off and its phase. list, rot: pelvis list and rotation,\n"
           "half ranges; bob: hip-centre rise and fall, %% of leg length peak to peak, pk: its peaks per\n"
           "stride. arm: shoulder arc; corr: correlation of arm and thigh swing (negative: opposed); elMn,\n"
           "elMx: elbow range. slide: worst planted-ankle slide per contact and skid: worst slide of a\n"
           "grounded ball of the foot, %% of stride; grnd: worst lowest point off y = 0 and clear: lowest\n"
           "point of the foot in mid swing (65 to 90 %%), %% of height.\n");
}

void PrintLayoutLegend()
{
    printf("\nWalking, per clip and frame step (dt, ms). u/s, L/s: speed in units and leg lengths (thigh +\n"
           "shin) per second; cadnc: steps/min; strd, strdL: stride in units and leg lengths; stnc, dbl: stance\n"
           "and double support, %% of the cycle; air: frames with both feet off the ground; cont: foot lock\n"
           "engagements after a swing. slide: worst planted-ankle slide per contact and skid: worst slide of a\n"
           "grounded ball of the foot, %% of stride; grnd: worst lowest point off y = 0 and clear: lowest point\n"
           "of the foot in mid swing (65 to 90 %%), %% of height. list, rot: pelvis list and rotation from the hip\n"
           "joints, half ranges, degrees; bob: hip-joint rise and fall, %% of leg length peak to peak, pk: its\n"
           "peaks per stride; head: direction of travel against the heading, degrees. The cycle runs from one\n"
           "landing of the right foot to the next.\n");
}

void TraceWalks(const char* path, bool walker)
{
    if (walker)
    {
        PrintWalkerLegend();
        measure::PrintWalkHeader(stdout);
    }
    else
    {
        PrintLayoutLegend();
        measure::PrintLayoutWalkHeader(stdout);
    }
    std::vector<measure::WalkReport> reports;
    for (unsigned int slot : kWalks)
        for (unsigned int dt : kSteps)
        {
            measure::cGaitHost host(path);
            reports.push_back(measure::TraceWalk(host, slot, dt));
            printf("%s\n", walker ? measure::WalkLine(reports.back()).c_str()
                                  : measure::LayoutWalkLine(reports.back()).c_str());
        }
    printf("\n");
    for (const measure::WalkReport& r : reports)
        printf("%-6s dt %2u ms: travel %5.2f deg off the heading; right foot down %5.1f %% to %4.1f %% of the "
               "cycle; root speed %3.0f %% to %3.0f %% of its mean over the cycle\n",
               r.clip.c_str(), r.dt, r.heading, 100 * r.footOn, 100 * r.footOff, r.rootSlow, r.rootFast);
    for (const measure::WalkReport& r : reports)
        if (r.dt == 16)
        {
            printf("\n%s over the cycle (dt 16 ms; degrees, bob in units):\n", r.clip.c_str());
            measure::PrintCurves(stdout, r);
        }
}

void TraceStanding(const char* path)
{
    printf("\nStanding (slot %u, 10 s):\n", kStandSlot);
    for (unsigned int dt : kSteps)
    {
        measure::cGaitHost host(path);
        const measure::StandReport r = measure::TraceStand(host, dt);
        printf("  dt %2u ms: root drift %.3f %% of height, lowest point %.2f %% of height, ankle travel %.5f\n", dt,
               r.drift, r.ground, r.ankleTravel);
    }
}

void TraceSteering(const char* path)
{
    printf("\nSteering at %.0f deg/s (travel direction against heading, per stride):\n", kTurnRate * 1000.0);
    for (unsigned int slot : kWalks)
        for (bool left : {true, false})
            for (unsigned int dt : kSteps)
            {
                measure::cGaitHost host(path);
                const measure::TurnReport r = measure::TraceTurn(host, slot, dt, left);
                printf("  slot %u %-5s dt %2u ms: mean error %.1f deg, worst %.1f deg over %.0f deg turned\n", slot,
                       left ? "left" : "right", dt, r.meanError, r.maxError, r.turned);
            }
}

} // namespace

int main(int argc, char** argv)
{
    const char* csvDir = nullptr;
    int arg = 1;
    if (arg < argc && std::string(argv[arg]) == "--csv")
    {
        if (arg + 1 >= argc)
        {
            fprintf(stderr, "usage: walkertrace [--csv DIR] [actor.xml]\n");
            return 2;
        }
        csvDir = argv[arg + 1];
        arg += 2;
    }
    if (argc - arg > 1 || (arg < argc && argv[arg][0] == '-'))
    {
        fprintf(stderr, "usage: walkertrace [--csv DIR] [actor.xml]\n");
        return 2;
    }
    const char* path = arg < argc ? argv[arg] : "./data/walker.xml";
    try
    {
        if (csvDir)
        {
            for (const std::string& written : measure::ExportGaitCSV(path, csvDir))
                printf("%s\n", written.c_str());
            return 0;
        }
        bool walker = false;
        {
            measure::cGaitHost probe(path);
            const cActor& a = probe.actor();
            walker = probe.layout.walker;
            if (walker)
                printf("%s: %zu bones, height %.3f, leg length %.3f\n", path, a.mArmature.mBones.size(), probe.Height(),
                       probe.legLength);
            else
                printf("%s: %zu bones, height %.3f, leg (thigh + shin) %.3f\n", path, a.mArmature.mBones.size(),
                       probe.Height(), probe.legLength);
            for (unsigned int i = 0; i < kActionSlots; ++i)
                printf("  slot %u: \"%s\", %u ms\n", i, a.mAction[i].mName.c_str(), a.mAction[i].mLength);
            if (!walker)
            {
                measure::PrintLayout(stdout, probe);
                printf("Not measured for this layout:\n");
                for (const std::string& line : measure::Unmeasured(probe))
                    printf("  %s\n", line.c_str());
            }
        }
        TraceWalks(path, walker);
        TraceStanding(path);
        TraceSteering(path);
    }
    catch (const cQVError& e)
    {
        fprintf(stderr, "walkertrace: %s: %s\n", path, e.what());
        return 1;
    }
    return 0;
}
