#include "QV_app.h"

#include <math.h>
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <iostream>
#include <sstream>
#include <string>

#include "QV_character.h"
#include "QV_draw.h"
#include "QV_xml.h"

namespace
{
cQVApp::TickSource gTicks = &SDL_GetTicks;
} // namespace

void LoadActorFromXML(const char* fname, cActor& actor)
{
    try
    {
        ReadActorFromXML(fname, actor);
    }
    catch (const cXmlError& e)
    {
        cQVApp::ExitError(e.what());
    }
}

namespace
{
int MaskBits(Uint32 mask)
{
    int n = 0;
    for (; mask; mask &= mask - 1)
        ++n;
    return n;
}
} // namespace

bool WideColourDesktop(const SDL_VideoInfo* info)
{
    if (!info || !info->vfmt)
        return false;
    const SDL_PixelFormat* f = info->vfmt;
    return MaskBits(f->Rmask) > 8 || MaskBits(f->Gmask) > 8 || MaskBits(f->Bmask) > 8;
}

bool OpenGLWindow(unsigned int w, unsigned int h)
{
    const SDL_VideoInfo* info = SDL_GetVideoInfo();

    SDL_GL_SetAttribute(SDL_GL_RED_SIZE, 5);
    SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, 5);
    SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, 5);
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 16);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);

    // On a 30-bit screen GLX offers visuals of 10 bits a colour first, and
    // SDL 1.2 crashes inside SDL_SetVideoMode on any of them, whatever bpp
    // it is asked for: it overruns its own buffer while filling the window's
    // colour map, which it sizes for 8-bit channels. Eight bits of alpha rule those out (they have two)
    // and leave the 8-bit ARGB visuals such screens also carry, which SDL
    // handles. Where there is none, SDL fails with a message instead of
    // crashing; the window is never retried without the alpha.
    const bool wide = WideColourDesktop(info);
    if (wide)
        SDL_GL_SetAttribute(SDL_GL_ALPHA_SIZE, 8);

    const int bpp = (info && info->vfmt) ? info->vfmt->BitsPerPixel : 0;
    if (!SDL_SetVideoMode((int)w, (int)h, bpp, SDL_OPENGL))
    {
        if (wide)
            SDL_SetError("this %d-bit screen has no OpenGL visual of 8 bits a colour with alpha, and SDL 1.2 "
                         "cannot open one of more bits a colour (%s)",
                         info->vfmt->BitsPerPixel == 32 ? 30 : (int)info->vfmt->BitsPerPixel, SDL_GetError());
        return false;
    }
    SetupViewState(w, h);
    return true;
}

void cQVApp::SetTickSource(TickSource source) { gTicks = source ? source : &SDL_GetTicks; }

void cQVApp::ExitError(const char* err)
{
    std::string msg("EXIT ON ERROR: ");
    msg += err ? err : "";
    SDL_Quit();
    std::cout << msg << std::endl;
    exit(1);
}

void cQVApp::Setup(unsigned int w, unsigned int h)
{
#if defined(__linux__) || defined(__FreeBSD__) || defined(__NetBSD__) || defined(__OpenBSD__)
    // Only the X11 video driver offers OpenGL here. Without a display SDL
    // would fall back to a text-mode driver (libcaca, aalib), which takes
    // over the terminal and writes to standard output before the OpenGL
    // request fails; asking for X11 alone makes that a plain error line.
    // A driver the user names in SDL_VIDEODRIVER is left alone.
    setenv("SDL_VIDEODRIVER", "x11", 0);
#endif
    if (SDL_Init(SDL_INIT_TIMER | SDL_INIT_VIDEO) != 0)
        ExitError(SDL_GetError());

    if (!OpenGLWindow(w, h))
        ExitError(SDL_GetError());

    mWinWidth = w;
    mWinHeight = h;
    mDrawMode = 1;
    mLeftMouseButton = mRightMouseButton = false;
    mActive = true;
    mPaused = mTurnLeft = mTurnRight = mWalk = false;
    mFPS = 0;
    mCurrentTime = gTicks();
    mLastTime = gTicks();
    mSecondStartTime = mCurrentTime;
}

void cQVApp::SetupCamera(float xx, float yy, float zz, float dist, int heading, int elevation)
{
    mCamera.Setup(xx, yy, zz, dist, heading, elevation);
}

