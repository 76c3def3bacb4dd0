// How well calibrate and reconstruct measure: eight poses of a 9 x 6 board
// with 25 mm squares between 550 and 800 mm, 1280 x 1024, 200 mm baseline,
// the thirteen-capture set; then a scene of a plane, a sphere and a step.
// Prints the camera's RMS, the sheets' RMS, the depth error against the
// truth (targets: 0.3 px, 0.04 % of the distance) next to the same with the
// rig's true calibration (the decoder's own floor), and the coverage of the
// lit, unshadowed pixels (target 95 %). Not a timing: one run, minutes.
//
//   build/bin/bench_calibration [WIDTH HEIGHT [DEPTH.png]]
#include "geometry/BoardCalibration.h"
#include "geometry/Reconstruction.h"
#include "support/core/RigSupport.h"

#include <QColor>
#include <QCoreApplication>
#include <QImage>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace
{

// Depth in false colour from near (warm) to far (cool), black where nothing
// was measured.
QImage depthPicture(const Reconstruction &r)
{
    const QColor ramp[] = {QColor(180, 20, 30), QColor(240, 160, 40), QColor(240, 240, 200),
                           QColor(60, 160, 200), QColor(30, 40, 140)};
    QImage image(r.width, r.height, QImage::Format_RGB32);
    image.fill(Qt::black);
    for (int y = 0; y < r.height; ++y)
        for (int x = 0; x < r.width; ++x) {
            const float z = r.depth[size_t(y) * size_t(r.width) + size_t(x)];
            if (!std::isfinite(z))
                continue;
            const double t = std::clamp((z - r.nearest) / (r.farthest - r.nearest), 0.0, 1.0) * 4.0;
            const int k = std::min(int(t), 3);
            const double f = t - k;
            const QColor &a = ramp[k], &b = ramp[k + 1];
            image.setPixel(x, y,
                           qRgb(int(a.red() + f * (b.red() - a.red())),
                                int(a.green() + f * (b.green() - a.green())),
                                int(a.blue() + f * (b.blue() - a.blue()))));
        }
    return image;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int width = argc > 2 ? std::atoi(argv[1]) : 1280;
    const int height = argc > 2 ? std::atoi(argv[2]) : 1024;
    const RigSets sets = rigSets();
    RigScene base = rigScene(width, height);
    base.look.supersample = 3;

    std::vector<RigRender> renders;
    std::vector<DecodedPositions> decoded;
    const std::vector<RigObject> boards = eightBoardPoses();
    for (size_t p = 0; p < boards.size(); ++p) {
        RigScene scene = base;
        scene.objects = {boards[p]};
        scene.look.seed = quint32(p + 11);
        renders.push_back(renderRig(scene, sets.timing, sets.file.pages));
        decoded.push_back(decodeRig(sets, renders.back()));
        std::fprintf(stderr, "pose %zu rendered\n", p + 1);
    }
    std::vector<PoseCaptures> poses;
    for (size_t p = 0; p < renders.size(); ++p)
        poses.push_back({lightOf(sets, renders[p]), &decoded[p]});
    const BoardCalibration cal =
        calibrateBoard(poses, width, height, {9, 6, 25.0}, sets.timing.edgePosition);
    if (!cal.ok) {
        std::fprintf(stderr, "calibration failed: %s\n", qPrintable(cal.problems.join("; ")));
        return 1;
    }
    std::printf("camera RMS %.3f px (target 0.3), sheets RMS %.6f in u\n", cal.camera.rmsPx,
                cal.sheets.rmsU);

    RigScene scene = base;
    scene.objects = rigTestScene();
    const RigRender render = renderRig(scene, sets.timing, sets.file.pages);
    const DecodedPositions d = decodeRig(sets, render);
    const Reconstruction fitted = reconstruct(cal.camera, cal.sheets, d, lightOf(sets, render));
    const Reconstruction truth =
        reconstruct(trueCamera(scene), trueSheets(scene, sets.timing), d, nullptr);
    const DepthError e = depthError(render, fitted.depth);
    const DepthError floor = depthError(render, truth.depth);
    std::printf("depth RMS %.4f %% of z calibrated (target 0.04), %.4f %% with the true "
                "calibration\n",
                e.rmsPercent, floor.rmsPercent);
    std::printf("coverage %.2f %% of lit, unshadowed pixels (target 95); %lld of %lld shadowed "
                "pixels measured\n",
                100.0 * e.coverage, e.shadowMeasured, e.shadowPixels);
    if (argc > 3) // the README's picture
        depthPicture(fitted).save(argv[3]);
    return 0;
}
