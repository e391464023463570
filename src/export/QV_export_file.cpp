// qvexport IN OUT as one call: the checks on the user's files, then read,
// sample, format and write whole or not at all.
#include <fstream>
#include <sstream>

#include "QV_export.h"
#include "QV_file.h"
#include "QV_measure_host.h"

namespace qvexport
{

eFormat FormatOf(const std::string& path)
{
    const size_t dot = path.find_last_of('.');
    const size_t slash = path.find_last_of('/');
    std::string ext = dot == std::string::npos || (slash != std::string::npos && dot < slash) ? "" : path.substr(dot);
    for (char& c : ext)
        c = (char)std::tolower((unsigned char)c);
    if (ext == ".gltf")
        return eFormat::kGltf;
    if (ext == ".glb")
        return eFormat::kGlb;
    if (ext == ".bvh")
        return eFormat::kBvh;
    throw cExportError("cannot tell the format of '" + path +
                       "' by its extension: name a file ending in .gltf, .glb or .bvh");
}

sSummary ExportFile(const std::string& in, const std::string& out, const sOptions& opt)
{
    CheckOptions(opt);
    // Writing over the actor file would lose it; compared as files, so that
    // another spelling or a link is caught too.
    if (SameFile(in, out))
        throw cExportError("the output '" + out + "' is the input file '" + in + "'; name another file to write");
    const eFormat format = FormatOf(out);
    // The reader's checks and messages first (a regular file, its limits,
    // a character the demo can play); then its text, for each clip's host.
    {
        measure::cHost probe(in);
    }
    std::ifstream file(in, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    if (!file)
        throw cExportError("cannot read '" + in + "'");
    const sScene scene = SampleActor(text.str(), opt);
    const std::string bytes = format == eFormat::kBvh ? FormatBvh(scene) : FormatGltf(scene, format == eFormat::kGlb);
    WriteFileAtomically(out, bytes);
    sSummary s;
    s.mJoints = scene.mJoints.size();
    s.mClips = format == eFormat::kBvh ? 1 : scene.mClips.size();
    for (size_t c = 0; c < s.mClips; ++c)
        s.mFrames += scene.mClips[c].mFrames.size();
    s.mVertices = format == eFormat::kBvh ? 0 : scene.mBody.VertexCount();
    return s;
}

} // namespace qvexport
