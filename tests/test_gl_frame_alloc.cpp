// Once the actor is loaded, a whole frame of the real application
// (HandleEvents, Update, Draw) allocates nothing from the C++ heap; the one
// exception is the caption refresh, once a second, which may format its text.
//
// The application runs in a real window (the test runs under Xvfb) with a
// controlled millisecond clock, so every frame lasts exactly kFrameMs and the
// caption refreshes at known frames; input is pushed into SDL's queue so that
// walking, turning, pausing, the draw modes, the walk cycles and the camera
// drag all run inside the counted frames.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>
#include <vector>

#include "QV_app.h"
#include "support/alloc_counter.h"
#include "support/synthetic_actor.h"

namespace
{
constexpr Uint32 kFrameMs = 16;
// The caption may build its text once a second; a handful of allocations at
// most (the number's text, the caption string).
constexpr unsigned long long kCaptionBound = 8;

Uint32 gNow = 5000;
Uint32 TestTicks() { return gNow; }

void PushKey(Uint8 type, SDLKey key)
{
    SDL_Event e = {};
    e.type = type;
    e.key.type = type;
    e.key.state = type == SDL_KEYDOWN ? SDL_PRESSED : SDL_RELEASED;
    e.key.keysym.sym = key;
    ASSERT_EQ(SDL_PushEvent(&e), 0);
}

void PushButton(Uint8 type, Uint8 button)
{
    SDL_Event e = {};
    e.type = type;
    e.button.type = type;
    e.button.button = button;
    e.button.state = type == SDL_MOUSEBUTTONDOWN ? SDL_PRESSED : SDL_RELEASED;
    e.button.x = 400;
    e.button.y = 300;
    ASSERT_EQ(SDL_PushEvent(&e), 0);
}

void PushMotion(Sint16 dx, Sint16 dy)
{
    SDL_Event e = {};
    e.type = SDL_MOUSEMOTION;
    e.motion.type = SDL_MOUSEMOTION;
    e.motion.state = SDL_BUTTON(SDL_BUTTON_LEFT);
    e.motion.x = 400;
    e.motion.y = 300;
    e.motion.xrel = dx;
    e.motion.yrel = dy;
    ASSERT_EQ(SDL_PushEvent(&e), 0);
}

// The input script: what is pushed before frame i of the counted run.
void InputFor(int i)
{
    switch (i)
    {
    case 5: PushKey(SDL_KEYDOWN, SDLK_w); break;  // walk
    case 15: PushKey(SDL_KEYDOWN, SDLK_a); break; // turn left while walking
    case 45: PushKey(SDL_KEYUP, SDLK_a); break;
    case 50: PushKey(SDL_KEYUP, SDLK_c); break;   // second walk cycle
    case 55: PushKey(SDL_KEYDOWN, SDLK_d); break; // turn right
    case 85: PushKey(SDL_KEYUP, SDLK_d); break;
    case 90: PushKey(SDL_KEYUP, SDLK_t); break; // draw mode 2
    case 95: PushButton(SDL_MOUSEBUTTONDOWN, SDL_BUTTON_LEFT); break;
    case 120: PushButton(SDL_MOUSEBUTTONUP, SDL_BUTTON_LEFT); break;
    case 125: PushKey(SDL_KEYUP, SDLK_p); break; // pause ...
    case 135: PushKey(SDL_KEYUP, SDLK_p); break; // ... and resume
    case 140: PushKey(SDL_KEYUP, SDLK_t); break; // draw mode 1
    case 145: PushKey(SDL_KEYUP, SDLK_c); break; // first walk cycle
    case 170: PushKey(SDL_KEYUP, SDLK_w); break; // stand
    case 180: PushButton(SDL_MOUSEBUTTONDOWN, SDL_BUTTON_RIGHT); break;
    case 185: PushButton(SDL_MOUSEBUTTONUP, SDL_BUTTON_RIGHT); break;
    default: break;
    }
    if (i > 95 && i < 120)
        PushMotion((Sint16)(i % 2 ? 3 : -2), (Sint16)(i % 3 - 1)); // camera drag
    if (i % 7 == 0)
        PushMotion(1, 1); // motion without the left button
}

struct FrameCount
{
    int frame;
    unsigned long long allocations;
};

struct FrameCounts
{
    std::vector<FrameCount> plain;   // frames without a caption refresh
    std::vector<FrameCount> caption; // frames that refreshed the caption
};

// Runs `frames` frames, kFrameMs apart, counting the allocations of each.
FrameCounts RunFrames(cQVApp& app, int frames, bool withInput)
{
    FrameCounts counts;
    for (int i = 0; i < frames; ++i)
    {
        if (withInput)
            InputFor(i);
        gNow += kFrameMs;
        const unsigned int secondStart = app.mSecondStartTime;

        qvtest::AllocationScope scope;
        app.HandleEvents();
        app.Update();
        app.Draw();
        const unsigned long long n = scope.Allocations();

        (app.mSecondStartTime != secondStart ? counts.caption : counts.plain).push_back({i, n});
    }
    return counts;
}

// The first few frames that allocated, as " frame F: N;" items.
std::string Describe(const std::vector<FrameCount>& v)
{
    std::string s;
    int shown = 0;
    for (const FrameCount& f : v)
        if (f.allocations != 0 && shown++ < 10)
            s += " frame " + std::to_string(f.frame) + ": " + std::to_string(f.allocations) + ";";
    return s.empty() ? " none" : s;
}

class FrameAlloc : public ::testing::Test
{
protected:
    void SetUp() override
    {
        cQVApp::SetTickSource(&TestTicks);
        app.Setup(800, 600);
        app.SetupCamera(0, 2, 0, 10, 0, 0);
    }
    void TearDown() override
    {
        cQVApp::SetTickSource(nullptr);
        SDL_Quit();
    }

