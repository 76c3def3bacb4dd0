#include "CaptureCheck.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>

namespace
{

// The check looks at up to this many pixels, every stride-th of each axis.
constexpr qint64 kCheckPixels = 65536;
// Below this variance over the view a page is taken as constant there, and
// compared by its level rather than correlated.
constexpr double kConstantPage = 1e-3;
// Scores this close to the best count as the best: the own page wins a tie.
constexpr double kTie = 0.02;
// The camera spreads each pixel over more than its own footprint: blur of
// the lens and the laser spot. The check tries these widths, in footprints,
// and keeps the one under which the captures match their pages best.
const double kSpreads[] = {1.0, 2.0, 3.5, 5.0, 7.0, 10.0, 14.0};
// Local check: the window cut into bins of this many projector columns; a
// bin where one capture's values stray from its page by this much on
// average while the others' follow theirs is named.
constexpr int kBinColumns = 8;
constexpr int kBins = kSamplesPerPage / kBinColumns;
constexpr double kBinStray = 0.5;
constexpr double kBinFarStray = 0.8;
constexpr double kBinOthersStray = 0.25;
constexpr int kBinMinSamples = 12;
// An explanation of the captures is believed when it leaves this many
// fewer captures failing, counting a share of positions running back (above
// the share depth edges may give) at kRunBackCost captures per unit; or,
// at no cost, when it raises the mean match by kHypothesisGain.
constexpr double kExplanationGain = 0.5;
constexpr double kRunBackCost = 10.0;
constexpr double kHypothesisGain = 0.03;
// kMinPageMatch allows for this much of a match lost to the camera's noise
// (a reference at a good exposure loses about 0.025); where noise alone
// takes more, as from a dim capture, the least match comes down by the rest.
constexpr double kNoiseLossHeld = 0.03;

// Every stride-th pixel of each axis of the captures.
struct Grid {
    int width = 0;
    int height = 0;
    int stride = 1;
    std::vector<std::vector<float>> planes;

    std::vector<const float *> pointers(const std::vector<int> &order) const
    {
        std::vector<const float *> list;
        for (int c : order)
            list.push_back(planes[size_t(c)].data());
        return list;
    }
};

Grid subsample(const std::vector<const float *> &captures, int width, int height)
{
    Grid g;
    const qint64 pixels = qint64(width) * height;
    g.stride = std::max(1, int(std::ceil(std::sqrt(double(pixels) / double(kCheckPixels)))));
    g.width = (width + g.stride - 1) / g.stride;
    g.height = (height + g.stride - 1) / g.stride;
    for (const float *c : captures) {
        std::vector<float> plane(size_t(g.width) * size_t(g.height));
        for (int y = 0; y < g.height; ++y)
            for (int x = 0; x < g.width; ++x)
                plane[size_t(y) * size_t(g.width) + size_t(x)] =
                    c[size_t(y) * size_t(g.stride) * size_t(width) + size_t(x) * size_t(g.stride)];
        g.planes.push_back(std::move(plane));
    }
    return g;
}

// The pages of the file as the projector lights them: integrals over u of
// each page's values, for averages over any stretch of the window.
class PageLight
{
public:
    PageLight(const std::vector<std::vector<int>> &file, const std::vector<double> &edges)
        : edges(edges), pageCount(int(file.size()))
    {
        prefix.resize(file.size());
        values.resize(file.size());
        uniform.resize(file.size());
        for (size_t p = 0; p < file.size(); ++p) {
            std::vector<double> &sum = prefix[p];
            sum.assign(kSamplesPerPage + 1, 0.0);
            values[p].assign(kSamplesPerPage, 0.0);
            for (int i = 0; i < kSamplesPerPage; ++i) {
                const int v = i < int(file[p].size()) ? file[p][size_t(i)] : 0;
                values[p][size_t(i)] = std::clamp(v, 0, 255) / 255.0;
                sum[size_t(i) + 1] = sum[size_t(i)] + values[p][size_t(i)] *
                                                          (edges[size_t(i) + 1] - edges[size_t(i)]);
            }
            uniform[p] = std::all_of(values[p].begin(), values[p].end(),
                                     [&](double v) { return v == values[p][0]; });
        }
    }

    int pages() const { return pageCount; }
    // A page of one value throughout.
    bool isUniform(int p) const { return uniform[size_t(p)]; }

    // Cell of u: -1 before the window, kSamplesPerPage after it.
    int cellOf(double u) const
    {
        return int(std::upper_bound(edges.begin(), edges.end(), u) - edges.begin()) - 1;
    }

