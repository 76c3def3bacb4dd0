#ifndef DVK_GENERATORS_H
#define DVK_GENERATORS_H

#include "ScanTiming.h"

#include <QtGlobal>

#include <vector>

// Parameter ranges the window and dvkctl accept.
constexpr int kMinPhaseSteps = 3;
constexpr int kMaxPhaseSteps = 8;
constexpr int kMinStripes = 1;
constexpr int kMaxStripes = 128;
constexpr int kMinGrayBits = 1;
constexpr int kMaxGrayBits = 10;

// How a run's values are written: computed values in lower-case hex without
// leading zeros ("0x0", "0x7f"), level values as "0x00" / "0xFF".
enum class LineForm { Computed, Level };

// The values of one generator run, kSamplesPerPage per pattern, in the order
// they are appended to the pattern file.
struct PatternRun {
    int patternCount = 0;
    LineForm form = LineForm::Level;
    std::vector<quint8> values;
};

// N-step sinusoidal phase shift: `steps` cosine patterns with `stripes`
// periods across the projected window, pattern k shifted by k 2 pi / steps.
PatternRun phaseShiftPatterns(const ScanTiming &timing, int steps, int stripes);

// `bits` Gray-code patterns over 2^bits stripes, most significant bit first.
PatternRun grayCodePatterns(const ScanTiming &timing, int bits);
// The binary-reflected Gray code word of a stripe, and the stripe of a word.
int grayCodeWord(int stripe);
int grayCodeStripe(int code);

// Four square-wave patterns with `stripes` periods, each a quarter period
// (one segment) ahead of the previous one.
PatternRun squareWavePatterns(const ScanTiming &timing, int stripes);
// Whether segment j is lit in square-wave pattern q (0..3).
bool squareWaveLit(int segment, int q);

// One constant pattern: 0 all dark, 255 all light.
PatternRun fixedPattern(quint8 level);

// The stripes the level generators cut the window into and where each
// sample falls: what the patterns above are built from.
SegmentAssignment grayCodeSegments(const ScanTiming &timing, int bits);
SegmentAssignment squareWaveSegments(const ScanTiming &timing, int stripes);

#endif
