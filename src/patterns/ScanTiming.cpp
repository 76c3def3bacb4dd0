#include "ScanTiming.h"

#include "SingleMath.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace
{

const double kPi = std::acos(-1.0);

} // namespace

bool scanValueValid(float scanValue)
{
    return scanValue >= float(kMinScanValue) && scanValue <= float(kMaxScanValue);
}

ScanTiming computeScanTiming(float scanValue)
{
    ScanTiming t;
    // The reciprocal is taken in single precision (F = 8000 gives
    // T = 250000.015625, not 250000); only the scaling to ns is double.
    const float frequency = scanValue * 0.5f;
    const float periodSeconds = 1.0f / frequency;
    t.period = float(double(periodSeconds) * std::pow(10.0, 9.0));
    t.halfPeriod = t.period * 0.5f;
    t.fullAngle = float(kPi * double(kFullScanAngleDeg) / 180.0);
    t.halfAngle = t.fullAngle * 0.5f;
    t.tanHalfAngle = singleTan(t.halfAngle);
    t.omega = (kPi * 2.0) / double(t.period);
    t.edgePosition = std::tan(std::sin(t.omega * double(kHalfWindowNs)) * double(t.halfAngle));
    return t;
}

double phaseEdgeRatio(const ScanTiming &t)
{
    const float complement = float(1.0 - t.edgePosition / double(t.tanHalfAngle));
    return double(1.0f - complement);
}

float squareEdgeRatio(const ScanTiming &t)
{
    return float(t.edgePosition / double(t.tanHalfAngle));
}

float grayEdgeRatio(const ScanTiming &t)
{
    const double halfAngle = double(t.fullAngle) * 0.5;
    return float(std::tan(std::sin(t.omega * double(kHalfWindowNs)) * halfAngle) /
                 std::tan(halfAngle));
}

PhaseSample phaseSamplePosition(const ScanTiming &t, int i)
{
    const float g = (float(i) * float(kSampleStepNs) + t.halfPeriod) - float(kHalfWindowNs);
    float a;
    int sign;
    // Both forms give the same position algebraically; which one a sample
    // takes decides its last bits, so the choice is kept exactly.
    if (g <= float(kHalfWindowNs)) {
        a = t.halfPeriod - g;
        sign = 1;
    } else {
        a = t.period - g;
        sign = -1;
    }
    return {std::tan(std::sin(t.omega * double(a)) * double(t.halfAngle)), sign};
}

std::vector<float> segmentBoundaries(const ScanTiming &t, int n, float ratio)
{
    const int m = n / 2;
    // after[k] is the time after the window centre at which the beam reaches
    // the position (2k / n) X.
    std::vector<float> after(size_t(m) + 1, 0.0f);
    for (int k = 1; k <= m; ++k) {
        const float deflection = singleAtan(((float(2 * k) * ratio) * t.tanHalfAngle) / float(n));
        // The sine of the mirror phase; rounding can put the outermost one a
        // hair above 1 when the window reaches the turning points (scan
        // values 16275 and 16276), where the arcsine would be not-a-number
        // and the edge stripes would lose their samples.
        const float sine = std::min((deflection + deflection) / t.fullAngle, 1.0f);
        const float phaseTime = singleAsin(sine) * t.period;
        after[size_t(k)] = float(double(phaseTime) / (kPi * 2.0));
    }
    std::vector<float> e(size_t(n) + 1);
    for (int j = 0; j < m; ++j)
        e[size_t(j)] = t.halfPeriod - after[size_t(m - j)];
    e[size_t(m)] = t.halfPeriod;
    for (int j = 1; j <= m; ++j)
        e[size_t(m + j)] = t.halfPeriod + after[size_t(j)];
    return e;
}

std::vector<double> sampleCellEdges(const ScanTiming &t)
{
    std::vector<double> x(kSamplesPerPage + 1);
    for (int i = 0; i < kSamplesPerPage; ++i) {
        const PhaseSample p = phaseSamplePosition(t, i);
        x[size_t(i)] = -double(p.sign) * p.position;
    }
    x[kSamplesPerPage] = t.edgePosition;
    return x;
}

float sampleInstant(const ScanTiming &t, int i)
{
    const int offset = kSampleStepNs * (i + 1);
    const float instant = (float(offset) + t.halfPeriod) - float(kHalfWindowNs);
    // Whole nanoseconds: the fraction of h is dropped.
    return float(std::int32_t(instant));
}

std::array<float, kSamplesPerPage> sampleInstants(const ScanTiming &t)
{
    std::array<float, kSamplesPerPage> s;
    for (int i = 0; i < kSamplesPerPage; ++i)
        s[size_t(i)] = sampleInstant(t, i);
    return s;
}

std::vector<int> SegmentAssignment::samplesPerSegment() const
{
    std::vector<int> counts(size_t(std::max(segmentCount, 0)), 0);
    for (int j : segmentOfSample)
        if (j >= 0 && j < segmentCount)
            ++counts[size_t(j)];
    return counts;
}

SegmentAssignment assignSegments(const std::vector<float> &e,
                                 const std::array<float, kSamplesPerPage> &s)
{
    SegmentAssignment result;
    const int n = int(e.size()) - 1;
    result.segmentCount = std::max(n, 0);
    if (n < 1) {
        result.segmentOfSample.fill(-1);
        return result;
    }
    // With non-decreasing boundaries at most one segment (E[j], E[j+1]] holds
    // a sample: the first j with s <= E[j+1], if E[j] < s. A binary search
    // then gives exactly what testing every segment in order gives.
    // Boundaries that are not ordered (not-a-number, out-of-model input) fall
    // back to that in-order test, first match.
    const bool ordered = std::is_sorted(e.begin(), e.end()) &&
                         std::none_of(e.begin(), e.end(), [](float v) { return std::isnan(v); });
    for (int i = 0; i < kSamplesPerPage; ++i) {
        const float si = s[size_t(i)];
        int segment = -1;
        if (ordered) {
            const auto it = std::lower_bound(e.begin() + 1, e.end(), si);
            if (it != e.end()) {
                const int j = int(it - e.begin()) - 1;
                if (e[size_t(j)] < si)
                    segment = j;
            }
        } else {
            for (int j = 0; j < n; ++j) {
                if (e[size_t(j)] < si && si <= e[size_t(j) + 1]) {
                    segment = j;
                    break;
                }
            }
        }
        if (segment < 0) {
            // Outside the outer boundaries: the sample still belongs to the
            // pattern, at the edge it lies beyond.
            if (si <= e[0])
                segment = 0;
            else if (si > e[size_t(n)])
                segment = n - 1;
        }
        if (segment >= 0 && !(e[size_t(segment)] < si && si <= e[size_t(segment) + 1]))
            ++result.clampedSamples;
        result.segmentOfSample[size_t(i)] = segment;
    }
    return result;
}
