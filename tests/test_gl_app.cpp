// The application shell with its real OpenGL window (run on a private Xvfb
// display): the state Setup leaves behind, and the first picture of a
// character that was paused before its first step.

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "QV_app.h"
#include "support/synthetic_actor.h"

namespace
{
Uint32 gTicks[4];
int gTickReads = 0;

// Each reading returns the next of a few distinct ticks, then the last again.
Uint32 CountingTicks()
{
    const int i = gTickReads < 3 ? gTickReads : 3;
    ++gTickReads;
    return gTicks[i];
}

struct Rgb
{
    int r, g, b;
};

class GlApp : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        gTicks[0] = 5000;
        gTicks[1] = 5003;
        gTicks[2] = 5004;
        gTicks[3] = 5004;
        gTickReads = 0;
        cQVApp::SetTickSource(&CountingTicks);
        app = new cQVApp;
        app->Setup(800, 600);
        setupReads = gTickReads;
        cQVApp::SetTickSource(nullptr);
    }
    static void TearDownTestSuite()
    {
        SDL_Quit();
        delete app;
        app = nullptr;
    }

    // The frame just drawn, rows from the bottom (OpenGL's order). Mesa's
    // software renderer on Xvfb swaps by copying, so the back buffer still
    // holds the frame after the swap; its front buffer reads back black.
    static std::vector<unsigned char> ReadFrame()
    {
        std::vector<unsigned char> px(800 * 600 * 3);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glReadBuffer(GL_BACK);
        glReadPixels(0, 0, 800, 600, GL_RGB, GL_UNSIGNED_BYTE, px.data());
        return px;
    }
    static Rgb At(const std::vector<unsigned char>& px, int x, int yFromTop)
    {
        const size_t i = ((size_t)(599 - yFromTop) * 800 + (size_t)x) * 3;
        return Rgb{px[i], px[i + 1], px[i + 2]};
    }
    // Whether any pixel within `radius` of (x, y) satisfies pred.
    template <class Pred>
    static bool Near(const std::vector<unsigned char>& px, int x, int y, int radius, Pred pred)
    {
        for (int dy = -radius; dy <= radius; ++dy)
            for (int dx = -radius; dx <= radius; ++dx)
                if (pred(At(px, x + dx, y + dy)))
                    return true;
        return false;
    }

    static cQVApp* app;
    static int setupReads;
};

cQVApp* GlApp::app = nullptr;
int GlApp::setupReads = 0;

bool IsBackground(Rgb c) { return (c.r == 127 || c.r == 128) && (c.g == 127 || c.g == 128) && c.b == 153; }
bool IsBlack(Rgb c) { return c.r == 0 && c.g == 0 && c.b == 0; }
bool IsRed(Rgb c) { return c.r == 255 && c.g == 0 && c.b == 0; }
bool IsGreen(Rgb c) { return c.r == 0 && c.g == 255 && c.b == 0; }
bool IsWhite(Rgb c) { return c.r == 255 && c.g == 255 && c.b == 255; }

TEST_F(GlApp, SetupStartsTheClockAndTheFirstCaptionWindowAtItsOwnTick)
{
    ASSERT_EQ(setupReads, 2) << "Setup should read the clock twice";
    EXPECT_EQ(app->mCurrentTime, 5000u);
    EXPECT_EQ(app->mLastTime, 5003u);
    EXPECT_EQ(app->mSecondStartTime, 5000u);
    EXPECT_EQ(app->mFPS, 0u);
    EXPECT_EQ(app->mWinWidth, 800u);
    EXPECT_EQ(app->mWinHeight, 600u);
    EXPECT_EQ(app->mDrawMode, 1u);
    EXPECT_TRUE(app->mActive);
    EXPECT_FALSE(app->mPaused || app->mWalk || app->mTurnLeft || app->mTurnRight);
    EXPECT_FALSE(app->mLeftMouseButton || app->mRightMouseButton);
}

