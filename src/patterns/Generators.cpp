#include "Generators.h"

#include <cmath>
#include <cstdint>

namespace
{

const double kPi = std::acos(-1.0);

} // namespace

PatternRun phaseShiftPatterns(const ScanTiming &t, int steps, int stripes)
{
    PatternRun run;
    run.form = LineForm::Computed;
    if (steps < 1)
        return run;
    run.patternCount = steps;
    run.values.reserve(size_t(steps) * kSamplesPerPage);

    const double rho = phaseEdgeRatio(t);
    const double k = (double(stripes) * kPi) / rho;
    PhaseSample samples[kSamplesPerPage];
    for (int i = 0; i < kSamplesPerPage; ++i)
        samples[i] = phaseSamplePosition(t, i);

    // The phase is accumulated in single precision from one pattern to the
    // next, as the projector's existing pattern sets were made.
    float phase = 0.0f;
    for (int p = 0; p < steps; ++p) {
        for (int i = 0; i < kSamplesPerPage; ++i) {
            const double j = std::cos((samples[i].position * k) / double(t.tanHalfAngle) +
                                      double(samples[i].sign) * double(phase));
            const float level = float((1.0 - j) * 127.5);
            run.values.push_back(quint8(std::int32_t(level)));
        }
        phase = float((kPi * 2.0) / double(steps) + double(phase));
    }
    return run;
}

SegmentAssignment grayCodeSegments(const ScanTiming &t, int bits)
{
    const int n = int(std::pow(2.0, bits));
    return assignSegments(segmentBoundaries(t, n, grayEdgeRatio(t)), sampleInstants(t));
}

PatternRun grayCodePatterns(const ScanTiming &t, int bits)
{
    PatternRun run;
    run.form = LineForm::Level;
    if (bits < 1 || bits > 24)
        return run;
    run.patternCount = bits;
    run.values.reserve(size_t(bits) * kSamplesPerPage);
    const SegmentAssignment a = grayCodeSegments(t, bits);
    for (int b = 0; b < bits; ++b) {
        // Digit b of a code word, most significant first.
        const int shift = bits - 1 - b;
        for (int j : a.segmentOfSample) {
            if (j < 0)
                continue; // outside a model that does not cover the window
            run.values.push_back(((grayCodeWord(j) >> shift) & 1) ? 255 : 0);
        }
    }
    return run;
}

int grayCodeWord(int stripe)
{
    return stripe ^ (stripe >> 1);
}

int grayCodeStripe(int code)
{
    int j = 0;
    for (; code != 0; code >>= 1)
        j ^= code;
    return j;
}

SegmentAssignment squareWaveSegments(const ScanTiming &t, int stripes)
{
    return assignSegments(segmentBoundaries(t, 4 * stripes, squareEdgeRatio(t)), sampleInstants(t));
}

PatternRun squareWavePatterns(const ScanTiming &t, int stripes)
{
    PatternRun run;
    run.form = LineForm::Level;
    if (stripes < 1 || stripes > (1 << 20))
        return run;
    run.patternCount = 4;
    run.values.reserve(4 * kSamplesPerPage);
    const SegmentAssignment a = squareWaveSegments(t, stripes);
    for (int q = 0; q < 4; ++q)
        for (int j : a.segmentOfSample)
            if (j >= 0)
                run.values.push_back(squareWaveLit(j, q) ? 255 : 0);
    return run;
}

bool squareWaveLit(int segment, int q)
{
    // Pattern q is pattern 0 moved by q segments towards segment 0: a period
    // is two dark segments, then two lit ones.
    return (segment + q) % 4 >= 2;
}

PatternRun fixedPattern(quint8 level)
{
    PatternRun run;
    run.form = LineForm::Level;
    run.patternCount = 1;
    run.values.assign(kSamplesPerPage, level);
    return run;
}
