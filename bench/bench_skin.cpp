// Skinning the body, per vertex: ours (SkinVertices, what cBody::Skin runs
// every frame the demo shows the body) against a one-pass reference written
// with glm, the way a vertex shader does it: the four bones' matrices blended
// by their weights (unused slots weigh 0), the position moved by the blend,
// the normal turned by its 3 x 3 part and normalised.
//
// A second reference, "glm_used", blends only the slots a vertex uses, as
// ours does (the walker's vertices use 1.4 bones on average), so that the
// two comparisons tell the cost of blending unused slots from that of the
// arithmetic itself.
//
// All run on the walker's body (data/walker.xml, posed mid-walk) and on the
// same body repeated 16 times (about 72 000 vertices, which no longer fits
// in the caches). Before timing, the two are checked to give the same
// vertices. The summary prints nanoseconds per vertex and the ratio, and the
// whole frame's skinning (cBody::Skin: the skin matrices, then the vertices)
// per frame.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "QV_actor.h"
#include "QV_character.h"
#include "QV_xml.h"
#include "bench_report.h"

#if QV_HAVE_GLM
#include <glm/glm.hpp>
#endif

namespace
{
const std::string kWalker = std::string(QV_SOURCE_DIR) + "/data/walker.xml";

// The walker posed 40 frames into its walk, and its body's inputs repeated
// `copies` times.
struct sSkinData
{
    std::unique_ptr<cActor> actor;
    std::string error;
    std::vector<sInfluences> influences;
    std::vector<cVector3D> positions, normals;
    std::vector<cVector3D> outPositions, outNormals;

    explicit sSkinData(int copies) : actor(new cActor)
    {
        try
        {
            ReadActorFromXML(kWalker.c_str(), *actor);
        }
        catch (const cXmlError& e)
        {
            error = e.what();
            return;
        }
        error = PrepareCharacter(*actor);
        if (actor->mBody.Empty())
            error = "the walker has no body";
        if (!error.empty())
            return;
        sSteering walk;
        walk.mWalk = true;
        for (int f = 0; f < 40; ++f)
            StepCharacter(*actor, 16, walk);
        cBody& body = actor->mBody;
        body.Skin(actor->mArmature); // the skin matrices of this pose
        for (int c = 0; c < copies; ++c)
        {
            influences.insert(influences.end(), body.mInfluences.begin(), body.mInfluences.end());
            positions.insert(positions.end(), body.mRestPositions.begin(), body.mRestPositions.end());
            normals.insert(normals.end(), body.mRestNormals.begin(), body.mRestNormals.end());
        }
        outPositions.resize(positions.size());
        outNormals.resize(normals.size());
    }
    size_t Vertices() const { return positions.size(); }
    const cMatrix4D* Skin() const { return actor->mBody.mSkinMatrices.data(); }

