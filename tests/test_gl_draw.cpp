// Skeleton and body drawing against a real OpenGL context (SDL 1.2, run on a
// private X display): the vertices each bone sends and the body's triangles,
// lit and textured, read back through OpenGL's feedback mode, in the order
// drawn; the matrix stack and the rest of the state left as found.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <vector>

#include "QV_actor.h"
#include "QV_armature.h"
#include "QV_base64.h"
#include "QV_draw.h"
#include "QV_png.h"
#include "QV_sdl.h"
#include "QV_xml.h"
#include "data/xml_test_files.h"
#include "support/qv_expect.h"

namespace
{
const int kSize = 64;       // window and viewport, pixels
const float kExtent = 10.f; // the orthographic box is -10 ... 10 on every axis

// One SDL window with an OpenGL context for the whole program, and an
// orthographic view in which every test's vertices lie well inside the box,
// so nothing is clipped and window coordinates map back to model
// coordinates exactly enough.
class GLContext : public ::testing::Environment
{
public:
    void SetUp() override
    {
        if (SDL_Init(SDL_INIT_VIDEO) != 0)
        {
            mError = std::string("SDL_Init: ") + SDL_GetError();
            return;
        }
        SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
        if (!SDL_SetVideoMode(kSize, kSize, 0, SDL_OPENGL))
        {
            mError = std::string("SDL_SetVideoMode: ") + SDL_GetError();
            return;
        }
        mReady = true;
    }
    void TearDown() override { SDL_Quit(); }

    static bool mReady;
    static std::string mError;
};
bool GLContext::mReady = false;
std::string GLContext::mError = "no context";

const ::testing::Environment* const gEnv = ::testing::AddGlobalTestEnvironment(new GLContext);

struct Line
{
    cVector3D a, b;
};

// Window coordinates back to model coordinates under the view of StartView.
cVector3D Unproject(const float* w)
{
    const float x = (w[0] / (kSize / 2.0f) - 1.0f) * kExtent;
    const float y = (w[1] / (kSize / 2.0f) - 1.0f) * kExtent;
    const float z = -(w[2] * 2.0f - 1.0f) * kExtent; // glOrtho looks down -z
    return cVector3D(x, y, z);
}

class Draw : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(GLContext::mReady) << "no OpenGL context: " << GLContext::mError;
        glViewport(0, 0, kSize, kSize);
        glDepthRange(0.0, 1.0);
        glDisable(GL_DEPTH_TEST);
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        glOrtho(-kExtent, kExtent, -kExtent, kExtent, -kExtent, kExtent);
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
        ASSERT_EQ(glGetError(), (GLenum)GL_NO_ERROR);
    }

    // Draws arm in mode through feedback; returns the lines in order, and
    // counts every vertex in any token.
    std::vector<Line> Capture(cArmature& arm, unsigned int mode, size_t* vertices = nullptr)
    {
        return CaptureDrawing([&] { arm.Draw(mode); }, vertices);
    }

    // The same for any drawing.
    template <class F> std::vector<Line> CaptureDrawing(F draw, size_t* vertices = nullptr)
    {
        std::vector<GLfloat> buf(1 << 16);
        glFeedbackBuffer((GLsizei)buf.size(), GL_3D, buf.data());
        glRenderMode(GL_FEEDBACK);
        draw();
        const GLint n = glRenderMode(GL_RENDER);
        EXPECT_GE(n, 0) << "feedback buffer overflow";
        std::vector<Line> lines;
        size_t count = 0;
        for (GLint i = 0; i < n;)
        {
            const GLint token = (GLint)buf[i++];
            if (token == GL_LINE_TOKEN || token == GL_LINE_RESET_TOKEN)
            {
                lines.push_back({Unproject(&buf[i]), Unproject(&buf[i + 3])});
                i += 6;
                count += 2;
            }
            else if (token == GL_POINT_TOKEN)
            {
                i += 3;
                count += 1;
            }
            else if (token == GL_POLYGON_TOKEN)
            {
                const GLint k = (GLint)buf[i++];
                i += 3 * k;
                count += k;
            }
            else if (token == GL_PASS_THROUGH_TOKEN)
                i += 1;
            else
            {
                ADD_FAILURE() << "unexpected feedback token " << token;
                break;
            }
        }
        if (vertices)
            *vertices = count;
        EXPECT_EQ(glGetError(), (GLenum)GL_NO_ERROR);
        return lines;
    }
};