    // Light of page p integrated from the window's negative edge to u.
    double integral(int p, double u, int cell) const
    {
        if (cell < 0)
            return 0.0;
        if (cell >= kSamplesPerPage)
            return prefix[size_t(p)][kSamplesPerPage];
        return prefix[size_t(p)][size_t(cell)] +
               values[size_t(p)][size_t(cell)] * (u - edges[size_t(cell)]);
    }

    // What a pixel sees of a page: the page spread over its footprint and
    // the blur, a box over `width` smoothed by a [1 2 1] of half-width
    // boxes. The light beyond the window's edges reaches no surface the
    // pixel sees lit.
    struct Span {
        double at[4];
        int cell[4];
        double weight; // of the whole kernel
    };
    Span span(double u, double width) const
    {
        const double half = std::max(0.5 * width, 1e-6);
        Span s;
        const double offsets[4] = {-1.5, -0.5, 0.5, 1.5};
        for (int k = 0; k < 4; ++k) {
            s.at[k] = std::clamp(u + offsets[k] * half, edges.front(), edges.back());
            s.cell[k] = cellOf(s.at[k]);
        }
        s.weight = (s.at[1] - s.at[0]) + 2.0 * (s.at[2] - s.at[1]) + (s.at[3] - s.at[2]);
        return s;
    }
    double average(int p, const Span &s) const
    {
        double in[4];
        for (int k = 0; k < 4; ++k)
            in[k] = integral(p, s.at[k], s.cell[k]);
        if (s.weight <= 1e-12) {
            const int c = std::clamp(s.cell[1], 0, kSamplesPerPage - 1);
            return values[size_t(p)][size_t(c)];
        }
        return ((in[1] - in[0]) + 2.0 * (in[2] - in[1]) + (in[3] - in[2])) / s.weight;
    }

private:
    std::vector<double> edges;
    int pageCount;
    std::vector<std::vector<double>> prefix;
    std::vector<std::vector<double>> values;
    std::vector<bool> uniform;
};

// One pixel of the check: where it is, how wide it sees, and each capture's
// value scaled between the darkest and brightest capture there.
struct Sample {
    double u;
    double footprint;
    int bin;
    size_t index; // in the grid
};

std::vector<Sample> samplesOf(const DecodedPositions &d, const std::vector<const float *> &planes)
{
    std::vector<Sample> list;
    const int w = d.width, h = d.height;
    std::vector<double> footprints;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const size_t i = size_t(y) * size_t(w) + size_t(x);
            if (!d.valid[i])
                continue;
            float lo = planes[0][i], hi = lo;
            for (const float *c : planes) {
                lo = std::min(lo, c[i]);
                hi = std::max(hi, c[i]);
            }
            if (hi - lo <= 1e-4f)
                continue;
            // Change of u per pixel along each axis, from the valid
            // neighbours.
            auto slope = [&](int dx, int dy) {
                double sum = 0.0;
                int n = 0;
                for (int sgn : {-1, 1}) {
                    const int xx = x + sgn * dx, yy = y + sgn * dy;
                    if (xx < 0 || yy < 0 || xx >= w || yy >= h)
                        continue;
                    const size_t j = size_t(yy) * size_t(w) + size_t(xx);
                    if (!d.valid[j])
                        continue;
                    sum += std::fabs(double(d.position[j]) - double(d.position[i]));
                    ++n;
                }
                return n ? sum / n : -1.0;
            };
            const double sx = slope(1, 0), sy = slope(0, 1);
            double footprint = -1.0;
            if (sx >= 0.0 || sy >= 0.0)
                footprint = std::max(sx, 0.0) + std::max(sy, 0.0);
            const double u = d.position[i];
            const int bin = std::clamp(int((u + 1.0) * 0.5 * kBins), 0, kBins - 1);
            list.push_back({u, footprint, bin, i});
            if (footprint >= 0.0)
                footprints.push_back(footprint);
        }
    // Where no neighbour tells, the typical footprint; a jump across a depth
    // edge is not a footprint either.
    double typical = 2.0 / kSamplesPerPage;
    if (!footprints.empty()) {
        std::nth_element(footprints.begin(), footprints.begin() + footprints.size() / 2,
                         footprints.end());
        typical = footprints[footprints.size() / 2];
    }
    for (Sample &s : list)
        if (s.footprint < 0.0 || s.footprint > 4.0 * typical)
            s.footprint = typical;
    return list;
}

