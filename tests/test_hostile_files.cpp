// "Bad data never turns into not-a-numbers", as a property: hundreds of
// generated actor files full of edge values (keys just inside the length
// tolerance, single and out-of-order-looking keys, zero-length bones, flat
// and zero rest matrices, stretches and distances near the limits, roots
// without children, children on their parent's head, times at the ends of
// their range) are either refused by the loader with its one-line message or
// played through every action with the demo's character step for hundreds
// of frames of assorted lengths, and then every world matrix and every foot
// lock's position stays finite in every frame. Half the files also carry a
// body (positions and texture coordinates near the limit, normals barely
// longer than zero, weights at the edge of their tolerance, bones that are
// flat or shrunk, degenerate triangles, textures broken in many ways): each
// is refused with one line or skinned every frame into finite positions and
// unit normals.

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
    // The body has a generator of its own, so that the skeletons and actions
    // are the same with and without bodies.
    explicit cHostileFile(unsigned int seed) : mRng(seed), mBodyRng(seed ^ 0x9e3779b9u) {}

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
        mShrink.assign(bones, 1.0);
        for (int i = 0; i < bones; ++i)
        {
            skeleton +=
                "<bone name=\"" + Name(i) + "\" len=\"" + Length() + "\"><matrix>" + Matrix() + "</matrix></bone>\n";
            mShrink[i] = mMatrixShrink * (i ? mShrink[parent[i]] : 1.0);
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
        mBody = BodyChance(0.5);
        return "<QVArmature><armature name=\"hostile\"><skeleton bones=\"" + std::to_string(bones) + "\">\n" +
               skeleton + "</skeleton><heirachy>\n" + nodes + "</heirachy></armature>\n<actions>\n" + actions +
               "</actions>" + (mBody ? Body(bones) : std::string()) + "</QVArmature>\n";
    }

    bool mEdge = false;
    bool mBody = false;     // the file has a body
    bool mBodyEdge = false; // with a value within a few percent of one of the body's limits

