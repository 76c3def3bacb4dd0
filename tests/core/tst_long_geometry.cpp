// Calibrating the camera and light sheets from rendered board poses, and
// reconstructing a rendered scene, against the renderer's truth.
#include "geometry/BoardCalibration.h"
#include "geometry/Reconstruction.h"
#include "support/core/RigSupport.h"

#include <QtTest>

#include <cmath>

namespace
{

struct Calibrated {
    BoardCalibration calibration;
    std::vector<DecodedPositions> decoded;
};

Calibrated calibrateRendered(const RigScene &base, const RigSets &sets,
                             const std::vector<RigObject> &boards)
{
    Calibrated c;
    std::vector<RigRender> renders;
    for (const RigObject &board : boards) {
        RigScene scene = base;
        scene.objects = {board};
        scene.look.seed = quint32(renders.size() + 7);
        renders.push_back(renderRig(scene, sets.timing, sets.file.pages));
        c.decoded.push_back(decodeRig(sets, renders.back()));
    }
    std::vector<PoseCaptures> poses;
    for (size_t p = 0; p < renders.size(); ++p)
        poses.push_back({lightOf(sets, renders[p]), &c.decoded[p]});
    c.calibration = calibrateBoard(poses, base.camera.width, base.camera.height, {9, 6, 25.0},
                                   sets.timing.edgePosition);
    return c;
}

} // namespace

class TestLongGeometry : public QObject
{
    Q_OBJECT

private slots:
    // Rendered poses through the whole chain: camera and sheets fitted,
    // then a scene with a shadow and a step measured to a fraction of a
    // millimetre, its shadow left out. The mirror's zero and amplitude are
    // off, the lens distorts: a model without either misses by millimetres.
    // The dark squares return too little light to decode: a corner's u
    // taken from them is missing.
    void calibratesAndReconstructs()
    {
        const RigSets sets = rigSets();
        const RigScene base = rigScene(640, 512);
        const Calibrated c = calibrateRendered(base, sets, eightBoardPoses());
        const BoardCalibration &cal = c.calibration;
        QVERIFY2(cal.ok, qPrintable(cal.problems.join("; ")));
        qInfo("camera RMS %.3f px, sheets RMS %.6f u, amplitude %.5f", cal.camera.rmsPx,
              cal.sheets.rmsU, cal.sheets.amplitude);
        QVERIFY(cal.good);
        QVERIFY(cal.camera.rmsPx < 0.3);
        for (const PoseResult &p : cal.poses)
            QVERIFY2(p.corners >= 50, "a corner's position was not taken from the light squares");

        RigScene scene = base;
        scene.objects = rigTestScene();
        const RigRender render = renderRig(scene, sets.timing, sets.file.pages);
        const DecodedPositions decoded = decodeRig(sets, render);
        const Reconstruction fitted =
            reconstruct(cal.camera, cal.sheets, decoded, lightOf(sets, render));
        const DepthError e = depthError(render, fitted.depth);
        const DepthError floor = depthError(
            render,
            reconstruct(trueCamera(scene), trueSheets(scene, sets.timing), decoded, nullptr).depth);
        // Where the light mixes two surfaces at a depth edge, no point may
        // float between them.
        qint64 floating = 0;
        for (size_t i = 0; i < fitted.depth.size(); ++i)
            floating += std::fabs(fitted.depth[i] - render.depth[i]) > 0.01 * render.depth[i];
        QVERIFY(floating < fitted.points / 5000);
        qInfo("depth RMS %.4f %% (true calibration %.4f %%), coverage %.4f, shadow %lld of %lld",
              e.rmsPercent, floor.rmsPercent, e.coverage, e.shadowMeasured, e.shadowPixels);
        QVERIFY(e.rmsPercent < 0.12);
        QVERIFY(e.coverage > 0.95);
        QVERIFY(e.shadowPixels > 500);
        QVERIFY(e.shadowMeasured < e.shadowPixels / 100);
    }
};

QTEST_GUILESS_MAIN(TestLongGeometry)
#include "tst_long_geometry.moc"
