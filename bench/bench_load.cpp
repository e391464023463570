// Loading an actor file: the shipped walker and synthetic files of 200, 2000
// and 10 000 bones.
//
// The synthetic files are written once, at start-up, into a temporary
// directory: a binary tree of bones (bone i hangs from bone (i - 1) / 2, the
// nodes listed in bone order), three actions with one channel of kKeys keys
// per bone. Each iteration loads one file into a fresh actor with
// ReadActorFromXML, as the application does at start-up (the actor's
// destruction is not timed). "xml_parse" benchmarks time TinyXML's parse of
// the same text alone, to separate the parser's share from the loader's.
//
// After the table the program prints the time per bone for every size and
// the growth exponent between sizes (log of the time ratio over log of the
// size ratio): 1 is linear, 2 quadratic.
#include <benchmark/benchmark.h>

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <cmath>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "QV_actor.h"
#include "QV_actor_file.h"
#include "QV_matrix.h"
#include "QV_xml.h"
#include "bench_report.h"

namespace
{
constexpr unsigned int kKeys = 4;
constexpr unsigned int kSizes[] = {200, 2000, 10000};

std::string BoneName(unsigned int i)
{
    if (i == 0)
        return "Bone";
    char buf[32];
    snprintf(buf, sizeof buf, "Bone.%03u", i);
    return buf;
}

// The text of a well-formed actor file of `bones` bones, written as every
// actor file is (author::FormatActorFile).
std::string SyntheticFile(unsigned int bones, unsigned int keys)
{
    author::sActorFile file;
    file.mName = "synthetic";
    file.mBones.resize(bones);
    for (unsigned int i = 0; i < bones; ++i)
    {
        cMatrix4D rest;
        if (i == 0)
            rest.setTransform(0.0f, 0.0f, 1.0f);
        else
        {
            const float side = (i % 2 == 1) ? 1.0f : -1.0f;
            rest.setFromEuler(10.0f * side, 0.0f, 25.0f * side);
            rest.setTransform(0.0f, 0.5f, 0.0f);
        }
        author::sFileBone& b = file.mBones[i];
        b.mName = BoneName(i);
        b.mParent = i == 0 ? -1 : (int)(i - 1) / 2;
        b.mLength = 0.5;
        for (int row = 0; row < 3; ++row)
            for (int col = 0; col < 4; ++col)
                b.mRest[row][col] = rest._m[4 * col + row]; // the library's matrices are column-major
    }
    static const char* const names[kActionSlots] = {"walk", "stand", "walk2"};
    const unsigned int length = 1000;
    for (unsigned int a = 0; a < kActionSlots; ++a)
    {
        author::sFileAction action;
        action.mName = names[a];
        action.mLength = length;
        action.mChannels.resize(bones);
        for (unsigned int i = 0; i < bones; ++i)
            for (unsigned int k = 0; k < keys; ++k)
            {
                const float angle = (float)((i * 7 + k * 13 + a * 29) % 61) - 30.0f;
                author::sFileKey key;
                key.mTime = keys > 1 ? length * k / (keys - 1) : 0;
                key.mW = Math::cos(angle / 2.0f);
                key.mX = Math::sin(angle / 2.0f);
                action.mChannels[i].push_back(key);
            }
        file.mActions.push_back(action);
    }
    return author::FormatActorFile(file, author::FixedSixDecimals);
}

// The synthetic files, written once into a temporary directory that is
// removed at exit.
struct Files
{
    std::string dir;
    std::vector<std::string> paths; // one per kSizes entry
    std::vector<std::string> texts;

