// The application shell without a window: event handling on SDL's dummy video
// driver, frame timing and the caption through a scripted millisecond clock,
// and the character step on an in-memory actor. Setup itself needs OpenGL
// and is covered by test_gl_app.

#include <gtest/gtest.h>

#include <SDL.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <initializer_list>
#include <new>
#include <sstream>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "QV_app.h"
#include "support/alloc_counter.h"
#include "support/qv_expect.h"
#include "support/synthetic_actor.h"

namespace
{
// ---------------------------------------------------------------------------
// Scripted clock: returns the queued ticks in order. Once the script is used
// up it keeps returning the last tick, and after many more polls it throws,
// so a frame wait that never ends fails the test instead of hanging it.

// A fixed array rather than a container, so that scripting a frame allocates
// nothing.
Uint32 gScript[16];
unsigned int gScriptLength = 0;
unsigned int gScriptNext = 0;
Uint32 gLastTick = 0;
unsigned int gPolls = 0;
unsigned int gPollsPastScript = 0;

void Script(std::initializer_list<Uint32> ticks)
{
    gScriptLength = 0;
    gScriptNext = 0;
    for (Uint32 t : ticks)
        gScript[gScriptLength++] = t;
}

bool ScriptUsedUp() { return gScriptNext == gScriptLength; }

Uint32 ScriptedTicks()
{
    ++gPolls;
    if (gScriptNext < gScriptLength)
    {
        gLastTick = gScript[gScriptNext++];
        gPollsPastScript = 0;
        return gLastTick;
    }
    if (++gPollsPastScript > 100000)
        throw std::runtime_error("the clock was polled long after its script ended");
    return gLastTick;
}

std::string Caption()
{
    char* title = nullptr;
    char* icon = nullptr;
    SDL_WM_GetCaption(&title, &icon);
    return title ? title : "";
}

std::string IconCaption()
{
    char* title = nullptr;
    char* icon = nullptr;
    SDL_WM_GetCaption(&title, &icon);
    return icon ? icon : "";
}

void PushKey(Uint8 type, SDLKey sym, SDLMod mod = KMOD_NONE)
{
    SDL_Event e;
    std::memset(&e, 0, sizeof e);
    e.type = type;
    e.key.type = type;
    e.key.state = (type == SDL_KEYDOWN) ? SDL_PRESSED : SDL_RELEASED;
    e.key.keysym.sym = sym;
    e.key.keysym.mod = mod;
    ASSERT_EQ(SDL_PushEvent(&e), 0);
}

void PushButton(Uint8 type, Uint8 button)
{
    SDL_Event e;
    std::memset(&e, 0, sizeof e);
    e.type = type;
    e.button.type = type;
    e.button.button = button;
    e.button.state = (type == SDL_MOUSEBUTTONDOWN) ? SDL_PRESSED : SDL_RELEASED;
    e.button.x = 400;
    e.button.y = 300;
    ASSERT_EQ(SDL_PushEvent(&e), 0);
}

void PushMotion(Sint16 xrel, Sint16 yrel, Uint8 state = 0)
{
    SDL_Event e;
    std::memset(&e, 0, sizeof e);
    e.type = SDL_MOUSEMOTION;
    e.motion.type = SDL_MOUSEMOTION;
    e.motion.state = state;
    e.motion.x = 400;
    e.motion.y = 300;
    e.motion.xrel = xrel;
    e.motion.yrel = yrel;
    ASSERT_EQ(SDL_PushEvent(&e), 0);
}

void PushQuit()
{
    SDL_Event e;
    std::memset(&e, 0, sizeof e);
    e.type = SDL_QUIT;
    ASSERT_EQ(SDL_PushEvent(&e), 0);
}

// Everything the armature and the foot locks hold, for "nothing moved" checks.
struct ActorSnapshot
{
    unsigned int time, current, next;
    float heading;
    std::vector<cMatrix4D> world;
    std::vector<cQuaternion> orientation;
    cVector3D leftLast, rightLast, leftDir;
    bool leftLock, rightLock;

    explicit ActorSnapshot(const cActor& a)
        : time(a.mTime), current(a.mCurrentAction), next(a.mNextAction), heading(a.mHeading),
          leftLast(a.mLeftFoot.mLastPosition), rightLast(a.mRightFoot.mLastPosition), leftDir(a.mLeftFoot.mDir),
          leftLock(a.mLeftFoot.mLock), rightLock(a.mRightFoot.mLock)
    {
        for (const cBone& b : a.mArmature.mBones)
        {
            world.push_back(b.mWorldTransform);
            orientation.push_back(b.mOrientation);
        }
    }
};

::testing::AssertionResult SameActorState(const ActorSnapshot& a, const ActorSnapshot& b)
{
    if (a.time != b.time || a.current != b.current || a.next != b.next)
        return ::testing::AssertionFailure()
               << "clock or slots changed: time " << a.time << " -> " << b.time << ", current " << a.current << " -> "
               << b.current << ", next " << a.next << " -> " << b.next;
    if (std::memcmp(&a.heading, &b.heading, sizeof(float)) != 0)
        return ::testing::AssertionFailure() << "heading changed: " << a.heading << " -> " << b.heading;
    for (size_t i = 0; i < a.world.size(); ++i)
    {
        ::testing::AssertionResult r = qvtest::SameMatrix(a.world[i], b.world[i]);
        if (!r)
            return r << " (world matrix of bone " << i << ")";
        r = qvtest::SameQuat(a.orientation[i], b.orientation[i]);
        if (!r)
            return r << " (orientation of bone " << i << ")";
    }
    if (!qvtest::VecNear(a.leftLast, b.leftLast, 0.0f) || !qvtest::VecNear(a.rightLast, b.rightLast, 0.0f) ||
        !qvtest::VecNear(a.leftDir, b.leftDir, 0.0f) || a.leftLock != b.leftLock || a.rightLock != b.rightLock)
        return ::testing::AssertionFailure() << "a foot lock changed";
    return ::testing::AssertionSuccess();
}

// ---------------------------------------------------------------------------

class AppTest : public ::testing::Test
{
protected:
    static void TearDownTestSuite() { SDL_Quit(); }

