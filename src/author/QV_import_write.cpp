// Stage: write file. The actor file as docs/actor-file.md describes it; the
// root channel's keys carry the hips' height over their rest height as "h".
#include "QV_actor_file.h"
#include "QV_import.h"

namespace qvimport
{
namespace
{

author::sFileBone FileBone(const sOutBone& b)
{
    author::sFileBone out;
    out.mName = b.mName;
    out.mParent = b.mParent;
    out.mLength = b.mLength;
    double r[3][3];
    b.mRest.Unit().ToMatrix(r);
    const double t[3] = {b.mOffset.x, b.mOffset.y, b.mOffset.z};
    for (int row = 0; row < 3; ++row)
    {
        for (int col = 0; col < 3; ++col)
            out.mRest[row][col] = r[row][col];
        out.mRest[row][3] = t[row];
    }
    return out;
}

author::sFileKey FileKey(const sKey& k)
{
    author::sFileKey out;
    out.mTime = k.mTime;
    out.mW = k.mValue.w;
    out.mX = k.mValue.x;
    out.mY = k.mValue.y;
    out.mZ = k.mValue.z;
    out.mHasHeight = k.mHasHeight;
    out.mHeight = k.mHeight;
    return out;
}

} // namespace

std::string WriteActorXml(const sActorOut& actor)
{
    author::sActorFile file;
    file.mProlog = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    file.mName = actor.mName;
    for (const sOutBone& b : actor.mBones)
        file.mBones.push_back(FileBone(b));
    for (const sOutAction& a : actor.mAction)
    {
        author::sFileAction action;
        action.mName = a.mName;
        action.mLength = a.mLength;
        for (const std::vector<sKey>& channel : a.mChannels)
        {
            action.mChannels.emplace_back();
            for (const sKey& k : channel)
                action.mChannels.back().push_back(FileKey(k));
        }
        file.mActions.push_back(action);
    }
    file.mBody = actor.mBody;
    // Seven significant digits: all a float holds.
    return author::FormatActorFile(file, author::SevenDigits);
}

} // namespace qvimport
