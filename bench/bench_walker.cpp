// The shipped walker (data/walker.xml): one frame's Animate while it stands,
// while it walks and while it walks and turns, and one pass of the two-bone
// IK solver on its left leg. Synthetic actors of other sizes are measured in
// bench_animate.
//
// Each Animate call advances the walker by 16 ms, as a frame of about 60 Hz
// would; the clock wraps within the action as in the demo, so a run covers
// every part of the cycle.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <memory>
#include <string>

#include "QV_actor.h"
#include "QV_character.h"
#include "QV_iksolver.h"
#include "QV_xml.h"
#include "bench_report.h"

namespace
{
const std::string kWalker = std::string(QV_SOURCE_DIR) + "/data/walker.xml";

// Loads the walker as the application does (the loader, then
// PrepareCharacter). Null, with the reason in `why`, when it cannot.
std::unique_ptr<cActor> LoadWalker(std::string& why)
{
    std::unique_ptr<cActor> actor(new cActor);
    try
    {
        ReadActorFromXML(kWalker.c_str(), *actor);
    }
    catch (const cXmlError& e)
    {
        why = kWalker + ": " + e.what();
        return nullptr;
    }
    const std::string problem = PrepareCharacter(*actor);
    if (!problem.empty())
    {
        why = kWalker + ": " + problem;
        return nullptr;
    }
    return actor;
}

void Skip(benchmark::State& state, const std::string& why)
{
    state.SkipWithError(why.c_str());
    for (auto _ : state)
    {
    }
}

void PerBone(benchmark::State& state, size_t bones)
{
    state.counters["bones"] = (double)bones;
    state.counters["per_bone"] =
        benchmark::Counter((double)bones, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

enum eGait
{
    STAND,
    WALK,
    WALK_TURNING
};

void Animate(benchmark::State& state, eGait gait)
{
    std::string why;
    std::unique_ptr<cActor> actor = LoadWalker(why);
    if (!actor)
        return Skip(state, why);
    const unsigned int next = gait == STAND ? 1u : actor->mWalkCycle;
    for (auto _ : state)
    {
        actor->mNextAction = next;
        if (gait == WALK_TURNING)
            actor->mHeading += 1.6f; // 16 ms at 0.1 degree per millisecond
        actor->Animate(16);
        benchmark::DoNotOptimize(actor->mArmature.mRootBone->mWorldTransform);
    }
    PerBone(state, actor->mArmature.mBones.size());
}

// One solver pass on the left leg (the foot "Bone.008" and its parent). The
// target alternates between two points, so every pass has a distance to
// close and swings a joint; "swung" is the share of passes that turned one
// (it should be 1).
void IKPass(benchmark::State& state)
{
    std::string why;
    std::unique_ptr<cActor> actor = LoadWalker(why);
    if (!actor)
        return Skip(state, why);
    cArmature& arm = actor->mArmature;
    cBone* foot = nullptr;
    for (cBone& b : arm.mBones)
        if (b.mName == "Bone.008")
            foot = &b;
    cIK ik;
    ik.mIKBones[0] = foot;
    if (!foot || !ik.Setup(arm))
        return Skip(state, "the walker has no two-bone chain ending in 'Bone.008'");

    const cVector3D tip = foot->mWorldTransform * cVector3D(0.0f, foot->mLength, 0.0f);
    const cVector3D targets[2] = {tip + cVector3D(0.3f, 0.2f, 0.0f), tip + cVector3D(-0.3f, 0.1f, 0.0f)};
    unsigned int i = 0;
    const cQuaternion* joints[2] = {&ik.mIKBones[0]->mOrientation, &ik.mIKBones[1]->mOrientation};
    cQuaternion before[2] = {*joints[0], *joints[1]};
    int64_t swung = 0;
    for (auto _ : state)
    {
        ik.mTarget = targets[i++ & 1];
        ik.EvaluateAt(0, actor->mAction[0]);
        benchmark::DoNotOptimize(ik.mEffector);
        // Count the passes that turned a joint: the ones measured should.
        for (int j = 0; j < 2; ++j)
            if (joints[j]->mData[0] != before[j].mData[0] || joints[j]->mData[3] != before[j].mData[3])
            {
                ++swung;
                before[j] = *joints[j];
            }
    }
    state.counters["swung"] = benchmark::Counter((double)swung, benchmark::Counter::kAvgIterations);
}

} // namespace

int main(int argc, char** argv)
{
    if (access(kWalker.c_str(), R_OK) != 0)
        fprintf(stderr, "bench_walker: %s is missing; every benchmark will report an error\n", kWalker.c_str());
    benchmark::RegisterBenchmark("walker/animate/stand", [](benchmark::State& s) { Animate(s, STAND); });
    benchmark::RegisterBenchmark("walker/animate/walk", [](benchmark::State& s) { Animate(s, WALK); });
    benchmark::RegisterBenchmark("walker/animate/walk_turning", [](benchmark::State& s) { Animate(s, WALK_TURNING); });
    benchmark::RegisterBenchmark("walker/ik_pass", IKPass);
    return qvbench::RunWithSummary(argc, argv, [](const qvbench::Results& r) {
        std::printf("walker, median CPU time per call:\n");
        for (const auto& e : r)
            std::printf("  %-30s %10.1f ns\n", e.first.c_str(), e.second.MedianCpu());
    });
}
