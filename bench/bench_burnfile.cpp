// Loading and paging a burn file: the scan of a full 61440-line file, and a
// page switch as the window does it (each drawing reads its page from disk,
// then draws it at 1100 × 140). Targets: the scan at most 15 ms, a page
// switch at most 16 ms (one display frame), median. The window's load of
// the largest file it reads (the byte bound, filled with the longest lines,
// or a 20 GB file cut at the bound) and the burn check of the latter: each
// well under 100 ms, so the window never stalls longer.
//
//   build/bin/bench_burnfile --benchmark_repetitions=10 --benchmark_report_aggregates_only=true
#include "burnfile/BurnFile.h"
#include "burnfile/PreviewRender.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cmath>

namespace
{

const QSize kCanvas(1100, 140);

// A full file as the phase-shift generator writes it: 60 sine patterns.
QString fullFile(const QTemporaryDir &dir)
{
    const QString path = dir.filePath("full.txt");
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    QByteArray text;
    for (int i = 0; i < kMaxBurnSamples; ++i) {
        const int v = int(127.5 + 127.5 * std::sin((i % kSamplesPerPage) * 0.0491 + i / 1024));
        text += "0x" + QByteArray::number(v, 16) + "\n";
    }
    f.write(text);
    return path;
}

QTemporaryDir &tempDir()
{
    static QTemporaryDir dir;
    return dir;
}

void BM_ScanFullFile(benchmark::State &state)
{
    const QString path = fullFile(tempDir());
    for (auto _ : state) {
        const BurnFileScan scan = scanBurnFile(path);
        benchmark::DoNotOptimize(scan.count);
    }
}
BENCHMARK(BM_ScanFullFile)->Unit(benchmark::kMillisecond);

void BM_CheckFullFile(benchmark::State &state)
{
    const QString path = fullFile(tempDir());
    for (auto _ : state) {
        const BurnFileCheck check = checkBurnFile(path);
        benchmark::DoNotOptimize(check.values.data());
    }
}
BENCHMARK(BM_CheckFullFile)->Unit(benchmark::kMillisecond);

// page 0 is the cheapest read, page 59 the dearest (the skip reads the rest).
void BM_PageSwitch(benchmark::State &state)
{
    const QString path = fullFile(tempDir());
    const BurnFileScan scan = scanBurnFile(path);
    const WaveRange range = waveRange(scan.min, scan.max);
    const int page = int(state.range(0));
    for (auto _ : state) {
        const QImage wave = renderWave(readBurnPage(path, page).values, kCanvas, range);
        const QImage picture = renderPicture(readBurnPage(path, page).values, kCanvas);
        benchmark::DoNotOptimize(wave.constBits());
        benchmark::DoNotOptimize(picture.constBits());
    }
}
BENCHMARK(BM_PageSwitch)->Arg(0)->Arg(59)->Unit(benchmark::kMillisecond);

// The two drawings alone, without reading.
void BM_DrawPage(benchmark::State &state)
{
    const QVector<int> values = readBurnPage(fullFile(tempDir()), 3).values;
    for (auto _ : state) {
        const QImage wave = renderWave(values, kCanvas, WaveRange{0, 255});
        const QImage picture = renderPicture(values, kCanvas);
        benchmark::DoNotOptimize(wave.constBits());
        benchmark::DoNotOptimize(picture.constBits());
    }
}
BENCHMARK(BM_DrawPage)->Unit(benchmark::kMillisecond);

// 61440 lines of 256 characters ended by "\r\n": exactly the byte bound.
QString boundFile(const QTemporaryDir &dir)
{
    const QString path = dir.filePath("bound.txt");
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    const QByteArray line = QByteArray("0x10").leftJustified(kMaxBurnLineLength, ' ') + "\r\n";
    f.write(line.repeated(kMaxBurnSamples));
    return path;
}

// 20 GB without a line break (sparse: no disk used).
QString hugeFile(const QTemporaryDir &dir)
{
    const QString path = dir.filePath("huge.txt");
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.resize(qint64(20) << 30);
    return path;
}

void BM_LoadLargest(benchmark::State &state)
{
    const QString path = state.range(0) ? hugeFile(tempDir()) : boundFile(tempDir());
    LoadedBurnFile loaded;
    for (auto _ : state) {
        const BurnFileScan scan = loaded.load(path);
        benchmark::DoNotOptimize(scan.count);
    }
}
BENCHMARK(BM_LoadLargest)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_CheckHuge(benchmark::State &state)
{
    const QString path = hugeFile(tempDir());
    for (auto _ : state) {
        const BurnFileCheck check = checkBurnFile(path);
        benchmark::DoNotOptimize(check.status);
    }
}
BENCHMARK(BM_CheckHuge)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
