#include "QV_app.h"

#include <math.h>
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <iostream>
#include <sstream>
#include <string>

#include "QV_xml.h"

namespace
{
cQVApp::TickSource gTicks = &SDL_GetTicks;

// Turn rate of the character, degrees per millisecond.
const double kTurnRate = 0.1;

// Keeps the heading within one turn, so that adding small steps stays exact
// however long the user turns.
float WrapHeading(float heading)
{
    if (heading >= 360.0f || heading <= -360.0f)
        heading = fmodf(heading, 360.0f);
    return heading;
}
} // namespace

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

    const SDL_VideoInfo* info = SDL_GetVideoInfo();

    SDL_GL_SetAttribute(SDL_GL_RED_SIZE, 5);
    SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, 5);
    SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, 5);
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 16);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);

    const int bpp = (info && info->vfmt) ? info->vfmt->BitsPerPixel : 0;
    if (!SDL_SetVideoMode((int)w, (int)h, bpp, SDL_OPENGL))
        ExitError(SDL_GetError());

    glClearColor(0.5f, 0.5f, 0.6f, 1.0f);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(45.0, (double)w / (double)h, (double)0.1f, 100.0);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LEQUAL);

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
    const char* problem = nullptr;
    int actions = 0;
    for (const cAction& a : mActor.mAction)
        if (!a.mChannels.empty())
            ++actions;
    std::vector<cBone>& bones = mActor.mArmature.mBones;
    if (actions < 3)
        problem = "XML ERROR: the walker needs three actions (walk, stand, second walk).";
    else if (std::find(bones.begin(), bones.end(), std::string("Bone.008")) == bones.end())
        problem = "XML ERROR: the walker needs a left foot bone named 'Bone.008'.";
    else if (std::find(bones.begin(), bones.end(), std::string("Bone.007")) == bones.end())
        problem = "XML ERROR: the walker needs a right foot bone named 'Bone.007'.";
    else if (!mActor.mArmature.mRootBone || mActor.mArmature.mRootBone->mChildren.empty())
        problem = "XML ERROR: the walker's root bone needs at least one child.";
    if (problem)
        ExitError(problem);

    mActor.SetConstraints();
    mActor.UpdateArmature();
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
        case SDL_KEYDOWN:
            switch (evt.key.keysym.sym)
            {
            case SDLK_a: mTurnLeft = !mTurnLeft; break;
            case SDLK_d: mTurnRight = !mTurnRight; break;
            case SDLK_w: mWalk = !mWalk; break;
            default: break;
            }
            break;
        case SDL_KEYUP:
            switch (evt.key.keysym.sym)
            {
            case SDLK_a: mTurnLeft = !mTurnLeft; break;
            case SDLK_d: mTurnRight = !mTurnRight; break;
            case SDLK_w: mWalk = !mWalk; break;
            case SDLK_p: mPaused = !mPaused; break;
            case SDLK_t: mDrawMode = (mDrawMode == 2) ? 1 : mDrawMode + 1; break;
            case SDLK_c: mActor.mWalkCycle = (mActor.mWalkCycle == 0) ? 2 : 0; break;
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
        case SDL_QUIT:
            mActive = false;
            break;
        default:
            break;
        }
    }
}

void cQVApp::Update()
{
    static std::stringstream strm(std::ios::in | std::ios::out);
    static std::string caption;
    static unsigned int dt;

    // Wait for the next tick. The difference (not a plain comparison) keeps
    // the wait short when the 32-bit millisecond counter wraps.
    while ((int)(mCurrentTime - mLastTime) <= 0)
        mCurrentTime = gTicks();
    dt = mCurrentTime - mLastTime;

    if (mCurrentTime - mSecondStartTime > 1000)
    {
        mSecondStartTime = mCurrentTime;
        // The number is written and read back as one word. The stream is
        // emptied afterwards so that it does not grow for as long as the
        // program runs.
        strm << mFPS;
        strm >> caption;
        strm.clear();
        strm.str(std::string());
        caption.insert(0, "FPS: ");
        SDL_WM_SetCaption(caption.c_str(), NULL);
        mFPS = 0;
    }

    if (!mPaused)
    {
        if (mWalk)
        {
            if (mTurnLeft)
                mActor.mHeading = WrapHeading((float)(mActor.mHeading + dt * kTurnRate));
            if (mTurnRight)
                mActor.mHeading = WrapHeading((float)(mActor.mHeading - dt * kTurnRate));
            if (mActor.mNextAction != mActor.mWalkCycle)
                mActor.mNextAction = mActor.mWalkCycle;
        }
        else if (mActor.mNextAction != 1)
        {
            mActor.mNextAction = 1;
        }

        mActor.Animate(dt);
        if (mActor.mArmature.mRootBone)
            mCamera.SetTarget(mActor.mArmature.mRootBone->mWorldTransform.getTransform());
    }

    mCamera.Update();
    ++mFPS;
    mLastTime = gTicks();
}

void cQVApp::Draw()
{
    glClearColor(0.5f, 0.5f, 0.6f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);

    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    const cVector3D& eye = mCamera.mPosition;
    const cVector3D& at = mCamera.mTarget;
    gluLookAt(eye.mData[0], eye.mData[1], eye.mData[2], at.mData[0], at.mData[1], at.mData[2], 0.0, 1.0, 0.0);

    // Ground grid: 201 lines each way, one unit apart, on y = 0.
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

    mActor.DrawArmature(mDrawMode);

    if (mActor.mArmature.mRootBone)
    {
        const cVector3D root = mActor.mArmature.mRootBone->mWorldTransform.getTransform();
        const cVector3D tip = root + mActor.mLeftFoot.mDir;
        glColor3f(0.0f, 1.0f, 0.0f);
        glBegin(GL_LINES);
        glVertex3f(root.mData[0], root.mData[1], root.mData[2]);
        glVertex3f(tip.mData[0], tip.mData[1], tip.mData[2]);
        glEnd();

        glPointSize(4.0f);
        glColor3f(1.0f, 0.0f, 0.0f);
        glBegin(GL_POINTS);
        const cVector3D& r = mActor.mRightFoot.mLastPosition;
        const cVector3D& l = mActor.mLeftFoot.mLastPosition;
        glVertex3f(r.mData[0], r.mData[1], r.mData[2]);
        glVertex3f(l.mData[0], l.mData[1], l.mData[2]);
        glEnd();
    }

    glFlush();
    SDL_GL_SwapBuffers();
}
