// Stage alignment: point pairs measured on the stage (image-derived source
// coordinates and the stage's own destination coordinates) and the 3 x 3
// transform fitted to them, which converted stage coordinates pass through.
// Also the helpers that place a frame on the stage: the frame's local
// metadata from its loop positions, the projective transform of one point and
// the rotation of a camera-to-stage matrix.
#pragma once

#include "gnr_system/kz_base.h"

#include <vector>

class CKzLiteVariantW;
class CKzLiteVariantR;
struct SKzPictureMetadata;
struct SKzExperiment;

// A point in the plane.
template <class T>
struct CKzPointBase {
    T x;
    T y;
    CKzPointBase() : x(), y() {}
    CKzPointBase(T px, T py) : x(px), y(py) {}
};

struct KZ_EXPORT SKzStageAlignment {
    struct SKzCoordinates {
        double SrcX;
        double SrcY;
        double DstX;
        double DstY;
    };

    // The point pairs, in the order they were given.
    std::vector<SKzCoordinates> m_aCoordinates;
    // Row-major transform (m00 m01 m02 / m10 m11 m12 / m20 m21 m22). The
    // identity until a fit succeeds; a failed fit leaves it as it was.
    double m_dTransform[3][3];

    // No pairs, identity transform.
    SKzStageAlignment();
    ~SKzStageAlignment();
    SKzStageAlignment(const SKzStageAlignment&) = default;
    SKzStageAlignment& operator=(const SKzStageAlignment&) = default;

    // Fits the transform to the pairs: 1 pair a translation, 2 a similarity,
    // 3 an affine map, 4 a projective map (exact), 5 and more a projective map
    // by least squares. From 3 pairs on the source coordinates enter negated.
    // 0 (and *residual = 0 when residual is given); -9 when there is no pair
    // or the pairs determine no transform (the transform is then unchanged).
    kz_result CalculateMatrixFromSettings(double* residual);

    // Level "SKzStageAlignment" with, when there are pairs, a level
    // "SKzCoordinates" of one unnamed level per pair. The transform is not
    // stored. 0.
    kz_result SaveToLiteVariant(CKzLiteVariantW& writer) const;
    // Replaces the pairs by those stored (missing values 0.0); an absent
    // level changes nothing. The transform is not refitted. 0.
    kz_result LoadFromLiteVariant(CKzLiteVariantR& reader);
};

// result = ((m00 x + m01 y + m02) / w, (m10 x + m11 y + m12) / w) with
// w = m20 x + m21 y + m22. -4 for a null matrix or w = 0 (result unwritten).
KZ_EXPORT kz_result ProjectiveTransform(CKzPointBase<double> point, const double m[3][3],
                                        CKzPointBase<double>& result);

// A frame's local metadata from the frame-0 metadata: the time moved to
// `time` (the absolute time by the same whole milliseconds), the stage
// position from the XY-position and Z-stack levels along the loop positions
// (one entry per level, as CKzExperimentAPI::CalcPosFromIdx gives them; null
// stands for all 0), then x, y, z override where use* is set. 0.
KZ_EXPORT kz_result FillLocalMetadata(const u32* positions, SKzPictureMetadata& md, const SKzExperiment* experiment,
                                      double time, double x, double y, double z, bool useX, bool useY, bool useZ);

// Rotates the rows of a camera-to-stage matrix by `angle` radians; an angle
// of exactly 0 changes nothing. 0.
KZ_EXPORT kz_result AdjustCameraMatrixForScanAreaRotation(double& m11, double& m12, double& m21, double& m22,
                                                          double angle);
