// The decoder's frame: its tables from the scan model, and the captures
// decoded row by row, whole or a band at a time.
#include "CaptureDecoder.h"
#include "DecoderRows.h"

#include "patterns/Generators.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <limits>
#include <thread>

namespace
{

const double kPi = std::acos(-1.0);

// With the Gray code alone each bit of a valid pixel clears its threshold
// by this many times the camera's noise at that level: a bit within noise
// of it (a dark object's edge, a grazing surface, a bit too fine for the
// lens) is as likely wrong as right.
constexpr float kBitMargin = 3.5f;

// Entries of the sampled-to-played position table over [-1.25, 1.25].
constexpr int kPlayedTableSize = 8192;

// Bands of up to this many pixels decode on one thread; larger ones on two.
constexpr size_t kPixelsPerThread = 192 * 1280;
// The threshold is set from about this many pixels spread over the image.
constexpr size_t kThresholdSamples = 65536;

// The extent in u of each segment: from the first cell to the last it
// plays in.
void segmentExtents(const std::vector<double> &uEdges, const SegmentAssignment &a,
                    std::vector<float> &lo, std::vector<float> &hi)
{
    lo.assign(size_t(a.segmentCount), std::numeric_limits<float>::infinity());
    hi.assign(size_t(a.segmentCount), -std::numeric_limits<float>::infinity());
    for (int i = 0; i < kSamplesPerPage; ++i) {
        const int j = a.segmentOfSample[size_t(i)];
        if (j < 0)
            continue;
        lo[size_t(j)] = std::min(lo[size_t(j)], float(uEdges[size_t(i)]));
        hi[size_t(j)] = std::max(hi[size_t(j)], float(uEdges[size_t(i) + 1]));
    }
}

} // namespace

CaptureDecoder::CaptureDecoder(const CapturePlan &plan, const ScanTiming &t) : p(plan), timing(t)
{
    const std::vector<double> x = sampleCellEdges(t);
    uEdges.resize(x.size());
    for (size_t i = 0; i < x.size(); ++i)
        uEdges[i] = x[i] / t.edgePosition;

    buildPlayedTable(t, x);

    if (p.gray >= 0) {
        grayBits = p.sets[size_t(p.gray)].pattern.bits;
        const int n = 1 << grayBits;
        stripeOfCode.resize(size_t(n));
        for (int g = 0; g < n; ++g)
            stripeOfCode[size_t(g)] = grayCodeStripe(g);
        segmentExtents(uEdges, grayCodeSegments(t, grayBits), stripeLo, stripeHi);
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
        segmentExtents(uEdges, squareWaveSegments(t, squarePeriods), segmentLo, segmentHi);
    }
    if (p.fine >= 0)
        periods = p.sets[size_t(p.fine)].pattern.stripes;
}

// A phase sample holds, over its whole cell, the value computed for the
// cell's start; seen through the camera's blur the steps average out to the
// computed phase at the cell's centre. The sampled position is the
// generator's phase argument over S pi: x / (rho tan(theta)).
void CaptureDecoder::buildPlayedTable(const ScanTiming &t, const std::vector<double> &x)
{
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
}

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

void CaptureDecoder::decodeRows(const Roles &r, int rowBegin, int rowEnd, int width,
                                const DecodeLimits &limits, DecodedPositions &out,
                                Tally &tally) const
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

std::vector<int> CaptureDecoder::sampleRows(int width, int height)
{
    // Whole rows, for memory's sake.
    const size_t count = size_t(std::max(width, 0)) * size_t(std::max(height, 0));
    const int rowStride = std::max(1, int(count / kThresholdSamples));
    std::vector<int> rows;
    for (int y = rowStride / 2; y < height; y += rowStride)
        rows.push_back(y);
    return rows;
}

DecodeLimits CaptureDecoder::measureLimits(const std::vector<const float *> &sampled, int width,
                                           int rows) const
{
    if (sampled.size() != p.pages.size() || width <= 0 || rows <= 0)
        return DecodeLimits();
    return measure(sampled, width, rows, 1);
}

// Rows are independent: a large band decodes on two threads. Memory running
// out on the second thread is rethrown here rather than ending the process.
void CaptureDecoder::decodeBand(const std::vector<const float *> &captures, int width, int rows,
                                const DecodeLimits &limits, DecodedPositions *out) const
{
    out->width = width;
    out->height = rows;
    out->setValid.assign(p.sets.size(), 0);
    out->validCount = out->saturatedCount = out->disagreeCount = 0;
    out->modulationThreshold = limits.modulation;
    out->noise = limits.noise;
    out->resolution = limits.resolution;
    const size_t count = size_t(width) * size_t(rows);
    out->position.resize(count);
    out->modulation.resize(count);
    out->valid.resize(count);
    if (captures.size() != p.pages.size() || count == 0)
        return;
    const Roles r = rolesOf(captures);
    Tally first, second;
    first.setValid.assign(p.sets.size(), 0);
    second.setValid.assign(p.sets.size(), 0);
    if (rows >= 2 && count >= 2 * kPixelsPerThread && std::thread::hardware_concurrency() > 1) {
        const int split = rows / 2;
        std::exception_ptr failure;
        std::thread other([&] {
            try {
                decodeRows(r, split, rows, width, limits, *out, second);
            } catch (...) {
                failure = std::current_exception();
            }
        });
        try {
            decodeRows(r, 0, split, width, limits, *out, first);
        } catch (...) {
            other.join();
            throw;
        }
        other.join();
        if (failure)
            std::rethrow_exception(failure);
    } else {
        decodeRows(r, 0, rows, width, limits, *out, first);
    }
    out->validCount = first.valid + second.valid;
    out->saturatedCount = first.saturated + second.saturated;
    out->disagreeCount = first.disagree + second.disagree;
    for (size_t s = 0; s < p.sets.size(); ++s)
        out->setValid[s] = first.setValid[s] + second.setValid[s];
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
    const int rowStride = std::max(1, int(count / kThresholdSamples));
    decodeBand(captures, width, height, measure(captures, width, height, rowStride), &out);
    return out;
}
