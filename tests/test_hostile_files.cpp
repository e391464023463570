// "Bad data never turns into not-a-numbers", as a property: hundreds of
// generated actor files full of edge values (keys just inside the length
// tolerance, single and out-of-order-looking keys, zero-length bones, flat
// and zero rest matrices, stretches and distances near the limits, roots
// without children, children on their parent's head, times at the ends of
// their range) are either refused by the loader with its one-line message or
// played through every action with the demo's character step for hundreds
// of frames of assorted lengths, and then every world matrix and every foot
// lock's position stays finite in every frame.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "QV_actor.h"
#include "QV_character.h"
#include "QV_xml.h"

namespace
{
class cHostileFile
{
public:
    explicit cHostileFile(unsigned int seed) : mRng(seed) {}

    // One file's text. mEdge says whether it holds a value within a few
    // percent of one of the loader's limits.
    std::string Make()
    {
        mEdge = false;
        mWild = Chance(0.3);
        mBigUsed = false;
        const int bones = Chance(0.3) ? Int(1, 8) : Int(9, 40); // 9 or more: both feet exist
        const bool chain = Chance(0.3);
        std::vector<int> parent(bones, -1);
        for (int i = 1; i < bones; ++i)
            parent[i] = chain ? i - 1 : Int(0, i - 1);

        std::string skeleton, nodes;
        for (int i = 0; i < bones; ++i)
        {
            skeleton +=
                "<bone name=\"" + Name(i) + "\" len=\"" + Length() + "\"><matrix>" + Matrix() + "</matrix></bone>\n";
            nodes += "<node name=\"" + Name(i) + "\">" + (i == 0 ? std::string("NULL") : Name(parent[i])) + "</node>\n";
        }
        std::string actions;
        const int count = Chance(0.8) ? 3 : Int(1, 3);
        for (int a = 0; a < count; ++a)
        {
            const char* const lengths[] = {"0", "1", "34", "500", "1000", "4294967295"};
            actions += "<action name=\"a" + std::to_string(a) + "\" len=\"" + lengths[Int(0, 5)] + "\">\n";
            const int channels = Chance(0.8) ? bones : Int(1, bones);
            for (int c = 0; c < channels; ++c)
                actions += Channel();
            actions += "</action>\n";
        }
        return "<QVArmature><armature name=\"hostile\"><skeleton bones=\"" + std::to_string(bones) + "\">\n" +
               skeleton + "</skeleton><heirachy>\n" + nodes + "</heirachy></armature>\n<actions>\n" + actions +
               "</actions></QVArmature>\n";
    }

    bool mEdge = false;

private:
    std::mt19937 mRng;
    // A wild file may hold values of any size anywhere (most are refused); a
    // tame one holds unit-ish keys and modest matrices, with at most one
    // stretch, translation or length near the limits (bigUsed).
    bool mWild = false;
    bool mBigUsed = false;

    // Whether this value may be one of the big ones.
    bool Big(double p)
    {
        if (!Chance(p) || (!mWild && mBigUsed))
            return false;
        mBigUsed = true;
        return true;
    }

    bool Chance(double p) { return std::uniform_real_distribution<double>(0.0, 1.0)(mRng) < p; }
    int Int(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(mRng); }
    double Real(double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(mRng); }
    // A magnitude spread evenly over the decades from 10^lo to 10^hi.
    double Decades(double lo, double hi) { return std::pow(10.0, Real(lo, hi)); }

    static std::string Num(double v)
    {
        char buf[40];
        std::snprintf(buf, sizeof buf, "%.9g", v);
        return buf;
    }
    static std::string Name(int i)
    {
        char buf[32];
        if (i == 0)
            return "Bone";
        std::snprintf(buf, sizeof buf, "Bone.%03d", i);
        return buf;
    }

    std::string Length()
    {
        if (Big(0.05))
        {
            mEdge = true;
            return Num(Decades(5.0, 6.0));
        }
        switch (Int(0, 2))
        {
        case 0: return "0";
        case 1: return Num(Real(0.0, 2.0));
        default: return Num(-Real(0.0, 2.0));
        }
    }