    void SetUp() override
    {
        // Go shuts SDL down when it returns, so each test checks.
        if (!SDL_WasInit(SDL_INIT_VIDEO))
        {
            setenv("SDL_VIDEODRIVER", "dummy", 1);
            ASSERT_EQ(SDL_Init(SDL_INIT_VIDEO), 0) << SDL_GetError();
            ASSERT_NE(SDL_SetVideoMode(800, 600, 0, SDL_SWSURFACE), nullptr) << SDL_GetError();
        }
        SDL_Event e;
        while (SDL_PollEvent(&e))
        {
        }
        Script({});
        gPolls = 0;
        gPollsPastScript = 0;
        cQVApp::SetTickSource(&ScriptedTicks);
        StartAt(10000);
        app.SetupCamera(0, 2, 0, 10, 0, 0);
    }
    void TearDown() override { cQVApp::SetTickSource(nullptr); }

    // The member values Setup gives, with the clock at tick t (Setup opens
    // an OpenGL window, which the dummy driver cannot do).
    void StartAt(Uint32 t)
    {
        app.mWinWidth = 800;
        app.mWinHeight = 600;
        app.mDrawMode = 1;
        app.mLeftMouseButton = app.mRightMouseButton = false;
        app.mActive = true;
        app.mPaused = app.mTurnLeft = app.mTurnRight = app.mWalk = false;
        app.mFPS = 0;
        app.mCurrentTime = t;
        app.mLastTime = t;
        app.mSecondStartTime = t;
        gLastTick = t;
    }

    void LoadWalker(unsigned int bones = 9) { qvtest::BuildSyntheticActor(app.mActor, bones, 3, 1000); }

    // One Update whose wait sees the tick `start` at once and which ends at
    // tick `end`.
    void Frame(Uint32 start, Uint32 end)
    {
        Script({start, end});
        EXPECT_NO_THROW(app.Update());
        EXPECT_TRUE(ScriptUsedUp()) << "the frame read the clock fewer times than expected";
    }
    void Frame(Uint32 t) { Frame(t, t); }
    // A frame lasting dt milliseconds after the previous one ended.
    void FrameAfter(Uint32 dt) { Frame(app.mLastTime + dt); }

