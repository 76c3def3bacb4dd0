#include "CaptureCheckLight.h"

#include <cmath>

namespace capturecheck
{

namespace
{

// The check looks at up to this many pixels, every stride-th of each axis.
constexpr qint64 kCheckPixels = 65536;

} // namespace

Grid subsample(const std::vector<const float *> &captures, int width, int height)
{
    Grid g;
    g.stride = captureGridStride(width, height);
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

} // namespace capturecheck

int captureGridStride(int width, int height)
{
    const qint64 pixels = qint64(width) * height;
    return std::max(1,
                    int(std::ceil(std::sqrt(double(pixels) / double(capturecheck::kCheckPixels)))));
}