    Files()
    {
        char tmpl[] = "/tmp/qv_bench_load.XXXXXX";
        if (!mkdtemp(tmpl))
        {
            perror("bench_load: mkdtemp");
            exit(1);
        }
        dir = tmpl;
        for (unsigned int n : kSizes)
        {
            texts.push_back(SyntheticFile(n, kKeys));
            paths.push_back(dir + "/synthetic_" + std::to_string(n) + ".xml");
            FILE* f = fopen(paths.back().c_str(), "wb");
            if (!f || fwrite(texts.back().data(), 1, texts.back().size(), f) != texts.back().size() || fclose(f) != 0)
            {
                perror("bench_load: writing a synthetic file");
                exit(1);
            }
        }
    }
    ~Files()
    {
        for (const std::string& p : paths)
            unlink(p.c_str());
        rmdir(dir.c_str());
    }
};

Files& TheFiles()
{
    static Files files;
    return files;
}

const std::string kWalker = std::string(QV_SOURCE_DIR) + "/data/walker.xml";

void LoadFile(benchmark::State& state, const std::string& path, unsigned int expectBones)
{
    size_t bones = 0;
    for (auto _ : state)
    {
        std::unique_ptr<cActor> actor(new cActor);
        try
        {
            ReadActorFromXML(path.c_str(), *actor);
        }
        catch (const cXmlError& e)
        {
            state.SkipWithError(("loading " + path + ": " + e.what()).c_str());
            break;
        }
        bones = actor->mArmature.mBones.size();
        state.PauseTiming();
        actor.reset();
        state.ResumeTiming();
    }
    if (expectBones && bones != expectBones && !state.error_occurred())
        state.SkipWithError("wrong bone count");
    state.counters["bones"] = (double)bones;
    state.counters["per_bone"] =
        benchmark::Counter((double)bones, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void LoadWalker(benchmark::State& state)
{
    if (access(kWalker.c_str(), R_OK) != 0)
    {
        state.SkipWithError((kWalker + " is missing").c_str());
        for (auto _ : state)
        {
        }
        return;
    }
    LoadFile(state, kWalker, 0);
    if (FILE* f = fopen(kWalker.c_str(), "rb"))
    {
        fseek(f, 0, SEEK_END);
        const long size = ftell(f);
        fclose(f);
        state.SetBytesProcessed(state.iterations() * size);
        state.SetLabel(std::to_string(size / 1024) + " KiB");
    }
}

void LoadSynthetic(benchmark::State& state, size_t i)
{
    LoadFile(state, TheFiles().paths[i], kSizes[i]);
    state.SetBytesProcessed(state.iterations() * (int64_t)TheFiles().texts[i].size());
    state.SetLabel(std::to_string(TheFiles().texts[i].size() / 1024) + " KiB");
}

void ParseOnly(benchmark::State& state, size_t i)
{
    const std::string& text = TheFiles().texts[i];
    for (auto _ : state)
    {
        std::unique_ptr<TiXmlDocument> doc(new TiXmlDocument);
        doc->Parse(text.c_str());
        if (doc->Error())
        {
            state.SkipWithError(doc->ErrorDesc());
            break;
        }
        state.PauseTiming();
        doc.reset();
        state.ResumeTiming();
    }
    state.SetBytesProcessed(state.iterations() * (int64_t)text.size());
    state.counters["bones"] = kSizes[i];
    state.counters["per_bone"] =
        benchmark::Counter(kSizes[i], benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

} // namespace

int main(int argc, char** argv)
{
    TheFiles(); // written before any timing
    benchmark::RegisterBenchmark("load/walker", LoadWalker)->Unit(benchmark::kMillisecond);
    for (size_t i = 0; i < sizeof kSizes / sizeof kSizes[0]; ++i)
        benchmark::RegisterBenchmark(("load/synthetic/" + std::to_string(kSizes[i])).c_str(),
                                     [i](benchmark::State& st) { LoadSynthetic(st, i); })
            ->Unit(benchmark::kMillisecond);
    for (size_t i = 0; i < sizeof kSizes / sizeof kSizes[0]; ++i)
        benchmark::RegisterBenchmark(("xml_parse/synthetic/" + std::to_string(kSizes[i])).c_str(),
                                     [i](benchmark::State& st) { ParseOnly(st, i); })
            ->Unit(benchmark::kMillisecond);

    return qvbench::RunWithSummary(argc, argv, [](const qvbench::Results& r) {
        const std::vector<unsigned int> sizes(std::begin(kSizes), std::end(kSizes));
        qvbench::PrintScaling(r, "load/synthetic/", sizes, "bone");
        qvbench::PrintScaling(r, "xml_parse/synthetic/", sizes, "bone");
        auto w = r.find("load/walker");
        if (w != r.end())
            std::printf("load/walker: median CPU time %.2f ms, wall time %.2f ms\n", w->second.MedianCpu() / 1e6,
                        w->second.MedianReal() / 1e6);
    });
}
