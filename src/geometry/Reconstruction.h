#ifndef DVK_RECONSTRUCTION_H
#define DVK_RECONSTRUCTION_H

// From decoded positions to millimetres: each valid pixel's ray, the
// distortion taken out, meets the sheet of its projected position.

#include "SheetModel.h"

#include <QByteArray>
#include <QtGlobal>

#include <vector>

struct DecodedPositions;

// Farther than this a ray and its sheet meet at a grazing angle, not on a
// surface the camera sees: such a pixel is not measured.
constexpr double kMaxRangeMm = 100000.0;

// A jump in depth between neighbouring pixels beyond this share of the
// depth is an edge between two surfaces, not one surface however steep.
constexpr double kDepthEdgeShare = 0.01;

struct Reconstruction {
    int width = 0;
    int height = 0;
    std::vector<float> depth; // z per pixel, mm; NaN where not measured
    std::vector<float> xyz;   // x y z of each point, in pixel order
    std::vector<quint8> intensity;
    qint64 points = 0;
    double nearest = 0.0, farthest = 0.0; // of z; 0 when no point
};

// light: the light reference per pixel, shares of full scale (it gives each
// point's intensity), or null to take the fringes' modulation instead.
Reconstruction reconstruct(const CameraModel &camera, const SheetModel &sheets,
                           const DecodedPositions &decoded, const float *light);

// Binary little-endian PLY: float x y z and uchar intensity per vertex.
QByteArray pointCloudPly(const Reconstruction &r);

#endif
