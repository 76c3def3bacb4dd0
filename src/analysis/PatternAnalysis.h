#ifndef DVK_PATTERNANALYSIS_H
#define DVK_PATTERNANALYSIS_H

// Checking a generated pattern set before it is burned: every value of the
// set is compared with what the generator writes for the same scan value
// (the generator's own code, so no slack is needed), and the patterns are
// decoded the way a camera-side decoder would read them, to say where and how
// a set departs and to measure what it projects.

#include "PatternSetRequest.h"
#include "burnfile/BurnFile.h"
#include "patterns/ScanTiming.h"

#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <vector>

// Where a set first departs from the patterns intended.
struct SetFault {
    qint64 line = 0; // 1-based line in the file
    int pattern = 0; // 0-based pattern of the set
    int sample = 0;  // 0-based sample of the page
    QString what;
};

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
