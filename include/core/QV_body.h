// A skinned body: a triangle mesh bound to an armature's bones at their rest
// pose, and the step that poses it with the bones every frame (linear blend
// skinning: each vertex follows up to four bones, each bone moving it by its
// world matrix times the inverse of its rest world matrix, the moves blended
// by the vertex's weights).
//
// Raw data (as the reader checked it) is built into runtime data by BindBody,
// once, after the armature is linked: it inverts the rest frames and sizes
// every per-frame buffer, so that Skin allocates nothing.
#ifndef QV_BODY_H
#define QV_BODY_H

#include <cstddef>
#include <string>
#include <vector>

#include "QV_matrix.h"
#include "QV_vector.h"

class cArmature;

// The skinned positions and normals are handed to OpenGL as arrays of three
// floats a vertex.
static_assert(sizeof(cVector3D) == 3 * sizeof(float), "cVector3D is three packed floats");

// The most bones that move one vertex.
#define BODY_MAX_INFLUENCES 4u

// The bones that move one vertex and by how much.
struct sInfluences
{
    unsigned int mCount = 0;                      // slots in use, 1 ... BODY_MAX_INFLUENCES
    unsigned int mBone[BODY_MAX_INFLUENCES] = {}; // bone indices, positions in the armature's bone vector
    float mWeight[BODY_MAX_INFLUENCES] = {};      // non-negative, the used ones summing to 1; unused 0
};

// An image of 8-bit red, green, blue and alpha, rows top first: the first
// row is where the texture coordinate v is 0, the first pixel of a row where
// u is 0.
struct sImage
{
    unsigned int mWidth = 0;            // pixels
    unsigned int mHeight = 0;           // pixels
    std::vector<unsigned char> mPixels; // mWidth * mHeight * 4 bytes; empty: no image

    bool Empty() const { return mPixels.empty(); }
};

class cBody
{
public:
    // The mesh at rest, constant after loading, in the library's model frame
    // (+y up: the file's frame turned upright like the root bone), placed
    // where the bones stand at their rest pose.
    std::vector<cVector3D> mRestPositions; // one per vertex, units
    std::vector<cVector3D> mRestNormals;   // one per vertex, unit length
    std::vector<float> mTexCoords;         // u, v per vertex (v = 0 the image's top row); empty: untextured
    std::vector<sInfluences> mInfluences;  // one per vertex
    std::vector<unsigned int> mTriangles;  // three vertex indices per triangle
    sImage mTexture;                       // empty: none

    // Built by BindBody: per bone, the inverse of its rest world matrix (the
    // identity for a bone that moves no vertex).
    std::vector<cMatrix4D> mBindInverse;

    // Written by Skin each frame, sized by BindBody.
    std::vector<cMatrix4D> mSkinMatrices; // per bone: world matrix times bind inverse
    std::vector<cVector3D> mPositions;    // per vertex, world
    std::vector<cVector3D> mNormals;      // per vertex, world, unit length

    // No triangles: a character without a body (and nothing to draw).
    bool Empty() const { return mTriangles.empty(); }
    size_t VertexCount() const { return mRestPositions.size(); }
    size_t TriangleCount() const { return mTriangles.size() / 3; }

    // Poses the body as the armature stands now: every bone's skin matrix,
    // then every vertex. Allocates nothing. Needs BindBody first and the
    // armature it was bound to.
    void Skin(const cArmature& arm);
};

// Builds the runtime data of a checked body on its linked armature: the bind
// inverses of the bones that move a vertex, and the per-frame buffers (the
// skinned vertices start at rest). Returns an empty string, or a one-line
// problem when a bone that moves a vertex has a rest frame that cannot be
// inverted (flat, or stretching so little that its inverse would stretch by
// more than maxStretch).
std::string BindBody(cBody& body, const cArmature& arm, double maxStretch);

// Every bone's skin matrix: its world matrix times its bind inverse.
void SkinMatrices(const cArmature& arm, const std::vector<cMatrix4D>& bindInverse, std::vector<cMatrix4D>& out);

// The hot loop of Skin, alone so that benchmarks and tests can run it: for
// each of n vertices, the blend of its bones' skin matrices (their weights
// times their top three rows) moves its rest position to positions[i], and
// the same 3 x 3 block turns its rest normal into normals[i], renormalised
// (a blend that cancels out, length zero, keeps the rest normal). Every
// bone index must be a valid index of skin.
void SkinVertices(const cMatrix4D* skin, const sInfluences* influences, const cVector3D* restPositions,
                  const cVector3D* restNormals, size_t n, cVector3D* positions, cVector3D* normals);

#endif // QV_BODY_H
