// Thresholds and the Gray code: saturation, the references, each bit
// against its threshold, and a pixel's place within its stripe when the
// Gray code alone places it.
#include "DecoderRows.h"

#include <algorithm>
#include <cmath>

// Pixels saturated in any capture; none disagrees yet.
void CaptureDecoder::markSaturated(const Roles &r, size_t offset, size_t w, Row &row) const
{
    float *bright = row.sum.data();
    std::fill(bright, bright + w, 0.0f);
    for (const float *c : r.all) {
        const float *v = c + offset;
        for (size_t x = 0; x < w; ++x)
            bright[x] = std::max(bright[x], v[x]);
    }
    for (size_t x = 0; x < w; ++x) {
        row.saturated[x] = bright[x] >= kSaturatedLevel;
        row.disagree[x] = 0;
    }
}

// The references' modulation and, midway between them, the threshold.
// Returns whether they set the threshold.
bool CaptureDecoder::referenceSums(const Roles &r, size_t offset, size_t w, Row &row) const
{
    std::fill(row.reference.begin(), row.reference.end(), kAbsent);
    if (!(r.dark && r.light))
        return false;
    const float *d = r.dark + offset;
    const float *l = r.light + offset;
    for (size_t x = 0; x < w; ++x) {
        row.reference[x] = 0.5f * std::fabs(l[x] - d[x]);
        row.threshold[x] = 0.5f * (d[x] + l[x]);
    }
    return true;
}

// Gray code: bits against the threshold, and the mean distance from it.
// At any place at most one bit is at its stripe edge, so the mean stays
// near the swing. Without a threshold from the other sets (haveThreshold)
// the Gray captures set their own.
void CaptureDecoder::grayCode(const Roles &r, size_t offset, size_t w, bool haveThreshold,
                              Row &row) const
{
    std::fill(row.gray.begin(), row.gray.end(), kAbsent);
    std::fill(row.weakest.begin(), row.weakest.end(), kAbsent);
    std::fill(row.contrast.begin(), row.contrast.end(), kAbsent);
    const int m = grayBits;
    if (m <= 0)
        return;
    if (!haveThreshold)
        grayThreshold(r, offset, w, row);
    std::fill(row.code.begin(), row.code.end(), 0);
    std::fill(row.gray.begin(), row.gray.end(), 0.0f);
    int *code = row.code.data();
    float *margin = row.gray.data();
    float *weakest = row.weakest.data();
    const float *threshold = row.threshold.data();
    for (int b = 0; b < m; ++b) {
        const float *v = r.gray[size_t(b)] + offset;
        for (size_t x = 0; x < w; ++x) {
            code[x] = (code[x] << 1) | (v[x] > threshold[x] ? 1 : 0);
            const float distance = std::fabs(v[x] - threshold[x]);
            margin[x] += distance;
            weakest[x] = std::min(weakest[x], distance);
        }
    }
    const float inverse = 1.0f / float(m);
    for (size_t x = 0; x < w; ++x)
        margin[x] *= inverse;
}

// Gray code alone: the threshold midway between the darkest and brightest
// of its captures (the stripe lit in none of them is lost), and their
// contrast.
void CaptureDecoder::grayThreshold(const Roles &r, size_t offset, size_t w, Row &row) const
{
    float *lo = row.zc.data(), *hi = row.zs.data();
    std::copy(r.gray[0] + offset, r.gray[0] + offset + w, lo);
    std::copy(r.gray[0] + offset, r.gray[0] + offset + w, hi);
    for (int b = 1; b < grayBits; ++b) {
        const float *v = r.gray[size_t(b)] + offset;
        for (size_t x = 0; x < w; ++x) {
            lo[x] = std::min(lo[x], v[x]);
            hi[x] = std::max(hi[x], v[x]);
        }
    }
    for (size_t x = 0; x < w; ++x) {
        row.threshold[x] = 0.5f * (lo[x] + hi[x]);
        row.contrast[x] = (hi[x] - lo[x]) / std::max(hi[x] + lo[x], 1e-6f);
    }
}

// Gray code alone. Within the stripe: the camera blurs its edges, so the
// bit that changes at each edge is partway to the threshold near that edge.
// How far each is from the threshold, over the swing, places the pixel
// between the two edges (the blur's width cancels out); deep in a wide
// stripe both are at full swing and the pixel is put at the centre.
void CaptureDecoder::placeWithinStripe(const Roles &r, size_t offset, size_t w, Row &row) const
{
    const float *mod = r.dark && r.light ? row.reference.data() : row.gray.data();
    std::copy(mod, mod + w, row.modulation.begin());
    for (size_t x = 0; x < w; ++x) {
        const int stripe = stripeOfCode[size_t(row.code[x])];
        const float lo = stripeLo[size_t(stripe)];
        const float hi = stripeHi[size_t(stripe)];
        if (!(lo <= hi)) {
            row.u[x] = std::numeric_limits<float>::quiet_NaN();
            row.disagree[x] = 1;
            continue;
        }
        const float swing = std::max(row.gray[x], 1e-6f);
        auto depth = [&](int bit, bool lit) {
            if (bit < 0)
                return 1.0f;
            const float v = (r.gray[size_t(bit)][offset + x] - row.threshold[x]) / swing;
            return std::clamp(lit ? v : -v, 0.0f, 1.0f);
        };
        const float below = depth(lowerBit[size_t(stripe)], lowerLit[size_t(stripe)]);
        const float above = depth(upperBit[size_t(stripe)], upperLit[size_t(stripe)]);
        const float f = below + above > 0.0f ? below / (below + above) : 0.5f;
        row.u[x] = lo + f * (hi - lo);
        row.disagree[x] = 0;
    }
}