private:
    std::mt19937 mRng;
    std::mt19937 mBodyRng;
    // A wild file may hold values of any size anywhere (most are refused); a
    // tame one holds unit-ish keys and modest matrices, with at most one
    // stretch, translation or length near the limits (bigUsed).
    bool mWild = false;
    bool mBigUsed = false;
    // How far the last rest matrix shrinks a vector at most, roughly (0 for
    // a flat one, or one of any entries, whose inverse is anyone's guess),
    // and per bone the same down its chain: a body follows only the bones
    // whose rest frame it can invert, but for a fault.
    double mMatrixShrink = 1.0;
    std::vector<double> mShrink;

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
        const int kind = Int(0, mWild ? 6 : 4);
        switch (kind)
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
        mMatrixShrink = kind == 2 || kind == 3 || kind == 5 ? 0.0 : std::min(scale, 1.0);
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

    // The body's draws.
    bool BodyChance(double p) { return std::uniform_real_distribution<double>(0.0, 1.0)(mBodyRng) < p; }
    int BodyInt(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(mBodyRng); }
    double BodyReal(double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(mBodyRng); }

    // What, if anything, breaks a rule in this body: one value of one
    // vertex (mFaultVertex), so that most bodies load.
    enum eFault
    {
        NO_FAULT,
        FAR_POSITION,  // a coordinate just beyond the limit
        ZERO_NORMAL,   // a normal without direction
        SHORT_WEIGHTS, // weights summing to just outside the tolerance
        FIVE_BONES,
        NO_SUCH_BONE,
        NO_SUCH_VERTEX, // in a triangle
        FLAT_BONE,      // a vertex follows a bone whose rest frame is flat
        FAULT_KINDS
    };
    eFault mFault = NO_FAULT;
    int mFaultVertex = 0;
    bool Faulty(int vertex, eFault kind) const { return mFault == kind && vertex == mFaultVertex; }

    // A coordinate: small, or (rarely) just inside the limit.
    std::string Coordinate(double small, bool far)
    {
        if (far || BodyChance(0.02))
        {
            mBodyEdge = true;
            return Num((BodyChance(0.5) ? 1.0 : -1.0) * (far ? 1.001e6 : 9.99e5));
        }
        return Num(BodyReal(-small, small));
    }

    // A direction, now and then barely longer than zero or very long.
    std::string Normal(bool zero)
    {
        double n[3] = {BodyReal(-1, 1), BodyReal(-1, 1), BodyReal(-1, 1)};
        double scale = zero ? 0.0 : 1.0;
        if (!zero && BodyChance(0.05))
            scale = BodyChance(0.5) ? 1.1e-6 : 1e5;
        if (scale != 1.0)
        {
            mBodyEdge = true;
            const double len = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
            for (double& v : n)
                v = len > 0 ? v / len * scale : 0.0;
        }
        return Num(n[0]) + " " + Num(n[1]) + " " + Num(n[2]) + "\n";
    }

    // One vertex's group: one to four bones with weights summing to 1, or
    // just inside the tolerance, now and then a zero weight.
    std::string Weights(int bones, int vertex)
    {
        // The bones the body may follow: those that can be inverted, or any
        // (for the fault, or when none can).
        std::vector<int> usable;
        for (int b = 0; b < bones; ++b)
            if (mShrink[b] > 1e-5 || Faulty(vertex, FLAT_BONE))
                usable.push_back(b);
        if (usable.empty())
            usable.push_back(0);
        const int count = Faulty(vertex, FIVE_BONES) ? 5 : std::min(BodyInt(1, 4), (int)usable.size());
        std::vector<double> w(count);
        double sum = 0;
        for (double& v : w)
            sum += (v = BodyChance(0.1) ? 0.0 : BodyReal(0.0, 1.0));
        if (sum == 0)
            w[0] = sum = 1;
        double target = 1.0;
        if (Faulty(vertex, SHORT_WEIGHTS))
            target = 1.0 + (BodyChance(0.5) ? 0.011 : -0.011);
        else if (BodyChance(0.05))
        {
            mBodyEdge = true;
            target = 1.0 + BodyReal(-0.0099, 0.0099);
        }
        std::string out;
        const int first = BodyInt(0, (int)usable.size() - 1);
        for (int k = 0; k < count; ++k)
        {
            const int b = Faulty(vertex, NO_SUCH_BONE) && k == 0 ? bones : usable[(first + k) % usable.size()];
            out += std::to_string(b) + " " + Num(w[k] / sum * target) + " ";
        }
        return out + ";\n";
    }

    // A 2 x 2 PNG, whole or broken: cut short, a byte changed, not base64.
    std::string Texture()
    {
        std::string png =
            "iVBORw0KGgoAAAANSUhEUgAAAAIAAAACCAYAAABytg0kAAAAEUlEQVR4nGM4Ma3iPwgzwBgAZPgLVZtXv3wAAAAASUVORK5CYII=";
        switch (BodyInt(0, 5))
        {
        case 0: png = png.substr(0, 4 * (size_t)BodyInt(0, (int)png.size() / 4 - 1)); break;
        case 1: png[(size_t)BodyInt(0, (int)png.size() - 3)] = "AZaz09+/"[BodyInt(0, 7)]; break;
        case 2: png[(size_t)BodyInt(0, (int)png.size() - 1)] = '!'; break;
        default: break;
        }
        return "<texture>" + png + "</texture>";
    }

    std::string Body(int bones)
    {
        mBodyEdge = false;
        const int vertices = BodyInt(1, 40), triangles = BodyInt(1, 60);
        mFault = BodyChance(0.3) ? (eFault)BodyInt(1, FAULT_KINDS - 1) : NO_FAULT;
        mFaultVertex = BodyInt(0, vertices - 1);
        const double size = BodyChance(0.8) ? 3.0 : 1e5;
        std::string positions, normals, texcoords, weights, tris;
        for (int v = 0; v < vertices; ++v)
        {
            positions += Coordinate(size, Faulty(v, FAR_POSITION)) + " " + Coordinate(size, false) + " " +
                         Coordinate(size, false) + "\n";
            normals += Normal(Faulty(v, ZERO_NORMAL));
            texcoords += Coordinate(2.0, false) + " " + Coordinate(2.0, false) + "\n";
            weights += Weights(bones, v);
        }
        for (int t = 0; t < 3 * triangles; ++t)
            tris += std::to_string(Faulty(t, NO_SUCH_VERTEX) ? vertices : BodyInt(0, vertices - 1)) + " ";
        const bool textured = BodyChance(0.3);
        return "<body vertices=\"" + std::to_string(vertices) + "\" triangles=\"" + std::to_string(triangles) +
               "\">\n<positions>" + positions + "</positions>\n<normals>" + normals + "</normals>\n" +
               (textured || BodyChance(0.3) ? "<texcoords>" + texcoords + "</texcoords>\n" : "") + "<weights>" +
               weights + "</weights>\n<triangles>" + tris + "</triangles>" + (textured ? Texture() : "") + "</body>\n";
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

// Where the skinned body first holds something that is not finite, or a
// normal that is not of unit length, or "".
std::string BadSkin(const cBody& body)
{
    for (size_t i = 0; i < body.mPositions.size(); ++i)
        if (!Finite(body.mPositions[i]))
            return "the position of vertex " + std::to_string(i);
    for (size_t i = 0; i < body.mNormals.size(); ++i)
        if (!Finite(body.mNormals[i]) || std::fabs(body.mNormals[i].length() - 1.0f) > 1e-3f)
            return "the normal of vertex " + std::to_string(i);
    return "";
}
} // namespace

