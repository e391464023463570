// Loads an actor file with the project's loader, drives it headless exactly
// as the demo's character step does, and prints the gait measurements for
// each walk clip and frame step, the standing drift and the steering.
//
//     walkertrace [FILE]             default ./data/walker.xml
//     walkertrace --csv DIR [FILE]   the trace's data as CSV files in DIR
//                                    instead (docs/gait-csv.md)
//
// The generated walker gets its full report, joint-angle norms and arms
// included. Any other actor file with the two foot bones of QV_character.h
// gets what can be measured from its legs, and one line for each measure it
// cannot give.
#include <stdio.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "QV_character.h"
#include "QV_gait_csv.h"
#include "QV_gait_trace.h"
#include "QV_xml.h"

namespace
{

const unsigned int kSteps[3] = {1, 16, 33};

// The walk slots that hold an action.
std::vector<unsigned int> WalkSlots(const cActor& a)
{
    std::vector<unsigned int> slots;
    for (unsigned int slot : {kWalkSlot, kSecondWalkSlot})
        if (!a.mAction[slot].mChannels.empty())
            slots.push_back(slot);
    return slots;
}

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

void TraceWalks(const char* path, const std::vector<unsigned int>& slots, bool walker)
{
    if (walker)
    {
        PrintWalkerLegend();
        walker::PrintWalkHeader(stdout);
    }
    else
    {
        PrintLayoutLegend();
        walker::PrintLayoutWalkHeader(stdout);
    }
    std::vector<walker::WalkReport> reports;
    for (unsigned int slot : slots)
        for (unsigned int dt : kSteps)
        {
            walker::Host host(path);
            reports.push_back(walker::TraceWalk(host, slot, dt));
            printf("%s\n",
                   walker ? walker::WalkLine(reports.back()).c_str() : walker::LayoutWalkLine(reports.back()).c_str());
        }
    printf("\n");
    for (const walker::WalkReport& r : reports)
        printf("%-6s dt %2u ms: travel %5.2f deg off the heading; right foot down %5.1f %% to %4.1f %% of the "
               "cycle; root speed %3.0f %% to %3.0f %% of its mean over the cycle\n",
               r.clip.c_str(), r.dt, r.heading, 100 * r.footOn, 100 * r.footOff, r.rootSlow, r.rootFast);
    for (const walker::WalkReport& r : reports)
        if (r.dt == 16)
        {
            printf("\n%s over the cycle (dt 16 ms; degrees, bob in units):\n", r.clip.c_str());
            walker::PrintCurves(stdout, r);
        }
}

void TraceStanding(const char* path)
{
    printf("\nStanding (slot %u, 10 s):\n", kStandSlot);
    for (unsigned int dt : kSteps)
    {
        walker::Host host(path);
        const walker::StandReport r = walker::TraceStand(host, dt);
        printf("  dt %2u ms: root drift %.3f %% of height, lowest point %.2f %% of height, ankle travel %.5f\n", dt,
               r.drift, r.ground, r.ankleTravel);
    }
}

void TraceSteering(const char* path, const std::vector<unsigned int>& slots)
{
    printf("\nSteering at %.0f deg/s (travel direction against heading, per stride):\n", kTurnRate * 1000.0);
    for (unsigned int slot : slots)
        for (bool left : {true, false})
            for (unsigned int dt : kSteps)
            {
                walker::Host host(path);
                const walker::TurnReport r = walker::TraceTurn(host, slot, dt, left);
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
            for (const std::string& written : walker::ExportGaitCSV(path, csvDir))
                printf("%s\n", written.c_str());
            return 0;
        }
        bool walker = false;
        std::vector<unsigned int> slots;
        bool stands = false;
        {
            walker::Host probe(path);
            const cActor& a = probe.actor();
            walker = probe.layout.walker;
            slots = WalkSlots(a);
            stands = !a.mAction[kStandSlot].mChannels.empty();
            if (walker)
                printf("%s: %zu bones, height %.3f, leg length %.3f\n", path, a.mArmature.mBones.size(), probe.height,
                       probe.legLength);
            else
                printf("%s: %zu bones, height %.3f, leg (thigh + shin) %.3f\n", path, a.mArmature.mBones.size(),
                       probe.height, probe.legLength);
            for (unsigned int i = 0; i < kActionSlots; ++i)
                printf("  slot %u: \"%s\", %u ms\n", i, a.mAction[i].mName.c_str(), a.mAction[i].mLength);
            if (!walker)
            {
                walker::PrintLayout(stdout, probe);
                printf("Not measured for this layout:\n");
                for (const std::string& line : walker::Unmeasured(probe))
                    printf("  %s\n", line.c_str());
            }
        }
        if (slots.empty())
            printf("\nWalking: no walk action (slot %u or %u): not measured\n", kWalkSlot, kSecondWalkSlot);
        else
            TraceWalks(path, slots, walker);
        if (stands)
            TraceStanding(path);
        else
            printf("\nStanding: no stand action (slot %u): not measured\n", kStandSlot);
        if (!slots.empty())
            TraceSteering(path, slots);
    }
    catch (const std::exception& e)
    {
        fprintf(stderr, "walkertrace: %s: %s\n", path, e.what());
        return 1;
    }
    return 0;
}