// One bone of length len whose world matrix is m.
struct OneBone
{
    cArmature arm;
    OneBone(float len, const cMatrix4D& m)
    {
        arm.mBones.resize(1);
        arm.mBones[0].mLength = len;
        arm.mBones[0].mWorldTransform = m;
        arm.mRootBone = &arm.mBones[0];
    }
};

// The twelve lines of the octahedral outline in bone space, in drawing order.
std::vector<Line> Octahedron(float len)
{
    const float k = (float)(len * 0.1);
    const cVector3D head(0, 0, 0), tail(0, len, 0);
    const cVector3D px(k, k, 0), nx(-k, k, 0), pz(0, k, k), nz(0, k, -k);
    return {{head, px}, {px, tail}, {head, nx}, {nx, tail}, {head, pz}, {pz, tail},
            {head, nz}, {nz, tail}, {px, pz},   {pz, nx},   {nx, nz},   {nz, px}};
}

::testing::AssertionResult SameLines(const std::vector<Line>& got, const std::vector<Line>& want, float tol)
{
    if (got.size() != want.size())
        return ::testing::AssertionFailure() << got.size() << " lines, expected " << want.size();
    for (size_t i = 0; i < got.size(); ++i)
    {
        auto a = qvtest::VecNear(got[i].a, want[i].a, tol);
        auto b = qvtest::VecNear(got[i].b, want[i].b, tol);
        if (!a || !b)
            return ::testing::AssertionFailure() << "line " << i + 1 << ": " << (a ? b.message() : a.message());
    }
    return ::testing::AssertionSuccess();
}

std::vector<Line> Transformed(const std::vector<Line>& lines, const cMatrix4D& m)
{
    std::vector<Line> out;
    for (const Line& l : lines)
        out.push_back({m * l.a, m * l.b});
    return out;
}

void ModelView(float* out) { glGetFloatv(GL_MODELVIEW_MATRIX, out); }
} // namespace

TEST_F(Draw, ModeOneSends24VerticesPerBoneInOrder)
{
    OneBone b(5.0f, cMatrix4D());
    size_t vertices = 0;
    const std::vector<Line> lines = Capture(b.arm, 1, &vertices);
    EXPECT_EQ(vertices, 24u);
    EXPECT_TRUE(SameLines(lines, Octahedron(5.0f), 1e-3f));
}

TEST_F(Draw, ModeOneWaistIsATenthOfTheLength)
{
    OneBone b(8.0f, cMatrix4D());
    const std::vector<Line> lines = Capture(b.arm, 1);
    ASSERT_EQ(lines.size(), 12u);
    // Lines 9 to 12 close the waist: all at height 0.8, 0.8 off the axis.
    for (size_t i = 8; i < 12; ++i)
    {
        EXPECT_NEAR(lines[i].a.mData[1], 0.8f, 1e-3f);
        EXPECT_NEAR(std::hypot(lines[i].a.mData[0], lines[i].a.mData[2]), 0.8f, 1e-3f);
    }
}

TEST_F(Draw, ModeTwoSendsOneLineHeadToTail)
{
    OneBone b(6.0f, cMatrix4D());
    size_t vertices = 0;
    const std::vector<Line> lines = Capture(b.arm, 2, &vertices);
    EXPECT_EQ(vertices, 2u);
    EXPECT_TRUE(SameLines(lines, {{{0, 0, 0}, {0, 6, 0}}}, 1e-3f));
}

TEST_F(Draw, OtherModesSendNothing)
{
    OneBone b(3.0f, cMatrix4D());
    for (unsigned int mode : {0u, 3u, 4u, 255u, 0xFFFFFFFFu})
    {
        size_t vertices = 99;
        const std::vector<Line> lines = Capture(b.arm, mode, &vertices);
        EXPECT_EQ(vertices, 0u) << "mode " << mode;
        EXPECT_TRUE(lines.empty()) << "mode " << mode;
    }
}

