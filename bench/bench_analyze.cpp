// Checking sets and drawing in projected position: the largest set of each
// kind decoded from a file's values, a whole 60-page file read and checked,
// and one page resampled. Target: a file of 60 pages checked in well under a
// second, so that a production line can check every file before burning.
//
//   build/bin/bench_analyze --benchmark_repetitions=10 --benchmark_report_aggregates_only=true
#include "analysis/PatternAnalysis.h"
#include "burnfile/ProjectedPreview.h"
#include "patterns/Generators.h"
#include "patterns/PatternFile.h"

#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

namespace
{

const float kScanValue = 10000.0f;

PatternFileValues valuesOf(const std::vector<PatternRun> &runs)
{
    PatternFileValues f;
    f.opened = true;
    for (const PatternRun &run : runs)
        f.values.insert(f.values.end(), run.values.begin(), run.values.end());
    f.unreadable.assign(f.values.size(), false);
    return f;
}

PatternSetRequest requestOf(const char *text)
{
    PatternSetRequest request;
    QString why;
    parsePatternSetRequest(text, &request, &why);
    return request;
}

void analyzeSet(benchmark::State &state, const PatternRun &run, const char *set)
{
    const PatternFileValues file = valuesOf({run});
    const PatternSetRequest request = requestOf(set);
    for (auto _ : state) {
        const PatternSetAnalysis r =
            analyzePatternSet(file, computeScanTiming(kScanValue), request);
        benchmark::DoNotOptimize(r.ok);
    }
}

void BM_AnalyzeGray10(benchmark::State &state)
{
    analyzeSet(state, grayCodePatterns(computeScanTiming(kScanValue), 10), "gray:10@1");
}

void BM_AnalyzePhase8x128(benchmark::State &state)
{
    analyzeSet(state, phaseShiftPatterns(computeScanTiming(kScanValue), 8, 128), "phase:8x128@1");
}

void BM_AnalyzeSquare128(benchmark::State &state)
{
    analyzeSet(state, squareWavePatterns(computeScanTiming(kScanValue), 128), "square:128@1");
}

// 60 pages: Gray 10, phase 8 x 128 three times, square 128 four times,
// 10 + 24 + 16 = 50, and Gray 10 again; read from disk and checked.
void BM_AnalyzeFullFile(benchmark::State &state)
{
    const ScanTiming t = computeScanTiming(kScanValue);
    QTemporaryDir dir;
    const QString path = dir.path() + "/wave.txt";
    std::vector<PatternRun> runs = {grayCodePatterns(t, 10)};
    for (int k = 0; k < 3; ++k)
        runs.push_back(phaseShiftPatterns(t, 8, 128));
    for (int k = 0; k < 4; ++k)
        runs.push_back(squareWavePatterns(t, 128));
    runs.push_back(grayCodePatterns(t, 10));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        state.SkipWithError("cannot write the pattern file");
        return;
    }
    for (const PatternRun &run : runs)
        file.write(patternLines(run));
    file.close();
    std::vector<PatternSetRequest> sets = {
        requestOf("gray:10@1"),      requestOf("phase:8x128@11"), requestOf("phase:8x128@19"),
        requestOf("phase:8x128@27"), requestOf("square:128@35"),  requestOf("square:128@39"),
        requestOf("square:128@43"),  requestOf("square:128@47"),  requestOf("gray:10@51")};
    for (auto _ : state) {
        const PatternFileValues values = readPatternFileValues(path, kMaxBurnSamples);
        bool ok = true;
        for (const PatternSetRequest &request : sets)
            ok = analyzePatternSet(values, t, request).ok && ok;
        if (!ok)
            state.SkipWithError("a generated set does not decode");
        benchmark::DoNotOptimize(ok);
    }
}

void BM_ProjectedPage(benchmark::State &state)
{
    const PatternRun run = grayCodePatterns(computeScanTiming(kScanValue), 1);
    const QVector<int> page(run.values.begin(), run.values.end());
    for (auto _ : state) {
        const QVector<int> drawn = projectedPage(page, computeScanTiming(kScanValue));
        benchmark::DoNotOptimize(drawn.constData());
    }
}

} // namespace

BENCHMARK(BM_AnalyzeGray10)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AnalyzePhase8x128)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AnalyzeSquare128)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AnalyzeFullFile)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ProjectedPage)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