TEST_F(GlApp, SetupOpensTheWindowWithItsProjectionAndDepthTest)
{
    const SDL_Surface* s = SDL_GetVideoSurface();
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->w, 800);
    EXPECT_EQ(s->h, 600);
    EXPECT_TRUE(s->flags & SDL_OPENGL);
    EXPECT_FALSE(s->flags & SDL_FULLSCREEN);

    // 45 degrees vertically, the window's own aspect ratio, 0.1 to 100.
    GLfloat p[16];
    glGetFloatv(GL_PROJECTION_MATRIX, p);
    const double f = 1.0 / std::tan(22.5 * M_PI / 180.0);
    EXPECT_NEAR(p[5], f, 1e-5);
    EXPECT_NEAR(p[0], f * 600.0 / 800.0, 1e-5);
    EXPECT_NEAR(p[10], -(100.0 + 0.1) / (100.0 - 0.1), 1e-5);
    EXPECT_NEAR(p[14], -2.0 * 100.0 * 0.1 / (100.0 - 0.1), 1e-5);
    EXPECT_EQ(p[11], -1.0f);

    GLint mode = 0, depthFunc = 0;
    glGetIntegerv(GL_MATRIX_MODE, &mode);
    glGetIntegerv(GL_DEPTH_FUNC, &depthFunc);
    EXPECT_EQ(mode, GL_MODELVIEW);
    EXPECT_TRUE(glIsEnabled(GL_DEPTH_TEST));
    EXPECT_EQ(depthFunc, GL_LEQUAL);
    GLint depthBits = 0;
    glGetIntegerv(GL_DEPTH_BITS, &depthBits);
    EXPECT_GE(depthBits, 16);
}

// Paused before its first step, the character has not moved its feet yet:
// both red points sit at the origin, where the locks were installed, and the
// green line goes one unit straight up from the root.
TEST_F(GlApp, FirstPausedFrameShowsTheMarkersWhereTheLocksWereInstalled)
{
    app->SetupCamera(0, 2, 0, 10, 0, 0);
    qvtest::BuildSyntheticActor(app->mActor, 9, 3, 1000);
    app->mPaused = true;
    // Back on SDL's own clock, which started at Setup.
    app->mCurrentTime = app->mLastTime = app->mSecondStartTime = SDL_GetTicks();
    app->Update();
    app->Draw();
    const std::vector<unsigned char> px = ReadFrame();

    // The sky: the clear colour above the horizon (the eye is at the target's
    // height, so the horizon is the middle row).
    EXPECT_TRUE(IsBackground(At(px, 0, 0)));
    EXPECT_TRUE(IsBackground(At(px, 799, 0)));
    EXPECT_TRUE(IsBackground(At(px, 20, 250)));

    // The grid: black lines below the horizon only.
    int blackBelow = 0, blackAbove = 0;
    for (int y = 0; y < 600; ++y)
        for (int x = 0; x < 800; ++x)
            if (IsBlack(At(px, x, y)))
                ++(y < 295 ? blackAbove : blackBelow);
    EXPECT_EQ(blackAbove, 0);
    EXPECT_GT(blackBelow, 5000);

    // The eye at (0, 2, 10) sees the origin 2 units down and 10 ahead:
    // 300 + 300 * 0.2 / tan(22.5 degrees) = 444.9 pixels from the top.
    EXPECT_TRUE(Near(px, 400, 445, 2, IsRed));
    // Nothing else is red.
    int red = 0;
    for (int y = 0; y < 600; ++y)
        for (int x = 0; x < 800; ++x)
            red += IsRed(At(px, x, y)) ? 1 : 0;
    EXPECT_LE(red, 25);

    // The root stands at (0, 1, 0): the line runs from 372.4 up to 300 pixels
    // from the top, in the middle column.
    const cVector3D root = app->mActor.mArmature.mRootBone->mWorldTransform.getTransform();
    ASSERT_NEAR(root.mData[1], 1.0f, 1e-5f);
    for (int y : {305, 320, 340, 360})
        EXPECT_TRUE(Near(px, 400, y, 1, IsGreen)) << "row " << y;
    EXPECT_FALSE(Near(px, 400, 290, 2, IsGreen)) << "the line is one unit long";
    EXPECT_FALSE(Near(px, 400, 385, 2, IsGreen)) << "the line starts at the root";

    // The skeleton is drawn, in white.
    int white = 0;
    for (int y = 0; y < 600; ++y)
        for (int x = 0; x < 800; ++x)
            white += IsWhite(At(px, x, y)) ? 1 : 0;
    EXPECT_GT(white, 50);
}
} // namespace