    void RunOurs()
    {
        SkinVertices(Skin(), influences.data(), positions.data(), normals.data(), Vertices(), outPositions.data(),
                     outNormals.data());
    }
};

sSkinData& Data(int copies)
{
    static sSkinData one(1), many(16);
    return copies == 1 ? one : many;
}

void Ours(benchmark::State& state, int copies)
{
    sSkinData& d = Data(copies);
    if (!d.error.empty())
    {
        state.SkipWithError(d.error.c_str());
        return;
    }
    for (auto _ : state)
    {
        d.RunOurs();
        benchmark::DoNotOptimize(d.outPositions.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed((int64_t)state.iterations() * (int64_t)d.Vertices());
}

#if QV_HAVE_GLM
// The reference's inputs: four (bone, weight) slots a vertex, the skin
// matrices as glm's.
struct sGlmData
{
    std::vector<glm::mat4> skin;
    std::vector<glm::uvec4> bones;
    std::vector<glm::vec4> weights;
    std::vector<unsigned int> counts;
    std::vector<glm::vec3> positions, normals, outPositions, outNormals;

    explicit sGlmData(const sSkinData& d)
    {
        for (const cMatrix4D& m : d.actor->mBody.mSkinMatrices)
        {
            glm::mat4 g;
            for (int c = 0; c < 4; ++c)
                for (int r = 0; r < 4; ++r)
                    g[c][r] = m._m[c * 4 + r];
            skin.push_back(g);
        }
        for (size_t i = 0; i < d.Vertices(); ++i)
        {
            const sInfluences& in = d.influences[i];
            bones.emplace_back(in.mBone[0], in.mBone[1], in.mBone[2], in.mBone[3]);
            weights.emplace_back(in.mWeight[0], in.mWeight[1], in.mWeight[2], in.mWeight[3]);
            counts.push_back(in.mCount);
            const cVector3D& p = d.positions[i];
            const cVector3D& n = d.normals[i];
            positions.emplace_back(p.mData[0], p.mData[1], p.mData[2]);
            normals.emplace_back(n.mData[0], n.mData[1], n.mData[2]);
        }
        outPositions.resize(positions.size());
        outNormals.resize(normals.size());
    }

    void Run()
    {
        const size_t n = positions.size();
        for (size_t i = 0; i < n; ++i)
        {
            const glm::uvec4& b = bones[i];
            const glm::vec4& w = weights[i];
            const glm::mat4 m = skin[b.x] * w.x + skin[b.y] * w.y + skin[b.z] * w.z + skin[b.w] * w.w;
            outPositions[i] = glm::vec3(m * glm::vec4(positions[i], 1.0f));
            outNormals[i] = glm::normalize(glm::mat3(m) * normals[i]);
        }
    }

    void RunUsed()
    {
        const size_t n = positions.size();
        for (size_t i = 0; i < n; ++i)
        {
            const glm::uvec4& b = bones[i];
            const glm::vec4& w = weights[i];
            glm::mat4 m = skin[b[0]] * w[0];
            for (unsigned int k = 1; k < counts[i]; ++k)
                m += skin[b[k]] * w[k];
            outPositions[i] = glm::vec3(m * glm::vec4(positions[i], 1.0f));
            outNormals[i] = glm::normalize(glm::mat3(m) * normals[i]);
        }
    }
};

sGlmData& GlmData(int copies)
{
    static sGlmData one(Data(1)), many(Data(16));
    return copies == 1 ? one : many;
}

// The largest difference between ours and either reference, in units.
double Disagreement(int copies)
{
    sSkinData& d = Data(copies);
    sGlmData& g = GlmData(copies);
    d.RunOurs();
    double worst = 0.0;
    for (int used = 0; used < 2; ++used)
    {
        if (used)
            g.RunUsed();
        else
            g.Run();
        for (size_t i = 0; i < d.Vertices(); ++i)
            for (int k = 0; k < 3; ++k)
            {
                worst = std::max(worst, (double)std::fabs(d.outPositions[i].mData[k] - g.outPositions[i][k]));
                worst = std::max(worst, (double)std::fabs(d.outNormals[i].mData[k] - g.outNormals[i][k]));
            }
    }
    return worst;
}

template <bool kUsedOnly> void Reference(benchmark::State& state, int copies)
{
    if (!Data(copies).error.empty())
    {
        state.SkipWithError(Data(copies).error.c_str());
        return;
    }
    sGlmData& g = GlmData(copies);
    for (auto _ : state)
    {
        if (kUsedOnly)
            g.RunUsed();
        else
            g.Run();
        benchmark::DoNotOptimize(g.outPositions.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed((int64_t)state.iterations() * (int64_t)g.positions.size());
}
#endif

// The frame's whole skinning step on the walker: skin matrices, then every
// vertex.
void Frame(benchmark::State& state)
{
    sSkinData& d = Data(1);
    if (!d.error.empty())
    {
        state.SkipWithError(d.error.c_str());
        return;
    }
    for (auto _ : state)
    {
        d.actor->mBody.Skin(d.actor->mArmature);
        benchmark::DoNotOptimize(d.actor->mBody.mPositions.data());
        benchmark::ClobberMemory();
    }
}

void PrintSummary(const qvbench::Results& results)
{
    std::printf("skinning, CPU time (median over the repetitions):\n");
    std::printf("  %-12s %9s %11s %11s %8s %13s %8s\n", "body", "vertices", "qv ns/vert", "glm ns/vert", "ratio",
                "glm_used ns", "ratio");
    for (int copies : {1, 16})
    {
        const std::string size = copies == 1 ? "walker" : "walker_x16";
        const size_t n = Data(copies).Vertices();
        auto ours = results.find("skin_vertices_" + size + "/qv");
        if (ours == results.end() || n == 0)
            continue;
        const double q = ours->second.MedianCpu() / n;
        std::printf("  %-12s %9zu %11.2f", size.c_str(), n, q);
        for (const char* ref : {"/glm", "/glm_used"})
        {
            auto r = results.find("skin_vertices_" + size + ref);
            if (r == results.end())
                std::printf(" %11s %8s", "-", "-");
            else
                std::printf(" %11.2f %8.3f", r->second.MedianCpu() / n, q / (r->second.MedianCpu() / n));
        }
        std::printf("\n");
    }
    auto frame = results.find("skin_frame_walker");
    if (frame != results.end())
        std::printf("  the walker's whole skinning step (cBody::Skin): %.1f us a frame\n",
                    frame->second.MedianCpu() / 1e3);
}

} // namespace

int main(int argc, char** argv)
{
#if QV_HAVE_GLM
    for (int copies : {1, 16})
        if (Data(copies).error.empty())
        {
            const double worst = Disagreement(copies);
            std::printf("ours and the glm reference differ by at most %.3g units (%d cop%s of the walker's body)\n",
                        worst, copies, copies == 1 ? "y" : "ies");
            if (!(worst < 1e-4))
            {
                std::printf("bench_skin: the two skinnings disagree\n");
                return 1;
            }
        }
#endif
    for (int copies : {1, 16})
    {
        const std::string size = copies == 1 ? "walker" : "walker_x16";
        benchmark::RegisterBenchmark(("skin_vertices_" + size + "/qv").c_str(), Ours, copies);
#if QV_HAVE_GLM
        benchmark::RegisterBenchmark(("skin_vertices_" + size + "/glm").c_str(), Reference<false>, copies);
        benchmark::RegisterBenchmark(("skin_vertices_" + size + "/glm_used").c_str(), Reference<true>, copies);
#endif
    }
    benchmark::RegisterBenchmark("skin_frame_walker", Frame);
    return qvbench::RunWithSummary(argc, argv, PrintSummary);
}
