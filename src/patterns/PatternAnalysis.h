#ifndef DVK_PATTERNANALYSIS_H
#define DVK_PATTERNANALYSIS_H

// Checking a generated pattern set before it is burned: the patterns of a
// file are decoded the way a camera-side decoder would read them, with the
// scan-timing model, and compared with what the generator lays out for the
// same scan value. Also the sampling coverage of the level generators, which
// the generators warn about.

#include "ScanTiming.h"

#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <vector>

// --- sampling coverage -------------------------------------------------------

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

// --- pattern sets -------------------------------------------------------------

enum class PatternSetKind { Gray, Phase, Square };

// One set named on the command line: KIND:PARAMS@PAGE, for example gray:4@1,
// phase:4x16@5, square:8@9. Pages count from 1; the set's patterns are the
// consecutive pages from `page` on.
struct PatternSetRequest {
    PatternSetKind kind = PatternSetKind::Gray;
    int bits = 0;    // gray
    int steps = 0;   // phase
    int stripes = 0; // phase, square
    int page = 1;

    int patternCount() const;
    QString text() const;
};

// Parses the form above with the generators' parameter ranges and pages 1 to
// 60. On failure returns false and says why in *error.
bool parsePatternSetRequest(const QString &text, PatternSetRequest *request, QString *error);

// The values of a pattern file as the loader reads them, line by line, with
// the lines whose text is not a number (the loader reads those as 0).
struct PatternFileValues {
    bool opened = false;
    QString error;
    std::vector<int> values;
    std::vector<bool> unreadable; // per line: the text did not convert
    bool truncated = false;       // more lines follow than were read
};

// Reads at most maxLines lines.
PatternFileValues readPatternFileValues(const QString &path, qint64 maxLines);

// Where a set first departs from the patterns intended.
struct SetFault {
    qint64 line = 0; // 1-based line in the file
    int pattern = 0; // 0-based pattern of the set
    int sample = 0;  // 0-based sample of the page
    QString what;
};

// A value is a consistent 8-bit phase-shift sample when it is the truncation
// of the ideal profile (1 - cos) x 127.5 to within this many counts; the
// slack covers the last-bit differences of another maths library.
constexpr double kPhaseValueSlack = 0.01;

// Within this distance of a stripe edge a sample may decode to either side:
// a last-bit difference in another maths library moves an edge by a few
// units in the last place of its single-precision time (1/128 ns there).
// The centre edge is the half period itself, the same everywhere, and has
// no such allowance.
constexpr double kEdgeSlackNs = 1.0 / 32.0;

struct PatternSetAnalysis {
    PatternSetRequest request;
    bool ok = false;
    // False when the file ends before the set does; nothing else is filled.
    bool decoded = false;
    // Whole sentences saying what does not decode as intended; empty when ok.
    QStringList problems;
    // Samples (one per sample position of the set) that do not decode as the
    // generator lays them out, and the first of them.
    int faultySamples = 0;
    SetFault firstFault;

    // Gray code.
    bool monotonic = false;
    int codeStripes = 0;   // 2^m
    int emptyStripes = 0;  // code stripes no sample decodes to
    int expectedEmpty = 0; // ... as the model leaves them

    // Square wave: periods decoded, and per pattern the lit fraction of each
    // period's projected width.
    int decodedStripes = 0;
    std::vector<std::vector<double>> duty;

    // Phase shift: the recovered phase against the ideal linear phase in
    // projected position, in radians; the largest deviation, its sample, and
    // the bound that 8-bit quantisation allows.
    double maxDeviation = 0.0;
    int maxDeviationSample = 0;
    double deviationBound = 0.0;
    std::vector<double> unwrappedPhase; // per sample, radians
};

// The largest phase error that truncation to 8 bits can cause in an N-step
// set: the values err from the ideal by at most half a count around their
// mean, and N-step sums of such errors turn the recovered phasor by at most
// asin(err M_N / (127.5 N / 2)), where M_N = max_d sum_k |cos(phi_k - d)|.
double phaseQuantisationBound(int steps);

// Decodes one set from a file's values (index 0 is line 1).
PatternSetAnalysis analyzePatternSet(const PatternFileValues &file, const ScanTiming &timing,
                                     const PatternSetRequest &request);

#endif
