#include "CaptureDecoder.h"

#include "patterns/Generators.h"

#include <QRegularExpression>

#include <algorithm>
#include <cmath>
#include <limits>
#include <set>
#include <thread>

namespace
{

const double kPi = std::acos(-1.0);

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

// With the Gray code alone each bit of a valid pixel clears its threshold
// by this many times the camera's noise at that level: a bit within noise
// of it (a dark object's edge, a grazing surface, a bit too fine for the
// lens) is as likely wrong as right.
constexpr float kBitMargin = 3.5f;
// Without references the Gray code's own darkest and brightest captures set
// a pixel's threshold; a pixel whose spread between them is under this
// share of the typical one has no capture at one of the two levels (the
// stripes lit in all or none of the captures, and beside them), so its
// threshold is unknown.
constexpr float kKnownContrast = 0.5f;
// Brightness bins of the noise measure.
constexpr int kNoiseLevels = 16;

// The modulation of a set that is absent: never below the threshold.
constexpr float kAbsent = std::numeric_limits<float>::infinity();

// Positions beyond the window's edges by more than this are not lit.
constexpr float kWindowMargin = 0.02f;

// Entries of the sampled-to-played position table over [-1.25, 1.25].
constexpr int kPlayedTableSize = 8192;

// Images of up to this many rows decode on one thread; larger ones on two.
constexpr int kRowsPerThread = 192;
// The threshold is set from about this many pixels spread over the image.
constexpr size_t kThresholdSamples = 65536;

// Whether a Gray code of `bits` bits numbers `periods` periods: at least two
// stripes per period, whole periods.
bool grayNumbers(int bits, int periods)
{
    const int stripes = 1 << bits;
    return stripes >= 2 * periods && stripes % periods == 0;
}

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

int CaptureSetRequest::patternCount() const
{
    return isReference() ? 1 : pattern.patternCount();
}

QString CaptureSetRequest::text() const
{
    return isReference() ? QString("%1@%2").arg(kindName()).arg(page) : pattern.text();
}

QString CaptureSetRequest::kindName() const
{
    if (kind == CaptureSetKind::Dark)
        return "dark";
    if (kind == CaptureSetKind::Light)
        return "light";
    return patternSetKindName(pattern.kind);
}

bool parseCaptureSetRequest(const QString &text, CaptureSetRequest *request, QString *error)
{
    static const QRegularExpression reference("^(dark|light)@(\\d{1,6})$");
    const QRegularExpressionMatch m = reference.match(text.trimmed());
    CaptureSetRequest r;
    if (m.hasMatch()) {
        r.kind = m.captured(1) == "dark" ? CaptureSetKind::Dark : CaptureSetKind::Light;
        r.page = m.captured(2).toInt();
        if (r.page < 1) {
            *error = QString("'%1': page %2 is out of range (1 to 999999)").arg(text).arg(r.page);
            return false;
        }
        *request = r;
        return true;
    }
    QString why;
    if (!parsePatternSetRequest(text, &r.pattern, &why)) {
        *error = text.contains(':')
                     ? why
                     : QString("'%1' is not a set (gray:M@PAGE, phase:NxS@PAGE, square:S@PAGE, "
                               "dark@PAGE or light@PAGE)")
                           .arg(text);
        return false;
    }
    switch (r.pattern.kind) {
    case PatternSetKind::Gray:
        r.kind = CaptureSetKind::Gray;
        break;
    case PatternSetKind::Phase:
        r.kind = CaptureSetKind::Phase;
        break;
    case PatternSetKind::Square:
        r.kind = CaptureSetKind::Square;
        break;
    }
    r.page = r.pattern.page;
    *request = r;
    return true;
}

int CapturePlan::captureOfPage(int page) const
{
    const auto it = std::lower_bound(pages.begin(), pages.end(), page);
    return it != pages.end() && *it == page ? int(it - pages.begin()) : -1;
}

bool planCaptureDecode(const std::vector<CaptureSetRequest> &sets, CapturePlan *plan,
                       QString *error)
{
    CapturePlan p;
    p.sets = sets;
    std::set<int> pages;
    for (size_t i = 0; i < sets.size(); ++i) {
        const CaptureSetRequest &s = sets[i];
        for (int k = 0; k < s.patternCount(); ++k) {
            if (!pages.insert(s.page + k).second) {
                *error = QString("page %1 is in two sets (%2 and another)")
                             .arg(s.page + k)
                             .arg(s.text());
                return false;
            }
        }
        int *role = nullptr;
        switch (s.kind) {
        case CaptureSetKind::Gray:
            role = &p.gray;
            break;
        case CaptureSetKind::Phase:
            role = &p.phase;
            break;
        case CaptureSetKind::Square:
            role = &p.square;
            break;
        case CaptureSetKind::Dark:
            role = &p.dark;
            break;
        case CaptureSetKind::Light:
            role = &p.light;
            break;
        }
        if (*role >= 0) {
            *error = QString("%1 and %2: give at most one %3 set")
                         .arg(sets[size_t(*role)].text(), s.text(), s.kindName());
            return false;
        }
        *role = int(i);
    }
    p.pages.assign(pages.begin(), pages.end());
    if (p.gray < 0 && p.phase < 0 && p.square < 0) {
        *error = "no set to take positions from: give a gray, phase or square set";
        return false;
    }

    // The phase set places pixels when there is one; else the square wave.
    p.fine = p.phase >= 0 ? p.phase : p.square;
    if (p.fine >= 0) {
        const CaptureSetRequest &fine = sets[size_t(p.fine)];
        const int periods = fine.pattern.stripes;
        if (periods > 1) {
            if (p.gray < 0) {
                *error = QString("%1 repeats %2 times across the window: give a Gray-code set "
                                 "to number its periods")
                             .arg(fine.text())
                             .arg(periods);
                return false;
            }
            const CaptureSetRequest &gray = sets[size_t(p.gray)];
            const int stripes = 1 << gray.pattern.bits;
            if (stripes < 2 * periods) {
                *error = QString("%1 cannot number the %2 periods of %3: its %4 stripes give "
                                 "fewer than two per period, so a stripe index off by one "
                                 "at a stripe edge would shift a whole period")
                             .arg(gray.text())
                             .arg(periods)
                             .arg(fine.text())
                             .arg(stripes);
                return false;
            }
            if (!grayNumbers(gray.pattern.bits, periods)) {
                *error = QString("%1 cannot number the %2 periods of %3: %4 stripes do not "
                                 "divide into %2 whole periods")
                             .arg(gray.text())
                             .arg(periods)
                             .arg(fine.text())
                             .arg(stripes);
                return false;
            }
        }
    }
    *plan = p;
    return true;
}

struct CaptureDecoder::Roles {
    std::vector<const float *> all;
    std::vector<const float *> gray;
    std::vector<const float *> phase;
    std::vector<const float *> square;
    const float *dark = nullptr;
    const float *light = nullptr;
};

CaptureDecoder::CaptureDecoder(const CapturePlan &plan, const ScanTiming &t) : p(plan), timing(t)
{
    const std::vector<double> x = sampleCellEdges(t);
    uEdges.resize(x.size());
    for (size_t i = 0; i < x.size(); ++i)
        uEdges[i] = x[i] / t.edgePosition;

    // A phase sample holds, over its whole cell, the value computed for the
    // cell's start; seen through the camera's blur the steps average out to
    // the computed phase at the cell's centre. The sampled position is the
    // generator's phase argument over S pi: x / (rho tan(theta)).
    const double rho = phaseEdgeRatio(t);
    std::vector<double> sampled(kSamplesPerPage), played(kSamplesPerPage);
    for (int i = 0; i < kSamplesPerPage; ++i) {
        sampled[size_t(i)] = x[size_t(i)] / (rho * double(t.tanHalfAngle));
        played[size_t(i)] = 0.5 * (uEdges[size_t(i)] + uEdges[size_t(i) + 1]);
    }
    tableStart = -1.25f;
    tableStep = 2.5f / float(kPlayedTableSize - 1);
    tableInvStep = 1.0f / tableStep;
    tableLast = kPlayedTableSize - 1;
    playedTable.resize(kPlayedTableSize);
    for (int k = 0; k < kPlayedTableSize; ++k) {
        const double s = double(tableStart) + double(k) * double(tableStep);
        const auto it = std::upper_bound(sampled.begin(), sampled.end(), s);
        const size_t i = size_t(std::clamp(int(it - sampled.begin()) - 1, 0, kSamplesPerPage - 2));
        const double f = (s - sampled[i]) / (sampled[i + 1] - sampled[i]);
        playedTable[size_t(k)] = float(played[i] + f * (played[i + 1] - played[i]));
    }

    auto extents = [&](const SegmentAssignment &a, std::vector<float> &lo, std::vector<float> &hi) {
        lo.assign(size_t(a.segmentCount), std::numeric_limits<float>::infinity());
        hi.assign(size_t(a.segmentCount), -std::numeric_limits<float>::infinity());
        for (int i = 0; i < kSamplesPerPage; ++i) {
            const int j = a.segmentOfSample[size_t(i)];
            if (j < 0)
                continue;
            lo[size_t(j)] = std::min(lo[size_t(j)], float(uEdges[size_t(i)]));
            hi[size_t(j)] = std::max(hi[size_t(j)], float(uEdges[size_t(i) + 1]));
        }
    };
    if (p.gray >= 0) {
        grayBits = p.sets[size_t(p.gray)].pattern.bits;
        const int n = 1 << grayBits;
        stripeOfCode.resize(size_t(n));
        for (int g = 0; g < n; ++g)
            stripeOfCode[size_t(g)] = grayCodeStripe(g);
        extents(grayCodeSegments(t, grayBits), stripeLo, stripeHi);
        lowerBit.assign(size_t(n), -1);
        upperBit.assign(size_t(n), -1);
        lowerLit.assign(size_t(n), 0);
        upperLit.assign(size_t(n), 0);
        // Bit b (0 most significant) of stripe j's code word.
        auto bitOf = [&](int j, int b) { return ((j ^ (j >> 1)) >> (grayBits - 1 - b)) & 1; };
        for (int j = 0; j < n; ++j) {
            for (int b = 0; b < grayBits; ++b) {
                if (j > 0 && bitOf(j, b) != bitOf(j - 1, b)) {
                    lowerBit[size_t(j)] = b;
                    lowerLit[size_t(j)] = quint8(bitOf(j, b));
                }
                if (j + 1 < n && bitOf(j, b) != bitOf(j + 1, b)) {
                    upperBit[size_t(j)] = b;
                    upperLit[size_t(j)] = quint8(bitOf(j, b));
                }
            }
        }
    }
    if (p.phase >= 0) {
        const PatternSetRequest &s = p.sets[size_t(p.phase)].pattern;
        steps = s.steps;
        // The shifts as the generator accumulates them, in single precision.
        float shift = 0.0f;
        for (int k = 0; k < steps; ++k) {
            shiftCos.push_back(float(std::cos(double(shift))));
            shiftSin.push_back(float(std::sin(double(shift))));
            shift = float((kPi * 2.0) / double(steps) + double(shift));
        }
    }
    if (p.square >= 0) {
        squarePeriods = p.sets[size_t(p.square)].pattern.stripes;
        extents(squareWaveSegments(t, squarePeriods), segmentLo, segmentHi);
    }
    if (p.fine >= 0)
        periods = p.sets[size_t(p.fine)].pattern.stripes;
}

// One row of pixels decoded. Modulations of sets that are absent are
// kAbsent.
struct CaptureDecoder::Row {
    std::vector<float> u;
    std::vector<float> modulation; // of the set that places the pixel
    std::vector<float> gray, phase, square, reference;
    std::vector<quint8> saturated;
    std::vector<quint8> disagree; // stripe and phase disagree, or outside the window
    std::vector<float> threshold;
    // The Gray bit nearest its threshold: its distance from it.
    std::vector<float> weakest;
    // Without references and a fine set, the Michelson contrast between the
    // Gray captures' darkest and brightest; infinite otherwise.
    std::vector<float> contrast;
    // working space; squareCos and squareSin hold the square wave's
    // quadrature when zc and zs hold the phase set's
    std::vector<float> zc, zs, sum, squareCos, squareSin;
    std::vector<int> code;

