// The largest run of each generator: the values and their text alone, and
// with the append to a pattern file. Target: at most 10 ms median each.
//
//   build/bin/bench_patterns --benchmark_repetitions=10 --benchmark_report_aggregates_only=true
#include "patterns/Generators.h"
#include "patterns/PatternFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <functional>

namespace
{

const float kScanValue = 10000.0f;

using Run = std::function<PatternRun()>;

// A run as the window makes it: the model from the scan value, the values,
// the text of the lines.
QByteArray makeLines(const Run &run)
{
    return patternLines(run());
}

void coreOnly(benchmark::State &state, const Run &run)
{
    for (auto _ : state) {
        QByteArray lines = makeLines(run);
        benchmark::DoNotOptimize(lines.data());
    }
}

void withFileWrite(benchmark::State &state, const Run &run)
{
    QTemporaryDir dir;
    const QString path = dir.path() + "/wave.txt";
    for (auto _ : state) {
        PatternFileWriter writer(path);
        if (!writer.open() || !writer.append(makeLines(run))) {
            state.SkipWithError("cannot write the pattern file");
            break;
        }
        writer.close();
        // Keep the file from growing without end; not part of a run.
        state.PauseTiming();
        QFile::remove(path);
        state.ResumeTiming();
    }
}

const Run phase = [] { return phaseShiftPatterns(computeScanTiming(kScanValue), 8, 128); };
const Run gray = [] { return grayCodePatterns(computeScanTiming(kScanValue), 10); };
const Run square = [] { return squareWavePatterns(computeScanTiming(kScanValue), 128); };
const Run dark = [] { return fixedPattern(0); };
const Run light = [] { return fixedPattern(255); };

} // namespace

BENCHMARK_CAPTURE(coreOnly, phase_N8_S128, phase)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(coreOnly, gray_m10, gray)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(coreOnly, square_S128, square)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(coreOnly, dark, dark)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(coreOnly, light, light)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(withFileWrite, phase_N8_S128, phase)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(withFileWrite, gray_m10, gray)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(withFileWrite, square_S128, square)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(withFileWrite, dark, dark)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(withFileWrite, light, light)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
