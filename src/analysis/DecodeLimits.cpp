// Validity and noise: the camera's noise, the modulation the view reaches,
// and from them what a pixel must reach to be valid.
#include "DecoderRows.h"

#include <algorithm>
#include <cmath>

namespace
{

// Fringe amplitude below which a pixel is not decoded: an absolute floor,
// and a share of what the brightest part of the view reaches, so that a
// dim exposure still decodes while shadow, where only noise modulates the
// captures, does not.
constexpr float kMinModulation = 0.015f;
constexpr float kRelativeModulation = 0.08f;
constexpr double kModulationQuantile = 0.95;
// ... and not below this many times the camera's noise, which noise alone
// reaches only rarely in any of the sets' measures of modulation.
constexpr float kNoiseModulation = 3.5f;

// Without references the Gray code's own darkest and brightest captures set
// a pixel's threshold; a pixel whose spread between them is under this
// share of the typical one has no capture at one of the two levels (the
// stripes lit in all or none of the captures, and beside them), so its
// threshold is unknown.
constexpr float kKnownContrast = 0.5f;
// Brightness bins of the noise measure.
constexpr int kNoiseLevels = 16;

constexpr int kNoiseBins = 1024;
constexpr float kNoiseStep = 1.0f / 4096.0f;

// The noise whose neighbour differences have this histogram.
float noiseOfDifferences(const qint64 *differences, qint64 pairs)
{
    qint64 below = 0;
    for (int b = 0; b < kNoiseBins && pairs > 0; ++b) {
        below += differences[b];
        // The median of |a - b| for two samples of noise sigma is
        // 0.954 sigma.
        if (2 * below >= pairs)
            return (float(b) + 0.5f) * kNoiseStep / 0.954f;
    }
    return std::numeric_limits<float>::infinity();
}

} // namespace

// The camera's noise: the difference of two neighbouring pixels is mostly
// noise where a capture shows no pattern edge, so its median over the
// capture that shows the fewest edges (a reference, or a Gray page of wide
// stripes) measures it. Rounded to 1 / 4096 of full scale. The same by
// brightness gives the noise's growth with it: the darkest and brightest
// levels are those of flat areas in any pattern.
struct CaptureDecoder::CameraNoise {
    float overall = std::numeric_limits<float>::infinity();
    // by brightness, kNoiseLevels bins; infinite where too few pairs tell
    std::vector<float> level =
        std::vector<float>(kNoiseLevels, std::numeric_limits<float>::infinity());
};

// Over every rowStride-th row of each capture.
CaptureDecoder::CameraNoise CaptureDecoder::measureNoise(const std::vector<const float *> &captures,
                                                         int width, int height, int rowStride)
{
    CameraNoise noise;
    for (const float *c : captures) {
        // Histograms of the differences: overall, then by level.
        std::vector<qint64> differences(size_t(kNoiseBins) * (kNoiseLevels + 1), 0);
        std::vector<qint64> pairs(kNoiseLevels + 1, 0);
        for (int y = rowStride / 2; y < height; y += rowStride) {
            const float *line = c + size_t(y) * size_t(width);
            for (int x = 0; x + 1 < width; ++x) {
                if (line[x] >= kSaturatedLevel || line[x + 1] >= kSaturatedLevel)
                    continue;
                const float d = std::fabs(line[x + 1] - line[x]);
                const size_t bin = size_t(std::min(int(d / kNoiseStep), kNoiseBins - 1));
                const size_t level = size_t(std::clamp(
                    int(0.5f * (line[x] + line[x + 1]) * kNoiseLevels), 0, kNoiseLevels - 1));
                ++differences[bin];
                ++pairs[0];
                ++differences[(level + 1) * kNoiseBins + bin];
                ++pairs[level + 1];
            }
        }
        noise.overall = std::min(noise.overall, noiseOfDifferences(differences.data(), pairs[0]));
        for (int l = 0; l < kNoiseLevels; ++l)
            if (pairs[size_t(l) + 1] >= std::max<qint64>(100, pairs[0] / 100))
                noise.level[size_t(l)] =
                    std::min(noise.level[size_t(l)],
                             noiseOfDifferences(differences.data() + (l + 1) * kNoiseBins,
                                                pairs[size_t(l) + 1]));
    }
    if (!std::isfinite(noise.overall))
        noise.overall = 0.0f;
    return noise;
}

