// Phase: the quadrature sums of the phase-shift and square-wave sets, and
// the phase unwrapped with the Gray stripe into a position.
#include "DecoderRows.h"

#include <algorithm>
#include <cmath>

namespace
{

const double kPi = std::acos(-1.0);

// Positions beyond the window's edges by more than this are not lit.
constexpr float kWindowMargin = 0.02f;

// atan2 to within 1e-5 rad (a thousandth of a column at 32 periods), a few
// times faster than the library's: an odd minimax polynomial for atan on
// [0, 1], extended by symmetry.
inline float fastAtan2(float y, float x)
{
    const float ax = std::fabs(x), ay = std::fabs(y);
    const float big = std::max(ax, ay), small = std::min(ax, ay);
    if (big == 0.0f)
        return 0.0f;
    const float a = small / big;
    const float s = a * a;
    float r = ((((-0.0117212f * s + 0.05265332f) * s - 0.11643287f) * s + 0.19354346f) * s -
               0.33262347f) *
                  s +
              0.99997726f;
    r *= a;
    if (ay > ax)
        r = 1.57079637f - r;
    if (x < 0.0f)
        r = 3.14159274f - r;
    return y < 0.0f ? -r : r;
}

// Nearest integer, for the small values here, without a library call.
inline float nearest(float x)
{
    return float(int(x + (x >= 0.0f ? 0.5f : -0.5f)));
}

} // namespace

// N-step phase: pattern k is a - b cos(phase - shift_k). Leaves the
// quadrature sums in zc and zs, sets the threshold unless one is set
// (haveThreshold), and returns whether one is set now.
bool CaptureDecoder::phaseSums(const Roles &r, size_t offset, size_t w, bool haveThreshold,
                               Row &row) const
{
    std::fill(row.phase.begin(), row.phase.end(), kAbsent);
    const int n = steps;
    if (n <= 0)
        return haveThreshold;
    std::fill(row.zc.begin(), row.zc.end(), 0.0f);
    std::fill(row.zs.begin(), row.zs.end(), 0.0f);
    std::fill(row.sum.begin(), row.sum.end(), 0.0f);
    float *zc = row.zc.data(), *zs = row.zs.data(), *sum = row.sum.data();
    for (int k = 0; k < n; ++k) {
        const float *v = r.phase[size_t(k)] + offset;
        const float c = shiftCos[size_t(k)], s = shiftSin[size_t(k)];
        for (size_t x = 0; x < w; ++x) {
            zc[x] += v[x] * c;
            zs[x] += v[x] * s;
            sum[x] += v[x];
        }
    }
    const float scale = 2.0f / float(n);
    for (size_t x = 0; x < w; ++x) {
        row.phase[x] = scale * std::sqrt(zc[x] * zc[x] + zs[x] * zs[x]);
        if (!haveThreshold)
            row.threshold[x] = sum[x] / float(n);
    }
    return true;
}

// Square wave: pattern q is lit where (segment + q) mod 4 is 2 or 3; its
// fundamental is a + b cos(psi + (q + 1) pi / 2), where psi runs through
// 2 pi over a period, pi / 2 per segment. Cos and sin of psi times 2 b go
// to zc and zs when there is no phase set to use them, else to squareCos
// and squareSin. Threshold as for phaseSums.
bool CaptureDecoder::squareSums(const Roles &r, size_t offset, size_t w, bool haveThreshold,
                                Row &row) const
{
    std::fill(row.square.begin(), row.square.end(), kAbsent);
    if (squarePeriods <= 0)
        return haveThreshold;
    const float *i0 = r.square[0] + offset, *i1 = r.square[1] + offset;
    const float *i2 = r.square[2] + offset, *i3 = r.square[3] + offset;
    const bool own = steps == 0;
    float *c = own ? row.zc.data() : row.squareCos.data();
    float *s = own ? row.zs.data() : row.squareSin.data();
    for (size_t x = 0; x < w; ++x) {
        c[x] = i3[x] - i1[x];
        s[x] = i2[x] - i0[x];
        row.square[x] = 0.5f * std::sqrt(c[x] * c[x] + s[x] * s[x]);
        if (!haveThreshold)
            row.threshold[x] = 0.25f * (i0[x] + i1[x] + i2[x] + i3[x]);
    }
    return true;
}

// Positions from the fine set's phase, its period picked by the Gray
// stripe where there is one.
void CaptureDecoder::placeByFineSet(size_t w, Row &row) const
{
    const bool phaseFine = p.fine == p.phase;
    const float period = 2.0f / float(periods); // in u
    const float quarter = 0.25f * period;
    const float *mod = phaseFine ? row.phase.data() : row.square.data();
    std::copy(mod, mod + w, row.modulation.begin());
    const float *c = phaseFine || steps == 0 ? row.zc.data() : row.squareCos.data();
    const float *s = phaseFine || steps == 0 ? row.zs.data() : row.squareSin.data();
    for (size_t x = 0; x < w; ++x) {
        const int stripe = grayBits > 0 ? stripeOfCode[size_t(row.code[x])] : -1;
        float lo = 0.0f, hi = 0.0f, centre = 0.0f;
        if (stripe >= 0) {
            lo = stripeLo[size_t(stripe)];
            hi = stripeHi[size_t(stripe)];
            centre = 0.5f * (lo + hi);
        }
        const float u = phaseFine ? phasePosition(c[x], s[x], stripe >= 0, centre, period)
                                  : squarePosition(c[x], s[x], stripe >= 0, centre);
        // Gray stripe and phase must tell the same story to within a
        // quarter period (an empty stripe has lo > hi and never does).
        bool disagree = stripe >= 0 && !(u >= lo - quarter && u <= hi + quarter && lo <= hi);
        disagree = disagree || !(u >= -1.0f - kWindowMargin && u <= 1.0f + kWindowMargin);
        row.u[x] = u;
        row.disagree[x] = disagree;
    }
}

// Sampled position within the period, -period / 2 .. period / 2 around a
// period centre; the Gray stripe's centre, when known, picks the period.
float CaptureDecoder::phasePosition(float c, float s, bool striped, float centre,
                                    float period) const
{
    const float phase = fastAtan2(-s, -c);
    float t = phase * float(1.0 / kPi) / float(periods);
    if (striped)
        t += period * nearest((centre - t) / period);
    return playedPosition(t);
}

// Place within the period in segments, 0 .. 4, moved to the period of the
// Gray stripe's centre when known, then into the segments' extents.
float CaptureDecoder::squarePosition(float c, float s, bool striped, float centre) const
{
    float place = fastAtan2(s, c) * float(2.0 / kPi);
    if (place < 0.0f)
        place += 4.0f;
    float segment = place;
    if (striped) {
        const float centreSegment = (centre + 1.0f) * 0.5f * float(4 * squarePeriods);
        segment += 4.0f * nearest((centreSegment - place) * 0.25f);
    }
    const int k = std::clamp(int(std::floor(segment)), 0, 4 * squarePeriods - 1);
    const float f = std::clamp(segment - float(k), 0.0f, 1.0f);
    return segmentLo[size_t(k)] + f * (segmentHi[size_t(k)] - segmentLo[size_t(k)]);
}
