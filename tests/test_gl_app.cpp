// The application shell with its real OpenGL window (run on a private Xvfb
// display): the state Setup leaves behind, and the first picture of a
// character that was paused before its first step.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <set>
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
        flagsAfterSetup = {app->mActive,          app->mPaused,          app->mWalk, app->mTurnLeft, app->mTurnRight,
                           app->mLeftMouseButton, app->mRightMouseButton};

        // The start-up order of the program, with an actor built in memory,
        // paused before its first step.
        app->SetupCamera(0, 2, 0, 10, 0, 0);
        qvtest::BuildSyntheticActor(app->mActor, 9, 3, 1000);
        app->mPaused = true;
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
    template <class Pred> static bool Near(const std::vector<unsigned char>& px, int x, int y, int radius, Pred pred)
    {
        for (int dy = -radius; dy <= radius; ++dy)
            for (int dx = -radius; dx <= radius; ++dx)
                if (pred(At(px, x + dx, y + dy)))
                    return true;
        return false;
    }

    static cQVApp* app;
    static int setupReads;
    static std::vector<bool> flagsAfterSetup;
};

cQVApp* GlApp::app = nullptr;
int GlApp::setupReads = 0;
std::vector<bool> GlApp::flagsAfterSetup;

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
    EXPECT_EQ(app->mBodyMode, cQVApp::kShowBones); // the bones alone, whatever the file carries
    // Active; not paused, walking, turning or dragging.
    EXPECT_EQ(flagsAfterSetup, std::vector<bool>({true, false, false, false, false, false, false}));
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

// What one Draw sends to OpenGL, caught in feedback mode under an
// orthographic projection that shows the whole grid: the eye at (0, 2, 10)
// looks down -z, so window x = (world x + 101) / 202 * 800, window y =
// (world y - 2 + 10) / 20 * 600 and depth = (1 - (world z - 10) / 200) / 2.
struct FedVertex
{
    float x, y, z, r, g, b;
};
struct Fed
{
    std::vector<std::vector<FedVertex>> lines, points;
};

Fed DrawInFeedback(cQVApp& app)
{
    static std::vector<GLfloat> buf(200000);
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    glOrtho(-101, 101, -10, 10, -200, 200);
    glMatrixMode(GL_MODELVIEW);
    glFeedbackBuffer((GLsizei)buf.size(), GL_3D_COLOR, buf.data());
    glRenderMode(GL_FEEDBACK);
    app.Draw();
    const GLint n = glRenderMode(GL_RENDER);
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);

    Fed fed;
    EXPECT_GT(n, 0) << "feedback buffer overflow";
    auto vertex = [&](GLint& i) {
        FedVertex v{buf[i], buf[i + 1], buf[i + 2], buf[i + 3], buf[i + 4], buf[i + 5]};
        i += 7;
        return v;
    };
    for (GLint i = 0; i < n;)
    {
        const GLint token = (GLint)buf[i++];
        if (token == GL_LINE_TOKEN || token == GL_LINE_RESET_TOKEN)
        {
            FedVertex a = vertex(i);
            FedVertex b = vertex(i);
            fed.lines.push_back({a, b});
        }
        else if (token == GL_POINT_TOKEN)
            fed.points.push_back({vertex(i)});
        else
        {
            ADD_FAILURE() << "unexpected feedback token " << token;
            break;
        }
    }
    return fed;
}

bool Colour(const FedVertex& v, float r, float g, float b) { return v.r == r && v.g == g && v.b == b; }
float WinX(float x) { return (x + 101.0f) / 202.0f * 800.0f; }
float WinY(float y) { return (y - 2.0f + 10.0f) / 20.0f * 600.0f; }
float Depth(float z) { return (1.0f - (z - 10.0f) / 200.0f) / 2.0f; }

