// The actor's frame step and channel evaluation on synthetic actors of 20,
// 200 and 2000 bones (16 keys per channel unless stated).
//
// Time is per frame (per Animate or per action evaluation); "per_bone" is the
// same time divided by the bone count; "allocs" counts heap allocations per
// iteration, which must stay 0.
//
//     build-*/bench/bench_animate --benchmark_min_time=0.5

#include <benchmark/benchmark.h>

#include "../tests/support/alloc_counter.h"
#include "../tests/support/synthetic_actor.h"
#include "QV_actor.h"

namespace
{
const unsigned int kKeys = 16;

void Report(benchmark::State& state, unsigned int bones, unsigned long long allocations)
{
    state.counters["per_bone"] =
        benchmark::Counter((double)bones, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    state.counters["allocs"] = benchmark::Counter((double)allocations, benchmark::Counter::kAvgIterations);
}

// The whole per-frame step: clock, both pose refreshes, one action
// evaluation, heading, two pose applications with full world-matrix passes,
// two foot locks. The walk request alternates between the cycles now and
// then, as the application does.
void BM_Animate(benchmark::State& state)
{
    const unsigned int bones = (unsigned int)state.range(0);
    cActor actor;
    qvtest::BuildSyntheticActor(actor, bones, kKeys);
    actor.mNextAction = 0;
    actor.Animate(16);
    unsigned int frame = 0;
    qvtest::AllocationScope scope;
    for (auto _ : state)
    {
        actor.mNextAction = (++frame & 255) == 0 ? 2u : 0u;
        actor.mHeading += 0.5f;
        actor.Animate(16);
        benchmark::DoNotOptimize(actor.mArmature.mRootBone->mWorldTransform._m[12]);
    }
    Report(state, bones, scope.Allocations());
}
BENCHMARK(BM_Animate)->Arg(20)->Arg(200)->Arg(2000);

// One action evaluated into the pose: a channel evaluation (linear bracket
// search and nlerp) per bone.
void BM_ActionEvaluate(benchmark::State& state)
{
    const unsigned int bones = (unsigned int)state.range(0);
    cActor actor;
    qvtest::BuildSyntheticActor(actor, bones, kKeys);
    unsigned int t = 0;
    qvtest::AllocationScope scope;
    for (auto _ : state)
    {
        t = (t + 16) % 1000;
        actor.mAction[0].EvaluateAt(t, actor.mPose);
        benchmark::DoNotOptimize(actor.mPose.mPoseBones[0].mOrientation.mData[3]);
    }
    Report(state, bones, scope.Allocations());
}
BENCHMARK(BM_ActionEvaluate)->Arg(20)->Arg(200)->Arg(2000);

// One channel, by key count: the bracket search visits every key.
void BM_ChannelEvaluate(benchmark::State& state)
{
    const unsigned int keys = (unsigned int)state.range(0);
    cActor actor;
    qvtest::BuildSyntheticActor(actor, 1, keys);
    const cChannel& channel = actor.mAction[0].mChannels[0];
    cQuaternion q;
    unsigned int t = 0;
    for (auto _ : state)
    {
        t = (t + 16) % 1000;
        channel.EvaluateAt(t, q);
        benchmark::DoNotOptimize(q.mData[3]);
    }
}
BENCHMARK(BM_ChannelEvaluate)->Arg(4)->Arg(16)->Arg(64);

// The world-matrix pass alone (half of what each Animate does twice).
void BM_ArmatureUpdate(benchmark::State& state)
{
    const unsigned int bones = (unsigned int)state.range(0);
    cActor actor;
    qvtest::BuildSyntheticActor(actor, bones, kKeys);
    actor.Animate(16);
    qvtest::AllocationScope scope;
    for (auto _ : state)
    {
        actor.mArmature.Update();
        benchmark::DoNotOptimize(actor.mArmature.mBones.back().mWorldTransform._m[12]);
    }
    Report(state, bones, scope.Allocations());
}
BENCHMARK(BM_ArmatureUpdate)->Arg(20)->Arg(200)->Arg(2000);
} // namespace

BENCHMARK_MAIN();