// Correlation sums of one capture against one page.
struct Pair {
    double n = 0, sx = 0, sy = 0, sxx = 0, syy = 0, sxy = 0, absDiff = 0;

    void add(double x, double y)
    {
        n += 1;
        sx += x;
        sy += y;
        sxx += x * x;
        syy += y * y;
        sxy += x * y;
        absDiff += std::fabs(x - y);
    }
    // Correlation, or for a page constant over the view the agreement of
    // levels (1 when the capture sits at the page's level everywhere, 0 half
    // a full swing away, -1 a full swing).
    double score(bool uniformPage = false) const
    {
        if (n < 2)
            return 0.0;
        const double vx = sxx / n - (sx / n) * (sx / n);
        const double vy = syy / n - (sy / n) * (sy / n);
        if (uniformPage || vy < kConstantPage)
            return 1.0 - 2.0 * absDiff / n;
        if (vx <= 0.0)
            return 0.0;
        return (sxy / n - (sx / n) * (sy / n)) / std::sqrt(vx * vy);
    }
};

struct Scoring {
    // score[c][p]: capture c against page p (all pages, or only the capture's
    // own when scored for a hypothesis).
    std::vector<std::vector<double>> score;
    std::vector<double> own;
    std::vector<double> contrast;
    // stray[c][bin], count[bin]
    std::vector<std::vector<double>> stray;
    std::vector<int> binCount;
    double spread = 0.0;
    qint64 samples = 0;
};

// Values of every capture at every sample, scaled between the darkest and
// brightest capture there: scaled[k * captures + c].
std::vector<double> scaledValues(const std::vector<Sample> &samples,
                                 const std::vector<const float *> &planes)
{
    const size_t captures = planes.size();
    std::vector<double> scaled(samples.size() * captures);
    for (size_t k = 0; k < samples.size(); ++k) {
        const size_t i = samples[k].index;
        float lo = planes[0][i], hi = lo;
        for (const float *c : planes) {
            lo = std::min(lo, c[i]);
            hi = std::max(hi, c[i]);
        }
        for (size_t c = 0; c < captures; ++c)
            scaled[k * captures + c] = double(planes[c][i] - lo) / double(hi - lo);
    }
    return scaled;
}

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

