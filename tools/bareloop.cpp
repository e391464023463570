// bareloop: the least a frame of the demo can cost, for the frame-rate
// comparison in tools/framerate.sh.
//
// It opens the same window as qvdemo (800 x 600, SDL_OPENGL, RGB 5/5/5,
// depth 16, double buffer, the same projection, clear colour and depth test),
// waits for the millisecond tick the same busy way, shows "FPS: N" in the
// caption the same way once a second, and draws the same lines: the ground
// grid in one GL_LINES batch and the walker's bones, as the demo's start-up
// draw mode shows them (twelve lines each), frozen in one pose and already
// transformed to world space, in a second batch. There is no animation, no
// per-bone matrix and no event handling beyond closing the window.
//
// Usage: bareloop [--per-bone] [--markers] [ACTOR_FILE]   (default
// ./data/walker.xml, relative to the working directory, like the demo). It
// runs until its window is closed. The options add the rest of what the demo
// draws, to see what each part costs: --per-bone draws the bones as the demo
// does, each in its own batch under its own world matrix (glPushMatrix,
// glMultMatrixf, glBegin ... glEnd, glPopMatrix); --markers adds the demo's
// foot-lock markers (a green line from the root, two red 4-pixel points).
#include <stdio.h>

#include <string>
#include <vector>

#include "QV_actor.h"
#include "QV_camera.h"
#include "QV_sdl.h"
#include "QV_xml.h"

namespace
{
// World-space vertices of the bones' outlines, two per line.
std::vector<cVector3D> FrozenBoneLines(cActor& actor)
{
    std::vector<cVector3D> lines;
    for (const cBone& bone : actor.mArmature.mBones)
    {
        const float l = bone.mLength;
        const float k = (float)(l * 0.1);
        const cVector3D head(0.0f, 0.0f, 0.0f), tail(0.0f, l, 0.0f);
        const cVector3D waist[4] = {cVector3D(k, k, 0.0f), cVector3D(-k, k, 0.0f), cVector3D(0.0f, k, k),
                                    cVector3D(0.0f, k, -k)};
        const cMatrix4D& w = bone.mWorldTransform;
        for (const cVector3D& p : waist)
        {
            lines.push_back(w * head);
            lines.push_back(w * p);
            lines.push_back(w * p);
            lines.push_back(w * tail);
        }
        // The waist square: +x, +z, -x, -z and back.
        const cVector3D ring[4] = {waist[0], waist[2], waist[1], waist[3]};
        for (int i = 0; i < 4; ++i)
        {
            lines.push_back(w * ring[i]);
            lines.push_back(w * ring[(i + 1) % 4]);
        }
    }
    return lines;
}
} // namespace

// One bone's outline in its own frame, as the demo's start-up draw mode
// draws it.
void DrawBoneOutline(float l)
{
    const float k = (float)(l * 0.1);
    const float waist[4][3] = {{k, k, 0.0f}, {-k, k, 0.0f}, {0.0f, k, k}, {0.0f, k, -k}};
    const int ring[4] = {0, 2, 1, 3};
    glBegin(GL_LINES);
    for (const float* p : waist)
    {
        glVertex3f(0.0f, 0.0f, 0.0f);
        glVertex3fv(p);
        glVertex3fv(p);
        glVertex3f(0.0f, l, 0.0f);
    }
    for (int i = 0; i < 4; ++i)
    {
        glVertex3fv(waist[ring[i]]);
        glVertex3fv(waist[ring[(i + 1) % 4]]);
    }
    glEnd();
}