    explicit Row(int width)
    {
        for (std::vector<float> *v :
             {&u, &modulation, &gray, &phase, &square, &reference, &threshold, &weakest, &contrast,
              &zc, &zs, &sum, &squareCos, &squareSin})
            v->resize(size_t(width));
        saturated.resize(size_t(width));
        disagree.resize(size_t(width));
        code.resize(size_t(width));
    }
};

// What a pixel must reach to be valid: the fringes' modulation, and with
// the Gray code alone each bit's distance from its threshold against the
// camera's noise, which grows with brightness (shot noise): sigma^2 rises
// linearly from the darkest level measured to the brightest.
struct CaptureDecoder::Limits {
    float modulation = 0.0f;
    float darkLevel = 0.0f, brightLevel = 1.0f;
    float darkVariance = 0.0f, brightVariance = 0.0f;
    float contrast = 0.0f; // least contrast of a known threshold

    float noiseAt(float level) const
    {
        const float f =
            brightLevel > darkLevel
                ? std::clamp((level - darkLevel) / (brightLevel - darkLevel), 0.0f, 1.0f)
                : 0.0f;
        return std::sqrt(darkVariance + f * (brightVariance - darkVariance));
    }
};

struct CaptureDecoder::Tally {
    std::vector<qint64> setValid;
    qint64 valid = 0;
    qint64 saturated = 0;
    qint64 disagree = 0;
};

void CaptureDecoder::decodeRow(const Roles &r, size_t offset, int width, Row &row) const
{
    const size_t w = size_t(width);
    markSaturated(r, offset, w, row);
    bool haveThreshold = referenceSums(r, offset, w, row);
    haveThreshold = phaseSums(r, offset, w, haveThreshold, row);
    haveThreshold = squareSums(r, offset, w, haveThreshold, row);
    grayCode(r, offset, w, haveThreshold, row);
    if (p.fine >= 0)
        placeByFineSet(w, row);
    else
        placeWithinStripe(r, offset, w, row);
}

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

void CaptureDecoder::decodeRows(const Roles &r, int rowBegin, int rowEnd, int width,
                                const Limits &limits, DecodedPositions &out, Tally &tally) const
{
    const float threshold = limits.modulation;
    const float nan = std::numeric_limits<float>::quiet_NaN();
    qint64 grayValid = 0, phaseValid = 0, squareValid = 0, referenceValid = 0;
    Row row(width);
    for (int y = rowBegin; y < rowEnd; ++y) {
        const size_t offset = size_t(y) * size_t(width);
        decodeRow(r, offset, width, row);
        float *position = out.position.data() + offset;
        quint8 *valid = out.valid.data() + offset;
        std::copy(row.modulation.begin(), row.modulation.end(),
                  out.modulation.begin() + qint64(offset));
        for (size_t x = 0; x < size_t(width); ++x) {
            if (row.saturated[x]) {
                ++tally.saturated;
                position[x] = nan;
                valid[x] = 0;
                continue;
            }
            const bool grayOk = row.gray[x] >= threshold;
            const bool phaseOk = row.phase[x] >= threshold;
            const bool squareOk = row.square[x] >= threshold;
            const bool referenceOk = row.reference[x] >= threshold;
            grayValid += grayOk;
            phaseValid += phaseOk;
            squareValid += squareOk;
            referenceValid += referenceOk;
            // The sets that place the pixel, and the references when they
            // set the Gray threshold, must all see enough modulation.
            const bool fineOk = p.fine < 0 || (p.fine == p.phase ? phaseOk : squareOk);
            // The Gray code alone places the pixel: every bit must be clear
            // of its threshold, and the threshold known.
            const bool bitsClear =
                p.fine >= 0 || (row.weakest[x] >= kBitMargin * limits.noiseAt(row.threshold[x]) &&
                                row.contrast[x] >= limits.contrast);
            const bool strong = grayOk && referenceOk && fineOk && bitsClear;
            tally.disagree += strong && row.disagree[x];
            const bool ok = strong && !row.disagree[x];
            tally.valid += ok;
            valid[x] = ok ? 1 : 0;
            position[x] = ok ? row.u[x] : nan;
        }
    }
    auto add = [&](int set, qint64 count) {
        if (set >= 0)
            tally.setValid[size_t(set)] += count;
    };
    add(p.gray, grayValid);
    add(p.phase, phaseValid);
    add(p.square, squareValid);
    add(p.dark, referenceValid);
    add(p.light, referenceValid);
}

namespace
{

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

// The captures of each set.
CaptureDecoder::Roles CaptureDecoder::rolesOf(const std::vector<const float *> &captures) const
{
    Roles r;
    r.all = captures;
    auto capturesOf = [&](int set) {
        std::vector<const float *> list;
        if (set < 0)
            return list;
        const CaptureSetRequest &s = p.sets[size_t(set)];
        for (int k = 0; k < s.patternCount(); ++k)
            list.push_back(captures[size_t(p.captureOfPage(s.page + k))]);
        return list;
    };
    r.gray = capturesOf(p.gray);
    r.phase = capturesOf(p.phase);
    r.square = capturesOf(p.square);
    if (p.dark >= 0)
        r.dark = capturesOf(p.dark).front();
    if (p.light >= 0)
        r.light = capturesOf(p.light).front();
    return r;
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
CaptureDecoder::Limits CaptureDecoder::limitsOf(float high, const CameraNoise &noise)
{
    Limits limits;
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

// Every row decoded into out. Rows are independent: a large image decodes
// on two threads.
void CaptureDecoder::decodeAll(const Roles &r, int width, int height, const Limits &limits,
                               DecodedPositions &out) const
{
    const size_t count = size_t(width) * size_t(height);
    out.position.resize(count);
    out.modulation.resize(count);
    out.valid.resize(count);
    Tally first, second;
    first.setValid.assign(p.sets.size(), 0);
    second.setValid.assign(p.sets.size(), 0);
    if (height >= 2 * kRowsPerThread && std::thread::hardware_concurrency() > 1) {
        const int split = height / 2;
        std::thread other([&] { decodeRows(r, split, height, width, limits, out, second); });
        decodeRows(r, 0, split, width, limits, out, first);
        other.join();
    } else {
        decodeRows(r, 0, height, width, limits, out, first);
    }
    out.validCount = first.valid + second.valid;
    out.saturatedCount = first.saturated + second.saturated;
    out.disagreeCount = first.disagree + second.disagree;
    for (size_t s = 0; s < p.sets.size(); ++s)
        out.setValid[s] = first.setValid[s] + second.setValid[s];
}

DecodedPositions CaptureDecoder::decode(const std::vector<const float *> &captures, int width,
                                        int height) const
{
    DecodedPositions out;
    out.width = width;
    out.height = height;
    out.setValid.assign(p.sets.size(), 0);
    const size_t count = size_t(width) * size_t(height);
    if (captures.size() != p.pages.size() || count == 0)
        return out;

    const Roles r = rolesOf(captures);
    // The threshold and the noise from pixels spread evenly: whole rows, for
    // memory's sake.
    const int rowStride = std::max(1, int(count / kThresholdSamples));
    const CameraNoise noise = measureNoise(captures, width, height, rowStride);
    Limits limits = limitsOf(modulationReach(r, width, height, rowStride), noise);
    if (p.fine < 0 && !(r.dark && r.light))
        limits.contrast = grayContrastLimit(r, width, height, rowStride, limits.modulation);
    if (p.fine < 0) {
        for (size_t j = 0; j < stripeLo.size(); ++j)
            if (stripeLo[j] <= stripeHi[j])
                out.resolution = std::max(out.resolution, stripeHi[j] - stripeLo[j]);
    }
    out.noise = noise.overall;
    out.modulationThreshold = limits.modulation;
    decodeAll(r, width, height, limits, out);
    return out;
}
