#include "QV_gait_csv.h"

#include <errno.h>
#include <math.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

#include <stdexcept>

#include "QV_character.h"
#include "QV_gait_trace.h"

namespace walker
{

namespace
{
// The frame step of the cycle curves and the feet: the demo's usual frame.
const unsigned int kExportStep = 16;
// How many cycles the feet and the root speed cover.
const int kStrides = 3;

// One CSV file, closed on every path out.
class cCsvFile
{
public:
    cCsvFile(const std::string& path, const char* header) : mPath(path), mFile(fopen(path.c_str(), "w"))
    {
        if (!mFile)
            throw std::runtime_error("cannot write " + path + ": " + strerror(errno));
        fprintf(mFile, "%s\n", header);
    }
    ~cCsvFile()
    {
        if (mFile)
            fclose(mFile);
    }
    cCsvFile(const cCsvFile&) = delete;
    cCsvFile& operator=(const cCsvFile&) = delete;

    FILE* get() { return mFile; }
    // Closes the file, throwing when anything failed to reach it.
    void Close()
    {
        const bool bad = ferror(mFile) != 0;
        const bool closed = fclose(mFile) == 0;
        mFile = nullptr;
        if (bad || !closed)
            throw std::runtime_error("cannot write " + mPath);
    }

private:
    std::string mPath;
    FILE* mFile;
};

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

void WriteFeet(const std::string& path, const Host& host, const sWalkTrace& w)
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

std::vector<std::string> ExportGaitCSV(const char* actorPath, const std::string& dir)
{
    if (mkdir(dir.c_str(), 0777) != 0 && errno != EEXIST)
        throw std::runtime_error("cannot make " + dir + ": " + strerror(errno));
    std::vector<std::string> written;
    const std::string index = dir + "/walks.csv";
    cCsvFile walks(index, "slot,clip,cycle_ms,layout,leg_length,height");
    for (unsigned int slot : {kWalkSlot, kSecondWalkSlot})
    {
        {
            Host probe(actorPath);
            if (probe.actor().mAction[slot].mChannels.empty())
                continue;
        }
        Host host(actorPath);
        const sWalkTrace w = RunWalk(host, slot, kExportStep);
        // Clip names are free text: keep the CSV's commas and quotes out.
        std::string clip = w.report.clip;
        for (char& c : clip)
            if (c == ',' || c == '"' || c == '\n' || c == '\r')
                c = '_';
        fprintf(walks.get(), "%u,%s,%.1f,%s,%.5f,%.5f\n", slot, clip.c_str(), MeasuredCycle(w),
                host.layout.walker ? "walker" : "other", host.legLength, host.height);
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
            Host other(actorPath);
            WriteRootSpeed(speed, RunWalk(other, slot, dt), dt);
        }
        speed.Close();
    }
    walks.Close();
    written.insert(written.begin(), index);
    return written;
}

} // namespace walker
