#ifndef DVK_RIGSUPPORT_H
#define DVK_RIGSUPPORT_H

// What the calibration and reconstruction tests and benchmarks share: the
// thirteen-capture set, rendered rigs decoded, and depth against the truth.

#include "CaptureRenderer.h"

#include "analysis/CaptureDecoder.h"
#include "geometry/SheetModel.h"

#include <QString>

#include <vector>

struct RigSets {
    ScanTiming timing{};
    GeneratedFile file; // gray:7@1 phase:4x64@8 dark@12 light@13
    CapturePlan plan;
};
RigSets rigSets(float scanValue = 10000.0f);

// A rig at width x height with a lens and a projector 200 mm to the right,
// in mild noise and blur.
RigScene rigScene(int width, int height);

// The rig's own camera and sheets, in the product's terms.
CameraModel trueCamera(const RigScene &scene);
SheetModel trueSheets(const RigScene &scene, const ScanTiming &timing);

// A plane at about 780 mm with a sphere before it, whose shadow falls on it,
// and a box standing forward of it: a step.
std::vector<RigObject> rigTestScene();

DecodedPositions decodeRig(const RigSets &sets, const RigRender &render);
const float *lightOf(const RigSets &sets, const RigRender &render);

// Depth measured against the truth, over pixels lit, unshadowed and away
// from edges.
struct DepthError {
    double rmsPercent = 0.0; // RMS of (z - true z) / true z, in %
    double coverage = 0.0;   // share of those pixels measured
    qint64 shadowPixels = 0; // in the projector's shadow ...
    qint64 shadowMeasured = 0;
};
DepthError depthError(const RigRender &render, const std::vector<float> &depth);

// Writes each page as an 8-bit PNG (capture01.png ...) into folder.
void writeRigCaptures(const RigRender &render, const QString &folder);

#endif
