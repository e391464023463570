#include "QV_armature.h"

#include "QV_sdl.h"

void cArmature::Draw(unsigned int mode)
{
    for (const cBone& bone : mBones)
    {
        const float length = bone.mLength;
        glPushMatrix();
        glMultMatrixf(bone.mWorldTransform._m);

        if (mode == 1)
        {
            const float k = (float)(length * 0.1);
            glBegin(GL_LINES);
            glColor3f(1.0f, 1.0f, 1.0f);
            // Head and tail to the four waist points.
            glVertex3f(0.0f, 0.0f, 0.0f);
            glVertex3f(k, k, 0.0f);
            glVertex3f(k, k, 0.0f);
            glVertex3f(0.0f, length, 0.0f);
            glVertex3f(0.0f, 0.0f, 0.0f);
            glVertex3f(-k, k, 0.0f);
            glVertex3f(-k, k, 0.0f);
            glVertex3f(0.0f, length, 0.0f);
            glVertex3f(0.0f, 0.0f, 0.0f);
            glVertex3f(0.0f, k, k);
            glVertex3f(0.0f, k, k);
            glVertex3f(0.0f, length, 0.0f);
            glVertex3f(0.0f, 0.0f, 0.0f);
            glVertex3f(0.0f, k, -k);
            glVertex3f(0.0f, k, -k);
            glVertex3f(0.0f, length, 0.0f);
            // The waist square.
            glVertex3f(k, k, 0.0f);
            glVertex3f(0.0f, k, k);
            glVertex3f(0.0f, k, k);
            glVertex3f(-k, k, 0.0f);
            glVertex3f(-k, k, 0.0f);
            glVertex3f(0.0f, k, -k);
            glVertex3f(0.0f, k, -k);
            glVertex3f(k, k, 0.0f);
            glEnd();
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
