#ifndef QV_DRAW_H
#define QV_DRAW_H

// The drawing layer: what the demo and the frame-rate tools put on screen,
// in OpenGL 1.x immediate mode. It also defines cArmature::Draw and
// cActor::DrawArmature, which the core declares but cannot define without
// OpenGL. Nothing here opens a window or reads input.

#include "QV_actor.h"

// The fixed OpenGL state of the demo's view: clear colour, a 45-degree
// perspective for a w x h viewport (near 0.1, far 100), depth test with
// GL_LEQUAL. Leaves GL_MODELVIEW current and loaded with the identity.
void SetupViewState(unsigned int w, unsigned int h);

// Clears the frame and loads into the model-view matrix the view from eye
// towards target, with +y up.
void BeginFrame(const cVector3D& eye, const cVector3D& target);

// The ground: black lines one unit apart on y = 0, 201 each way from -100
// to 100.
void DrawGrid();
// The same grid centred on the whole-unit crossing nearest `around` (its y
// is not read): lines on the same whole units, 100 either way of it, so
// that the ground lies under a point however far it goes. Around a point less
// than half a unit from the origin it is exactly DrawGrid().
void DrawGrid(const cVector3D& around);

// The foot locks' markers: a green line from the root bone one unit along
// the direction the left lock takes as forward, and a red 4-pixel point
// where each lock last held its foot (its ankle; with contact locks, the
// heel, ball or toe tip it stood on). Nothing without a root bone.
void DrawFootMarkers(const cActor& actor);

// The colour of a body without a texture, lit: a skin tone (red, green,
// blue).
extern const float kBodySkinColour[3];

// The body's texture as an OpenGL texture, with mipmaps, repeating; its name,
// or 0 when the body has none. Called once, after loading, in the window's
// context (it allocates; drawing does not).
unsigned int UploadBodyTexture(const cBody& body);

// Draws the body as it was last skinned (cBody::Skin): its triangles, with
// smooth normals, lit by one white light shining from behind the viewer,
// above and to the right, textured with `texture` where it is not 0 and the
// body has texture coordinates, else in kBodySkinColour. Leaves lighting,
// texturing and the vertex arrays off, as the rest of the frame draws.
void DrawBody(const cBody& body, unsigned int texture);

// One bone's wire octahedron in its own frame (head at the origin, tail at
// (0, length, 0), waist at a tenth of the length), as 12 lines: the 24
// vertices in the order they are drawn.
void BoneOutline(float length, cVector3D out[24]);

// Draws BoneOutline(length) as GL_LINES in the current colour and matrix.
void DrawBoneOutline(float length);

#endif // QV_DRAW_H
