#ifndef DVK_CAPTURECHECKLIGHT_H
#define DVK_CAPTURECHECKLIGHT_H

// What the capture check expects a pixel to see: the pages as the projector
// lights them, averaged over what each pixel covers of the window, and the
// pixels it looks at. Shared by the check's files only.

#include "CaptureCheck.h"
#include "CaptureDecoder.h"

#include <algorithm>
#include <vector>

namespace capturecheck
{

// Local check: the window cut into bins of this many projector columns.
constexpr int kBinColumns = 8;
constexpr int kBins = kSamplesPerPage / kBinColumns;

using Grid = CaptureGrid;

Grid subsample(const std::vector<const float *> &captures, int width, int height);

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

std::vector<Sample> samplesOf(const DecodedPositions &d, const std::vector<const float *> &planes);

// Values of every capture at every sample, scaled between the darkest and
// brightest capture there: scaled[k * captures + c].
std::vector<double> scaledValues(const std::vector<Sample> &samples,
                                 const std::vector<const float *> &planes);

} // namespace capturecheck

#endif
