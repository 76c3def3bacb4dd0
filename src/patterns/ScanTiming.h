#ifndef DVK_SCANTIMING_H
#define DVK_SCANTIMING_H

#include "PatternConstants.h"

#include <array>
#include <vector>

// Conversion between sample times and projected positions for the resonant
// mirror. Times are in nanoseconds, angles in radians. The written pattern
// values depend on every rounding step here, so each quantity is computed in
// exactly the precision its type shows, in the order written; do not
// "simplify" the casts or reorder the arithmetic.

constexpr int kSampleStepNs = 60;
constexpr int kHalfWindowNs = 30720; // 512 samples of 60 ns
constexpr int kFullScanAngleDeg = 50;

// Scan values the model covers: 0 gives an infinite period, and above 16276
// the sampled window runs past the mirror's turning points.
constexpr int kMinScanValue = 1;
constexpr int kMaxScanValue = 16276;
bool scanValueValid(float scanValue);

struct ScanTiming {
    float period;        // T, mirror oscillation period
    float halfPeriod;    // h, time of the window centre
    float fullAngle;     // A, full scan angle
    float halfAngle;     // theta, deflection at the turning points
    float tanHalfAngle;  // position at full deflection (single tangent)
    double omega;        // angular frequency, radians per ns
    double edgePosition; // X, position at the window edges
};

ScanTiming computeScanTiming(float scanValue);

// The edge ratio X / tan(theta) in its three roundings; each generator kind
// has always used its own and the output depends on it.
double phaseEdgeRatio(const ScanTiming &t); // sinusoidal patterns
float squareEdgeRatio(const ScanTiming &t); // square wave
float grayEdgeRatio(const ScanTiming &t);   // Gray code (double tangent)

// Position of sample i (0..1023) on the sinusoidal grid: sign * position is
// minus the projected position x at tau = 60 i - 30720.
struct PhaseSample {
    double position;
    int sign; // +1 or -1
};
PhaseSample phaseSamplePosition(const ScanTiming &t, int i);

// n + 1 increasing boundary times cutting the window into n segments of equal
// projected width; n even and at least 2. Segment j is (E[j], E[j+1]].
std::vector<float> segmentBoundaries(const ScanTiming &t, int n, float ratio);

// Projected positions of the edges of the 1024 sample cells: sample i is
// played from tau = 60 i - 30720 to 60 (i + 1) - 30720, so its cell runs from
// x[i] to x[i + 1], from -X to +X across the window (1025 values).
std::vector<double> sampleCellEdges(const ScanTiming &t);

// Whole-nanosecond time of sample i (0..1023) on the level grid.
float sampleInstant(const ScanTiming &t, int i);
std::array<float, kSamplesPerPage> sampleInstants(const ScanTiming &t);

// Segment of every level-grid sample. A sample in (E[j], E[j+1]] belongs to
// segment j; one at or before E[0] to segment 0 and one after E[n] to
// segment n - 1, so that every pattern keeps all of its 1024 samples even
// where an outer boundary rounds to just inside the first or last instant.
struct SegmentAssignment {
    int segmentCount = 0;
    std::array<int, kSamplesPerPage> segmentOfSample{};
    // Samples that lay outside (E[0], E[n]] and were given to an edge segment.
    int clampedSamples = 0;

    // Number of samples each segment received (stripes that receive none
    // or a single sample are not reproduced faithfully by the pattern).
    std::vector<int> samplesPerSegment() const;
};
SegmentAssignment assignSegments(const std::vector<float> &boundaries,
                                 const std::array<float, kSamplesPerPage> &instants);

#endif
