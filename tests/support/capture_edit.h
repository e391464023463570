// Captures changed as a whole, for the importer's tests. Header only.
#ifndef QV_TEST_CAPTURE_EDIT_H
#define QV_TEST_CAPTURE_EDIT_H

#include "QV_import.h"

namespace qvtest
{

// The capture turned (whatever way is up), scaled and moved, every joint
// at every frame.
inline qvimport::sCapture Transformed(qvimport::sCapture cap, const qvimport::sQuat& turn, double scale,
                                      const qvimport::sVec3& shift)
{
    for (size_t f = 0; f < cap.Frames(); ++f)
        for (size_t j = 0; j < cap.mJoints.size(); ++j)
        {
            cap.mRotation[f][j] = turn * cap.mRotation[f][j];
            cap.mPosition[f][j] = turn * cap.mPosition[f][j] * scale + shift;
        }
    return cap;
}

} // namespace qvtest

#endif // QV_TEST_CAPTURE_EDIT_H