TEST_F(Draw, EachBoneIsPlacedByItsWorldMatrixUnderTheCurrentView)
{
    // Bone 0: turned 90 degrees about z and moved to (1, 2, 0). Bone 1:
    // turned about x and moved elsewhere. The view itself moves by (-1, 0, 1).
    cArmature arm;
    arm.mBones.resize(2);
    arm.mBones[0].mLength = 3.0f;
    arm.mBones[0].mWorldTransform.setFromEuler(0, 0, 90);
    arm.mBones[0].mWorldTransform.setTransform(1, 2, 0);
    arm.mBones[1].mLength = 2.0f;
    arm.mBones[1].mWorldTransform.setFromEuler(40, 0, 0);
    arm.mBones[1].mWorldTransform.setTransform(-2, -3, 1);
    arm.mRootBone = &arm.mBones[0];

    glTranslatef(-1, 0, 1);
    cMatrix4D view;
    view.setTransform(-1, 0, 1);

    size_t vertices = 0;
    const std::vector<Line> lines = Capture(arm, 1, &vertices);
    EXPECT_EQ(vertices, 48u);
    std::vector<Line> want = Transformed(Octahedron(3.0f), view * arm.mBones[0].mWorldTransform);
    const std::vector<Line> second = Transformed(Octahedron(2.0f), view * arm.mBones[1].mWorldTransform);
    want.insert(want.end(), second.begin(), second.end());
    EXPECT_TRUE(SameLines(lines, want, 2e-3f));
    // The first bone's tail: (0, 3, 0) turned onto (-3, 0, 0), plus (1, 2, 0),
    // plus the view's (-1, 0, 1).
    ASSERT_FALSE(lines.empty());
    EXPECT_TRUE(qvtest::VecNear(lines[1].b, {-3, 2, 1}, 2e-3f));

    const std::vector<Line> simple = Capture(arm, 2, &vertices);
    EXPECT_EQ(vertices, 4u);
    EXPECT_TRUE(SameLines(simple,
                          {{view * arm.mBones[0].mWorldTransform * cVector3D(0, 0, 0),
                            view * arm.mBones[0].mWorldTransform * cVector3D(0, 3, 0)},
                           {view * arm.mBones[1].mWorldTransform * cVector3D(0, 0, 0),
                            view * arm.mBones[1].mWorldTransform * cVector3D(0, 2, 0)}},
                          2e-3f));
}

TEST_F(Draw, ABoneOfLengthZeroCollapsesToItsHead)
{
    cMatrix4D m;
    m.setTransform(2, -1, 3);
    OneBone b(0.0f, m);
    for (unsigned int mode : {1u, 2u})
    {
        for (const Line& l : Capture(b.arm, mode))
        {
            EXPECT_TRUE(qvtest::VecNear(l.a, {2, -1, 3}, 1e-3f)) << "mode " << mode;
            EXPECT_TRUE(qvtest::VecNear(l.b, {2, -1, 3}, 1e-3f)) << "mode " << mode;
        }
    }
}

TEST_F(Draw, TheModelViewMatrixIsLeftAsFound)
{
    cArmature arm;
    arm.mBones.resize(3);
    for (int i = 0; i < 3; ++i)
    {
        arm.mBones[i].mLength = 1.0f + i;
        arm.mBones[i].mWorldTransform.setFromEuler(10.0f * i, 20, 30);
        arm.mBones[i].mWorldTransform.setTransform(0.5f * i, 1, -1);
    }
    arm.mRootBone = &arm.mBones[0];
    glRotatef(25, 0, 1, 0);
    glTranslatef(0.5f, -0.25f, 2);
    float before[16], after[16];
    GLint depthBefore = 0, depthAfter = 0;
    ModelView(before);
    glGetIntegerv(GL_MODELVIEW_STACK_DEPTH, &depthBefore);
    for (unsigned int mode : {1u, 2u, 7u})
    {
        Capture(arm, mode);
        ModelView(after);
        glGetIntegerv(GL_MODELVIEW_STACK_DEPTH, &depthAfter);
        for (int i = 0; i < 16; ++i)
            EXPECT_EQ(after[i], before[i]) << "mode " << mode << ", element " << i;
        EXPECT_EQ(depthAfter, depthBefore) << "mode " << mode;
    }
    // Also when really rendering, not just in feedback.
    arm.Draw(1);
    ModelView(after);
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(after[i], before[i]) << "render mode, element " << i;
    EXPECT_EQ(glGetError(), (GLenum)GL_NO_ERROR);
}

