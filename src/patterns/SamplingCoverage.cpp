#include "SamplingCoverage.h"

#include "Generators.h"

#include <algorithm>

SamplingCoverage samplingCoverage(const SegmentAssignment &assignment)
{
    SamplingCoverage c;
    const std::vector<int> counts = assignment.samplesPerSegment();
    c.stripes = int(counts.size());
    c.empty = int(std::count(counts.begin(), counts.end(), 0));
    c.single = int(std::count(counts.begin(), counts.end(), 1));
    return c;
}

SamplingCoverage grayCodeCoverage(const ScanTiming &timing, int bits)
{
    return samplingCoverage(grayCodeSegments(timing, bits));
}

SamplingCoverage squareWaveCoverage(const ScanTiming &timing, int stripes)
{
    return samplingCoverage(squareWaveSegments(timing, stripes));
}