    cQVApp app;
};

// ---------------------------------------------------------------------------
// Construction

// Built over memory full of stale bytes, an application starts from the
// values Setup gives (the ticks at 0), not from what was there.
TEST(AppConstruction, EveryMemberStartsAtTheValueSetupGives)
{
    alignas(cQVApp) unsigned char storage[sizeof(cQVApp)];
    std::memset(storage, 0xA5, sizeof storage);
    cQVApp* app = new (storage) cQVApp;
    EXPECT_EQ(app->mWinWidth, 0u);
    EXPECT_EQ(app->mWinHeight, 0u);
    EXPECT_EQ(app->mTime, 0u);
    EXPECT_EQ(app->mFPS, 0u);
    EXPECT_EQ(app->mSecondStartTime, 0u);
    EXPECT_EQ(app->mLastTime, 0u);
    EXPECT_EQ(app->mCurrentTime, 0u);
    EXPECT_EQ(app->mDrawMode, 1u);
    const bool flags[] = {app->mActive, app->mTurnLeft,        app->mTurnRight,       app->mWalk,
                          app->mPaused, app->mLeftMouseButton, app->mRightMouseButton};
    const bool expected[] = {true, false, false, false, false, false, false};
    for (size_t i = 0; i < sizeof flags; ++i)
        EXPECT_EQ(flags[i], expected[i]) << "flag " << i;
    app->~cQVApp();
}

// ---------------------------------------------------------------------------
// Event handling

using AppEvents = AppTest;

TEST_F(AppEvents, WalkAndTurnFlagsAreTrueExactlyWhileTheirKeysAreHeld)
{
    PushKey(SDL_KEYDOWN, SDLK_w);
    app.HandleEvents();
    EXPECT_TRUE(app.mWalk);
    EXPECT_FALSE(app.mTurnLeft);
    EXPECT_FALSE(app.mTurnRight);

    PushKey(SDL_KEYDOWN, SDLK_a);
    PushKey(SDL_KEYDOWN, SDLK_d);
    app.HandleEvents();
    EXPECT_TRUE(app.mWalk);
    EXPECT_TRUE(app.mTurnLeft);
    EXPECT_TRUE(app.mTurnRight);

    PushKey(SDL_KEYUP, SDLK_a);
    app.HandleEvents();
    EXPECT_FALSE(app.mTurnLeft);
    EXPECT_TRUE(app.mTurnRight);
    EXPECT_TRUE(app.mWalk);

    PushKey(SDL_KEYUP, SDLK_w);
    PushKey(SDL_KEYUP, SDLK_d);
    app.HandleEvents();
    EXPECT_FALSE(app.mWalk);
    EXPECT_FALSE(app.mTurnRight);
}

// A press or release can miss the window: made with the pointer outside it,
// or lost when the window lost the focus. A lost press followed by the
// release, a lost release followed by a new press, and repeated events all
// leave each flag saying whether the key is held now.
TEST_F(AppEvents, ALostPressOrReleaseNeverLeavesAFlagInverted)
{
    for (SDLKey k : {SDLK_w, SDLK_a, SDLK_d})
    {
        bool& flag = (k == SDLK_w) ? app.mWalk : (k == SDLK_a) ? app.mTurnLeft : app.mTurnRight;

        PushKey(SDL_KEYUP, k); // the press was lost
        app.HandleEvents();
        EXPECT_FALSE(flag) << SDL_GetKeyName(k) << ": a release without a press";

        PushKey(SDL_KEYDOWN, k);
        PushKey(SDL_KEYDOWN, k); // the release in between was lost
        app.HandleEvents();
        EXPECT_TRUE(flag) << SDL_GetKeyName(k) << ": two presses";

        PushKey(SDL_KEYUP, k);
        PushKey(SDL_KEYUP, k);
        app.HandleEvents();
        EXPECT_FALSE(flag) << SDL_GetKeyName(k) << ": two releases";
    }

    // And the demo frame by frame: a lost W press, then its release, and the
    // character stands on.
    LoadWalker();
    PushKey(SDL_KEYUP, SDLK_w);
    app.HandleEvents();
    for (int i = 0; i < 3; ++i)
        FrameAfter(16);
    EXPECT_EQ(app.mActor.mCurrentAction, 1u) << "walking with no key held";
}

TEST_F(AppEvents, ModifierKeysAreIgnored)
{
    PushKey(SDL_KEYDOWN, SDLK_a, (SDLMod)(KMOD_LSHIFT | KMOD_CAPS));
    PushKey(SDL_KEYDOWN, SDLK_w, KMOD_LCTRL);
    app.HandleEvents();
    EXPECT_TRUE(app.mTurnLeft);
    EXPECT_TRUE(app.mWalk);

    PushKey(SDL_KEYUP, SDLK_p, KMOD_RSHIFT);
    app.HandleEvents();
    EXPECT_TRUE(app.mPaused);
}

TEST_F(AppEvents, PauseDrawModeAndWalkCycleChangeOnReleaseOnly)
{
    LoadWalker();
    auto press = [&](Uint8 type) {
        for (SDLKey k : {SDLK_p, SDLK_t, SDLK_c})
            PushKey(type, k);
        app.HandleEvents();
    };
    auto state = [&] { return std::make_tuple(app.mPaused, app.mDrawMode, app.mActor.mWalkCycle); };

    press(SDL_KEYDOWN);
    EXPECT_EQ(state(), std::make_tuple(false, 1u, 0u));
    press(SDL_KEYUP);
    EXPECT_EQ(state(), std::make_tuple(true, 2u, 2u));
    press(SDL_KEYUP); // each toggles back
    EXPECT_EQ(state(), std::make_tuple(false, 1u, 0u));

    // The walk and turn flags are not toggles on release alone.
    EXPECT_FALSE(app.mWalk);
    EXPECT_FALSE(app.mTurnLeft);
    EXPECT_FALSE(app.mTurnRight);
}

TEST_F(AppEvents, CrossFadeAndContactLocksToggleOnReleaseOnly)
{
    LoadWalker();
    auto press = [&](Uint8 type) {
        for (SDLKey k : {SDLK_b, SDLK_f})
            PushKey(type, k);
        app.HandleEvents();
    };
    auto state = [&] { return std::make_pair(app.mActor.mCrossFade, app.mActor.mContactLock); };

    EXPECT_EQ(state(), std::make_pair(false, false)); // off until asked for
    press(SDL_KEYDOWN);
    EXPECT_EQ(state(), std::make_pair(false, false));
    press(SDL_KEYUP);
    EXPECT_EQ(state(), std::make_pair(true, true));
    PushKey(SDL_KEYUP, SDLK_b);
    app.HandleEvents();
    EXPECT_EQ(state(), std::make_pair(false, true)); // each key its own switch
    EXPECT_FALSE(app.mPaused);
    EXPECT_EQ(app.mDrawMode, 1u);
    EXPECT_EQ(app.mActor.mWalkCycle, 0u);
    EXPECT_FALSE(app.mWalk);
}

TEST_F(AppEvents, KeysStillWorkWhilePaused)
{
    LoadWalker();
    app.mPaused = true;
    PushKey(SDL_KEYDOWN, SDLK_w);
    PushKey(SDL_KEYDOWN, SDLK_a);
    PushKey(SDL_KEYUP, SDLK_c);
    PushKey(SDL_KEYUP, SDLK_t);
    app.HandleEvents();
    EXPECT_TRUE(app.mPaused);
    EXPECT_TRUE(app.mWalk);
    EXPECT_TRUE(app.mTurnLeft);
    EXPECT_EQ(app.mActor.mWalkCycle, 2u);
    EXPECT_EQ(app.mDrawMode, 2u);
}

TEST_F(AppEvents, OnlyClosingTheWindowEndsTheLoop)
{
    const SDLKey keys[] = {SDLK_ESCAPE, SDLK_q, SDLK_x, SDLK_F4, SDLK_RETURN, SDLK_SPACE};
    for (SDLKey k : keys)
    {
        PushKey(SDL_KEYDOWN, k, KMOD_LALT);
        PushKey(SDL_KEYUP, k, KMOD_LALT);
    }
    app.HandleEvents();
    EXPECT_TRUE(app.mActive);

    // One call drains the whole queue: the events after the close request
    // are handled in the same call.
    PushQuit();
    PushKey(SDL_KEYDOWN, SDLK_w);
    app.HandleEvents();
    EXPECT_FALSE(app.mActive);
    EXPECT_TRUE(app.mWalk);
    SDL_Event e;
    EXPECT_EQ(SDL_PollEvent(&e), 0);
}

TEST_F(AppEvents, LeftDragTurnsTheCameraByTheRelativeMotion)
{
    PushButton(SDL_MOUSEBUTTONDOWN, SDL_BUTTON_LEFT);
    PushMotion(7, -4, SDL_BUTTON(SDL_BUTTON_LEFT));
    app.HandleEvents();
    EXPECT_TRUE(app.mLeftMouseButton);
    EXPECT_EQ(app.mCamera.mHeading, -7);   // right lowers the heading
    EXPECT_EQ(app.mCamera.mElevation, -4); // up lowers the eye

    PushMotion(-3, 10, SDL_BUTTON(SDL_BUTTON_LEFT));
    PushMotion(1, 1, SDL_BUTTON(SDL_BUTTON_LEFT));
    app.HandleEvents();
    EXPECT_EQ(app.mCamera.mHeading, -5);
    EXPECT_EQ(app.mCamera.mElevation, 7);

    // However far the mouse goes, the eye stays off the poles.
    PushMotion(0, 30000, SDL_BUTTON(SDL_BUTTON_LEFT));
    app.HandleEvents();
    EXPECT_EQ(app.mCamera.mElevation, 89);
    PushMotion(0, -32768, SDL_BUTTON(SDL_BUTTON_LEFT));
    app.HandleEvents();
    EXPECT_EQ(app.mCamera.mElevation, -89);

    // The eye moves at the next Update, in the same frame.
    FrameAfter(16);
    const cVector3D off = app.mCamera.mPosition - app.mCamera.mTarget;
    EXPECT_NEAR(off.length(), 10.0f, 1e-4f);
    EXPECT_LT(off.mData[1], -9.99f);
}

TEST_F(AppEvents, ReleasingAButtonNeverTurnsTheCamera)
{
    PushButton(SDL_MOUSEBUTTONDOWN, SDL_BUTTON_LEFT);
    PushMotion(5, 5, SDL_BUTTON(SDL_BUTTON_LEFT));
    app.HandleEvents();
    ASSERT_EQ(app.mCamera.mHeading, -5);

    PushButton(SDL_MOUSEBUTTONUP, SDL_BUTTON_LEFT);
    app.HandleEvents();
    EXPECT_FALSE(app.mLeftMouseButton);
    EXPECT_EQ(app.mCamera.mHeading, -5);
    EXPECT_EQ(app.mCamera.mElevation, 5);

    // After the release, motion does nothing, even when the event itself
    // claims the button is down: the application's own flag decides.
    PushMotion(20, 20, SDL_BUTTON(SDL_BUTTON_LEFT));
    PushMotion(-20, -20, 0);
    app.HandleEvents();
    EXPECT_EQ(app.mCamera.mHeading, -5);
    EXPECT_EQ(app.mCamera.mElevation, 5);
}

TEST_F(AppEvents, RightAndOtherButtonsNeverTurnTheCamera)
{
    PushButton(SDL_MOUSEBUTTONDOWN, SDL_BUTTON_RIGHT);
    PushMotion(9, 9, SDL_BUTTON(SDL_BUTTON_RIGHT));
    app.HandleEvents();
    EXPECT_TRUE(app.mRightMouseButton);
    EXPECT_FALSE(app.mLeftMouseButton);
    EXPECT_EQ(app.mCamera.mHeading, 0);
    EXPECT_EQ(app.mCamera.mElevation, 0);

    PushButton(SDL_MOUSEBUTTONDOWN, SDL_BUTTON_MIDDLE);
    PushButton(SDL_MOUSEBUTTONDOWN, SDL_BUTTON_WHEELUP);
    PushButton(SDL_MOUSEBUTTONUP, SDL_BUTTON_WHEELUP);
    PushMotion(3, 3, SDL_BUTTON(SDL_BUTTON_MIDDLE));
    app.HandleEvents();
    EXPECT_FALSE(app.mLeftMouseButton);
    EXPECT_EQ(app.mCamera.mHeading, 0);
    EXPECT_EQ(app.mCamera.mElevation, 0);

    // A right release during a left drag does not end the drag.
    PushButton(SDL_MOUSEBUTTONDOWN, SDL_BUTTON_LEFT);
    PushButton(SDL_MOUSEBUTTONUP, SDL_BUTTON_RIGHT);
    PushMotion(2, 0, SDL_BUTTON(SDL_BUTTON_LEFT));
    app.HandleEvents();
    EXPECT_FALSE(app.mRightMouseButton);
    EXPECT_TRUE(app.mLeftMouseButton);
    EXPECT_EQ(app.mCamera.mHeading, -2);
}

// The frame in which the close request arrives is still updated and drawn;
// then Go shuts SDL down and returns. (Without an OpenGL window the drawing
// calls do nothing.)
TEST_F(AppEvents, GoRunsTheFrameOfTheCloseRequestThenReturns)
{
    LoadWalker();
    PushKey(SDL_KEYDOWN, SDLK_w);
    PushQuit();
    Script({10016, 10016});
    ASSERT_NO_THROW(app.Go());
    EXPECT_TRUE(ScriptUsedUp()) << "Go ran more or less than one frame";
    EXPECT_FALSE(app.mActive);
    EXPECT_EQ(app.mFPS, 1u);
    EXPECT_EQ(app.mActor.mTime, 16u);      // the character step ran
    EXPECT_EQ(app.mActor.mNextAction, 0u); // with the walk requested
    EXPECT_EQ(SDL_WasInit(SDL_INIT_VIDEO), 0u);
}

// ---------------------------------------------------------------------------
// Frame timing

using AppTiming = AppTest;

TEST_F(AppTiming, TheWaitEndsAtTheFirstNewTick)
{
    LoadWalker();
    // Three polls still see the tick the previous frame ended on.
    Script({10000, 10000, 10000, 10001, 10001});
    ASSERT_NO_THROW(app.Update());
    EXPECT_TRUE(ScriptUsedUp());
    EXPECT_EQ(gPolls, 5u);
    EXPECT_EQ(app.mCurrentTime, 10001u);
    EXPECT_EQ(app.mLastTime, 10001u);
    EXPECT_EQ(app.mActor.mTime, 1u); // dt = 1
}

TEST_F(AppTiming, DtRunsFromTheEndOfTheLastUpdateToTheStartOfThisOne)
{
    LoadWalker();
    Frame(10007, 10009); // dt 7; the time inside Update is not counted
    EXPECT_EQ(app.mActor.mTime, 7u);
    Frame(10020, 10025); // dt 20 - 9 = 11
    EXPECT_EQ(app.mActor.mTime, 18u);
    Frame(10400, 10400); // dt 375
    EXPECT_EQ(app.mActor.mTime, 393u);
}

TEST_F(AppTiming, TheTickCounterWrapsWithoutStallingOrJumping)
{
    LoadWalker();
    StartAt(0xFFFFFFF0u);
    Frame(0xFFFFFFFFu); // dt 15
    EXPECT_EQ(app.mActor.mTime, 15u);

    // The counter wraps to 0 while the frame waits: the wait ends there.
    Script({0xFFFFFFFFu, 0xFFFFFFFFu, 0u, 2u, 2u});
    ASSERT_NO_THROW(app.Update()) << "the frame wait did not end when the tick counter wrapped";
    EXPECT_EQ(app.mCurrentTime, 0u);
    EXPECT_EQ(app.mActor.mTime, 16u); // dt 1, not 2^32 - 1

    Frame(5u); // dt 3
    EXPECT_EQ(app.mActor.mTime, 19u);
}

TEST_F(AppTiming, TheSecondWindowWrapsWithTheCounter)
{
    LoadWalker();
    StartAt(0xFFFFFF00u); // the window starts 256 ms before the wrap
    SDL_WM_SetCaption("before", nullptr);
    for (Uint32 t = 0xFFFFFF00u + 100u; t != 0xFFFFFF00u + 1000u; t += 100u)
        Frame(t);
    Frame(0xFFFFFF00u + 1000u); // exactly 1000 ms: no refresh yet
    EXPECT_EQ(Caption(), "before");
    Frame(0xFFFFFF00u + 1001u);
    EXPECT_EQ(Caption(), "FPS: 10");
    EXPECT_EQ(app.mSecondStartTime, 0xFFFFFF00u + 1001u);
}

// A full hour of turning at 1 ms per frame, through the real frame path: the
// heading changes by 0.1 degree every frame and never leaves one turn, so a
// long session turns as smoothly as the first minute.
TEST_F(AppTiming, TurningStaysExactForAnHour)
{
    LoadWalker(1); // one bone: this test is about the arithmetic, not the skeleton
    app.mWalk = true;
    app.mTurnLeft = true;
    const unsigned int frames = 3600u * 1000u;
    float worst = 0.0f;
    float before = app.mActor.mHeading;
    for (unsigned int i = 0; i < frames; ++i)
    {
        if (i == frames / 2) // turn back the other way for the second half hour
        {
            app.mTurnLeft = false;
            app.mTurnRight = true;
        }
        Script({app.mLastTime + 1, app.mLastTime + 1});
        app.Update();
        const float h = app.mActor.mHeading;
        ASSERT_LT(std::fabs(h), 360.0f) << "frame " << i;
        float step = h - before;
        if (step > 180.0f)
            step -= 360.0f;
        else if (step < -180.0f)
            step += 360.0f;
        const float expected = (i < frames / 2) ? 0.1f : -0.1f;
        worst = std::max(worst, std::fabs(step - expected));
        before = h;
    }
    EXPECT_LT(worst, 1e-4f) << "a frame's turn differed from 0.1 degree by " << worst;
}

// ---------------------------------------------------------------------------
// Caption

using AppCaption = AppTest;

TEST_F(AppCaption, RefreshesOnlyAfterMoreThanOneSecond)
{
    LoadWalker();
    SDL_WM_SetCaption("before", "icon");
    for (Uint32 t = 10001; t <= 11000; ++t) // 1000 frames of 1 ms
        Frame(t);
    EXPECT_EQ(Caption(), "before") << "refreshed after exactly 1000 ms";

    Frame(11001);
    EXPECT_EQ(Caption(), "FPS: 1000");
    EXPECT_EQ(IconCaption(), "icon") << "the icon title must stay as it was";
    EXPECT_EQ(app.mSecondStartTime, 11001u);
    EXPECT_EQ(app.mFPS, 1u); // the refreshing frame starts the next count

    Frame(11500);
    Frame(12001); // 1000 ms after the refresh: not yet
    EXPECT_EQ(Caption(), "FPS: 1000");
    Frame(12002);
    EXPECT_EQ(Caption(), "FPS: 3");
}

TEST_F(AppCaption, EveryRefreshShowsJustTheLatestCount)
{
    LoadWalker();
    Frame(11001); // nothing drawn before it
    EXPECT_EQ(Caption(), "FPS: 0");

    // Counts of different widths, in an order where a leftover digit or an
    // earlier number would show.
    const unsigned int counts[] = {1000, 3, 57, 1, 999, 10, 1000, 2};
    Uint32 t = 11001;
    for (unsigned int n : counts)
    {
        // n frames counted: the refresh frame of the window before and n - 1
        // more; then this window's refresh, 1001 ms after the previous one.
        const Uint32 start = t;
        for (unsigned int i = 1; i < n; ++i)
            Frame(start + (Uint32)((unsigned long long)i * 1000 / n));
        t = start + 1001;
        Frame(t);
        EXPECT_EQ(Caption(), "FPS: " + std::to_string(n));
    }
}

TEST_F(AppCaption, PausedFramesAreCountedAndRefreshTheCaption)
{
    LoadWalker();
    app.mPaused = true;
    for (Uint32 t = 10100; t <= 11000; t += 100)
        Frame(t);
    Frame(11001);
    EXPECT_EQ(Caption(), "FPS: 10");
}

TEST_F(AppCaption, FramesAllocateNothingOnceRunning)
{
    LoadWalker();
    app.mWalk = true;
    app.mTurnLeft = true;
    Uint32 t = 10000;
    for (int i = 0; i < 5; ++i) // warm up: a few refreshes
    {
        t += 500;
        Frame(t);
        t += 501;
        Frame(t);
    }
    // Thousands of refreshes: a caption stream that kept every number would
    // have to grow its buffer along the way.
    qvtest::AllocationScope scope;
    for (int i = 0; i < 5000; ++i)
    {
        Script({t + 400, t + 400, t + 1002, t + 1002});
        app.Update();
        app.Update();
        t += 1002;
    }
    const unsigned long long allocations = scope.Allocations();
    EXPECT_EQ(allocations, 0u);
    EXPECT_EQ(Caption(), "FPS: 2");
}

// ---------------------------------------------------------------------------
// The character step

using AppCharacter = AppTest;

// The slot that an Animate call evaluated, told by a non-root bone's
// orientation (the root also carries the heading).
int PlayedSlot(const cActor& a)
{
    for (unsigned int s = 0; s < kActionSlots; ++s)
    {
        cQuaternion q;
        a.mAction[s].mChannels[1].EvaluateAt(a.mTime, q);
        if (std::memcmp(q.mData, a.mArmature.mBones[1].mOrientation.mData, sizeof q.mData) == 0)
            return s;
    }
    return -1;
}

TEST_F(AppCharacter, StartsWithOneFrameOfSlotZeroThenStands)
{
    LoadWalker();
    FrameAfter(16);
    EXPECT_EQ(PlayedSlot(app.mActor), 0);
    EXPECT_EQ(app.mActor.mNextAction, 1u);
    EXPECT_EQ(app.mActor.mCurrentAction, 1u);
    FrameAfter(16);
    EXPECT_EQ(PlayedSlot(app.mActor), 1);
    FrameAfter(16);
    EXPECT_EQ(PlayedSlot(app.mActor), 1);
}

TEST_F(AppCharacter, HoldingWPlaysTheWalkCycleAndReleasingItStands)
{
    LoadWalker();
    FrameAfter(16);
    FrameAfter(16);
    ASSERT_EQ(PlayedSlot(app.mActor), 1);

    // A key, then the change-over frame, which requests the new slot while
    // the old action shows once more, then the first frame of the new slot.
    auto changeOver = [&](Uint8 type, SDLKey key, unsigned int slot, int shownOnceMore) {
        PushKey(type, key);
        app.HandleEvents();
        FrameAfter(16);
        EXPECT_EQ(app.mActor.mNextAction, slot);
        EXPECT_EQ(PlayedSlot(app.mActor), shownOnceMore);
        FrameAfter(16);
        EXPECT_EQ(PlayedSlot(app.mActor), (int)slot);
    };
    changeOver(SDL_KEYDOWN, SDLK_w, 0, 1); // walk
    changeOver(SDL_KEYUP, SDLK_c, 2, 0);   // C while walking: the second walk
    changeOver(SDL_KEYUP, SDLK_w, 1, 2);   // W released: stand
}

TEST_F(AppCharacter, CWhileStandingOnlyChangesTheCycle)
{
    LoadWalker();
    FrameAfter(16);
    FrameAfter(16);
    PushKey(SDL_KEYUP, SDLK_c);
    app.HandleEvents();
    EXPECT_EQ(app.mActor.mWalkCycle, 2u);
    FrameAfter(16);
    FrameAfter(16);
    EXPECT_EQ(app.mActor.mNextAction, 1u);
    EXPECT_EQ(app.mActor.mCurrentAction, 1u);
    EXPECT_EQ(PlayedSlot(app.mActor), 1);

    // It takes effect once walking starts.
    app.mWalk = true;
    FrameAfter(16);
    FrameAfter(16);
    EXPECT_EQ(PlayedSlot(app.mActor), 2);
}

TEST_F(AppCharacter, AAndDTurnOnlyWhileWalking)
{
    LoadWalker();
    app.mTurnLeft = true;
    FrameAfter(10);
    EXPECT_EQ(app.mActor.mHeading, 0.0f);
    app.mTurnLeft = false;
    app.mTurnRight = true;
    FrameAfter(10);
    EXPECT_EQ(app.mActor.mHeading, 0.0f);

    app.mWalk = true;
    app.mTurnRight = false;
    app.mTurnLeft = true;
    FrameAfter(10); // left grows the heading, 0.1 degree per millisecond
    EXPECT_NEAR(app.mActor.mHeading, 1.0f, 1e-5f);
    FrameAfter(250);
    EXPECT_NEAR(app.mActor.mHeading, 26.0f, 1e-4f);

    app.mTurnLeft = false;
    app.mTurnRight = true;
    FrameAfter(40);
    EXPECT_NEAR(app.mActor.mHeading, 22.0f, 1e-4f);

    // Both together cancel.
    app.mTurnLeft = true;
    FrameAfter(100);
    EXPECT_NEAR(app.mActor.mHeading, 22.0f, 1e-4f);
}

TEST_F(AppCharacter, TheCameraFollowsTheRootInTheSameFrame)
{
    LoadWalker();
    app.mWalk = true;
    for (int i = 0; i < 200; ++i)
    {
        FrameAfter(16);
        const cVector3D root = app.mActor.mArmature.mRootBone->mWorldTransform.getTransform();
        ASSERT_TRUE(qvtest::VecNear(app.mCamera.mTarget, root, 0.0f)) << "frame " << i;
        ASSERT_TRUE(qvtest::VecNear(app.mCamera.mPosition, root + cVector3D(0, 0, 10), 1e-4f)) << "frame " << i;
    }
}

TEST_F(AppCharacter, PausedFramesLeaveTheActorAndTheCameraTargetAlone)
{
    LoadWalker();
    app.mWalk = true;
    app.mTurnLeft = true;
    for (int i = 0; i < 20; ++i)
        FrameAfter(16);

    PushKey(SDL_KEYUP, SDLK_p);
    app.HandleEvents();
    ASSERT_TRUE(app.mPaused);
    const ActorSnapshot frozen(app.mActor);
    const cVector3D target = app.mCamera.mTarget;

    // While paused: A released, C pressed, a drag, many frames.
    PushKey(SDL_KEYUP, SDLK_a);
    PushKey(SDL_KEYUP, SDLK_c);
    PushButton(SDL_MOUSEBUTTONDOWN, SDL_BUTTON_LEFT);
    PushMotion(30, 10, SDL_BUTTON(SDL_BUTTON_LEFT));
    app.HandleEvents();
    const cVector3D eye = app.mCamera.mPosition;
    for (int i = 0; i < 50; ++i)
        FrameAfter(16);
    EXPECT_TRUE(SameActorState(frozen, ActorSnapshot(app.mActor)));
    EXPECT_TRUE(qvtest::VecNear(app.mCamera.mTarget, target, 0.0f));
    // The camera still orbits during a pause.
    EXPECT_FALSE(qvtest::VecNear(app.mCamera.mPosition, eye, 1e-3f));

    // Resuming: the changes made while paused take effect on the first frame.
    PushKey(SDL_KEYUP, SDLK_p);
    app.HandleEvents();
    FrameAfter(16);
    EXPECT_EQ(app.mActor.mNextAction, 2u);
    EXPECT_EQ(app.mActor.mHeading, frozen.heading); // A is no longer held
    EXPECT_EQ(app.mActor.mTime, frozen.time + 16 > 1000 ? 34u : frozen.time + 16);
}

// ---------------------------------------------------------------------------
// LoadActor: the demo refuses a file that lacks what it needs.

struct BoneSpec
{
    const char* name;
    const char* parent;
};

std::string ActorXml(const std::vector<BoneSpec>& bones, int actions)
{
    std::ostringstream x;
    x << "<QVArmature>\n <armature name=\"test\">\n  <skeleton bones=\"" << bones.size() << "\">\n";
    for (const BoneSpec& b : bones)
    {
        const bool root = std::strcmp(b.parent, "NULL") == 0;
        x << "   <bone name=\"" << b.name << "\" len=\"1\"><matrix>"
          << (root ? "1,0,0,0, 0,1,0,0, 0,0,1,1" : "1,0,0,0, 0,1,0,1, 0,0,1,0") << "</matrix></bone>\n";
    }
    x << "  </skeleton>\n  <heirachy>\n";
    for (const BoneSpec& b : bones)
        x << "   <node name=\"" << b.name << "\">" << b.parent << "</node>\n";
    x << "  </heirachy>\n </armature>\n <actions>\n";
    static const char* const names[3] = {"walk", "stand", "walk2"};
    for (int a = 0; a < actions; ++a)
    {
        x << "  <action name=\"" << names[a % 3] << "\" len=\"1000\">\n";
        for (size_t b = 0; b < bones.size(); ++b)
            x << "   <channel><keyframes keys=\"2\">"
                 "<key t=\"0\"><quat w=\"1\" x=\"0\" y=\"0\" z=\"0\"/></key>"
                 "<key t=\"1000\"><quat w=\"1\" x=\"0\" y=\"0\" z=\"0\"/></key>"
                 "</keyframes></channel>\n";
        x << "  </action>\n";
    }
    x << " </actions>\n</QVArmature>\n";
    return x.str();
}

const std::vector<BoneSpec> kGoodBones = {
    {"Bone", "NULL"},     {"Bone.001", "Bone"},     {"Bone.005", "Bone"},
    {"Bone.006", "Bone"}, {"Bone.007", "Bone.005"}, {"Bone.008", "Bone.006"},
};

std::string WriteFile(const std::string& name, const std::string& text)
{
    const std::string path = ::testing::TempDir() + "qv_test_app_" + name;
    std::ofstream(path) << text;
    return path;
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// Runs LoadActor on the file in a child process that must end with status 1
// and print exactly `line` and an end of line on standard output.
void ExpectRefusal(const std::string& file, const std::string& line)
{
    const std::string out = file + ".out";
    std::remove(out.c_str());
    EXPECT_EXIT(
        {
            if (!std::freopen(out.c_str(), "w", stdout))
                std::abort();
            cQVApp app;
            app.LoadActor(file.c_str());
            std::printf("LoadActor returned\n");
            std::exit(0);
        },
        ::testing::ExitedWithCode(1), "");
    EXPECT_EQ(ReadFile(out), line + "\n");
}

TEST(AppLoadActor, AcceptsAWalkerAndInstallsTheFeet)
{
    const std::string file = WriteFile("good.xml", ActorXml(kGoodBones, 3));
    cQVApp app;
    app.LoadActor(file.c_str());
    cActor& a = app.mActor;
    ASSERT_NE(a.mArmature.mRootBone, nullptr);
    ASSERT_NE(a.mLeftFoot.mBone, nullptr);
    ASSERT_NE(a.mRightFoot.mBone, nullptr);
    EXPECT_EQ(a.mLeftFoot.mBone->mName, "Bone.008");
    EXPECT_EQ(a.mRightFoot.mBone->mName, "Bone.007");
    // The locks were installed before the first world matrices existed.
    EXPECT_TRUE(qvtest::VecNear(a.mLeftFoot.mLastPosition, cVector3D(0, 0, 0), 0.0f));
    EXPECT_TRUE(qvtest::VecNear(a.mLeftFoot.mDir, cVector3D(0, 1, 0), 0.0f));
    // The world matrices are current: the root stands one unit up.
    EXPECT_TRUE(qvtest::VecNear(a.mArmature.mRootBone->mWorldTransform.getTransform(), cVector3D(0, 1, 0)));
    EXPECT_TRUE(qvtest::VecNear(a.mLeftFoot.mBone->mWorldTransform.getTransform(),
                                a.mLeftFoot.mBone->mParent->mWorldTransform * cVector3D(0, 1, 0)));
}

TEST(AppLoadActorDeathTest, RefusesAFileWithFewerThanThreeActions)
{
    ExpectRefusal(WriteFile("two_actions.xml", ActorXml(kGoodBones, 2)),
                  "EXIT ON ERROR: XML ERROR: the walker needs three actions (walk, stand, second walk).");
}

TEST(AppLoadActorDeathTest, RefusesAFileWithoutTheLeftFoot)
{
    std::vector<BoneSpec> bones = kGoodBones;
    bones[5].name = "Bone.009";
    ExpectRefusal(WriteFile("no_left.xml", ActorXml(bones, 3)),
                  "EXIT ON ERROR: XML ERROR: the walker needs a left foot bone named 'Bone.008'.");
}

TEST(AppLoadActorDeathTest, RefusesAFileWithoutTheRightFoot)
{
    std::vector<BoneSpec> bones = kGoodBones;
    bones[4].name = "bone.007"; // names are case-sensitive
    ExpectRefusal(WriteFile("no_right.xml", ActorXml(bones, 3)),
                  "EXIT ON ERROR: XML ERROR: the walker needs a right foot bone named 'Bone.007'.");
}

TEST(AppLoadActorDeathTest, AMissingFileIsOneLine)
{
    ExpectRefusal(::testing::TempDir() + "qv_test_app_no_such_file.xml",
                  "EXIT ON ERROR: XML ERROR: Failed to open file");
}

TEST(AppExitErrorDeathTest, PrintsOneLineAndEndsWithStatusOne)
{
    const std::string out = ::testing::TempDir() + "qv_test_app_exit.out";
    EXPECT_EXIT(
        {
            if (!std::freopen(out.c_str(), "w", stdout))
                std::abort();
            cQVApp::ExitError("something broke");
        },
        ::testing::ExitedWithCode(1), "");
    EXPECT_EQ(ReadFile(out), "EXIT ON ERROR: something broke\n");
}
} // namespace