TEST_F(Draw, ModesOneAndTwoLeaveTheColourWhite)
{
    OneBone b(1.0f, cMatrix4D());
    for (unsigned int mode : {1u, 2u})
    {
        glColor3f(1, 0, 0);
        b.arm.Draw(mode);
        float c[4];
        glGetFloatv(GL_CURRENT_COLOR, c);
        EXPECT_EQ(c[0], 1.0f) << "mode " << mode;
        EXPECT_EQ(c[1], 1.0f) << "mode " << mode;
        EXPECT_EQ(c[2], 1.0f) << "mode " << mode;
    }
    glColor3f(1, 0, 0);
    b.arm.Draw(5);
    float c[4];
    glGetFloatv(GL_CURRENT_COLOR, c);
    EXPECT_EQ(c[1], 0.0f); // nothing drawn, colour untouched
}

TEST_F(Draw, TheActorDrawsItsArmatureOnlyWithARoot)
{
    cActor actor;
    actor.mArmature.mBones.resize(2);
    actor.mArmature.mBones[0].mLength = 1.0f;
    actor.mArmature.mBones[1].mLength = 1.0f;
    actor.mArmature.mRootBone = nullptr;

    std::vector<GLfloat> buf(4096);
    glFeedbackBuffer((GLsizei)buf.size(), GL_3D, buf.data());
    glRenderMode(GL_FEEDBACK);
    actor.DrawArmature(1);
    EXPECT_EQ(glRenderMode(GL_RENDER), 0);

    actor.mArmature.mRootBone = &actor.mArmature.mBones[0];
    glFeedbackBuffer((GLsizei)buf.size(), GL_3D, buf.data());
    glRenderMode(GL_FEEDBACK);
    actor.DrawArmature(2);
    EXPECT_EQ(glRenderMode(GL_RENDER), 2 * 7); // two line tokens of 1 + 2 * 3 floats
}

TEST_F(Draw, AnActorWithoutSkeletonDrawsNothing)
{
    cActor actor;
    std::vector<GLfloat> buf(64);
    glFeedbackBuffer((GLsizei)buf.size(), GL_3D, buf.data());
    glRenderMode(GL_FEEDBACK);
    actor.DrawArmature(1); // no bones, no root: no drawing calls at all
    EXPECT_EQ(glRenderMode(GL_RENDER), 0);
    EXPECT_EQ(glGetError(), (GLenum)GL_NO_ERROR);
}

// The ground follows the camera's target by whole cells: seen from the
// target's cell, the grid around a target far out is line for line the grid
// around a target near the origin, and near the origin it is the grid as
// drawn without a target. (OpenGL transforms in single precision, with the
// view folded into the projection, so far out the lines come back only to
// within a fraction of a cell; each must still be the same line.)
TEST_F(Draw, TheGridAroundAFarTargetIsTheGridAroundTheOriginMovedByWholeCells)
{
    // A box whose faces lie between grid lines, so that no line sits on a
    // face and rounding cannot clip it in one drawing and not in another.
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(-10.5, 10.5, -10.5, 10.5, -10.5, 10.5);
    glMatrixMode(GL_MODELVIEW);

    const std::vector<Line> plain = CaptureDrawing([] { DrawGrid(); });
    const std::vector<Line> nearOrigin = CaptureDrawing([] { DrawGrid(cVector3D(0.3f, 5.0f, -0.49f)); });
    EXPECT_EQ(plain.size(), 42u) << "21 lines each way in the box";
    EXPECT_TRUE(SameLines(nearOrigin, plain, 0.0f));

    struct sFar
    {
        cVector3D target;
        double cellX, cellZ;
        float tolerance;
    };
    const sFar far[] = {
        {cVector3D(1000.4f, 2.0f, -1000.6f), 1000.0, -1001.0, 1e-3f},
        {cVector3D(4194311.0f, 2.0f, -4194301.0f), 4194311.0, -4194301.0, 0.3f}, // 2^22 + 7, -(2^22 - 3)
    };
    for (const sFar& f : far)
    {
        glPushMatrix();
        glTranslated(-f.cellX, 0.0, -f.cellZ);
        const std::vector<Line> got = CaptureDrawing([&] { DrawGrid(f.target); });
        glPopMatrix();
        EXPECT_TRUE(SameLines(got, plain, f.tolerance)) << "around " << f.target.mData[0] << ", " << f.target.mData[2];
    }
}

