// Our frame against ozz-animation's, on the same skeletons and clips, timed
// in one run: the walker (data/walker.xml, its walk) and the synthetic trees
// of 200 and 1000 bones (16 keys per channel). Built only where the peer's
// sources are (bench/peer/CMakeLists.txt; tools/bench.sh turns it on).
//
//     build-bench/bench/peer/bench_ozz --benchmark_repetitions=9 --benchmark_enable_random_interleaving=true
//     build-bench/bench/peer/bench_ozz --check    # the comparison of the world matrices alone
//
// Ours is the like-for-like frame: every channel evaluated into the pose,
// then one armature update (ApplyPose: the pose's local matrices into the
// armature, then the world pass). ozz's is its standard frame: SamplingJob
// into local transforms, then LocalToModelJob into model matrices. Both
// halves are also timed alone, and the walker's whole Animate(16) beside
// them.
//
// Sections:
//   [convert]  our armature and action as ozz's raw skeleton and raw
//              animation, key for key, built by ozz's builders
//   [check]    both give the same world matrices within ozz's quantisation
//   [frames]   the timed loops
//   [main]     registration and the table of ratios

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "../../tests/support/synthetic_actor.h"
#include "QV_actor.h"
#include "QV_character.h"
#include "QV_xml.h"
#include "bench_report.h"
#include "ozz/animation/offline/animation_builder.h"
#include "ozz/animation/offline/raw_animation.h"
#include "ozz/animation/offline/raw_skeleton.h"
#include "ozz/animation/offline/skeleton_builder.h"
#include "ozz/animation/runtime/animation.h"
#include "ozz/animation/runtime/local_to_model_job.h"
#include "ozz/animation/runtime/sampling_job.h"
#include "ozz/animation/runtime/skeleton.h"
#include "ozz/base/maths/simd_math.h"
#include "ozz/base/maths/soa_transform.h"

namespace
{
namespace oa = ozz::animation;
namespace om = ozz::math;

const std::string kWalker = std::string(QV_SOURCE_DIR) + "/data/walker.xml";

// Both sides at the same moments: the clip times a 16 ms frame visits over a
// few loops, restarting at kRestartTime as Animate's clock does.
std::vector<unsigned int> ClipTimes(unsigned int length)
{
    std::vector<unsigned int> times;
    unsigned int t = kRestartTime;
    for (int i = 0; i < 512; ++i)
    {
        times.push_back(t);
        t += 16;
        if (t > length)
            t = kRestartTime;
    }
    return times;
}

// One figure on both sides: our actor and action, ozz's skeleton, animation
// and buffers, and which of our bones each ozz joint is.
struct sFigure
{
    std::string mName;
    cActor mActor;
    unsigned int mSlot = 0;
    std::vector<unsigned int> mTimes;

    ozz::unique_ptr<oa::Skeleton> mSkeleton;
    ozz::unique_ptr<oa::Animation> mAnimation;
    std::unique_ptr<oa::SamplingJob::Context> mContext;
    std::vector<om::SoaTransform> mLocals;
    std::vector<om::Float4x4> mModels;
    std::vector<unsigned int> mBoneOfJoint;

    std::string mProblem;           // why the figure cannot be compared, or empty
    double mWorstRotation = 0.0;    // largest difference of a rotation element
    double mWorstTranslation = 0.0; // largest difference of a translation, over the figure's size