    // A random unit axis.
    void Axis(double v[3])
    {
        double n = 0.0;
        do
        {
            for (int i = 0; i < 3; ++i)
                v[i] = Real(-1.0, 1.0);
            n = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
        } while (n < 1e-3);
        for (int i = 0; i < 3; ++i)
            v[i] /= n;
    }

    // Twelve numbers, row by row: a rotation block of many kinds and a
    // translation from nothing to near the limit.
    std::string Matrix()
    {
        double r[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
        double axis[3];
        Axis(axis);
        const double angle = Real(-M_PI, M_PI), c = std::cos(angle), s = std::sin(angle), t = 1.0 - c;
        double rot[3][3] = {
            {t * axis[0] * axis[0] + c, t * axis[0] * axis[1] - s * axis[2], t * axis[0] * axis[2] + s * axis[1]},
            {t * axis[0] * axis[1] + s * axis[2], t * axis[1] * axis[1] + c, t * axis[1] * axis[2] - s * axis[0]},
            {t * axis[0] * axis[2] - s * axis[1], t * axis[1] * axis[2] + s * axis[0], t * axis[2] * axis[2] + c}};
        double scale = 1.0;
        switch (Int(0, mWild ? 6 : 4))
        {
        case 0: break; // identity
        case 1:        // a rotation
            for (int i = 0; i < 3; ++i)
                for (int j = 0; j < 3; ++j)
                    r[i][j] = rot[i][j];
            break;
        case 2: // nothing at all
            scale = 0.0;
            break;
        case 3: // flat: every row the same direction
            for (int i = 0; i < 3; ++i)
                for (int j = 0; j < 3; ++j)
                    r[i][j] = axis[j] * (i + 1) / 4.0;
            break;
        case 4: // a rotation shrunk, or (once in a tame file) stretched a lot
            for (int i = 0; i < 3; ++i)
                for (int j = 0; j < 3; ++j)
                    r[i][j] = rot[i][j];
            if (Big(0.3))
            {
                scale = Decades(4.0, 6.0);
                mEdge = mEdge || scale > 1e5;
            }
            else
                scale = Decades(-6.0, 0.0);
            break;
        case 5: // any entries, of any size up to beyond the limit
            scale = Decades(-3.0, 7.0);
            for (int i = 0; i < 3; ++i)
                for (int j = 0; j < 3; ++j)
                    r[i][j] = Real(-1.0, 1.0);
            break;
        default: // one huge entry
            r[Int(0, 2)][Int(0, 2)] = Chance(0.5) ? 1e30 : 9.9e5;
            break;
        }
        double tr[3] = {0, 0, 0};
        if (mWild && Chance(0.2))
        {
            for (double& v : tr)
                v = Real(-1.0, 1.0) * Decades(3.0, 7.0);
        }
        else if (Big(0.05))
        {
            tr[Int(0, 2)] = (Chance(0.5) ? 1.0 : -1.0) * Real(9e5, 9.99e5);
            mEdge = true;
        }
        else if (Chance(0.7)) // else on the parent's head: no direction to the child
        {
            for (double& v : tr)
                v = Real(-3.0, 3.0);
        }
        std::string out;
        for (int i = 0; i < 3; ++i)
        {
            for (int j = 0; j < 3; ++j)
                out += Num(r[i][j] * scale) + ",";
            out += Num(tr[i]) + (i < 2 ? ", " : "");
        }
        return out;
    }

    // A key's quaternion: unit, or just inside the tolerance, or (rarely)
    // far outside it, zero, or the opposite of a unit one.
    std::string Quat()
    {
        double axis[3];
        Axis(axis);
        const double half = Real(-M_PI, M_PI) / 2.0;
        double q[4] = {std::cos(half), axis[0] * std::sin(half), axis[1] * std::sin(half), axis[2] * std::sin(half)};
        double length = 1.0;
        switch (Int(0, 9))
        {
        case 0:
            length = 1.0099;
            mEdge = true;
            break;
        case 1:
            length = 0.9901;
            mEdge = true;
            break;
        case 2: length = Real(0.991, 1.009); break;
        case 3: length = -1.0; break; // the same rotation, the other sign
        case 4: length = mWild && Chance(0.2) ? (Chance(0.5) ? 0.0 : Decades(0.1, 20.0)) : 1.0; break;
        default: break;
        }
        for (double& v : q)
            v *= length;
        return "<quat w=\"" + Num(q[0]) + "\" x=\"" + Num(q[1]) + "\" y=\"" + Num(q[2]) + "\" z=\"" + Num(q[3]) +
               "\"/>";
    }

    std::string Channel()
    {
        const int keys = Chance(0.4) ? 1 : Int(2, 5);
        std::vector<unsigned int> times;
        for (int k = 0; k < keys; ++k)
            times.push_back(Chance(0.1) ? 4294967295u : (unsigned int)Int(0, 1200));
        std::sort(times.begin(), times.end());
        std::string out = "<channel><keyframes keys=\"" + std::to_string(keys) + "\">";
        for (int k = 0; k < keys; ++k)
            out += "<key t=\"" + std::to_string(times[k]) + "\">" + Quat() + "</key>";
        return out + "</keyframes></channel>\n";
    }
};

bool Finite(const cMatrix4D& m)
{
    for (float v : m._m)
        if (!std::isfinite(v))
            return false;
    return true;
}

bool Finite(const cVector3D& v)
{
    return std::isfinite(v.mData[0]) && std::isfinite(v.mData[1]) && std::isfinite(v.mData[2]);
}

// Where the actor first holds something that is not finite, or "".
std::string NonFinite(const cActor& a)
{
    for (const cBone& b : a.mArmature.mBones)
        if (!Finite(b.mWorldTransform))
            return "the world matrix of " + b.mName;
    for (const cFootLock* lock : {&a.mLeftFoot, &a.mRightFoot})
        if (!Finite(lock->mLastPosition) || !Finite(lock->mLockedPosition) || !Finite(lock->mDir) ||
            !Finite(lock->mOffset))
            return "a foot lock";
    return "";
}
} // namespace

TEST(HostileFiles, EveryAcceptedFilePlaysEveryActionWithFiniteWorldMatrices)
{
    cHostileFile gen(20261207u);
    const unsigned int steps[] = {16, 16, 1, 33, 0, 16, 250, 16, 4000, 16, 100000};
    int accepted = 0, acceptedAtTheEdge = 0, refused = 0;
    for (int file = 0; file < 600; ++file)
    {
        const std::string text = gen.Make();
        cActor actor;
        try
        {
            ReadActorFromMemory(text.data(), text.size(), actor);
        }
        catch (const cXmlError& e)
        {
            ++refused;
            if (getenv("QV_SHOW_REFUSALS"))
                std::printf("%s\n", e.what());
            ASSERT_EQ(std::string(e.what()).compare(0, 11, "XML ERROR: "), 0) << e.what();
            continue;
        }
        ++accepted;
        acceptedAtTheEdge += gen.mEdge ? 1 : 0;
        actor.SetConstraints();
        actor.UpdateArmature();
        ASSERT_EQ(NonFinite(actor), "") << "file " << file << " before the first frame:\n" << text;

        // Each action in turn, as the demo plays them: the first walk
        // turning left, standing, the second walk turning right.
        for (int phase = 0; phase < 3; ++phase)
        {
            sSteering steer;
            steer.mWalk = phase != 1;
            steer.mTurnLeft = phase == 0;
            steer.mTurnRight = phase == 2;
            actor.mWalkCycle = phase == 2 ? kSecondWalkSlot : kWalkSlot;
            for (int frame = 0; frame < 150; ++frame)
            {
                StepCharacter(actor, steps[frame % (sizeof steps / sizeof steps[0])], steer);
                const std::string bad = NonFinite(actor);
                ASSERT_EQ(bad, "") << "file " << file << ", phase " << phase << ", frame " << frame << ":\n" << text;
            }
        }
    }
    // The generator must keep testing both sides of the limits.
    EXPECT_GE(accepted, 200);
    EXPECT_GE(refused, 100);
    EXPECT_GE(acceptedAtTheEdge, 50);
    std::printf("%d files played, %d of them with values at the limits; %d refused\n", accepted, acceptedAtTheEdge,
                refused);
}
