#include "QV_draw.h"

#include <GL/gl.h>
#include <GL/glu.h>

#include <cmath>

#include "QV_armature.h"

void SetupViewState(unsigned int w, unsigned int h)
{
    glClearColor(0.5f, 0.5f, 0.6f, 1.0f);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(45.0, (double)w / (double)h, (double)0.1f, 100.0);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LEQUAL);
}

void BeginFrame(const cVector3D& eye, const cVector3D& at)
{
    glClearColor(0.5f, 0.5f, 0.6f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);

    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    gluLookAt(eye.mData[0], eye.mData[1], eye.mData[2], at.mData[0], at.mData[1], at.mData[2], 0.0, 1.0, 0.0);
}

void DrawGrid() { DrawGrid(cVector3D(0.0f, 0.0f, 0.0f)); }

void DrawGrid(const cVector3D& around)
{
    // The cell corner nearest the point, in doubles so that the sums below
    // are exact whole numbers before they become floats; a point that is not
    // finite gets the grid at the origin.
    double cx = floor((double)around.mData[0] + 0.5);
    double cz = floor((double)around.mData[2] + 0.5);
    if (!std::isfinite(cx) || !std::isfinite(cz))
        cx = cz = 0.0;
    glColor3f(0.0f, 0.0f, 0.0f);
    glBegin(GL_LINES);
    for (int i = -100; i <= 100; ++i)
    {
        const float x = (float)(cx + i), z = (float)(cz + i);
        glVertex3f(x, 0.0f, (float)(cz + 100.0));
        glVertex3f(x, 0.0f, (float)(cz - 100.0));
        glVertex3f((float)(cx + 100.0), 0.0f, z);
        glVertex3f((float)(cx - 100.0), 0.0f, z);
    }
    glEnd();
}

namespace
{
// Where the lock last held its foot: the ankle, or with contact locks the
// contact point it stood on.
const cVector3D& HeldPoint(const cActor& actor, const cFootLock& lock)
{
    if (actor.mContactLock && lock.mContactPrimed)
        return lock.mContactLast[lock.mContact];
    return lock.mLastPosition;
}
} // namespace

void DrawFootMarkers(const cActor& actor)
{
    if (!actor.mArmature.mRootBone)
        return;
    const cVector3D root = actor.mArmature.mRootBone->mWorldTransform.getTransform();
    const cVector3D tip = root + actor.mLeftFoot.mDir;
    glColor3f(0.0f, 1.0f, 0.0f);
    glBegin(GL_LINES);
    glVertex3f(root.mData[0], root.mData[1], root.mData[2]);
    glVertex3f(tip.mData[0], tip.mData[1], tip.mData[2]);
    glEnd();

    glPointSize(4.0f);
    glColor3f(1.0f, 0.0f, 0.0f);
    glBegin(GL_POINTS);
    const cVector3D& r = HeldPoint(actor, actor.mRightFoot);
    const cVector3D& l = HeldPoint(actor, actor.mLeftFoot);
    glVertex3f(r.mData[0], r.mData[1], r.mData[2]);
    glVertex3f(l.mData[0], l.mData[1], l.mData[2]);
    glEnd();
}

void BoneOutline(float length, cVector3D out[24])
{
    const float k = (float)(length * 0.1);
    const cVector3D head(0.0f, 0.0f, 0.0f), tail(0.0f, length, 0.0f);
    const cVector3D waist[4] = {cVector3D(k, k, 0.0f), cVector3D(-k, k, 0.0f), cVector3D(0.0f, k, k),
                                cVector3D(0.0f, k, -k)};
    int n = 0;
    // Head and tail to the four waist points.
    for (const cVector3D& w : waist)
    {
        out[n++] = head;
        out[n++] = w;
        out[n++] = w;
        out[n++] = tail;
    }
    // The waist square: +x, +z, -x, -z and back to +x.
    const int ring[4] = {0, 2, 1, 3};
    for (int i = 0; i < 4; ++i)
    {
        out[n++] = waist[ring[i]];
        out[n++] = waist[ring[(i + 1) % 4]];
    }
}

void DrawBoneOutline(float length)
{
    cVector3D v[24];
    BoneOutline(length, v);
    glBegin(GL_LINES);
    for (const cVector3D& p : v)
        glVertex3f(p.mData[0], p.mData[1], p.mData[2]);
    glEnd();
}

void cArmature::Draw(unsigned int mode)
{
    for (const cBone& bone : mBones)
    {
        const float length = bone.mLength;
        glPushMatrix();
        glMultMatrixf(bone.mWorldTransform._m);

        if (mode == 1)
        {
            glColor3f(1.0f, 1.0f, 1.0f);
            DrawBoneOutline(length);
        }
        else if (mode == 2)
        {
            glColor3f(1.0f, 1.0f, 1.0f);
            glBegin(GL_LINES);
            glVertex3f(0.0f, 0.0f, 0.0f);
            glVertex3f(0.0f, length, 0.0f);
            glEnd();
        }

        glPopMatrix();
    }
}

void cActor::DrawArmature(unsigned int mode)
{
    if (mArmature.mRootBone)
        mArmature.Draw(mode);
}
