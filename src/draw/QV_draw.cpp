#include "QV_draw.h"

#include <GL/gl.h>
#include <GL/glu.h>

#include <cmath>

#include "QV_armature.h"
#include "QV_body.h"

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

const float kBodySkinColour[3] = {0.85f, 0.64f, 0.50f};

unsigned int UploadBodyTexture(const cBody& body)
{
    const sImage& image = body.mTexture;
    if (image.Empty() || body.mTexCoords.empty())
        return 0;
    GLuint name = 0;
    glGenTextures(1, &name);
    glBindTexture(GL_TEXTURE_2D, name);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    // Mipmaps scale an image of any size to powers of two, which OpenGL 1.x
    // needs, and keep a distant body from shimmering.
    gluBuild2DMipmaps(GL_TEXTURE_2D, GL_RGBA, (GLint)image.mWidth, (GLint)image.mHeight, GL_RGBA, GL_UNSIGNED_BYTE,
                      image.mPixels.data());
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
    glBindTexture(GL_TEXTURE_2D, 0);
    return name;
}

namespace
{
// The light: from behind the viewer, above and to the right, given in eye
// space so that whatever the camera sees is lit.
void LightFromTheViewer()
{
    const GLfloat direction[4] = {0.35f, 0.55f, 1.0f, 0.0f};
    const GLfloat ambient[4] = {0.35f, 0.35f, 0.35f, 1.0f};
    const GLfloat diffuse[4] = {0.75f, 0.75f, 0.75f, 1.0f};
    const GLfloat none[4] = {0.0f, 0.0f, 0.0f, 1.0f};
    glPushMatrix();
    glLoadIdentity();
    glLightfv(GL_LIGHT0, GL_POSITION, direction);
    glPopMatrix();
    glLightfv(GL_LIGHT0, GL_AMBIENT, ambient);
    glLightfv(GL_LIGHT0, GL_DIFFUSE, diffuse);
    glLightfv(GL_LIGHT0, GL_SPECULAR, none);
    glLightModelfv(GL_LIGHT_MODEL_AMBIENT, none);
    glEnable(GL_LIGHT0);
    glEnable(GL_LIGHTING);
    // The current colour is the material's: the skin tone, or white under
    // a texture, which the lit colour then modulates.
    glColorMaterial(GL_FRONT_AND_BACK, GL_AMBIENT_AND_DIFFUSE);
    glEnable(GL_COLOR_MATERIAL);
    glShadeModel(GL_SMOOTH);
}
} // namespace

void DrawBody(const cBody& body, unsigned int texture)
{
    if (body.Empty() || body.mPositions.size() != body.VertexCount() || body.mNormals.size() != body.VertexCount())
        return;
    LightFromTheViewer();
    const bool textured = texture != 0 && body.mTexCoords.size() == 2 * body.VertexCount();
    if (textured)
    {
        glEnable(GL_TEXTURE_2D);
        glBindTexture(GL_TEXTURE_2D, texture);
        glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
        glEnableClientState(GL_TEXTURE_COORD_ARRAY);
        glTexCoordPointer(2, GL_FLOAT, 0, body.mTexCoords.data());
        glColor3f(1.0f, 1.0f, 1.0f);
    }
    else
        glColor3f(kBodySkinColour[0], kBodySkinColour[1], kBodySkinColour[2]);

    // Client-side vertex arrays (OpenGL 1.1): the skinned buffers as they
    // lie, three floats a vertex.
    glEnableClientState(GL_VERTEX_ARRAY);
    glEnableClientState(GL_NORMAL_ARRAY);
    glVertexPointer(3, GL_FLOAT, sizeof(cVector3D), body.mPositions.data());
    glNormalPointer(GL_FLOAT, sizeof(cVector3D), body.mNormals.data());
    glDrawElements(GL_TRIANGLES, (GLsizei)body.mTriangles.size(), GL_UNSIGNED_INT, body.mTriangles.data());
    glDisableClientState(GL_NORMAL_ARRAY);
    glDisableClientState(GL_VERTEX_ARRAY);

    if (textured)
    {
        glDisableClientState(GL_TEXTURE_COORD_ARRAY);
        glBindTexture(GL_TEXTURE_2D, 0);
        glDisable(GL_TEXTURE_2D);
    }
    glDisable(GL_COLOR_MATERIAL);
    glDisable(GL_LIGHTING);
    glDisable(GL_LIGHT0);
}
