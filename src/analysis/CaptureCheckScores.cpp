#include "CaptureCheckScores.h"

#include <algorithm>
#include <limits>
#include <numeric>

namespace capturecheck
{

namespace
{

// The camera spreads each pixel over more than its own footprint: blur of
// the lens and the laser spot. The check tries these widths, in footprints,
// and keeps the one under which the captures match their pages best.
const double kSpreads[] = {1.0, 2.0, 3.5, 5.0, 7.0, 10.0, 14.0};
constexpr size_t kSpreadStride = 4;

// A deviate of mean 0 and variance 1 for draw n: the sum of four uniforms
// from a counter hash, so that the check gives the same bits everywhere.
double deviate(quint64 n)
{
    double sum = 0.0;
    for (quint64 k = 0; k < 4; ++k) {
        quint64 z = (n * 4 + k + 1) * 0x9E3779B97F4A7C15ull;
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        z ^= z >> 31;
        sum += double(z >> 11) * (1.0 / 9007199254740992.0);
    }
    return (sum - 2.0) * std::sqrt(3.0);
}

// The spread to assume: of kSpreads, the one under which the captures
// match their own pages best on average. Every kSpreadStride-th sample
// tells the widths apart as well as all of them do, at a fraction of the
// time.
double bestSpread(const PageLight &light, const std::vector<Sample> &samples,
                  const std::vector<double> &scaled, const std::vector<int> &ownPage)
{
    const size_t captures = ownPage.size();
    double bestMean = -std::numeric_limits<double>::infinity();
    double best = 0.0;
    for (double spread : kSpreads) {
        std::vector<Pair> pairs(captures);
        for (size_t k = 0; k < samples.size(); k += kSpreadStride) {
            const PageLight::Span span = light.span(samples[k].u, spread * samples[k].footprint);
            for (size_t c = 0; c < captures; ++c)
                pairs[c].add(scaled[k * captures + c], light.average(ownPage[c], span));
        }
        double mean = 0.0;
        for (size_t c = 0; c < captures; ++c)
            mean += pairs[c].score(light.isUniform(ownPage[c]));
        mean /= double(std::max<size_t>(captures, 1));
        if (mean > bestMean + 1e-9) {
            bestMean = mean;
            best = spread;
        }
    }
    return best > 0.0 ? best : kSpreads[0];
}

// What the samples add up to: each capture's correlation sums against
// every page (allPages) or only its own, and its raw values where its page
// is lit and where it is dark.
struct Sums {
    std::vector<std::vector<Pair>> pairs;
    std::vector<double> litSum, darkSum;
    std::vector<qint64> litN, darkN;
};

// Adds up the samples at s.spread, and the strays per bin into s.
Sums addUp(const PageLight &light, const std::vector<const float *> &planes,
           const std::vector<Sample> &samples, const std::vector<double> &scaled,
           const std::vector<int> &ownPage, bool allPages, Scoring &s)
{
    const size_t captures = planes.size();
    const int pages = light.pages();
    Sums sums;
    sums.pairs.assign(captures, std::vector<Pair>(allPages ? size_t(pages) : 1));
    sums.litSum.assign(captures, 0.0);
    sums.darkSum.assign(captures, 0.0);
    sums.litN.assign(captures, 0);
    sums.darkN.assign(captures, 0);
    s.stray.assign(captures, std::vector<double>(kBins, 0.0));
    s.binCount.assign(kBins, 0);
    std::vector<double> expected(static_cast<size_t>(pages));
    for (size_t k = 0; k < samples.size(); ++k) {
        const Sample &sample = samples[k];
        const PageLight::Span span = light.span(sample.u, s.spread * sample.footprint);
        if (allPages)
            for (int p = 0; p < pages; ++p)
                expected[size_t(p)] = light.average(p, span);
        ++s.binCount[size_t(sample.bin)];
        for (size_t c = 0; c < captures; ++c) {
            const double x = scaled[k * captures + c];
            const double own =
                allPages ? expected[size_t(ownPage[c])] : light.average(ownPage[c], span);
            if (allPages)
                for (int p = 0; p < pages; ++p)
                    sums.pairs[c][size_t(p)].add(x, expected[size_t(p)]);
            else
                sums.pairs[c][0].add(x, own);
            s.stray[c][size_t(sample.bin)] += std::fabs(x - own);
            const double raw = planes[c][sample.index];
            if (own >= 0.75) {
                sums.litSum[c] += raw;
                ++sums.litN[c];
            } else if (own <= 0.25) {
                sums.darkSum[c] += raw;
                ++sums.darkN[c];
            }
        }
    }
    return sums;
}

// The scores and contrasts from the sums.
void scoresOf(const PageLight &light, const Sums &sums, const std::vector<int> &ownPage,
              bool allPages, Scoring &s)
{
    const size_t captures = sums.pairs.size();
    s.score.resize(captures);
    s.own.resize(captures);
    s.contrast.resize(captures);
    const qint64 enough = std::max<qint64>(1, s.samples / 100);
    for (size_t c = 0; c < captures; ++c) {
        for (size_t p = 0; p < sums.pairs[c].size(); ++p)
            s.score[c].push_back(
                sums.pairs[c][p].score(light.isUniform(allPages ? int(p) : ownPage[c])));
        s.own[c] = allPages ? s.score[c][size_t(ownPage[c])] : s.score[c][0];
        if (sums.litN[c] >= enough && sums.darkN[c] >= enough) {
            const double lit = sums.litSum[c] / double(sums.litN[c]);
            const double dark = sums.darkSum[c] / double(sums.darkN[c]);
            s.contrast[c] = lit + dark > 0.0 ? (lit - dark) / (lit + dark) : 0.0;
        } else {
            s.contrast[c] = std::numeric_limits<double>::quiet_NaN();
        }
    }
}

} // namespace

// What the camera's noise alone takes from a perfect match of each capture
// with its page: the pages' own light at the samples with noise of the
// measured level added, scaled and scored as the captures are. A dim
// capture's swing is a few times its noise, and even its own page matches
// it only so far.
std::vector<double> noiseLoss(const PageLight &light, const std::vector<Sample> &samples,
                              const std::vector<const float *> &planes,
                              const std::vector<int> &ownPage, double spread, double noise)
{
    const size_t captures = planes.size();
    std::vector<Pair> pairs(captures);
    std::vector<double> clean(captures), noisy(captures);
    quint64 draw = 0;
    for (const Sample &sample : samples) {
        const size_t i = sample.index;
        float lo = planes[0][i], hi = lo;
        for (const float *c : planes) {
            lo = std::min(lo, c[i]);
            hi = std::max(hi, c[i]);
        }
        const double sigma = noise / double(hi - lo);
        const PageLight::Span span = light.span(sample.u, spread * sample.footprint);
        double nlo = std::numeric_limits<double>::infinity(), nhi = -nlo;
        for (size_t c = 0; c < captures; ++c) {
            clean[c] = light.average(ownPage[c], span);
            noisy[c] = clean[c] + sigma * deviate(draw++);
            nlo = std::min(nlo, noisy[c]);
            nhi = std::max(nhi, noisy[c]);
        }
        for (size_t c = 0; c < captures; ++c)
            pairs[c].add(nhi > nlo ? (noisy[c] - nlo) / (nhi - nlo) : 0.0, clean[c]);
    }
    std::vector<double> loss(captures);
    for (size_t c = 0; c < captures; ++c)
        loss[c] = std::max(0.0, 1.0 - pairs[c].score(light.isUniform(ownPage[c])));
    return loss;
}

// Scores captures (in plan order, capture c shows page ownPage[c]) against
// pages at the decoded positions.
// spread: the blur to assume, in footprints; 0 picks one from kSpreads.
Scoring score(const PageLight &light, const std::vector<const float *> &planes,
              const DecodedPositions &d, const std::vector<int> &ownPage, bool allPages,
              double spread)
{
    Scoring s;
    const std::vector<Sample> samples = samplesOf(d, planes);
    s.samples = qint64(samples.size());
    const std::vector<double> scaled = scaledValues(samples, planes);
    s.spread = spread > 0.0 ? spread : bestSpread(light, samples, scaled, ownPage);
    const Sums sums = addUp(light, planes, samples, scaled, ownPage, allPages, s);
    scoresOf(light, sums, ownPage, allPages, s);
    return s;
}

double meanOf(const std::vector<double> &v)
{
    return v.empty() ? 0.0 : std::accumulate(v.begin(), v.end(), 0.0) / double(v.size());
}

// Captures matching their pages less than least, row by row.
int failures(const std::vector<double> &own, const std::vector<double> &least)
{
    int count = 0;
    for (size_t k = 0; k < own.size(); ++k)
        count += own[k] < least[k];
    return count;
}

} // namespace capturecheck
