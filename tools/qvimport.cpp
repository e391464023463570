// qvimport IN OUT.xml [options]: captured motion to an actor file. Every
// failure is one line "qvimport: ..." on standard error and status 1.
#include <fcntl.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <new>
#include <string>
#include <vector>

#include "QV_capture.h"

namespace
{

// Some of Assimp's readers print their own complaints on standard error (its
// OpenDDL parser, for one); the program's failure is the one line it prints
// itself, so standard error is closed to them while the file is imported.
class cQuietStderr
{
public:
    cQuietStderr()
    {
        std::fflush(stderr);
        mSaved = dup(2);
        const int null = open("/dev/null", O_WRONLY);
        if (mSaved >= 0 && null >= 0)
            dup2(null, 2);
        if (null >= 0)
            close(null);
    }
    ~cQuietStderr()
    {
        std::fflush(stderr);
        if (mSaved >= 0)
        {
            dup2(mSaved, 2);
            close(mSaved);
        }
    }
    cQuietStderr(const cQuietStderr&) = delete;
    cQuietStderr& operator=(const cQuietStderr&) = delete;

private:
    int mSaved = -1;
};

double Number(const std::string& option, const char* text)
{
    char* end = nullptr;
    const double v = std::strtod(text, &end);
    if (!*text || *end || !std::isfinite(v))
        throw qvimport::cImportError(option + " needs a number, not '" + text + "'");
    return v;
}

int Whole(const std::string& option, const char* text)
{
    const double v = Number(option, text);
    if (v != std::floor(v) || v < 0 || v > 1e9)
        throw qvimport::cImportError(option + " needs a whole number, not '" + text + "'");
    return (int)v;
}

// The command line after the program name; throws cImportError on a bad option.
qvimport::sOptions ParseOptions(int argc, char** argv, std::string& in, std::string& out)
{
    qvimport::sOptions opt;
    std::vector<std::string> files;
    for (int i = 0; i < argc; ++i)
    {
        const std::string a = argv[i];
        auto value = [&]() -> const char* {
            if (i + 1 >= argc)
                throw qvimport::cImportError(a + " needs a value");
            return argv[++i];
        };
        if (a == "--left-foot")
            opt.mLeftFoot = value();
        else if (a == "--right-foot")
            opt.mRightFoot = value();
        else if (a == "--cycle")
        {
            opt.mCycle = Whole(a, value());
            if (opt.mCycle < 1)
                throw qvimport::cImportError("--cycle counts from 1");
        }
        else if (a == "--frames")
        {
            const std::string v = value();
            const size_t colon = v.find(':');
            if (colon == std::string::npos)
                throw qvimport::cImportError("--frames needs FIRST:LAST, not '" + v + "'");
            opt.mFrameA = Whole(a, v.substr(0, colon).c_str());
            opt.mFrameB = Whole(a, v.substr(colon + 1).c_str());
            if (opt.mFrameB <= opt.mFrameA)
                throw qvimport::cImportError("--frames " + v + ": the last frame must come after the first");
        }
        else if (a == "--tolerance")
        {
            opt.mToleranceDeg = Number(a, value());
            if (opt.mToleranceDeg < 0 || opt.mToleranceDeg > 45)
                throw qvimport::cImportError("--tolerance is in degrees, from 0 to 45");
        }
        else if (a == "--stand")
            opt.mStandFrame = Whole(a, value());
        else if (a == "--speed-csv")
            opt.mSpeedCsv = value();
        else if (a == "--own-timing")
            opt.mOwnTiming = true;
        else if (a == "--no-plant")
            opt.mPlant = false;
        else if (a == "--hip-height")
        {
            opt.mHipHeight = Number(a, value());
            if (!(opt.mHipHeight > 0) || opt.mHipHeight > 1e6)
                throw qvimport::cImportError("--hip-height must be a positive number of units");
        }
        else if (a.size() > 1 && a[0] == '-')
            throw qvimport::cImportError("unknown option '" + a + "'");
        else
            files.push_back(a);
    }
    if (files.size() != 2)
        throw qvimport::cImportError(
            "usage: qvimport IN OUT.xml [--left-foot NAME] [--right-foot NAME] [--cycle N] "
            "[--frames FIRST:LAST] [--own-timing] [--stand FRAME] [--tolerance DEG] [--hip-height UNITS] "
            "[--speed-csv FILE] [--no-plant]");
    in = files[0];
    out = files[1];
    return opt;
}

qvimport::sImportResult QuietImport(const std::string& in, const qvimport::sOptions& opt)
{
    cQuietStderr quiet;
    return qvimport::ImportFile(in, opt);
}

// The capture's own root speed as CSV (docs/gait-csv.md), for tools/plots.sh.
void WriteSpeedCsv(const std::string& path, const std::vector<qvimport::sSpeedSample>& samples)
{
    std::ofstream file(path, std::ios::binary);
    file << "time_ms,speed\n";
    char line[64];
    for (const qvimport::sSpeedSample& s : samples)
    {
        std::snprintf(line, sizeof line, "%.3f,%.5f\n", s.mTimeMs, s.mSpeed);
        file << line;
    }
    file.close();
    if (!file)
        throw qvimport::cImportError("cannot write '" + path + "'");
}

} // namespace

int main(int argc, char** argv)
{
    try
    {
        std::string in, out;
        const qvimport::sOptions opt = ParseOptions(argc - 1, argv + 1, in, out);
        const qvimport::sImportResult r = QuietImport(in, opt);
        std::ofstream file(out, std::ios::binary);
        file << r.mXml;
        file.close();
        if (!file)
            throw qvimport::cImportError("cannot write '" + out + "'");
        if (!opt.mSpeedCsv.empty())
            WriteSpeedCsv(opt.mSpeedCsv, r.mRootSpeed);
        const qvimport::sActorOut& a = r.mActor;
        std::printf("qvimport: %s: %zu bones; walk frames %d-%d (%d stride%s, %u ms), second walk %d-%d, stand "
                    "frame %d; captured %.2f leg lengths/s at %.1f steps/min over %d steady cycles\n",
                    out.c_str(), a.mBones.size(), a.mCycleFrames[0][0], a.mCycleFrames[0][1], r.mCapturedWalk.mCycles,
                    r.mCapturedWalk.mCycles == 1 ? "" : "s", a.mAction[0].mLength - 34, a.mCycleFrames[1][0],
                    a.mCycleFrames[1][1], a.mStanceFrame, r.mCaptured.mSpeedLegs, r.mCaptured.mCadence,
                    r.mCaptured.mCycles);
        if (opt.mPlant)
            std::printf("qvimport: feet planted in the walk: ankles moved up to %.3f leg lengths (%.3f beyond the "
                        "legs' reach), feet turned up to %.1f degrees\n",
                        a.mPlant[0].mLargestShift, a.mPlant[0].mLargestMiss, a.mPlant[0].mLargestTurnDeg);
        return 0;
    }
    catch (const qvimport::cImportError& e)
    {
        std::fprintf(stderr, "qvimport: %s\n", e.what());
    }
    catch (const std::bad_alloc&)
    {
        std::fprintf(stderr, "qvimport: out of memory\n");
    }
    catch (const std::exception& e)
    {
        std::fprintf(stderr, "qvimport: %s\n", e.what());
    }
    return 1;
}
