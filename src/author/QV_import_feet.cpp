// Stage: find feet. The ankles are found by their names (or named on the
// command line), or where names say nothing by the skeleton's shape; knees and hips are the ankle's ancestors that are really
// away from it, the toe tip the farthest joint below the ankle.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <iterator>

#include "QV_import.h"
#include "QV_import_stage.h"

namespace qvimport
{
namespace
{

// A name's words in lower case: split at separators, at a lower-case letter
// or digit followed by a capital ("lFoot", "LeftFoot") and at a capital that
// starts a word after capitals ("LFoot"); a namespace such as "mixamorig:"
// is dropped, and so are leading rig words ("Bip01", "B_", "Armature", ...).
std::vector<std::string> Words(const std::string& name)
{
    const size_t colon = name.find_last_of(':');
    const std::string s = name.substr(colon == std::string::npos ? 0 : colon + 1);
    std::vector<std::string> words;
    std::string w;
    for (size_t i = 0; i < s.size(); ++i)
    {
        const unsigned char c = (unsigned char)s[i];
        if (!std::isalnum(c))
        {
            if (!w.empty())
                words.push_back(w);
            w.clear();
            continue;
        }
        const unsigned char before = i > 0 ? (unsigned char)s[i - 1] : 0;
        const unsigned char after = i + 1 < s.size() ? (unsigned char)s[i + 1] : 0;
        const bool newWord =
            std::isupper(c) && !w.empty() && (std::islower(before) || std::isdigit(before) || std::islower(after));
        if (newWord)
        {
            words.push_back(w);
            w.clear();
        }
        w += (char)std::tolower(c);
    }
    if (!w.empty())
        words.push_back(w);
    const char* rigWords[] = {"bip001", "bip01", "bip", "b", "character1", "armature", "def", "mch", "jnt", "bn"};
    while (words.size() > 1 && std::find_if(std::begin(rigWords), std::end(rigWords),
                                            [&](const char* r) { return words[0] == r; }) != std::end(rigWords))
        words.erase(words.begin());
    return words;
}

// Lower case without separators, after the rig words (as Words).
std::string Normalised(const std::string& name)
{
    std::string out;
    for (const std::string& w : Words(name))
        out += w;
    for (const char* prefix : {"bip001", "bip01", "bip", "character1", "armature"})
    {
        const std::string p(prefix);
        if (out.size() > p.size() && out.compare(0, p.size(), p) == 0)
        {
            out.erase(0, p.size());
            break;
        }
    }
    return out;
}

// "LeftFoot", "lFoot", "foot_l", "Foot.L", "Ankle_Left", "Bip01 L Foot",
// "mixamorig:LeftFoot", "B_L_Foot": a side word and a foot word, nothing else.
bool IsFootName(const std::string& name, int side)
{
    const std::string n = Normalised(name);
    const char* words[2][2] = {{"left", "l"}, {"right", "r"}};
    for (const char* w : words[side])
        for (const char* part : {"ankle", "foot"})
        {
            const std::string a(w), b(part);
            if (n == a + b || n == b + a)
                return true;
        }
    return false;
}

int Depth(const sCapture& cap, int j)
{
    int d = 0;
    for (; cap.mJoints[j].mParent >= 0; j = cap.mJoints[j].mParent)
        ++d;
    return d;
}

int FindJoint(const sCapture& cap, const std::string& name)
{
    for (size_t j = 0; j < cap.mJoints.size(); ++j)
        if (cap.mJoints[j].mName == name)
            return (int)j;
    return -1;
}

std::string Candidates(const sCapture& cap)
{
    std::string list;
    int shown = 0;
    for (const sJoint& j : cap.mJoints)
    {
        const std::string n = Normalised(j.mName);
        bool legLike = false;
        for (const char* w : {"foot", "ankle", "toe", "leg", "knee", "heel", "shin", "calf"})
            legLike = legLike || n.find(w) != std::string::npos;
        if (legLike && shown < 24)
        {
            list += (shown ? ", '" : "'") + j.mName + "'";
            ++shown;
        }
    }
    if (!shown)
        for (const sJoint& j : cap.mJoints)
            if (shown < 24)
                list += (shown++ ? ", '" : "'") + j.mName + "'";
    return list;
}

// The first ancestor of j whose position is really away from j's (skips
// zero-length helper joints such as twist or roll joints).
int DistinctAncestor(const sCapture& cap, int j, double minDist)
{
    const std::vector<sVec3>& p = cap.mPosition[0];
    for (int a = cap.mJoints[j].mParent; a >= 0; a = cap.mJoints[a].mParent)
        if ((p[a] - p[j]).Length() > minDist)
            return a;
    return -1;
}

// ---- [SECTION] Shape ----------------------------------------------------------
// Rigs whose names say nothing ("nodes[5]", "Bone.007") are read by their
// shape: the legs are the two chains that hang from one joint, well above
// them, to the lowest ends of the skeleton.

// Up to this many frames, spread over the clip, stand for it.
const size_t kShapeFrames = 64;

std::vector<size_t> SpreadFrames(const sCapture& cap)
{
    std::vector<size_t> frames;
    const size_t n = cap.Frames();
    const size_t step = std::max<size_t>(1, n / kShapeFrames);
    for (size_t f = 0; f < n; f += step)
        frames.push_back(f);
    return frames;
}

double MedianOf(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// The file axis along which the figure is tallest over the clip, either way
// up. height: the figure's extent along it.
sVec3 TallestAxis(const sCapture& cap, double& height)
{
    const sVec3 axes[3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    const std::vector<size_t> frames = SpreadFrames(cap);
    double best = -1;
    sVec3 up;
    for (const sVec3& a : axes)
    {
        std::vector<double> extents;
        for (size_t f : frames)
        {
            double lo = INFINITY, hi = -INFINITY;
            for (const sVec3& p : cap.mPosition[f])
            {
                lo = std::min(lo, p.Dot(a));
                hi = std::max(hi, p.Dot(a));
            }
            extents.push_back(hi - lo);
        }
        const double e = MedianOf(extents);
        if (e > best)
        {
            best = e;
            up = a;
        }
    }
    height = best;
    return up;
}

int CommonJoint(const sCapture& cap, int a, int b)
{
    for (; a >= 0; a = cap.mJoints[a].mParent)
        if (IsBelow(cap, b, a))
            return a;
    return -1;
}

// Mean over the clip of what a joint gives.
template <class F> double MeanOver(const sCapture& cap, F of)
{
    const std::vector<size_t> frames = SpreadFrames(cap);
    double sum = 0;
    for (size_t f : frames)
        sum += of(cap.mPosition[f]);
    return sum / (double)frames.size();
}

// The ankle of a leg ending at `end`: going up from the end, the first joint
// whose segment to the joint above it is long and mostly upright (the shin;
// the toes and the foot lie along the floor).
int AnkleAbove(const sCapture& cap, int end, int top, const sVec3& up, double height, double minDist)
{
    for (int j = end; j >= 0 && j != top;)
    {
        const int a = DistinctAncestor(cap, j, minDist);
        if (a < 0)
            break;
        const double length = MeanOver(cap, [&](const std::vector<sVec3>& p) { return (p[a] - p[j]).Length(); });
        const double rise = MeanOver(cap, [&](const std::vector<sVec3>& p) { return (p[a] - p[j]).Dot(up); });
        if (length > 0.1 * height && rise > 0.5 * length)
            return j;
        j = a;
    }
    return -1;
}

// Two chains from top to the ends a and b mirror each other: as many joints,
// and lengths within a tenth.
bool Mirrored(const sCapture& cap, int top, int a, int b)
{
    const std::vector<sVec3>& p = cap.mPosition[0];
    double length[2] = {0, 0};
    int joints[2] = {0, 0};
    const int ends[2] = {a, b};
    for (int k = 0; k < 2; ++k)
        for (int j = ends[k]; j != top; j = cap.mJoints[j].mParent)
        {
            length[k] += (p[j] - p[cap.mJoints[j].mParent]).Length();
            ++joints[k];
        }
    return joints[0] == joints[1] && std::fabs(length[0] - length[1]) <= 0.1 * std::max(length[0], length[1]);
}

// The ankles, left first, of two mirrored legs that hang along -up from one
// joint to the lowest ends; false when there are none.
bool AnklesAlong(const sCapture& cap, const sVec3& up, double height, double minDist, int ankles[2])
{
    const size_t n = cap.mJoints.size();
    std::vector<char> hasChild(n, 0);
    for (const sJoint& j : cap.mJoints)
        if (j.mParent >= 0)
            hasChild[j.mParent] = 1;
    std::vector<std::pair<double, int>> ends;
    for (size_t j = 0; j < n; ++j)
        if (!hasChild[j])
            ends.push_back({MeanOver(cap, [&](const std::vector<sVec3>& p) { return p[j].Dot(up); }), (int)j});
    std::sort(ends.begin(), ends.end());
    // The lowest pair of ends that hang from a joint a quarter of the
    // figure above them, down separate chains (two ends of one foot meet
    // at its ankle, just above them).
    for (size_t b = 1; b < ends.size() && b < 12; ++b)
        for (size_t a = 0; a < b; ++a)
        {
            const int top = CommonJoint(cap, ends[a].second, ends[b].second);
            if (top < 0 || top == ends[a].second || top == ends[b].second ||
                !Mirrored(cap, top, ends[a].second, ends[b].second))
                continue;
            const double topHeight = MeanOver(cap, [&](const std::vector<sVec3>& p) { return p[top].Dot(up); });
            if (topHeight - ends[b].first < 0.25 * height)
                continue;
            int found[2] = {AnkleAbove(cap, ends[a].second, top, up, height, minDist),
                            AnkleAbove(cap, ends[b].second, top, up, height, minDist)};
            if (found[0] < 0 || found[1] < 0 || found[0] == top || found[1] == top)
                continue;
            // Left is to the left of where the feet point (ankle to the end),
            // or, for feet without toes, of where the pelvis travels.
            sVec3 forward = cap.mPosition.back()[top] - cap.mPosition.front()[top];
            const double toes = MeanOver(cap, [&](const std::vector<sVec3>& p) {
                return (p[ends[a].second] - p[found[0]] + p[ends[b].second] - p[found[1]]).Length();
            });
            if (toes > 0.05 * height)
                for (size_t f : SpreadFrames(cap))
                {
                    const std::vector<sVec3>& p = cap.mPosition[f];
                    forward = forward + p[ends[a].second] - p[found[0]] + p[ends[b].second] - p[found[1]];
                }
            forward = forward - up * forward.Dot(up);
            const sVec3 left = up.Cross(forward).Unit();
            const double side =
                MeanOver(cap, [&](const std::vector<sVec3>& p) { return (p[found[0]] - p[found[1]]).Dot(left); });
            if (left.Length() < 0.5 || side == 0)
                continue;
            ankles[0] = side > 0 ? found[0] : found[1];
            ankles[1] = side > 0 ? found[1] : found[0];
            return true;
        }
    return false;
}

// The ankles by the skeleton's shape, left first: the figure stands along
// its tallest axis, the way up in which two mirrored legs hang from one
// joint; false when no way up has them.
bool AnklesByShape(const sCapture& cap, double minDist, int ankles[2])
{
    double height = 0;
    const sVec3 axis = TallestAxis(cap, height);
    return AnklesAlong(cap, axis, height, minDist, ankles) || AnklesAlong(cap, axis * -1.0, height, minDist, ankles);
}

} // namespace

sFeet FindFeet(const sCapture& cap, const sOptions& opt)
{
    sFeet feet;
    const std::string* named[2] = {&opt.mLeftFoot, &opt.mRightFoot};
    const char* sideName[2] = {"left", "right"};

    // Skeleton size, to tell a real bone from a zero-length helper.
    double extent = 0;
    for (const sVec3& p : cap.mPosition[0])
        extent = std::max(extent, (p - cap.mPosition[0][0]).Length());
    const double minDist = std::max(extent * 1e-3, 1e-9);

    // Feet by name first; where names say nothing and none were given, by
    // the skeleton's shape.
    int byShape[2] = {-1, -1};
    bool shaped = false;
    if (named[0]->empty() && named[1]->empty())
    {
        bool byName = true;
        for (int side = 0; side < 2; ++side)
            byName = byName && std::any_of(cap.mJoints.begin(), cap.mJoints.end(),
                                           [&](const sJoint& j) { return IsFootName(j.mName, side); });
        shaped = !byName && AnklesByShape(cap, minDist, byShape);
    }
    for (int side = 0; side < 2; ++side)
    {
        int ankle = byShape[side];
        if (!named[side]->empty())
        {
            ankle = FindJoint(cap, *named[side]);
            if (ankle < 0)
                throw cImportError("no joint named '" + *named[side] + "' for the " + sideName[side] +
                                   " foot; joints that may be feet: " + Candidates(cap));
        }
        else if (!shaped)
        {
            // Where a rig has both an ankle and a foot joint, the upper one
            // is the ankle.
            for (size_t j = 0; j < cap.mJoints.size(); ++j)
                if (IsFootName(cap.mJoints[j].mName, side) && (ankle < 0 || Depth(cap, (int)j) < Depth(cap, ankle)))
                    ankle = (int)j;
        }
        if (ankle < 0)
            throw cImportError(std::string("no ") + sideName[side] +
                               " foot found by name or by the skeleton's shape; name the ankles with --left-foot and "
                               "--right-foot; joints "
                               "that may be feet: " +
                               Candidates(cap));
        sLeg& leg = feet.mLeg[side];
        leg.mAnkle = ankle;
        leg.mKnee = DistinctAncestor(cap, ankle, minDist);
        leg.mHip = leg.mKnee >= 0 ? DistinctAncestor(cap, leg.mKnee, minDist) : -1;
        if (leg.mHip < 0)
            throw cImportError("the " + std::string(sideName[side]) + " foot '" + cap.mJoints[ankle].mName +
                               "' has no knee and hip above it");
        const std::vector<sVec3>& p = cap.mPosition[0];
        leg.mLength = (p[leg.mKnee] - p[leg.mHip]).Length() + (p[leg.mAnkle] - p[leg.mKnee]).Length();

        // The toe tip: the joint below the ankle farthest from it.
        double far = minDist;
        for (size_t j = 0; j < cap.mJoints.size(); ++j)
        {
            int a = (int)j;
            while (a >= 0 && a != ankle)
                a = cap.mJoints[a].mParent;
            if (a == ankle && (int)j != ankle && (p[j] - p[ankle]).Length() > far)
            {
                far = (p[j] - p[ankle]).Length();
                leg.mTip = (int)j;
            }
        }
        for (int t = leg.mTip; t >= 0 && t != ankle; t = cap.mJoints[t].mParent)
            if (cap.mJoints[t].mParent == ankle)
                leg.mToe = t;
    }
    if (feet.mLeg[0].mAnkle == feet.mLeg[1].mAnkle)
        throw cImportError("the left and the right foot are the same joint '" + cap.mJoints[feet.mLeg[0].mAnkle].mName +
                           "'");

    // The pelvis: the joint both legs hang from.
    for (int a = feet.mLeg[0].mHip; a >= 0 && feet.mPelvis < 0; a = cap.mJoints[a].mParent)
        for (int b = feet.mLeg[1].mHip; b >= 0; b = cap.mJoints[b].mParent)
            if (a == b)
            {
                feet.mPelvis = a;
                break;
            }
    if (feet.mPelvis < 0 || feet.mPelvis == feet.mLeg[0].mAnkle || feet.mPelvis == feet.mLeg[1].mAnkle)
        throw cImportError("the two feet do not hang from one pelvis");
    for (int side = 0; side < 2; ++side)
    {
        // A leg must hang below the pelvis, not contain it.
        for (int a = feet.mLeg[side].mHip; a >= 0; a = cap.mJoints[a].mParent)
            if (a == feet.mLeg[1 - side].mAnkle)
                throw cImportError("one foot hangs below the other");
    }
    return feet;
}

} // namespace qvimport
