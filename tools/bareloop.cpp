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
#include "QV_app.h"
#include "QV_camera.h"
#include "QV_character.h"
#include "QV_draw.h"
#include "QV_sdl.h"
#include "QV_xml.h"

namespace
{
// World-space vertices of the bones' outlines, two per line.
std::vector<cVector3D> FrozenBoneLines(const cActor& actor)
{
    std::vector<cVector3D> lines;
    for (const cBone& bone : actor.mArmature.mBones)
    {
        cVector3D outline[24];
        BoneOutline(bone.mLength, outline);
        for (const cVector3D& v : outline)
            lines.push_back(bone.mWorldTransform * v);
    }
    return lines;
}
} // namespace

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
    catch (const cQVError& e)
    {
        printf("bareloop: %s\n", e.what());
        return 1;
    }
    const std::string problem = PrepareCharacter(actor);
    if (!problem.empty())
    {
        printf("bareloop: %s\n", problem.c_str());
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

    // The demo's window and OpenGL state.
    if (SDL_Init(SDL_INIT_TIMER | SDL_INIT_VIDEO) != 0)
    {
        printf("bareloop: %s\n", SDL_GetError());
        return 1;
    }
    if (!OpenGLWindow(800, 600))
    {
        printf("bareloop: %s\n", SDL_GetError());
        SDL_Quit();
        return 1;
    }
    // Which OpenGL the measurement ran on, for the record.
    printf("bareloop: OpenGL renderer: %s; version: %s\n", (const char*)glGetString(GL_RENDERER),
           (const char*)glGetString(GL_VERSION));
    fflush(stdout);

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

        BeginFrame(camera.mPosition, camera.mTarget);
        DrawGrid();

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
            DrawFootMarkers(actor);

        glFlush();
        SDL_GL_SwapBuffers();
    }
    SDL_Quit();
    return 0;
}