TEST_F(GlApp, EachFrameDrawsTheGridTheBonesAndTheMarkers)
{
    cActor& actor = app->mActor;
    const cVector3D rightSaved = actor.mRightFoot.mLastPosition, leftSaved = actor.mLeftFoot.mLastPosition;
    actor.mRightFoot.mLastPosition = cVector3D(1, 0.5f, 0);
    actor.mLeftFoot.mLastPosition = cVector3D(-1, 0.5f, 0);
    const Fed fed = DrawInFeedback(*app);
    actor.mRightFoot.mLastPosition = rightSaved;
    actor.mLeftFoot.mLastPosition = leftSaved;

    // The grid: 201 lines each way on y = 0, one unit apart, the outermost
    // exactly at -100 and 100.
    std::set<int> alongZ, alongX; // in tenths of a unit
    int black = 0;
    for (const auto& l : fed.lines)
    {
        if (!Colour(l[0], 0, 0, 0))
            continue;
        ++black;
        for (const FedVertex& v : l)
            ASSERT_NEAR(v.y, WinY(0), 1e-3f);
        if (std::fabs(l[0].x - l[1].x) < 1e-3f) // parallel to z: from z = 100 to z = -100
        {
            alongZ.insert((int)std::lround((l[0].x / 800.0f * 202.0f - 101.0f) * 10.0f));
            EXPECT_NEAR(std::max(l[0].z, l[1].z), Depth(-100), 1e-4f);
            EXPECT_NEAR(std::min(l[0].z, l[1].z), Depth(100), 1e-4f);
        }
        else // parallel to x: from x = 100 to x = -100
        {
            alongX.insert((int)std::lround((Depth(0) - l[0].z) * 400.0f * 10.0f));
            EXPECT_NEAR(std::max(l[0].x, l[1].x), WinX(100), 1e-3f);
            EXPECT_NEAR(std::min(l[0].x, l[1].x), WinX(-100), 1e-3f);
        }
    }
    EXPECT_EQ(black, 402);
    ASSERT_EQ(alongZ.size(), 201u);
    ASSERT_EQ(alongX.size(), 201u);
    EXPECT_EQ(*alongZ.begin(), -1000);
    EXPECT_EQ(*alongZ.rbegin(), 1000);
    EXPECT_EQ(*alongX.begin(), -1000);
    EXPECT_EQ(*alongX.rbegin(), 1000);
    EXPECT_EQ(alongZ.count(0), 1u);
    EXPECT_EQ(alongX.count(0), 1u);

    // The bones: 12 white lines each in the outlined mode.
    const long white = std::count_if(fed.lines.begin(), fed.lines.end(),
                                     [](const std::vector<FedVertex>& l) { return Colour(l[0], 1, 1, 1); });
    EXPECT_EQ(white, 12 * 9);

    // The direction marker: one green line from the root, one unit along the
    // left foot lock's direction (straight up, before the first step).
    const cVector3D root = actor.mArmature.mRootBone->mWorldTransform.getTransform();
    std::vector<std::vector<FedVertex>> green;
    for (const auto& l : fed.lines)
        if (Colour(l[0], 0, 1, 0))
            green.push_back(l);
    ASSERT_EQ(green.size(), 1u);
    EXPECT_NEAR(green[0][0].x, WinX(root.mData[0]), 1e-3f);
    EXPECT_NEAR(green[0][0].y, WinY(root.mData[1]), 1e-3f);
    EXPECT_NEAR(green[0][1].x, WinX(root.mData[0]), 1e-3f);
    EXPECT_NEAR(green[0][1].y, WinY(root.mData[1] + 1.0f), 1e-3f);

    // The foot markers: two red points, the right foot first.
    ASSERT_EQ(fed.points.size(), 2u);
    EXPECT_TRUE(Colour(fed.points[0][0], 1, 0, 0));
    EXPECT_TRUE(Colour(fed.points[1][0], 1, 0, 0));
    EXPECT_NEAR(fed.points[0][0].x, WinX(1), 1e-3f);
    EXPECT_NEAR(fed.points[1][0].x, WinX(-1), 1e-3f);
    EXPECT_NEAR(fed.points[0][0].y, WinY(0.5f), 1e-3f);
    GLfloat size = 0;
    glGetFloatv(GL_POINT_SIZE, &size);
    EXPECT_EQ(size, 4.0f);
}

TEST_F(GlApp, WithContactLocksTheMarkersShowThePointsTheFeetStandOn)
{
    cActor& actor = app->mActor;
    cFootLock* locks[2] = {&actor.mRightFoot, &actor.mLeftFoot};
    const cFootLock saved[2] = {*locks[0], *locks[1]};
    for (int s = 0; s < 2; ++s)
    {
        locks[s]->mLastPosition = cVector3D(0, 3, 0); // the ankle: not drawn
        locks[s]->mContactPrimed = true;
        for (int k = 0; k < cFootLock::kContactPoints; ++k)
            locks[s]->mContactLast[k] = cVector3D(s == 0 ? 1.0f : -1.0f, 0.1f * k, 0);
    }
    locks[0]->mContact = cFootLock::kBall;
    locks[1]->mContact = cFootLock::kToeTip;
    actor.mContactLock = true;
    const Fed fed = DrawInFeedback(*app);
    actor.mContactLock = false;
    const Fed ankles = DrawInFeedback(*app);
    for (int s = 0; s < 2; ++s)
        *locks[s] = saved[s];

    ASSERT_EQ(fed.points.size(), 2u);
    EXPECT_NEAR(fed.points[0][0].x, WinX(1), 1e-3f);
    EXPECT_NEAR(fed.points[0][0].y, WinY(0.1f), 1e-3f);
    EXPECT_NEAR(fed.points[1][0].x, WinX(-1), 1e-3f);
    EXPECT_NEAR(fed.points[1][0].y, WinY(0.2f), 1e-3f);
    ASSERT_EQ(ankles.points.size(), 2u);
    EXPECT_NEAR(ankles.points[0][0].y, WinY(3), 1e-3f);
}

TEST_F(GlApp, TheDrawModeChangesOnlyTheBones)
{
    auto count = [](const Fed& f, float r, float g, float b) {
        return std::count_if(f.lines.begin(), f.lines.end(),
                             [&](const std::vector<FedVertex>& l) { return Colour(l[0], r, g, b); });
    };
    app->mDrawMode = 2;
    const Fed lines = DrawInFeedback(*app);
    app->mDrawMode = 3;
    const Fed none = DrawInFeedback(*app);
    app->mDrawMode = 1;
    EXPECT_EQ(count(lines, 1, 1, 1), 9);
    EXPECT_EQ(count(none, 1, 1, 1), 0);
    for (const Fed* f : {&lines, &none})
    {
        EXPECT_EQ(count(*f, 0, 0, 0), 402);
        EXPECT_EQ(count(*f, 0, 1, 0), 1);
        EXPECT_EQ(f->points.size(), 2u);
    }
}
} // namespace
