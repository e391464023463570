#include "QV_measure_host.h"

#include <cmath>

#include <algorithm>

#include "QV_xml.h"

namespace measure
{

namespace
{
std::string OneLine(std::string s)
{
    for (char& c : s)
        if ((unsigned char)c < 0x20 || c == 0x7f)
            c = '?';
    return s;
}
} // namespace

cMeasureError::cMeasureError(const std::string& what) : cQVError(OneLine(what)) {}

cHost::cHost(const std::string& path, const sSwitches& switches)
{
    ReadActorFromXML(path.c_str(), mActor);
    Prepare(switches);
}

cHost::cHost(const sActorText& text, const sSwitches& switches)
{
    ReadActorFromMemory(text.mText.data(), text.mText.size(), mActor);
    Prepare(switches);
}

void cHost::Prepare(const sSwitches& switches)
{
    const std::string problem = PrepareCharacter(mActor);
    if (!problem.empty())
        throw cMeasureError(problem);
    mActor.mCrossFade = switches.mCrossFade;
    mActor.mContactLock = switches.mContactLock;
    for (const cBone& b : mActor.mArmature.mBones)
        mHeight = std::max(mHeight, (double)std::max(b.mWorldTransform.getTransform().mData[1], Tip(b).mData[1]));
}

void cHost::Frame(unsigned int dt, bool walk)
{
    sSteering steering;
    steering.mWalk = walk;
    Frame(dt, steering);
}

cVector3D cHost::Unshifted(const cVector3D& p) const
{
    const long long* shift = mActor.mOriginShift;
    return p + cVector3D((float)shift[0], (float)shift[1], (float)shift[2]);
}

cVector3D cHost::Root() const { return Unshifted(mActor.mArmature.mRootBone->mWorldTransform.getTransform()); }

bool cHost::Finite() const
{
    for (const cBone& b : mActor.mArmature.mBones)
        for (float v : b.mWorldTransform._m)
            if (!std::isfinite(v))
                return false;
    return true;
}

} // namespace measure