int main(int argc, char** argv)
{
    bool perBone = false, markers = false;
    const char* file = "./data/walker.xml";
    for (int i = 1; i < argc; ++i)
    {
        if (std::string(argv[i]) == "--per-bone")
            perBone = true;
        else if (std::string(argv[i]) == "--markers")
            markers = true;
        else
            file = argv[i];
    }

    // The pose: the walker as the demo shows it after a few frames of
    // standing, with the camera on its root.
    cActor actor;
    try
    {
        ReadActorFromXML(file, actor);
    }
    catch (const std::string& msg)
    {
        printf("bareloop: %s\n", msg.c_str());
        return 1;
    }
    actor.SetConstraints();
    actor.UpdateArmature();
    if (!actor.mArmature.mRootBone)
    {
        printf("bareloop: %s has no root bone\n", file);
        return 1;
    }
    for (int i = 0; i < 10; ++i)
    {
        actor.mNextAction = 1;
        actor.Animate(16);
    }
    cCamera camera;
    camera.Setup(0, 2, 0, 10, 0, 0);
    camera.SetTarget(actor.mArmature.mRootBone->mWorldTransform.getTransform());
    camera.Update();
    const std::vector<cVector3D> bones = FrozenBoneLines(actor);
    const cVector3D root = actor.mArmature.mRootBone->mWorldTransform.getTransform();
    const cVector3D tip = root + actor.mLeftFoot.mDir;
    const cVector3D feet[2] = {actor.mRightFoot.mLastPosition, actor.mLeftFoot.mLastPosition};

    // The demo's window and OpenGL state.
    if (SDL_Init(SDL_INIT_TIMER | SDL_INIT_VIDEO) != 0)
    {
        printf("bareloop: %s\n", SDL_GetError());
        return 1;
    }
    const SDL_VideoInfo* info = SDL_GetVideoInfo();
    SDL_GL_SetAttribute(SDL_GL_RED_SIZE, 5);
    SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, 5);
    SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, 5);
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 16);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    const int bpp = (info && info->vfmt) ? info->vfmt->BitsPerPixel : 0;
    if (!SDL_SetVideoMode(800, 600, bpp, SDL_OPENGL))
    {
        printf("bareloop: %s\n", SDL_GetError());
        SDL_Quit();
        return 1;
    }
    // Which OpenGL the measurement ran on, for the record.
    printf("bareloop: OpenGL renderer: %s; version: %s\n", (const char*)glGetString(GL_RENDERER),
           (const char*)glGetString(GL_VERSION));
    fflush(stdout);

    glClearColor(0.5f, 0.5f, 0.6f, 1.0f);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(45.0, 800.0 / 600.0, (double)0.1f, 100.0);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LEQUAL);

    char caption[32];
    unsigned int fps = 0;
    Uint32 current = SDL_GetTicks();
    Uint32 last = SDL_GetTicks();
    Uint32 secondStart = current;
    bool active = true;
    while (active)
    {
        SDL_Event evt;
        while (SDL_PollEvent(&evt))
            if (evt.type == SDL_QUIT)
                active = false;

        // The demo's wait for the next tick and its caption once a second.
        while ((int)(current - last) <= 0)
            current = SDL_GetTicks();
        if (current - secondStart > 1000)
        {
            secondStart = current;
            snprintf(caption, sizeof caption, "FPS: %u", fps);
            SDL_WM_SetCaption(caption, NULL);
            fps = 0;
        }
        ++fps;
        last = SDL_GetTicks();

        glClearColor(0.5f, 0.5f, 0.6f, 1.0f);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
        const cVector3D& eye = camera.mPosition;
        const cVector3D& at = camera.mTarget;
        gluLookAt(eye.mData[0], eye.mData[1], eye.mData[2], at.mData[0], at.mData[1], at.mData[2], 0.0, 1.0, 0.0);

        glColor3f(0.0f, 0.0f, 0.0f);
        glBegin(GL_LINES);
        for (int i = -100; i <= 100; ++i)
        {
            const float x = (float)i;
            glVertex3f(x, 0.0f, 100.0f);
            glVertex3f(x, 0.0f, -100.0f);
            glVertex3f(100.0f, 0.0f, x);
            glVertex3f(-100.0f, 0.0f, x);
        }
        glEnd();

        glColor3f(1.0f, 1.0f, 1.0f);
        if (perBone)
        {
            for (const cBone& bone : actor.mArmature.mBones)
            {
                glPushMatrix();
                glMultMatrixf(bone.mWorldTransform._m);
                DrawBoneOutline(bone.mLength);
                glPopMatrix();
            }
        }
        else
        {
            glBegin(GL_LINES);
            for (const cVector3D& v : bones)
                glVertex3f(v.mData[0], v.mData[1], v.mData[2]);
            glEnd();
        }

        if (markers)
        {
            glColor3f(0.0f, 1.0f, 0.0f);
            glBegin(GL_LINES);
            glVertex3f(root.mData[0], root.mData[1], root.mData[2]);
            glVertex3f(tip.mData[0], tip.mData[1], tip.mData[2]);
            glEnd();
            glPointSize(4.0f);
            glColor3f(1.0f, 0.0f, 0.0f);
            glBegin(GL_POINTS);
            for (const cVector3D& f : feet)
                glVertex3f(f.mData[0], f.mData[1], f.mData[2]);
            glEnd();
        }

        glFlush();
        SDL_GL_SwapBuffers();
    }
    SDL_Quit();
    return 0;
}
