// The capture check's verdict: what is said of each capture, from the
// scores of the order that explains the captures best.
#include "CaptureCheck.h"

#include "CaptureCheckExplain.h"

#include <algorithm>
#include <limits>

using namespace capturecheck;

namespace
{

// Scores this close to the best count as the best: the own page wins a tie.
constexpr double kTie = 0.02;
// Local check: a bin where one capture's values stray from its page by this
// much on average while the others' follow theirs is named.
constexpr double kBinStray = 0.5;
constexpr double kBinFarStray = 0.8;
constexpr double kBinOthersStray = 0.25;
constexpr int kBinMinSamples = 12;

QString percent(double share)
{
    return QString::number(100.0 * share, 'f', share < 0.1 ? 2 : 1);
}

// What is said of capture c (0-based, showing page own) from its scores
// against every page, each to reach least: returns whether it fails.
bool judgePage(int c, int own, const std::vector<double> &row, double contrast, double least,
               CaptureCheckResult &result)
{
    int best = own;
    for (int p = 0; p < int(row.size()); ++p)
        if (row[size_t(p)] > row[size_t(best)])
            best = p;
    if (row[size_t(own)] >= row[size_t(best)] - kTie)
        best = own;
    PageMatch m;
    m.page = own + 1;
    m.capture = c + 1;
    m.match = row[size_t(own)];
    m.bestPage = best + 1;
    m.contrast = contrast;
    result.pages.push_back(m);
    if (best != own && row[size_t(best)] >= least) {
        result.problems << QString("capture %1 shows page %2").arg(c + 1).arg(best + 1);
        return true;
    }
    if (m.match < least) {
        QString text = QString("capture %1 matches page %2 only to %3")
                           .arg(c + 1)
                           .arg(own + 1)
                           .arg(m.match, 0, 'f', 2);
        if (best != own)
            text += QString(" (page %1 to %2)").arg(best + 1).arg(row[size_t(best)], 0, 'f', 2);
        result.problems << text;
        return true;
    }
    return false;
}

// Stretches of the window where the capture scored in row k strays from
// its page while the others follow theirs: a stripe the projector shows
// otherwise. Names them as capture c against page `page`; returns whether
// it named any.
bool nameStrays(const Scoring &s, int k, int c, int page, QStringList &problems)
{
    const int count = int(s.stray.size());
    bool named = false;
    int runStart = -1;
    double runPeak = 0.0;
    auto flush = [&](int endBin) {
        // A stretch of one bin only where the capture is far off there.
        if (runStart >= 0 && (endBin - runStart >= 2 || runPeak >= kBinFarStray)) {
            problems << QString("capture %1 differs from page %2 at projector columns %3 to %4")
                            .arg(c + 1)
                            .arg(page)
                            .arg(runStart * kBinColumns)
                            .arg(endBin * kBinColumns - 1);
            named = true;
        }
        runStart = -1;
        runPeak = 0.0;
    };
    // Bins with too few pixels to tell neither start nor end a stretch.
    int lastStray = -1;
    for (int b = 0; b < kBins; ++b) {
        const int n = s.binCount[size_t(b)];
        if (n < kBinMinSamples)
            continue;
        const double mine = s.stray[size_t(k)][size_t(b)] / n;
        std::vector<double> others;
        for (int o = 0; o < count; ++o)
            if (o != k)
                others.push_back(s.stray[size_t(o)][size_t(b)] / n);
        std::sort(others.begin(), others.end());
        const double typical = others.empty() ? 0.0 : others[others.size() / 2];
        if (mine > kBinStray && typical < kBinOthersStray) {
            if (runStart < 0)
                runStart = b;
            lastStray = b;
            runPeak = std::max(runPeak, mine);
        } else {
            flush(lastStray + 1);
        }
    }
    flush(lastStray + 1);
    return named;
}

// Stretches where captures the check did not fail stray from their pages,
// each scored in its own row; and the capture taken to show part of its page
// inverted (-1 for none) when no stretch of it is named.
void nameStrayingCaptures(const Scoring &s, const std::vector<int> &rowOfCapture,
                          const std::vector<bool> &failed, const std::vector<int> &ownPage,
                          int inverted, QStringList &problems)
{
    bool invertedNamed = false;
    for (int c = 0; c < int(ownPage.size()); ++c) {
        const int k = rowOfCapture[size_t(c)];
        if (failed[size_t(c)] || k != c)
            continue;
        if (nameStrays(s, k, c, ownPage[size_t(c)] + 1, problems))
            invertedNamed = invertedNamed || c == inverted;
    }
    if (inverted >= 0 && !invertedNamed && !failed[size_t(inverted)])
        problems << QString("capture %1 differs from page %2: part of it is inverted")
                        .arg(inverted + 1)
                        .arg(ownPage[size_t(inverted)] + 1);
}

// No pixel decodes: nothing to check against.
CaptureCheckResult uncheckable(const std::vector<int> &ownPage, CaptureCheckResult result)
{
    result.problems << "no pixel decodes, so no capture can be checked: the captures show "
                       "no pattern with enough contrast";
    for (size_t c = 0; c < ownPage.size(); ++c)
        result.pages.push_back({ownPage[c] + 1, int(c) + 1,
                                std::numeric_limits<double>::quiet_NaN(), 0.0, ownPage[c] + 1});
    return result;
}

} // namespace