    size_t Bones() const { return mActor.mArmature.mBones.size(); }
};

// [convert] ------------------------------------------------------------------

// The rotation of a rest matrix's 3 x 3 block, or false when the block is no
// rotation (ozz's joints carry translation, rotation and scale only).
bool RestRotation(const cMatrix4D& rest, cQuaternion& q)
{
    q.setFromMatrix(rest);
    q.normalize();
    cMatrix4D back;
    back.setFromQuat(q);
    for (int c = 0; c < 3; ++c)
        for (int r = 0; r < 3; ++r)
            if (!(std::fabs(back._m[c * 4 + r] - rest._m[c * 4 + r]) <= 1e-4f))
                return false;
    return true;
}

// Our local matrix is the rest rotation times the key's rotation, at the
// rest translation; ozz's is translation, rotation and scale. So each ozz
// joint's rest transform is the bone's rest rotation at its translation.
bool AddJoint(const cBone& bone, ozz::vector<oa::offline::RawSkeleton::Joint>& into, std::string& problem)
{
    cQuaternion rest;
    if (!RestRotation(bone.mRestTransform, rest))
    {
        problem = "the rest matrix of " + bone.mName + " is not a rotation";
        return false;
    }
    into.emplace_back();
    oa::offline::RawSkeleton::Joint& joint = into.back();
    joint.name = bone.mName.c_str();
    const float* m = bone.mTransform._m;
    joint.transform.translation = om::Float3(m[12], m[13], m[14]);
    joint.transform.rotation = om::Quaternion(rest.mData[0], rest.mData[1], rest.mData[2], rest.mData[3]);
    joint.transform.scale = om::Float3::one();
    for (const cBone* child : bone.mChildren)
        if (!AddJoint(*child, joint.children, problem))
            return false;
    return true;
}

// ozz's track of one bone: every key of our channel at its own time, turned
// by the rest rotation (nlerp commutes with that turn, so the two sample the
// same rotations), and the rest translation held. Of keys at the same time
// the later one is kept, as our channels do.
void AddTrack(const cBone& bone, const cChannel* channel, float duration, oa::offline::RawAnimation::JointTrack& track)
{
    cQuaternion rest;
    RestRotation(bone.mRestTransform, rest);
    const float* m = bone.mTransform._m;
    track.translations.push_back({0.0f, om::Float3(m[12], m[13], m[14])});
    if (!channel || channel->mKeyFrames.empty())
    {
        const cQuaternion q = rest * bone.mOrientation;
        track.rotations.push_back({0.0f, om::Quaternion(q.mData[0], q.mData[1], q.mData[2], q.mData[3])});
        return;
    }
    for (const sKeyFrame& k : channel->mKeyFrames)
    {
        const cQuaternion q = rest * k.mValue;
        const oa::offline::RawAnimation::RotationKey key = {
            std::min((float)k.mTime, duration), om::Quaternion(q.mData[0], q.mData[1], q.mData[2], q.mData[3])};
        if (!track.rotations.empty() && track.rotations.back().time == key.time)
            track.rotations.back() = key;
        else
            track.rotations.push_back(key);
    }
}

void Convert(sFigure& f)
{
    const cArmature& arm = f.mActor.mArmature;
    const cAction& action = f.mActor.mAction[f.mSlot];
    if (!arm.mRootBone || arm.mBones.size() > (size_t)oa::Skeleton::kMaxJoints)
    {
        f.mProblem = "no root, or more bones than ozz's " + std::to_string((int)oa::Skeleton::kMaxJoints);
        return;
    }
    oa::offline::RawSkeleton raw;
    if (!AddJoint(*arm.mRootBone, raw.roots, f.mProblem))
        return;
    f.mSkeleton = oa::offline::SkeletonBuilder()(raw);
    if (!f.mSkeleton)
    {
        f.mProblem = "ozz's skeleton builder refused the skeleton";
        return;
    }

    // ozz's joints are in its own order: find each one's bone by name.
    const auto names = f.mSkeleton->joint_names();
    f.mBoneOfJoint.resize(names.size());
    for (size_t j = 0; j < names.size(); ++j)
        for (size_t b = 0; b < arm.mBones.size(); ++b)
            if (arm.mBones[b].mName == names[j])
                f.mBoneOfJoint[j] = (unsigned int)b;

    float duration = (float)action.mLength;
    for (const cChannel& c : action.mChannels)
        if (!c.mKeyFrames.empty())
            duration = std::max(duration, (float)c.mKeyFrames.back().mTime);
    oa::offline::RawAnimation anim;
    anim.duration = duration;
    anim.tracks.resize(names.size());
    for (size_t j = 0; j < names.size(); ++j)
    {
        const unsigned int b = f.mBoneOfJoint[j];
        AddTrack(arm.mBones[b], b < action.mChannels.size() ? &action.mChannels[b] : nullptr, duration, anim.tracks[j]);
    }
    f.mAnimation = oa::offline::AnimationBuilder()(anim);
    if (!f.mAnimation)
    {
        f.mProblem = "ozz's animation builder refused the clip";
        return;
    }
    f.mContext.reset(new oa::SamplingJob::Context(f.mAnimation->num_tracks()));
    f.mLocals.resize(f.mSkeleton->num_soa_joints());
    f.mModels.resize(f.mSkeleton->num_joints());
    f.mTimes = ClipTimes(action.mLength);
}

// [frames] -------------------------------------------------------------------

void QvSample(sFigure& f, unsigned int t) { f.mActor.mAction[f.mSlot].EvaluateAt(t, f.mActor.mPose); }
void QvWorld(sFigure& f) { f.mActor.ApplyPose(f.mActor.mPose); }

bool OzzSample(sFigure& f, unsigned int t)
{
    oa::SamplingJob job;
    job.animation = f.mAnimation.get();
    job.context = f.mContext.get();
    job.ratio = (float)t / f.mAnimation->duration();
    job.output = ozz::make_span(f.mLocals);
    return job.Run();
}

bool OzzWorld(sFigure& f)
{
    oa::LocalToModelJob job;
    job.skeleton = f.mSkeleton.get();
    job.input = ozz::make_span(f.mLocals);
    job.output = ozz::make_span(f.mModels);
    return job.Run();
}

// [check] --------------------------------------------------------------------

// Samples both at every clip time and compares the world matrices: rotation
// elements as they are, translations relative to the figure's size (the
// furthest head from the root's). ozz keeps rotations in 15-bit components
// and translations in half floats, so they differ by a few 1e-4.
void Check(sFigure& f)
{
    const double kRotationTolerance = 5e-3, kTranslationTolerance = 5e-3;
    const std::vector<cBone>& bones = f.mActor.mArmature.mBones;
    for (unsigned int t : f.mTimes)
    {
        QvSample(f, t);
        QvWorld(f);
        if (!OzzSample(f, t) || !OzzWorld(f))
        {
            f.mProblem = "an ozz job refused its input";
            return;
        }
        double size = 1e-6;
        const cVector3D root = f.mActor.mArmature.mRootBone->mWorldTransform.getTransform();
        for (const cBone& b : bones)
            size = std::max(size, (double)(b.mWorldTransform.getTransform() - root).length());
        for (size_t j = 0; j < f.mModels.size(); ++j)
        {
            float ozz[16];
            for (int c = 0; c < 4; ++c)
                om::StorePtrU(f.mModels[j].cols[c], ozz + 4 * c);
            const float* ours = bones[f.mBoneOfJoint[j]].mWorldTransform._m;
            for (int c = 0; c < 3; ++c)
                for (int r = 0; r < 3; ++r)
                    f.mWorstRotation = std::max(f.mWorstRotation, (double)std::fabs(ozz[c * 4 + r] - ours[c * 4 + r]));
            for (int r = 0; r < 3; ++r)
                f.mWorstTranslation =
                    std::max(f.mWorstTranslation, (double)std::fabs(ozz[12 + r] - ours[12 + r]) / size);
        }
    }
    if (!(f.mWorstRotation <= kRotationTolerance) || !(f.mWorstTranslation <= kTranslationTolerance))
    {
        char buf[160];
        std::snprintf(buf, sizeof buf, "world matrices differ: rotation by %.2g, translation by %.2g of the size",
                      f.mWorstRotation, f.mWorstTranslation);
        f.mProblem = buf;
    }
}

std::unique_ptr<sFigure> LoadFigure(const std::string& name, unsigned int bones)
{
    std::unique_ptr<sFigure> f(new sFigure);
    f->mName = name;
    if (bones == 0)
    {
        try
        {
            ReadActorFromXML(kWalker.c_str(), f->mActor);
        }
        catch (const cXmlError& e)
        {
            f->mProblem = kWalker + ": " + e.what();
            return f;
        }
        f->mActor.SetConstraints();
        f->mActor.UpdateArmature();
        f->mSlot = kWalkSlot;
    }
    else
    {
        qvtest::BuildSyntheticActor(f->mActor, bones, 16);
    }
    Convert(*f);
    if (f->mProblem.empty())
        Check(*f);
    return f;
}

enum eWhat
{
    kFrame,
    kSample,
    kWorld,
    kAnimate
};

void PerJoint(benchmark::State& state, size_t joints)
{
    state.counters["per_joint"] =
        benchmark::Counter((double)joints, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// One frame of one side at clip time t. Animate keeps its own clock (it is
// ours alone; the walker's is compared with ozz's frame).
bool Step(sFigure& f, bool ozz, eWhat what, unsigned int t)
{
    if (ozz)
        return (what == kWorld || OzzSample(f, t)) && (what == kSample || OzzWorld(f));
    if (what == kAnimate)
    {
        f.mActor.Animate(16);
        return true;
    }
    if (what != kWorld)
        QvSample(f, t);
    if (what != kSample)
        QvWorld(f);
    return true;
}

void Bench(benchmark::State& state, sFigure& f, bool ozz, eWhat what)
{
    if (!f.mProblem.empty())
        return state.SkipWithError(f.mProblem.c_str());
    f.mActor.mNextAction = f.mSlot;
    size_t i = 0;
    bool ok = true;
    for (auto _ : state)
    {
        ok &= Step(f, ozz, what, f.mTimes[i]);
        i = i + 1 == f.mTimes.size() ? 0 : i + 1;
        benchmark::DoNotOptimize(f.mActor.mArmature.mBones.back().mWorldTransform);
        benchmark::DoNotOptimize(f.mModels.back());
    }
    if (!ok)
        state.SkipWithError("an ozz job refused its input");
    PerJoint(state, f.Bones());
}

// A fixed number of frames outside Google Benchmark, for instruction counts:
//     valgrind --tool=callgrind --toggle-collect='*RunFrames*' bench_ozz --run walker/qv/frame 2000
__attribute__((noinline)) bool RunFrames(sFigure& f, bool ozz, eWhat what, unsigned int frames)
{
    f.mActor.mNextAction = f.mSlot;
    bool ok = true;
    for (unsigned int i = 0; i < frames; ++i)
        ok &= Step(f, ozz, what, f.mTimes[i % f.mTimes.size()]);
    return ok;
}

// [main] ---------------------------------------------------------------------

double Median(const qvbench::Results& r, const std::string& name)
{
    auto it = r.find(name);
    return it == r.end() ? NAN : it->second.MedianCpu();
}

void Summary(const std::vector<std::unique_ptr<sFigure>>& figures, const qvbench::Results& r)
{
    std::printf("ours against ozz-animation, median CPU time (ns):\n");
    std::printf("  %-14s %6s %5s %10s %10s %7s %10s %10s\n", "figure", "joints", "part", "ours", "ozz", "ratio",
                "ours/joint", "ozz/joint");
    for (const auto& f : figures)
    {
        if (!f->mProblem.empty())
        {
            std::printf("  %-14s not compared: %s\n", f->mName.c_str(), f->mProblem.c_str());
            continue;
        }
        const double n = (double)f->Bones();
        for (const char* part : {"frame", "sample", "world"})
        {
            const double ours = Median(r, f->mName + "/qv/" + part);
            const double ozz = Median(r, f->mName + "/ozz/" + part);
            if (std::isnan(ours) && std::isnan(ozz))
                continue; // not run (--benchmark_filter)
            std::printf("  %-14s %6.0f %5s %10.1f %10.1f %7.2f %10.2f %10.2f\n", f->mName.c_str(), n, part, ours, ozz,
                        ours / ozz, ours / n, ozz / n);
        }
        const double animate = Median(r, f->mName + "/qv/animate");
        if (!std::isnan(animate))
            std::printf("  %-14s %6.0f %5s %10.1f %10.1f %7.2f   (Animate(16) against ozz's frame)\n", f->mName.c_str(),
                        n, "anim", animate, Median(r, f->mName + "/ozz/frame"),
                        animate / Median(r, f->mName + "/ozz/frame"));
        std::printf("  %-14s world matrices agree within %.1e (rotation), %.1e of the size (translation)\n",
                    f->mName.c_str(), f->mWorstRotation, f->mWorstTranslation);
    }
}
} // namespace

const struct
{
    const char* mName;
    eWhat mWhat;
} kParts[] = {{"frame", kFrame}, {"sample", kSample}, {"world", kWorld}, {"animate", kAnimate}};

int main(int argc, char** argv)
{
    static std::vector<std::unique_ptr<sFigure>> figures;
    figures.push_back(LoadFigure("walker", 0));
    figures.push_back(LoadFigure("synthetic200", 200));
    figures.push_back(LoadFigure("synthetic1000", 1000));
    const std::string mode = argc >= 2 ? argv[1] : "";

    // --check: only the conversion and the comparison, for the tests.
    if (mode == "--check")
    {
        int failed = 0;
        for (const auto& f : figures)
        {
            if (f->mProblem.empty())
                std::printf("%s: %zu joints, world matrices agree within %.1e (rotation), %.1e of the size "
                            "(translation)\n",
                            f->mName.c_str(), f->Bones(), f->mWorstRotation, f->mWorstTranslation);
            else
                std::printf("%s: %s\n", f->mName.c_str(), f->mProblem.c_str());
            failed += !f->mProblem.empty();
        }
        return failed ? 1 : 0;
    }

    // --run FIGURE/SIDE/PART FRAMES: that many frames of one benchmark.
    if (mode == "--run" && argc == 4)
    {
        for (const auto& f : figures)
            for (const auto& p : kParts)
                for (bool ozz : {false, true})
                    if (argv[2] == f->mName + (ozz ? "/ozz/" : "/qv/") + p.mName && f->mProblem.empty())
                        return RunFrames(*f, ozz, p.mWhat, (unsigned int)std::stoul(argv[3])) ? 0 : 1;
        std::fprintf(stderr, "bench_ozz: no benchmark named %s that can run\n", argv[2]);
        return 1;
    }

    for (const auto& fp : figures)
    {
        sFigure* f = fp.get();
        if (!f->mProblem.empty())
            std::fprintf(stderr, "bench_ozz: %s: %s\n", f->mName.c_str(), f->mProblem.c_str());
        for (const auto& p : kParts)
            for (bool ozz : {false, true})
            {
                // Animate is ours alone, and timed on the walker.
                if (p.mWhat == kAnimate && (ozz || f->mName != "walker"))
                    continue;
                const eWhat what = p.mWhat;
                benchmark::RegisterBenchmark((f->mName + (ozz ? "/ozz/" : "/qv/") + p.mName).c_str(),
                                             [f, ozz, what](benchmark::State& s) { Bench(s, *f, ozz, what); });
            }
    }
    return qvbench::RunWithSummary(argc, argv, [](const qvbench::Results& r) { Summary(figures, r); });
}