namespace
{
// One triangle as feedback returns it: model coordinates, and per vertex the
// lit colour (red, green, blue, alpha) and texture coordinates.
struct Triangle
{
    cVector3D p[3];
    float colour[3][4];
    float uv[3][2];
};

// The triangles a drawing sends, read back in GL_3D_COLOR_TEXTURE feedback
// (RGBA: three coordinates, four colour and four texture components a
// vertex).
template <class F> std::vector<Triangle> CaptureTriangles(F draw)
{
    std::vector<GLfloat> buf(1 << 16);
    glFeedbackBuffer((GLsizei)buf.size(), GL_3D_COLOR_TEXTURE, buf.data());
    glRenderMode(GL_FEEDBACK);
    draw();
    const GLint n = glRenderMode(GL_RENDER);
    EXPECT_GE(n, 0) << "feedback buffer overflow";
    std::vector<Triangle> out;
    for (GLint i = 0; i < n;)
    {
        const GLint token = (GLint)buf[i++];
        if (token != GL_POLYGON_TOKEN)
        {
            ADD_FAILURE() << "unexpected feedback token " << token;
            break;
        }
        const GLint k = (GLint)buf[i++];
        EXPECT_EQ(k, 3);
        Triangle t;
        for (GLint v = 0; v < k; ++v, i += 11)
        {
            if (v >= 3)
                continue;
            t.p[v] = Unproject(&buf[i]);
            for (int c = 0; c < 4; ++c)
                t.colour[v][c] = buf[i + 3 + c];
            t.uv[v][0] = buf[i + 7];
            t.uv[v][1] = buf[i + 8];
        }
        out.push_back(t);
    }
    EXPECT_EQ(glGetError(), (GLenum)GL_NO_ERROR);
    return out;
}

// The example's two bones with a body, the second bone turned, skinned.
struct BodyActor
{
    cActor actor;
    explicit BodyActor(const std::string& body = xmltest::ExampleBody())
    {
        const std::string text = xmltest::ExampleWithBody(body);
        ReadActorFromMemory(text.data(), text.size(), actor);
        actor.mArmature.mBones[1].mOrientation.setFromEuler(40.0f, 0.0f, 25.0f);
        actor.UpdateArmature();
        actor.mBody.Skin(actor.mArmature);
    }
};

float Brightness(const float* rgba) { return rgba[0] + rgba[1] + rgba[2]; }
} // namespace

TEST_F(Draw, TheBodySendsEveryTriangleAsSkinned)
{
    BodyActor b;
    const cBody& body = b.actor.mBody;
    const std::vector<Triangle> tris = CaptureTriangles([&] { DrawBody(body, 0); });
    ASSERT_EQ(tris.size(), body.TriangleCount());
    for (size_t t = 0; t < tris.size(); ++t)
        for (int v = 0; v < 3; ++v)
            EXPECT_TRUE(qvtest::VecNear(tris[t].p[v], body.mPositions[body.mTriangles[3 * t + v]], 1e-3f))
                << "triangle " << t << ", corner " << v;
    // The skinned body, not the rest one: the turned bone's end moved.
    EXPECT_GT((body.mPositions[2] - body.mRestPositions[2]).length(), 0.1f);
}