CaptureCheckResult checkCaptures(const CaptureDecoder &decoder,
                                 const std::vector<std::vector<int>> &file,
                                 const std::vector<const float *> &captures, int width, int height,
                                 const DecodedPositions &decoded)
{
    return checkCaptures(decoder, file, subsample(captures, width, height), decoded);
}

CaptureCheckResult checkCaptures(const CaptureDecoder &decoder,
                                 const std::vector<std::vector<int>> &file, const CaptureGrid &grid,
                                 const DecodedPositions &decoded)
{
    CaptureCheckResult result;
    const std::vector<int> ownPage = ownPagesOf(decoder.plan());
    const int count = int(ownPage.size());
    result.runBackShare = runBack(decoded).share;
    if (decoded.validCount == 0)
        return uncheckable(ownPage, result);

    const PageLight light(file, decoder.cellEdges());
    const Explained explained = explainCaptures(decoder, light, grid, ownPage, decoded.noise);
    const Explanation &best = explained.best;

    // The final scores: every capture against every page, at the positions
    // of the order that explains the captures best. Row k of the scores
    // holds capture order[k]; its scores against every page do not depend
    // on which page it was taken to show.
    const Scoring s =
        score(light, grid.pointers(best.order), best.positions, ownPage, true, explained.blur);
    std::vector<int> rowOfCapture(static_cast<size_t>(count));
    for (int k = 0; k < count; ++k)
        rowOfCapture[size_t(best.order[size_t(k)])] = k;
    std::vector<bool> failed(static_cast<size_t>(count), false);
    for (int c = 0; c < count; ++c) {
        const int k = rowOfCapture[size_t(c)];
        // Contrast against page k; redone below if k != c.
        failed[size_t(c)] = judgePage(c, ownPage[size_t(c)], s.score[size_t(k)],
                                      s.contrast[size_t(k)], explained.least[size_t(c)], result);
    }
    // Contrast where the scored order was not the plan's: measure each
    // capture against its own page.
    const std::vector<int> &planned = explained.planned;
    if (best.order != planned) {
        const Scoring plain =
            score(light, grid.pointers(planned), best.positions, ownPage, false, explained.blur);
        for (int c = 0; c < count; ++c)
            result.pages[size_t(c)].contrast = plain.contrast[size_t(c)];
    }

    nameStrayingCaptures(s, rowOfCapture, failed, ownPage, best.inverted, result.problems);
    if (result.runBackShare > kMaxRunBackShare)
        result.problems << QString("decoded positions run back against the others' at %1 % "
                                   "of the valid pixels, where depth edges give under %2 %")
                               .arg(percent(result.runBackShare))
                               .arg(percent(kMaxRunBackShare));
    result.consistent = result.problems.isEmpty();
    return result;
}
