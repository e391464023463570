// The traces' CSV export. Index (sections in this order):
//   [SECTION] Files   one CSV file, written whole or not at all; the folder
//   [SECTION] Gait    walkertrace --csv: the cycle curves, feet, root speed
//   [SECTION] Motion  motiontrace --csv: a start and a stop, frame by frame
#include "QV_trace_csv.h"

#include <errno.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include "QV_character.h"
#include "QV_file.h"
#include "QV_gait_trace.h"
#include "QV_motion_trace.h"

namespace measure
{

// ---------------------------------------------------------------------------
// [SECTION] Files

namespace
{
// One CSV file, gathered in memory and written whole by Close through the
// core's WriteFileAtomically: a failure on any path out leaves the file that
// was there before, and no half-written one.
class cCsvFile
{
public:
    cCsvFile(const std::string& path, const char* header) : mPath(path), mFile(open_memstream(&mText, &mSize))
    {
        if (!mFile)
            throw cMeasureError("cannot write " + path + ": " + strerror(errno));
        fprintf(mFile, "%s\n", header);
    }
    ~cCsvFile()
    {
        if (mFile)
            fclose(mFile);
        free(mText);
    }
    cCsvFile(const cCsvFile&) = delete;
    cCsvFile& operator=(const cCsvFile&) = delete;

