// qvimport IN OUT.xml [options]: captured motion to an actor file. Every
// failure is one line "qvimport: ..." on standard error and status 1, and
// leaves the user's files as they were: the outputs are written whole or not
// at all, and neither may be the input or each other.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "QV_capture.h"
#include "QV_file.h"

namespace
{

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
            opt.mHipHeight = Number(a, value());
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
    qvimport::CheckOptions(opt);
    return opt;
}

// Writing an output over the input, or both outputs to one file, would lose
// the capture or one of the outputs; compared as files, so that another
// spelling or a link is caught too.
void CheckDistinct(const std::string& in, const std::string& out, const std::string& csv)
{
    if (SameFile(in, out))
        throw qvimport::cImportError("the actor file '" + out + "' is the input file '" + in +
                                     "'; name another file to write");
    if (!csv.empty() && SameFile(in, csv))
        throw qvimport::cImportError("--speed-csv '" + csv + "' is the input file '" + in +
                                     "'; name another file to write");
    if (!csv.empty() && SameFile(out, csv))
        throw qvimport::cImportError("--speed-csv '" + csv + "' is the actor file '" + out +
                                     "'; name another file to write");
}

// The capture's own root speed as CSV (docs/gait-csv.md), for tools/plots.sh.
std::string SpeedCsv(const std::vector<qvimport::sSpeedSample>& samples)
{
    std::string text = "time_ms,speed\n";
    char line[64];
    for (const qvimport::sSpeedSample& s : samples)
    {
        std::snprintf(line, sizeof line, "%.3f,%.5f\n", s.mTimeMs, s.mSpeed);
        text += line;
    }
    return text;
}

} // namespace

int main(int argc, char** argv)
{
    try
    {
        std::string in, out;
        const qvimport::sOptions opt = ParseOptions(argc - 1, argv + 1, in, out);
        CheckDistinct(in, out, opt.mSpeedCsv);
        const qvimport::sImportResult r = qvimport::ImportFile(in, opt);
        std::vector<sFileText> files = {{out, r.mXml}};
        if (!opt.mSpeedCsv.empty())
            files.push_back({opt.mSpeedCsv, SpeedCsv(r.mRootSpeed)});
        WriteFilesAtomically(files);
        const qvimport::sActorOut& a = r.mActor;
        std::printf("qvimport: %s: %zu bones; walk frames %d-%d (%d stride%s, %u ms), second walk %d-%d, stand "
                    "frame %d; captured %.2f leg lengths/s at %.1f steps/min over %d steady cycles\n",
                    out.c_str(), a.mBones.size(), a.mCycleFrames[0][0], a.mCycleFrames[0][1], r.mCapturedWalk.mCycles,
                    r.mCapturedWalk.mCycles == 1 ? "" : "s", a.mAction[0].mLength - 34, a.mCycleFrames[1][0],
                    a.mCycleFrames[1][1], a.mStanceFrame, r.mCaptured.mSpeedLegs, r.mCaptured.mCadence,
                    r.mCaptured.mCycles);
        if (r.mLoopTimes > 1)
            std::printf("qvimport: the clip loops (%zu frames): played %d times end to end to hold whole strides, the "
                        "frames above counted over them\n",
                        r.mSourceFrames, r.mLoopTimes);
        if (!a.mBody.Empty())
            std::printf("qvimport: body: %zu vertices, %zu triangles%s\n", a.mBody.mPositions.size() / 3,
                        a.mBody.mTriangles.size() / 3, a.mBody.mTexturePng.empty() ? "" : ", textured");
        if (!a.mBodyNote.empty())
            std::printf("qvimport: %s\n", a.mBodyNote.c_str());
        if (opt.mPlant)
            std::printf("qvimport: feet planted in the walk: ankles moved up to %.3f leg lengths (%.3f beyond the "
                        "legs' reach), feet turned up to %.1f degrees, pitched up to %.1f degrees to lie flat\n",
                        a.mPlant[0].mLargestShift, a.mPlant[0].mLargestMiss, a.mPlant[0].mLargestTurnDeg,
                        a.mPlant[0].mLargestPitchDeg);
        return 0;
    }
    catch (const cQVError& e)
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
