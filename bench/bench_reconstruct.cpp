// Reconstruction's cost on top of decoding: 1280 x 1024 captures of the
// thirteen-capture set (gray:7@1 phase:4x64@8 dark@12 light@13) of a plane,
// a sphere and a step, rendered once, then triangulated with the rig's own
// calibration. Target: at most 100 ms.
//
//   build/bin/bench_reconstruct --benchmark_repetitions=10 --benchmark_report_aggregates_only=true
#include "analysis/CaptureImages.h"
#include "geometry/Reconstruction.h"
#include "support/core/RigSupport.h"

#include <benchmark/benchmark.h>

#include <memory>

namespace
{

struct Fixture {
    RigSets sets;
    RigScene scene;
    DecodedPositions decoded;
    RigRender render;
};

const Fixture &fixture()
{
    static std::unique_ptr<Fixture> f;
    if (f)
        return *f;
    f = std::make_unique<Fixture>();
    f->sets = rigSets();
    f->scene = rigScene(1280, 1024);
    f->scene.objects = rigTestScene();
    f->render = renderRig(f->scene, f->sets.timing, f->sets.file.pages);
    f->decoded = decodeRig(f->sets, f->render);
    return *f;
}

void reconstructScene(benchmark::State &state)
{
    const Fixture &f = fixture();
    const CameraModel camera = trueCamera(f.scene);
    const SheetModel sheets = trueSheets(f.scene, f.sets.timing);
    qint64 points = 0;
    for (auto _ : state) {
        const Reconstruction r = reconstruct(camera, sheets, f.decoded, lightOf(f.sets, f.render));
        points = r.points;
        benchmark::DoNotOptimize(r.depth.data());
    }
    state.counters["points"] = double(points);
}
BENCHMARK(reconstructScene)->Unit(benchmark::kMillisecond)->UseRealTime();

void writeOutputs(benchmark::State &state)
{
    const Fixture &f = fixture();
    const Reconstruction r = reconstruct(trueCamera(f.scene), trueSheets(f.scene, f.sets.timing),
                                         f.decoded, lightOf(f.sets, f.render));
    for (auto _ : state) {
        const QByteArray ply = pointCloudPly(r);
        const QByteArray npy = float32Npy(r.depth, r.height, r.width);
        benchmark::DoNotOptimize(ply.data());
        benchmark::DoNotOptimize(npy.data());
    }
}
BENCHMARK(writeOutputs)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