TEST_F(Draw, TheBodyIsLitFromTheViewerInItsSkinTone)
{
    // The strip's first vertex faces the viewer (+z, the file's -y), its
    // second away from it; the others face up.
    BodyActor b(xmltest::Edit(xmltest::ExampleBody(), "<normals>0 0 1  0 0 1", "<normals>0 -1 0  0 1 0"));
    const std::vector<Triangle> tris = CaptureTriangles([&] { DrawBody(b.actor.mBody, 0); });
    ASSERT_FALSE(tris.empty());
    // Triangle 0 is vertices 0, 1, 4. Facing the light (direction (0.35,
    // 0.55, 1) in eye space, the identity view here): ambient 0.35 and
    // diffuse 0.75 times the cosine; facing away, the ambient alone.
    const float cosine = 1.0f / std::sqrt(0.35f * 0.35f + 0.55f * 0.55f + 1.0f);
    const float* toward = tris[0].colour[0];
    const float* away = tris[0].colour[1];
    for (int c = 0; c < 3; ++c)
    {
        EXPECT_NEAR(toward[c], kBodySkinColour[c] * (0.35f + 0.75f * cosine), 0.01f) << "channel " << c;
        EXPECT_NEAR(away[c], kBodySkinColour[c] * 0.35f, 0.01f) << "channel " << c;
    }
    EXPECT_GT(Brightness(tris[0].colour[2]), Brightness(away)); // facing up: lit from above
    EXPECT_LT(Brightness(tris[0].colour[2]), Brightness(toward));
}

TEST_F(Draw, ATexturedBodyCarriesItsTextureCoordinatesAndLeavesTheStateAsFound)
{
    const std::string uv = "<texcoords>0 0  1 0  0 1  1 1  0.25 0.5  0.75 0.5</texcoords>\n";
    sImage image;
    image.mWidth = 3; // not a power of two: mipmapping scales it
    image.mHeight = 1;
    image.mPixels = {255, 0, 0, 255, 0, 255, 0, 255, 0, 0, 255, 255};
    const std::string base64 = Base64Lines(EncodePng(image));
    BodyActor b(xmltest::Edit(xmltest::ExampleBody(), "<weights>", uv + "<texture>" + base64 + "</texture><weights>"));
    ASSERT_FALSE(b.actor.mBody.mTexture.Empty());
    const unsigned int texture = UploadBodyTexture(b.actor.mBody);
    ASSERT_NE(texture, 0u);
    EXPECT_TRUE(glIsTexture(texture));

    glColor3f(0.25f, 0.5f, 0.75f);
    const std::vector<Triangle> tris = CaptureTriangles([&] { DrawBody(b.actor.mBody, texture); });
    ASSERT_EQ(tris.size(), 4u);
    const std::vector<float>& want = b.actor.mBody.mTexCoords;
    for (size_t t = 0; t < tris.size(); ++t)
        for (int v = 0; v < 3; ++v)
        {
            const unsigned int i = b.actor.mBody.mTriangles[3 * t + v];
            EXPECT_FLOAT_EQ(tris[t].uv[v][0], want[2 * i]);
            EXPECT_FLOAT_EQ(tris[t].uv[v][1], want[2 * i + 1]);
        }
    // Lit white under the texture: grey, the same in every channel.
    EXPECT_FLOAT_EQ(tris[0].colour[0][0], tris[0].colour[0][2]);

    // Lighting, texturing and the arrays are off again; the grid and the
    // bones draw in flat colours as before.
    EXPECT_FALSE(glIsEnabled(GL_LIGHTING));
    EXPECT_FALSE(glIsEnabled(GL_LIGHT0));
    EXPECT_FALSE(glIsEnabled(GL_COLOR_MATERIAL));
    EXPECT_FALSE(glIsEnabled(GL_TEXTURE_2D));
    EXPECT_FALSE(glIsEnabled(GL_VERTEX_ARRAY));
    EXPECT_FALSE(glIsEnabled(GL_NORMAL_ARRAY));
    EXPECT_FALSE(glIsEnabled(GL_TEXTURE_COORD_ARRAY));
    GLint bound = -1;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
    EXPECT_EQ(bound, 0);
    GLuint name = texture;
    glDeleteTextures(1, &name);
}

TEST_F(Draw, ABodyWithoutTextureUploadsNoneAndAnEmptyBodyDrawsNothing)
{
    BodyActor b;
    EXPECT_EQ(UploadBodyTexture(b.actor.mBody), 0u);
    cBody empty;
    EXPECT_TRUE(CaptureTriangles([&] { DrawBody(empty, 0); }).empty());
    EXPECT_FALSE(glIsEnabled(GL_LIGHTING));
}