    FILE* get() { return mFile; }
    // Writes the file into its place, throwing when anything failed.
    void Close()
    {
        const bool bad = ferror(mFile) != 0;
        const bool closed = fclose(mFile) == 0;
        mFile = nullptr;
        if (bad || !closed)
            throw cMeasureError("cannot write " + mPath + ": out of memory");
        try
        {
            WriteFileAtomically(mPath, std::string(mText, mSize));
        }
        catch (const cQVError& e)
        {
            throw cMeasureError(e.what());
        }
    }

private:
    std::string mPath;
    char* mText = nullptr;
    size_t mSize = 0;
    FILE* mFile;
};

void MakeFolder(const std::string& dir)
{
    if (mkdir(dir.c_str(), 0777) != 0 && errno != EEXIST)
        throw cMeasureError("cannot make " + dir + ": " + strerror(errno));
}
} // namespace

// ---------------------------------------------------------------------------
// [SECTION] Gait

namespace
{
// The frame step of the cycle curves and the feet: the demo's usual frame.
const unsigned int kExportStep = 16;
// How many cycles the feet and the root speed cover.
const int kStrides = 3;

// The phases counted on across cycles: the walker's phases come from the
// clip's clock and start again with it.
std::vector<double> Unwrapped(std::vector<double> phase)
{
    double turns = 0;
    for (size_t i = 1; i < phase.size(); ++i)
    {
        const double raw = phase[i];
        if (raw + turns < phase[i - 1] - 0.5)
            turns += 1;
        phase[i] = raw + turns;
    }
    return phase;
}

// The frames of the first kStrides whole cycles: [first, end).
void CycleWindow(const std::vector<double>& wrapped, size_t& first, size_t& end)
{
    const std::vector<double> phase = Unwrapped(wrapped);
    first = 0;
    while (first < phase.size() && floor(phase[first]) == floor(phase[0]))
        ++first;
    end = first;
    if (first == phase.size())
        return;
    const double stop = floor(phase[first]) + kStrides;
    while (end < phase.size() && phase[end] < stop)
        ++end;
}

std::string SlotPath(const std::string& dir, unsigned int slot, const char* what)
{
    return dir + "/slot" + std::to_string(slot) + "_" + what + ".csv";
}

void WriteAngles(const std::string& path, const sPhaseCurves& pc)
{
    cCsvFile f(path,
               "phase_pct,right_hip_deg,right_knee_deg,right_ankle_deg,left_hip_deg,left_knee_deg,left_ankle_deg");
    for (int i = 0; i <= 100; ++i)
    {
        const double ph = i / 100.0;
        fprintf(f.get(), "%d", i);
        for (int s = 0; s < 2; ++s)
            fprintf(f.get(), ",%.3f,%.3f,%.3f", pc.sideHip[s].At(ph), pc.sideKnee[s].At(ph), pc.sideAnkle[s].At(ph));
        fprintf(f.get(), "\n");
    }
    f.Close();
}

void WritePelvis(const std::string& path, const sPhaseCurves& pc)
{
    cCsvFile f(path, "phase_pct,list_deg,rotation_deg,bob");
    const double lowest = pc.bob.Min(0, 1);
    for (int i = 0; i <= 100; ++i)
    {
        const double ph = i / 100.0;
        fprintf(f.get(), "%d,%.3f,%.3f,%.5f\n", i, pc.list.At(ph), pc.rot.At(ph), pc.bob.At(ph) - lowest);
    }
    f.Close();
}

void WriteFeet(const std::string& path, const cGaitHost& host, const sWalkTrace& w)
{
    cCsvFile f(path, "time_ms,right_ankle_fwd,right_ankle_up,right_ball_fwd,right_ball_up,right_locked,"
                     "left_ankle_fwd,left_ankle_up,left_ball_fwd,left_ball_up,left_locked");
    size_t first, end;
    CycleWindow(w.phase, first, end);
    if (first == end)
    {
        f.Close();
        return;
    }
    const sWalkFrame& start = w.rec.frames[first];
    V3 fwd = host.Forward(start.heading);
    fwd.y = 0;
    fwd = fwd.unit();
    for (size_t i = first; i < end; ++i)
    {
        const sWalkFrame& fr = w.rec.frames[i];
        fprintf(f.get(), "%.0f", fr.elapsed - start.elapsed);
        for (int s = 0; s < 2; ++s)
            fprintf(f.get(), ",%.5f,%.5f,%.5f,%.5f,%d", (fr.ankle[s] - start.root).dot(fwd), fr.ankle[s].y,
                    (fr.ball[s] - start.root).dot(fwd), fr.ball[s].y, fr.locked[s] ? 1 : 0);
        fprintf(f.get(), "\n");
    }
    f.Close();
}

void WriteRootSpeed(cCsvFile& f, const sWalkTrace& w, unsigned int dt)
{
    size_t first, end;
    CycleWindow(w.phase, first, end);
    for (size_t i = std::max<size_t>(first, 1); i < end; ++i)
    {
        const sWalkFrame& fr = w.rec.frames[i];
        const double speed = Horiz(fr.root - w.rec.frames[i - 1].root) / dt * 1000.0;
        fprintf(f.get(), "%u,%.0f,%.5f\n", dt, fr.elapsed - w.rec.frames[first].elapsed, speed);
    }
}

// Cycle length as measured: elapsed time per unit of phase over the run.
double MeasuredCycle(const sWalkTrace& w)
{
    const std::vector<sWalkFrame>& fr = w.rec.frames;
    const std::vector<double> phase = Unwrapped(w.phase);
    const double span = phase.back() - phase.front();
    return span > 0 ? (fr.back().elapsed - fr.front().elapsed) / span : 0;
}
} // namespace

std::vector<std::string> ExportGaitCSV(const std::string& actorPath, const std::string& dir)
{
    MakeFolder(dir);
    std::vector<std::string> written;
    const std::string index = dir + "/walks.csv";
    cCsvFile walks(index, "slot,clip,cycle_ms,layout,leg_length,height");
    // A file the demo plays has both walks (cHost refuses any other).
    for (unsigned int slot : {kWalkSlot, kSecondWalkSlot})
    {
        cGaitHost host(actorPath);
        const sWalkTrace w = RunWalk(host, slot, kExportStep);
        // Clip names are free text: keep the CSV's commas and quotes out.
        std::string clip = w.report.clip;
        for (char& c : clip)
            if (c == ',' || c == '"' || c == '\n' || c == '\r')
                c = '_';
        fprintf(walks.get(), "%u,%s,%.1f,%s,%.5f,%.5f\n", slot, clip.c_str(), MeasuredCycle(w),
                host.layout.walker ? "walker" : "other", host.legLength, host.Height());
        written.push_back(SlotPath(dir, slot, "angles"));
        WriteAngles(written.back(), w.curves);
        written.push_back(SlotPath(dir, slot, "pelvis"));
        WritePelvis(written.back(), w.curves);
        written.push_back(SlotPath(dir, slot, "feet"));
        WriteFeet(written.back(), host, w);
        written.push_back(SlotPath(dir, slot, "root_speed"));
        cCsvFile speed(written.back(), "dt_ms,time_ms,speed");
        for (unsigned int dt : {1u, 16u, 33u})
        {
            if (dt == kExportStep)
            {
                WriteRootSpeed(speed, w, dt);
                continue;
            }
            cGaitHost other(actorPath);
            WriteRootSpeed(speed, RunWalk(other, slot, dt), dt);
        }
        speed.Close();
    }
    walks.Close();
    written.insert(written.begin(), index);
    return written;
}

// ---------------------------------------------------------------------------
// [SECTION] Motion

namespace
{
// One run of the export: standing, W pressed at time 0, walking, W released,
// standing again.
const unsigned int kCsvDt = 16;  // the demo's usual frame
const double kCsvStandMs = 1000; // standing before the recording begins
const double kCsvBeforeMs = 500, kCsvWalkMs = 3000, kCsvAfterMs = 1500;

// The feet and the largest bone-tip move of every frame around a start and a
// stop, with the switches as given, written to path (columns in
// docs/gait-csv.md). Positions along the walk are measured along the root's
// travel from the first recorded frame to the last, from the root's place at
// the first; heights above y = 0. The heel and the ball are the foot locks'.
void WriteMotionRun(const std::string& actor, const sSwitches& sw, const std::string& path)
{
    cHost h(actor, sw);
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
    TipMove(h, tips); // the tips' places before the first recorded frame
    const cVector3D root0 = h.Root();
    for (double t = -kCsvBeforeMs + kCsvDt; t <= kCsvWalkMs + kCsvAfterMs; t += kCsvDt)
    {
        const bool walk = t > 0 && t <= kCsvWalkMs;
        h.Frame(kCsvDt, walk);
        sRow r;
        r.t = t;
        r.walk = walk;
        r.move = TipMove(h, tips);
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
    cCsvFile f(path, "time_ms,walk,move,right_heel_fwd,right_heel_up,right_ball_fwd,right_ball_up,right_locked,"
                     "left_heel_fwd,left_heel_up,left_ball_fwd,left_ball_up,left_locked");
    for (const sRow& r : rows)
    {
        fprintf(f.get(), "%.0f,%d,%.5f", r.t, r.walk ? 1 : 0, r.move);
        for (int s = 0; s < 2; ++s)
            fprintf(f.get(), ",%.5f,%.5f,%.5f,%.5f,%d", along(r.heel[s]), r.heel[s].mData[1], along(r.ball[s]),
                    r.ball[s].mData[1], r.locked[s] ? 1 : 0);
        fprintf(f.get(), "\n");
    }
    f.Close();
}
} // namespace

std::vector<std::string> ExportMotionCSV(const std::string& actorPath, const std::string& dir)
{
    MakeFolder(dir);
    sSwitches on;
    on.mCrossFade = on.mContactLock = true;
    const std::vector<std::string> written = {dir + "/motion_off.csv", dir + "/motion_on.csv"};
    WriteMotionRun(actorPath, sSwitches(), written[0]);
    WriteMotionRun(actorPath, on, written[1]);
    return written;
}

} // namespace measure
