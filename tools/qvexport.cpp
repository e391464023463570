// qvexport IN.xml OUT [options]: an actor file's skeleton, body and walks, as
// the demo plays them, out to glTF 2.0 (.gltf, .glb) or BVH (.bvh), chosen
// by OUT's extension. Every failure is one line "qvexport: ..." on standard
// error and status 1, and OUT is written whole or not at all.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "QV_export.h"

namespace
{

unsigned int Whole(const std::string& option, const char* text)
{
    char* end = nullptr;
    const double v = std::strtod(text, &end);
    if (!*text || *end || !std::isfinite(v) || v != std::floor(v) || v < 0 || v > 1e9)
        throw qvexport::cExportError(option + " needs a whole number, not '" + text + "'");
    return (unsigned int)v;
}

qvexport::sOptions ParseOptions(int argc, char** argv, std::string& in, std::string& out)
{
    qvexport::sOptions opt;
    std::vector<std::string> files;
    for (int i = 0; i < argc; ++i)
    {
        const std::string a = argv[i];
        auto value = [&]() -> const char* {
            if (i + 1 >= argc)
                throw qvexport::cExportError(a + " needs a value");
            return argv[++i];
        };
        if (a == "--in-place")
            opt.mInPlace = true;
        else if (a == "--locks")
        {
            const std::string v = value();
            if (v != "contact" && v != "ankle")
                throw qvexport::cExportError("--locks is contact or ankle, not '" + v + "'");
            opt.mContactLock = v == "contact";
        }
        else if (a == "--cross-fade")
        {
            const std::string v = value();
            if (v != "on" && v != "off")
                throw qvexport::cExportError("--cross-fade is on or off, not '" + v + "'");
            opt.mCrossFade = v == "on";
        }
        else if (a == "--cycles")
            opt.mCycles = Whole(a, value());
        else if (a == "--frame")
            opt.mFrameMs = Whole(a, value());
        else if (a == "--action")
            opt.mAction = value();
        else if (a == "--path")
            opt.mPath = qvexport::ParsePath(value());
        else if (a.size() > 1 && a[0] == '-')
            throw qvexport::cExportError("unknown option '" + a + "'");
        else
            files.push_back(a);
    }
    if (files.size() != 2)
        throw qvexport::cExportError("usage: qvexport IN.xml OUT.gltf|OUT.glb|OUT.bvh [--in-place] "
                                     "[--locks contact|ankle] [--cross-fade on|off] [--cycles N] [--frame MS] "
                                     "[--action NAME] [--path \"walk 4, left 90, walk 4, stop\"]");
    in = files[0];
    out = files[1];
    qvexport::CheckOptions(opt);
    return opt;
}

} // namespace

int main(int argc, char** argv)
{
    try
    {
        std::string in, out;
        const qvexport::sOptions opt = ParseOptions(argc - 1, argv + 1, in, out);
        const qvexport::sSummary s = qvexport::ExportFile(in, out, opt);
        std::printf("qvexport: %s: %zu joints, %zu animation%s, %zu frames of %u ms%s\n", out.c_str(), s.mJoints,
                    s.mClips, s.mClips == 1 ? "" : "s", s.mFrames, opt.mFrameMs,
                    s.mVertices ? (", body of " + std::to_string(s.mVertices) + " vertices").c_str() : "");
        return 0;
    }
    catch (const cQVError& e)
    {
        std::fprintf(stderr, "qvexport: %s\n", e.what());
    }
    catch (const std::bad_alloc&)
    {
        std::fprintf(stderr, "qvexport: out of memory\n");
    }
    catch (const std::exception& e)
    {
        std::fprintf(stderr, "qvexport: %s\n", e.what());
    }
    return 1;
}
