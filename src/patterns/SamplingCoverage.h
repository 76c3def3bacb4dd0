#ifndef DVK_SAMPLINGCOVERAGE_H
#define DVK_SAMPLINGCOVERAGE_H

// The sampling coverage of the level generators, which the window and
// dvkctl generate warn about.

#include "ScanTiming.h"

// How many of a run's stripes the 1024 samples resolve. For Gray code the
// stripes are the 2^m code stripes; for the square wave they are the 4 S
// quarter-period segments, the finest step of its phase shift.
struct SamplingCoverage {
    int stripes = 0;
    int empty = 0;  // stripes that no sample falls in
    int single = 0; // stripes with exactly one sample

    // Stripes that cannot show with both edges: none or one sample.
    int underSampled() const { return empty + single; }
};

SamplingCoverage samplingCoverage(const SegmentAssignment &assignment);
SamplingCoverage grayCodeCoverage(const ScanTiming &timing, int bits);
SamplingCoverage squareWaveCoverage(const ScanTiming &timing, int stripes);

#endif