TEST(HostileFiles, EveryAcceptedFilePlaysEveryActionWithFiniteWorldMatrices)
{
    cHostileFile gen(20261207u);
    const unsigned int steps[] = {16, 16, 1, 33, 0, 16, 250, 16, 4000, 16, 100000};
    int accepted = 0, acceptedAtTheEdge = 0, refused = 0;
    int bodies = 0, bodiesAtTheEdge = 0, textured = 0, bodiesRefused = 0;
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
            bodiesRefused += gen.mBody ? 1 : 0;
            if (getenv("QV_SHOW_REFUSALS"))
                std::printf("%s\n", e.what());
            ASSERT_EQ(std::string(e.what()).compare(0, 11, "XML ERROR: "), 0) << e.what();
            continue;
        }
        ++accepted;
        acceptedAtTheEdge += gen.mEdge ? 1 : 0;
        bodies += actor.mBody.Empty() ? 0 : 1;
        bodiesAtTheEdge += !actor.mBody.Empty() && gen.mBodyEdge ? 1 : 0;
        textured += actor.mBody.mTexture.Empty() ? 0 : 1;
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
                actor.mBody.Skin(actor.mArmature);
                const std::string bad = NonFinite(actor) + BadSkin(actor.mBody);
                ASSERT_EQ(bad, "") << "file " << file << ", phase " << phase << ", frame " << frame << ":\n" << text;
            }
        }
    }
    // The generator must keep testing both sides of the limits.
    EXPECT_GE(accepted, 200);
    EXPECT_GE(refused, 100);
    EXPECT_GE(acceptedAtTheEdge, 50);
    EXPECT_GE(bodies, 60);
    EXPECT_GE(bodiesAtTheEdge, 20);
    EXPECT_GE(textured, 10);
    EXPECT_GE(bodiesRefused, 60);
    std::printf("%d files played, %d of them with values at the limits; %d refused\n", accepted, acceptedAtTheEdge,
                refused);
    std::printf("%d bodies skinned (%d with values at the limits, %d textured); %d files with a body refused\n", bodies,
                bodiesAtTheEdge, textured, bodiesRefused);
}
