// Stage: find feet. The ankles are found by their names (or named on the
// command line); knees and hips are the ankle's ancestors that are really
// away from it, the toe tip the farthest joint below the ankle.
#include <algorithm>
#include <cctype>

#include "QV_import.h"

namespace qvimport
{
namespace
{

// Lower case without separators, and without a namespace such as
// "mixamorig:" or a rig prefix such as "Bip01".
std::string Normalised(const std::string& name)
{
    std::string s = name.substr(name.find_last_of(':') == std::string::npos ? 0 : name.find_last_of(':') + 1);
    std::string out;
    for (char c : s)
        if (std::isalnum((unsigned char)c))
            out += (char)std::tolower((unsigned char)c);
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

    for (int side = 0; side < 2; ++side)
    {
        int ankle = -1;
        if (!named[side]->empty())
        {
            ankle = FindJoint(cap, *named[side]);
            if (ankle < 0)
                throw cImportError("no joint named '" + *named[side] + "' for the " + sideName[side] +
                                   " foot; joints that may be feet: " + Candidates(cap));
        }
        else
        {
            // Where a rig has both an ankle and a foot joint, the upper one
            // is the ankle.
            for (size_t j = 0; j < cap.mJoints.size(); ++j)
                if (IsFootName(cap.mJoints[j].mName, side) && (ankle < 0 || Depth(cap, (int)j) < Depth(cap, ankle)))
                    ankle = (int)j;
        }
        if (ankle < 0)
            throw cImportError(std::string("no ") + sideName[side] +
                               " foot found by name; name the ankles with --left-foot and --right-foot; joints "
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
