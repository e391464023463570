// The math operations of the frame, side by side with glm's equivalents.
//
// Every operation is measured twice:
//   throughput  a batch of independent operations (inputs and outputs in
//               arrays that stay in the first-level cache), as a skeleton
//               pass over many bones does;
//   latency     a chain in which each result feeds the next operation, as a
//               world matrix feeds its children's.
// Both libraries are compiled in this one file, with the project's flags
// (including -ffp-contract=off, so neither side gets fused multiply-adds).
// After the usual table the program prints, for every pair, the ratio of our
// time to glm's from the same run (median of the repetitions): below 1 means
// ours is faster.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <random>
#include <string>

#include "QV_matrix.h"
#include "QV_quaternion.h"
#include "QV_vector.h"
#include "bench_report.h"

#if QV_HAVE_GLM
#include <glm/glm.hpp>
#include <glm/gtc/quaternion.hpp>
#endif

namespace
{
constexpr int kBatch = 256;

// Unit quaternions, rotation-and-translation matrices, points and blend
// parameters from a fixed seed; the same numbers feed both libraries.
struct Inputs
{
    cMatrix4D a[kBatch], b[kBatch];
    cQuaternion p[kBatch], q[kBatch];
    cVector3D v[kBatch];
    float t[kBatch];

    Inputs()
    {
        std::mt19937 rng(12345);
        std::uniform_real_distribution<float> u(-1.0f, 1.0f);
        auto quat = [&]() {
            cQuaternion r(u(rng), u(rng), u(rng), u(rng));
            r.normalize();
            return r;
        };
        for (int i = 0; i < kBatch; ++i)
        {
            p[i] = quat();
            q[i] = quat();
            a[i].setFromQuat(quat());
            a[i].setTransform(u(rng), u(rng), u(rng));
            b[i].setFromQuat(quat());
            b[i].setTransform(u(rng), u(rng), u(rng));
            v[i] = cVector3D(u(rng), u(rng), u(rng));
            t[i] = 0.5f * (u(rng) + 1.0f);
        }
    }
};

const Inputs& In()
{
    static const Inputs in;
    return in;
}

void PerOp(benchmark::State& state)
{
    state.SetItemsProcessed(state.iterations() * kBatch);
    // Seconds per operation, printed with an SI prefix ("2.5n" is 2.5 ns).
    state.counters["per_op"] =
        benchmark::Counter(kBatch, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// Each library is described by one adapter: its types and the five operations
// (plus one bone's share of a skeleton pass), so that the same benchmark
// bodies measure both.
struct Qv
{
    typedef cMatrix4D Mat;
    typedef cVector3D Vec;
    typedef cQuaternion Quat;

    static Mat M(const cMatrix4D& m) { return m; }
    static Vec V(const cVector3D& v) { return v; }
    static Quat Q(const cQuaternion& q) { return q; }

    static Mat Product(const Mat& a, const Mat& b) { return a * b; }
    static Vec Point(const Mat& m, const Vec& v) { return m * v; }
    static Mat FromQuat(const Quat& q)
    {
        Mat m;
        m.setFromQuat(q);
        return m;
    }
    static Quat QuatProduct(const Quat& p, const Quat& q) { return p * q; }
    static Quat Nlerp(float t, const Quat& s, const Quat& d) { return cQuaternion::nlerp(t, s, d); }
    // Local rotation from the rest matrix and the orientation (the local
    // translation kept), then world = parent world * local.
    static Mat BoneStep(const Mat& parent, const Mat& rest, const Mat& local, const Quat& q)
    {
        cMatrix4D r;
        r.setFromQuat(q);
        cMatrix4D l = local;
        l.setRotation(rest * r);
        return parent * l;
    }
};

#if QV_HAVE_GLM
struct Glm
{
    typedef glm::mat4 Mat;
    typedef glm::vec3 Vec;
    typedef glm::quat Quat;

    static Mat M(const cMatrix4D& m)
    {
        Mat out;
        for (int c = 0; c < 4; ++c)
            for (int r = 0; r < 4; ++r)
                out[c][r] = m.m[c][r];
        return out;
    }
    static Vec V(const cVector3D& v) { return Vec(v.mData[0], v.mData[1], v.mData[2]); }
    static Quat Q(const cQuaternion& q) { return Quat(q.mData[3], q.mData[0], q.mData[1], q.mData[2]); } // w, x, y, z

    static Mat Product(const Mat& a, const Mat& b) { return a * b; }
    static Vec Point(const Mat& m, const Vec& v) { return Vec(m * glm::vec4(v, 1.0f)); }
    static Mat FromQuat(const Quat& q) { return glm::mat4_cast(q); }
    static Quat QuatProduct(const Quat& p, const Quat& q) { return p * q; }
    // glm has no nlerp of its own; this is the same formula from its operators.
    static Quat Nlerp(float t, const Quat& s, const Quat& d) { return glm::normalize(s + (d - s) * t); }
    static Mat BoneStep(const Mat& parent, const Mat& rest, const Mat& local, const Quat& q)
    {
        const Mat rot = rest * glm::mat4_cast(q);
        Mat l = local;
        l[0] = glm::vec4(glm::vec3(rot[0]), l[0][3]);
        l[1] = glm::vec4(glm::vec3(rot[1]), l[1][3]);
        l[2] = glm::vec4(glm::vec3(rot[2]), l[2][3]);
        return parent * l;
    }
};
#endif

// The shared inputs in a library's own types.
template <class L> struct Data
{
    typename L::Mat a[kBatch], b[kBatch];
    typename L::Quat p[kBatch], q[kBatch];
    typename L::Vec v[kBatch];
    float t[kBatch];

    Data()
    {
        const Inputs& in = In();
        for (int i = 0; i < kBatch; ++i)
        {
            a[i] = L::M(in.a[i]);
            b[i] = L::M(in.b[i]);
            p[i] = L::Q(in.p[i]);
            q[i] = L::Q(in.q[i]);
            v[i] = L::V(in.v[i]);
            t[i] = in.t[i];
        }
    }

    static const Data& Get()
    {
        static const Data d;
        return d;
    }
};

// Runs body(i) for every element of the batch, then makes sure the outputs
// count.
template <class Out, class Body> void Batch(benchmark::State& state, Out (&out)[kBatch], Body body)
{
    for (auto _ : state)
    {
        for (int i = 0; i < kBatch; ++i)
            out[i] = body(i);
        benchmark::DoNotOptimize(out);
        benchmark::ClobberMemory();
    }
    PerOp(state);
}

// Folds step(x, i) over the batch, starting from x0 each time.
template <class T, class Step> void Chain(benchmark::State& state, const T& x0, Step step)
{
    for (auto _ : state)
    {
        T x = x0;
        for (int i = 0; i < kBatch; ++i)
            x = step(x, i);
        benchmark::DoNotOptimize(x);
    }
    PerOp(state);
}

template <class L> void Mat4Product(benchmark::State& state)
{
    const Data<L>& d = Data<L>::Get();
    static typename L::Mat out[kBatch];
    Batch(state, out, [&](int i) { return L::Product(d.a[i], d.b[i]); });
}

template <class L> void Mat4ProductChain(benchmark::State& state)
{
    const Data<L>& d = Data<L>::Get();
    Chain(state, d.a[0], [&](const typename L::Mat& m, int i) { return L::Product(m, d.b[i]); });
}

template <class L> void Mat4Point(benchmark::State& state)
{
    const Data<L>& d = Data<L>::Get();
    static typename L::Vec out[kBatch];
    Batch(state, out, [&](int i) { return L::Point(d.a[i], d.v[i]); });
}

template <class L> void Mat4PointChain(benchmark::State& state)
{
    const Data<L>& d = Data<L>::Get();
    Chain(state, d.v[0], [&](const typename L::Vec& v, int i) { return L::Point(d.a[i], v); });
}

template <class L> void QuatToMat4(benchmark::State& state)
{
    const Data<L>& d = Data<L>::Get();
    static typename L::Mat out[kBatch];
    Batch(state, out, [&](int i) { return L::FromQuat(d.q[i]); });
}

template <class L> void QuatProduct(benchmark::State& state)
{
    const Data<L>& d = Data<L>::Get();
    static typename L::Quat out[kBatch];
    Batch(state, out, [&](int i) { return L::QuatProduct(d.p[i], d.q[i]); });
}

template <class L> void QuatProductChain(benchmark::State& state)
{
    const Data<L>& d = Data<L>::Get();
    Chain(state, d.p[0], [&](const typename L::Quat& r, int i) { return L::QuatProduct(r, d.q[i]); });
}

template <class L> void Nlerp(benchmark::State& state)
{
    const Data<L>& d = Data<L>::Get();
    static typename L::Quat out[kBatch];
    Batch(state, out, [&](int i) { return L::Nlerp(d.t[i], d.p[i], d.q[i]); });
}

template <class L> void NlerpChain(benchmark::State& state)
{
    const Data<L>& d = Data<L>::Get();
    Chain(state, d.p[0], [&](const typename L::Quat& r, int i) { return L::Nlerp(d.t[i], r, d.q[i]); });
}

template <class L> void BoneStep(benchmark::State& state)
{
    const Data<L>& d = Data<L>::Get();
    static typename L::Mat out[kBatch];
    Batch(state, out, [&](int i) { return L::BoneStep(d.a[(i + 1) % kBatch], d.a[i], d.b[i], d.q[i]); });
}

// Down a chain of bones: each world matrix is the next bone's parent, as in
// the armature's update from the root down.
template <class L> void BoneStepChain(benchmark::State& state)
{
    const Data<L>& d = Data<L>::Get();
    Chain(state, d.a[0],
          [&](const typename L::Mat& parent, int i) { return L::BoneStep(parent, d.a[i], d.b[i], d.q[i]); });
}

// One line per operation: our time per operation, glm's, and their ratio
// (medians over the repetitions, CPU time).
void PrintRatios(const qvbench::Results& results)
{
    std::printf("ours / glm, CPU time per operation (median over the repetitions):\n");
    std::printf("  %-20s %10s %10s %8s\n", "operation", "qv ns", "glm ns", "ratio");
    for (const auto& entry : results)
    {
        const std::string& name = entry.first;
        const std::string suffix = "/qv";
        if (name.size() < suffix.size() || name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
            continue;
        const std::string op = name.substr(0, name.size() - suffix.size());
        const double ours = entry.second.MedianCpu() / kBatch;
        auto glm = results.find(op + "/glm");
        if (glm == results.end())
        {
            std::printf("  %-20s %10.3f %10s %8s\n", op.c_str(), ours, "-", "-");
            continue;
        }
        const double theirs = glm->second.MedianCpu() / kBatch;
        std::printf("  %-20s %10.3f %10.3f %8.3f\n", op.c_str(), ours, theirs, ours / theirs);
    }
}

void Register(const std::string& name, void (*fn)(benchmark::State&))
{
    benchmark::RegisterBenchmark(name.c_str(), fn);
}

} // namespace

int main(int argc, char** argv)
{
    // Each of our operations is registered next to glm's, so that the two run
    // one after the other. With --benchmark_repetitions=N and
    // --benchmark_enable_random_interleaving=true the repetitions are shuffled,
    // so a slow patch of the machine does not fall on one library only.
    struct Pair
    {
        const char* op;
        void (*qv)(benchmark::State&);
        void (*glm)(benchmark::State&);
    };
#if QV_HAVE_GLM
#define QV_PAIR(op, fn)                                                                                                \
    {                                                                                                                  \
        op, fn<Qv>, fn<Glm>                                                                                            \
    }
#else
#define QV_PAIR(op, fn)                                                                                                \
    {                                                                                                                  \
        op, fn<Qv>, nullptr                                                                                            \
    }
#endif
    const Pair pairs[] = {
        QV_PAIR("mat4_product", Mat4Product),
        QV_PAIR("mat4_product_chain", Mat4ProductChain),
        QV_PAIR("mat4_point", Mat4Point),
        QV_PAIR("mat4_point_chain", Mat4PointChain),
        QV_PAIR("quat_to_mat4", QuatToMat4),
        QV_PAIR("quat_product", QuatProduct),
        QV_PAIR("quat_product_chain", QuatProductChain),
        QV_PAIR("nlerp", Nlerp),
        QV_PAIR("nlerp_chain", NlerpChain),
        QV_PAIR("bone_step", BoneStep),
        QV_PAIR("bone_step_chain", BoneStepChain),
    };
#undef QV_PAIR
    for (const Pair& p : pairs)
    {
        Register(std::string(p.op) + "/qv", p.qv);
        if (p.glm)
            Register(std::string(p.op) + "/glm", p.glm);
    }

    return qvbench::RunWithSummary(argc, argv, PrintRatios);
}