// The spread to assume: of kSpreads, the one under which the captures
// match their own pages best on average.
double bestSpread(const PageLight &light, const std::vector<Sample> &samples,
                  const std::vector<double> &scaled, const std::vector<int> &ownPage)
{
    const size_t captures = ownPage.size();
    double bestMean = -std::numeric_limits<double>::infinity();
    double best = 0.0;
    for (double spread : kSpreads) {
        std::vector<Pair> pairs(captures);
        for (size_t k = 0; k < samples.size(); ++k) {
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

// Scores captures (in plan order, capture c shows page ownPage[c]) against
// pages at the decoded positions.
// spread: the blur to assume, in footprints; 0 picks one from kSpreads.
Scoring score(const PageLight &light, const std::vector<const float *> &planes,
              const DecodedPositions &d, const std::vector<int> &ownPage, bool allPages,
              double spread = 0.0)
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

QString percent(double share)
{
    return QString::number(100.0 * share, 'f', share < 0.1 ? 2 : 1);
}

// The lines of pixels along an axis: 0 rows, 1 columns.
struct Lines {
    int axis;
    int width;
    int height;

    int count() const { return axis == 0 ? height : width; }
    int length() const { return axis == 0 ? width : height; }
    size_t pixelAt(int line, int k) const
    {
        return axis == 0 ? size_t(line) * size_t(width) + size_t(k)
                         : size_t(k) * size_t(width) + size_t(line);
    }
};

// The axis along which positions change most, and their sign there; jumps
// across depth edges say nothing about either.
void runDirection(const DecodedPositions &d, int &axis, double &direction)
{
    const int width = d.width, height = d.height;
    double sum[2] = {0.0, 0.0};
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const size_t i = size_t(y) * size_t(width) + size_t(x);
            if (!d.valid[i])
                continue;
            if (x + 1 < width && d.valid[i + 1])
                sum[0] +=
                    std::clamp(double(d.position[i + 1]) - double(d.position[i]), -0.05, 0.05);
            if (y + 1 < height && d.valid[i + size_t(width)])
                sum[1] += std::clamp(double(d.position[i + size_t(width)]) - double(d.position[i]),
                                     -0.05, 0.05);
        }
    axis = std::fabs(sum[0]) >= std::fabs(sum[1]) ? 0 : 1;
    direction = sum[axis] >= 0.0 ? 1.0 : -1.0;
}

// Every how many pixels of a line to look, so that positions move on by a
// couple of projector columns from one to the next and noise cannot step
// back.
int orderStride(const DecodedPositions &d, const Lines &lines)
{
    std::vector<double> steps;
    for (int line = 0; line < lines.count(); line += std::max(1, lines.count() / 64))
        for (int k = 0; k + 1 < lines.length(); ++k) {
            const size_t i = lines.pixelAt(line, k), j = lines.pixelAt(line, k + 1);
            if (d.valid[i] && d.valid[j])
                steps.push_back(std::fabs(double(d.position[j]) - double(d.position[i])));
        }
    if (steps.empty())
        return 1;
    std::nth_element(steps.begin(), steps.begin() + steps.size() / 2, steps.end());
    const double columns = steps[steps.size() / 2] * (kSamplesPerPage / 2.0);
    return std::clamp(int(std::ceil(2.0 / std::max(columns, 1e-3))), 1, 64);
}

// The longest run of values that never falls more than tolerance below its
// highest value so far, by patience sorting: flag[k] is 1 for the values in
// it. Returns its length.
qint64 longestRun(const std::vector<double> &values, double tolerance, std::vector<quint8> &flag)
{
    std::vector<double> tails; // tails[n]: the least highest value of a run of n + 1
    std::vector<int> tailIndex;
    std::vector<int> previous(values.size(), -1);
    for (size_t k = 0; k < values.size(); ++k) {
        const size_t at = size_t(
            std::upper_bound(tails.begin(), tails.end(), values[k] + tolerance) - tails.begin());
        previous[k] = at > 0 ? tailIndex[at - 1] : -1;
        const double highest = at > 0 ? std::max(tails[at - 1], values[k]) : values[k];
        if (at == tails.size()) {
            tails.push_back(highest);
            tailIndex.push_back(int(k));
        } else {
            tails[at] = highest;
            tailIndex[at] = int(k);
        }
    }
    flag.assign(values.size(), 0);
    qint64 length = 0;
    for (int k = tailIndex.empty() ? -1 : tailIndex.back(); k >= 0; k = previous[size_t(k)]) {
        flag[size_t(k)] = 1;
        ++length;
    }
    return length;
}

} // namespace

RunBack runBack(const DecodedPositions &d, int axis, double direction)
{
    RunBack r;
    r.inOrder.assign(d.valid.size(), 0);
    if (axis < 0)
        runDirection(d, axis, direction);
    r.axis = axis;
    r.direction = direction;
    const Lines lines{axis, d.width, d.height};
    const int stride = orderStride(d, lines);
    qint64 sampled = 0, ordered = 0;
    std::vector<double> values;
    std::vector<int> places;
    std::vector<quint8> flag;
    for (int line = 0; line < lines.count(); ++line) {
        values.clear();
        places.clear();
        for (int k = 0; k < lines.length(); k += stride) {
            const size_t i = lines.pixelAt(line, k);
            if (!d.valid[i])
                continue;
            values.push_back(direction * double(d.position[i]));
            places.push_back(k);
        }
        sampled += qint64(values.size());
        ordered += longestRun(values, d.resolution, flag);
        // The pixels between samples go with the nearest sample before them.
        size_t next = 0;
        for (int k = 0; k < lines.length(); ++k) {
            while (next + 1 < places.size() && places[next + 1] <= k)
                ++next;
            const size_t i = lines.pixelAt(line, k);
            if (d.valid[i] && !places.empty())
                r.inOrder[i] = flag[next];
        }
    }
    r.share = sampled ? double(sampled - ordered) / double(sampled) : 0.0;
    return r;
}

namespace
{

// Capture c shows page ownPage[c] (0-based) by the plan.
std::vector<int> ownPagesOf(const CapturePlan &plan)
{
    std::vector<int> ownPage(plan.pages.size());
    for (size_t c = 0; c < plan.pages.size(); ++c)
        ownPage[c] = plan.pages[c] - 1;
    return ownPage;
}

std::vector<int> identityOrder(int count)
{
    std::vector<int> identity(static_cast<size_t>(count));
    std::iota(identity.begin(), identity.end(), 0);
    return identity;
}

// The captures of the Gray set, if any.
std::vector<int> grayCapturesOf(const CapturePlan &plan)
{
    std::vector<int> grayCaptures;
    if (plan.gray >= 0) {
        const CaptureSetRequest &gray = plan.sets[size_t(plan.gray)];
        for (int k = 0; k < gray.patternCount(); ++k)
            grayCaptures.push_back(plan.captureOfPage(gray.page + k));
    }
    return grayCaptures;
}

// One explanation of the captures: an order (order[k]: the capture taken to
// show page plan.pages[k]), and where a Gray capture is taken to show a
// stripe inverted, the positions repaired by it.
struct Explanation {
    std::vector<int> order;
    int inverted = -1;
    DecodedPositions positions;
    RunBack back;
    Scoring scores;
    int failing = 0;
    double mean = 0.0;
    // Captures that fail, and positions running back: two Gray captures
    // swapped fail no capture but scramble the positions. Depth edges
    // put a few per cent out of order, which no explanation removes.
    double cost() const
    {
        return failing + kRunBackCost * std::max(0.0, back.share - kSuspectRunBackShare);
    }
};

bool better(const Explanation &a, const Explanation &b)
{
    if (a.cost() < b.cost() - kExplanationGain)
        return true;
    return a.cost() <= b.cost() && a.mean > b.mean + kHypothesisGain &&
           a.back.share <= b.back.share;
}

// Decodes and scores explanations of the captures on a coarser grid of
// pixels: decoding it again costs little and lets other explanations be
// tried. The blur is the one under which the plan's order matches best.
class Explainer
{
public:
    // noise: the camera's, measured on the full captures.
    Explainer(const CaptureDecoder &decoder, const PageLight &light, const Grid &grid,
              const std::vector<int> &ownPage, double noise)
        : decoder(decoder), light(light), grid(grid), ownPage(ownPage)
    {
        planned.order = identityOrder(int(ownPage.size()));
        const std::vector<const float *> planes = grid.pointers(planned.order);
        planned.positions = decoder.decode(planes, grid.width, grid.height);
        spread = score(light, planes, planned.positions, ownPage, false).spread;
        const std::vector<double> loss =
            noiseLoss(light, samplesOf(planned.positions, planes), planes, ownPage, spread, noise);
        for (double l : loss)
            leastMatch.push_back(kMinPageMatch - std::max(0.0, l - kNoiseLossHeld));
        judge(planned);
    }

    // The plan's own order.
    const Explanation &plan() const { return planned; }
    double blur() const { return spread; }
    // The least match of the capture taken to show page ownPage[k], row by
    // row: kMinPageMatch, lowered where noise alone takes more than
    // kNoiseLossHeld from it.
    const std::vector<double> &least() const { return leastMatch; }

    Explanation swapped(const Explanation &from, int a, int b) const
    {
        Explanation e;
        e.order = from.order;
        std::swap(e.order[size_t(a)], e.order[size_t(b)]);
        e.positions = decoder.decode(grid.pointers(e.order), grid.width, grid.height);
        judge(e);
        return e;
    }

    // A Gray capture showing part of its page inverted mirrors the code
    // there: decode with the capture's negative (between the darkest and
    // brightest capture of each pixel) and take, pixel by pixel, whichever
    // decode is in order.
    Explanation inverted(const Explanation &from, int c) const
    {
        Explanation e;
        e.order = from.order;
        e.inverted = c;
        const size_t k = size_t(std::find(e.order.begin(), e.order.end(), c) - e.order.begin());
        const std::vector<float> negative = negativeOf(c);
        std::vector<const float *> planes = grid.pointers(e.order);
        planes[k] = negative.data();
        const DecodedPositions d = decoder.decode(planes, grid.width, grid.height);
        const RunBack back = runBack(d, from.back.axis, from.back.direction);
        e.positions = from.positions;
        for (size_t i = 0; i < e.positions.valid.size(); ++i) {
            if (!from.back.inOrder[i] && back.inOrder[i]) {
                e.positions.position[i] = d.position[i];
                e.positions.valid[i] = 1;
            }
        }
        judge(e);
        return e;
    }

private:
    // Each explanation finds the direction its positions run in: scrambled
    // positions may point the other way.
    void judge(Explanation &e) const
    {
        e.back = runBack(e.positions);
        e.scores = score(light, grid.pointers(e.order), e.positions, ownPage, false, spread);
        e.failing = failures(e.scores.own, leastMatch);
        e.mean = meanOf(e.scores.own);
    }

    std::vector<float> negativeOf(int c) const
    {
        const std::vector<float> &plane = grid.planes[size_t(c)];
        std::vector<float> negative(plane.size());
        for (size_t i = 0; i < negative.size(); ++i) {
            float lo = plane[i], hi = plane[i];
            for (const std::vector<float> &other : grid.planes) {
                lo = std::min(lo, other[i]);
                hi = std::max(hi, other[i]);
            }
            negative[i] = lo + hi - plane[i];
        }
        return negative;
    }

    const CaptureDecoder &decoder;
    const PageLight &light;
    const Grid &grid;
    const std::vector<int> &ownPage;
    Explanation planned;
    double spread = 0.0;
    std::vector<double> leastMatch;
};

// One round of the search: swapped pairs that involve a capture failing,
// pairs of Gray captures when positions run back (two Gray captures
// swapped decode to a code every pixel finds consistent) and each Gray
// capture inverted. Replaces best with what explains the captures better,
// if anything does.
bool improve(const Explainer &x, const std::vector<int> &grayCaptures, Explanation &best)
{
    const int count = int(best.order.size());
    const bool runsBack = best.back.share > kSuspectRunBackShare;
    std::vector<bool> failing(static_cast<size_t>(count), false);
    for (int k = 0; k < count; ++k)
        failing[size_t(best.order[size_t(k)])] = best.scores.own[size_t(k)] < x.least()[size_t(k)];
    Explanation next;
    bool found = false;
    auto consider = [&](Explanation &&e) {
        if (better(e, found ? next : best)) {
            next = std::move(e);
            found = true;
        }
    };
    auto isGray = [&](int c) { return std::count(grayCaptures.begin(), grayCaptures.end(), c); };
    for (int a = 0; a < count; ++a)
        for (int b = a + 1; b < count; ++b) {
            const int ca = best.order[size_t(a)], cb = best.order[size_t(b)];
            const bool grayPair = isGray(ca) && isGray(cb);
            if (!failing[size_t(ca)] && !failing[size_t(cb)] && !(runsBack && grayPair))
                continue;
            // Believed only when both captures match the pages they are
            // then taken to show.
            Explanation e = x.swapped(best, a, b);
            if (e.scores.own[size_t(a)] >= x.least()[size_t(a)] &&
                e.scores.own[size_t(b)] >= x.least()[size_t(b)])
                consider(std::move(e));
        }
    if (runsBack && best.inverted < 0)
        for (int c : grayCaptures)
            consider(x.inverted(best, c));
    if (found)
        best = std::move(next);
    return found;
}

// Captures out of order or inverted: what explains the captures best,
// starting from the plan. A few rounds for more than one fault.
Explanation explain(const Explainer &x, const std::vector<int> &grayCaptures)
{
    Explanation best = x.plan();
    for (int round = 0; round < 3 && best.cost() > 0.0; ++round)
        if (!improve(x, grayCaptures, best))
            break;
    return best;
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
    CaptureCheckResult result;
    const std::vector<int> ownPage = ownPagesOf(decoder.plan());
    const int count = int(ownPage.size());
    result.runBackShare = runBack(decoded).share;
    if (decoded.validCount == 0)
        return uncheckable(ownPage, result);

    const PageLight light(file, decoder.cellEdges());
    const Grid grid = subsample(captures, width, height);
    const Explainer explainer(decoder, light, grid, ownPage, decoded.noise);
    const Explanation best = explain(explainer, grayCapturesOf(decoder.plan()));

    // The final scores: every capture against every page, at the positions
    // of the order that explains the captures best. Row k of the scores
    // holds capture order[k]; its scores against every page do not depend
    // on which page it was taken to show.
    const Scoring s =
        score(light, grid.pointers(best.order), best.positions, ownPage, true, explainer.blur());
    std::vector<int> rowOfCapture(static_cast<size_t>(count));
    for (int k = 0; k < count; ++k)
        rowOfCapture[size_t(best.order[size_t(k)])] = k;
    std::vector<bool> failed(static_cast<size_t>(count), false);
    for (int c = 0; c < count; ++c) {
        const int k = rowOfCapture[size_t(c)];
        // Contrast against page k; redone below if k != c.
        failed[size_t(c)] = judgePage(c, ownPage[size_t(c)], s.score[size_t(k)],
                                      s.contrast[size_t(k)], explainer.least()[size_t(c)], result);
    }
    // Contrast where the scored order was not the plan's: measure each
    // capture against its own page.
    const std::vector<int> &planned = explainer.plan().order;
    if (best.order != planned) {
        const Scoring plain =
            score(light, grid.pointers(planned), best.positions, ownPage, false, explainer.blur());
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