    // The first frames fill the caption's stream and string for the first
    // time and warm up the driver; they are not counted.
    void WarmUp()
    {
        RunFrames(app, 3, false);
        // Start the counted run just after a caption refresh.
        gNow += 1001;
        RunFrames(app, 1, false);
    }

    void CheckCountedRun()
    {
        const float heading0 = app.mActor.mHeading;
        const int cameraHeading0 = app.mCamera.mHeading;

        const int frames = 200; // 3.2 s of the controlled clock: three caption refreshes
        const FrameCounts counts = RunFrames(app, frames, true);

        // The input reached the application: it walked, turned and orbited.
        EXPECT_NE(app.mActor.mHeading, heading0);
        EXPECT_NE(app.mCamera.mHeading, cameraHeading0);
        EXPECT_FALSE(app.mWalk);
        EXPECT_FALSE(app.mPaused);

        EXPECT_EQ(counts.caption.size(), 3u);
        EXPECT_EQ(counts.plain.size() + counts.caption.size(), (size_t)frames);
        unsigned long long total = 0;
        for (const FrameCount& f : counts.plain)
            total += f.allocations;
        EXPECT_EQ(total, 0u) << "frames that allocated:" << Describe(counts.plain);
        for (const FrameCount& f : counts.caption)
            EXPECT_LE(f.allocations, kCaptionBound) << "caption refresh allocations:" << Describe(counts.caption);
    }

    cQVApp app;
};

bool FileExists(const char* path)
{
    struct stat st;
    return stat(path, &st) == 0;
}

TEST_F(FrameAlloc, WalkerFramesAllocateNothingButTheCaption)
{
    // The working directory is the repository root, as for the demo.
    ASSERT_TRUE(FileExists("./data/walker.xml")) << "run from the repository root";
    app.LoadActor("./data/walker.xml");
    WarmUp();
    CheckCountedRun();
}

TEST_F(FrameAlloc, WalkerFramesWithCrossFadeAndContactLocksAllocateNothingButTheCaption)
{
    ASSERT_TRUE(FileExists("./data/walker.xml")) << "run from the repository root";
    app.LoadActor("./data/walker.xml");
    WarmUp();
    // B and F are handled in the first counted frame: every start, stop and
    // change of cycle in the run fades, and the feet are held by their
    // contact points.
    PushKey(SDL_KEYUP, SDLK_b);
    PushKey(SDL_KEYUP, SDLK_f);
    CheckCountedRun();
    EXPECT_TRUE(app.mActor.mCrossFade);
    EXPECT_TRUE(app.mActor.mContactLock);
}

TEST_F(FrameAlloc, LargeActorFramesAllocateNothingButTheCaption)
{
    // 300 bones: deeper recursion, more channels and more drawing per frame.
    qvtest::BuildSyntheticActor(app.mActor, 300, 6);
    WarmUp();
    CheckCountedRun();
}

} // namespace