// The modulation that the bright part of the view reaches, from every
// rowStride-th row.
float CaptureDecoder::modulationReach(const Roles &r, int width, int height, int rowStride) const
{
    constexpr int bins = 1024;
    std::vector<qint64> histogram(bins, 0);
    qint64 sampled = 0;
    Row row(width);
    for (int y = rowStride / 2; y < height; y += rowStride) {
        decodeRow(r, size_t(y) * size_t(width), width, row);
        for (size_t x = 0; x < size_t(width); ++x) {
            if (row.saturated[x])
                continue;
            ++sampled;
            ++histogram[size_t(std::clamp(int(row.modulation[x] * float(bins)), 0, bins - 1))];
        }
    }
    qint64 below = 0;
    for (int b = 0; b < bins; ++b) {
        below += histogram[size_t(b)];
        if (double(below) >= kModulationQuantile * double(sampled))
            return (float(b) + 0.5f) / float(bins);
    }
    return 0.0f;
}

// The threshold: a share of the modulation that the bright part of the
// view reaches (high), not below the floor nor the camera's noise; and the
// noise at the darkest and brightest levels it is measured at.
DecodeLimits CaptureDecoder::limitsOf(float high, const CameraNoise &noise)
{
    DecodeLimits limits;
    limits.modulation =
        std::max({kMinModulation, kRelativeModulation * high, kNoiseModulation * noise.overall});
    limits.darkVariance = limits.brightVariance = noise.overall * noise.overall;
    for (int l = 0; l < kNoiseLevels; ++l)
        if (std::isfinite(noise.level[size_t(l)])) {
            limits.darkLevel = (float(l) + 0.5f) / kNoiseLevels;
            limits.darkVariance = noise.level[size_t(l)] * noise.level[size_t(l)];
            break;
        }
    for (int l = kNoiseLevels - 1; l >= 0; --l)
        if (std::isfinite(noise.level[size_t(l)])) {
            limits.brightLevel = (float(l) + 0.5f) / kNoiseLevels;
            limits.brightVariance =
                std::max(noise.level[size_t(l)] * noise.level[size_t(l)], limits.darkVariance);
            break;
        }
    return limits;
}

// The least contrast of a known Gray threshold: a share of the typical
// contrast of the Gray captures where they modulate (at least `modulation`).
float CaptureDecoder::grayContrastLimit(const Roles &r, int width, int height, int rowStride,
                                        float modulation) const
{
    std::vector<float> contrasts;
    Row row(width);
    for (int y = rowStride / 2; y < height; y += rowStride) {
        decodeRow(r, size_t(y) * size_t(width), width, row);
        for (size_t x = 0; x < size_t(width); ++x)
            if (!row.saturated[x] && row.gray[x] >= modulation)
                contrasts.push_back(row.contrast[x]);
    }
    if (contrasts.empty())
        return 0.0f;
    std::nth_element(contrasts.begin(), contrasts.begin() + qint64(contrasts.size() / 2),
                     contrasts.end());
    return kKnownContrast * contrasts[contrasts.size() / 2];
}

// The limits from every rowStride-th row of the captures, from rowStride / 2.
DecodeLimits CaptureDecoder::measure(const std::vector<const float *> &captures, int width,
                                     int height, int rowStride) const
{
    const Roles r = rolesOf(captures);
    const CameraNoise noise = measureNoise(captures, width, height, rowStride);
    DecodeLimits limits = limitsOf(modulationReach(r, width, height, rowStride), noise);
    if (p.fine < 0 && !(r.dark && r.light))
        limits.contrast = grayContrastLimit(r, width, height, rowStride, limits.modulation);
    if (p.fine < 0) {
        for (size_t j = 0; j < stripeLo.size(); ++j)
            if (stripeLo[j] <= stripeHi[j])
                limits.resolution = std::max(limits.resolution, stripeHi[j] - stripeLo[j]);
    }
    limits.noise = noise.overall;
    return limits;
}