void cQVApp::LoadActor(const char* fname)
{
    LoadActorFromXML(fname, mActor);

    // What the demo needs beyond what the loader checks.
    const std::string problem = PrepareCharacter(mActor);
    if (!problem.empty())
        ExitError(problem.c_str());
}

void cQVApp::Go()
{
    while (mActive)
    {
        HandleEvents();
        Update();
        Draw();
    }
    SDL_Quit();
}

void cQVApp::HandleEvents()
{
    SDL_Event evt;
    while (SDL_PollEvent(&evt))
    {
        switch (evt.type)
        {
        // A held key's flag follows the key's state rather than flipping on
        // each event: a press or release that never reached the window
        // (made with the pointer elsewhere) cannot leave it inverted.
        case SDL_KEYDOWN:
            switch (evt.key.keysym.sym)
            {
            case SDLK_a: mTurnLeft = true; break;
            case SDLK_d: mTurnRight = true; break;
            case SDLK_w: mWalk = true; break;
            default: break;
            }
            break;
        case SDL_KEYUP:
            switch (evt.key.keysym.sym)
            {
            case SDLK_a: mTurnLeft = false; break;
            case SDLK_d: mTurnRight = false; break;
            case SDLK_w: mWalk = false; break;
            case SDLK_p: mPaused = !mPaused; break;
            case SDLK_t: mDrawMode = (mDrawMode == 2) ? 1 : mDrawMode + 1; break;
            case SDLK_c: mActor.mWalkCycle = (mActor.mWalkCycle == 0) ? 2 : 0; break;
            case SDLK_b: mActor.mCrossFade = !mActor.mCrossFade; break;
            case SDLK_f: mActor.mContactLock = !mActor.mContactLock; break;
            default: break;
            }
            break;
        case SDL_MOUSEBUTTONDOWN:
            if (evt.button.button == SDL_BUTTON_LEFT)
                mLeftMouseButton = true;
            else if (evt.button.button == SDL_BUTTON_RIGHT)
                mRightMouseButton = true;
            break;
        case SDL_MOUSEBUTTONUP:
            if (evt.button.button == SDL_BUTTON_LEFT)
                mLeftMouseButton = false;
            else if (evt.button.button == SDL_BUTTON_RIGHT)
                mRightMouseButton = false;
            break;
        case SDL_MOUSEMOTION:
            if (mLeftMouseButton)
                mCamera.Turn(evt.motion.xrel, evt.motion.yrel);
            break;
        case SDL_QUIT: mActive = false; break;
        default: break;
        }
    }
}

void cQVApp::Update()
{
    // Wait for the next tick. The difference (not a plain comparison) keeps
    // the wait short when the 32-bit millisecond counter wraps.
    while ((int)(mCurrentTime - mLastTime) <= 0)
        mCurrentTime = gTicks();
    mDt = mCurrentTime - mLastTime;

    if (mCurrentTime - mSecondStartTime > 1000)
    {
        mSecondStartTime = mCurrentTime;
        // The number is written and read back as one word. The stream is
        // emptied afterwards so that it does not grow for as long as the
        // program runs.
        mCaptionStream << mFPS;
        mCaptionStream >> mCaption;
        mCaptionStream.clear();
        mCaptionStream.str(std::string());
        mCaption.insert(0, "FPS: ");
        SDL_WM_SetCaption(mCaption.c_str(), NULL);
        mFPS = 0;
    }

    if (!mPaused)
    {
        sSteering steering;
        steering.mWalk = mWalk;
        steering.mTurnLeft = mTurnLeft;
        steering.mTurnRight = mTurnRight;
        StepCharacter(mActor, mDt, steering);
        if (mActor.mArmature.mRootBone)
            mCamera.SetTarget(mActor.mArmature.mRootBone->mWorldTransform.getTransform());
    }

    mCamera.Update();
    ++mFPS;
    mLastTime = gTicks();
}

void cQVApp::Draw()
{
    BeginFrame(mCamera.mPosition, mCamera.mTarget);
    DrawGrid(mCamera.mTarget);
    mActor.DrawArmature(mDrawMode);
    DrawFootMarkers(mActor);

    glFlush();
    SDL_GL_SwapBuffers();
}
