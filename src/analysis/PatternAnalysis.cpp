#include "PatternAnalysis.h"

#include "burnfile/BurnFile.h"
#include "patterns/Generators.h"

#include <algorithm>
#include <cmath>

namespace
{

const double kPi = std::acos(-1.0);

constexpr int kLevelDark = 0;
constexpr int kLevelLit = 255;

QString hexValue(int v)
{
    return v < 0 ? QString("-0x%1").arg(-qint64(v), 0, 16) : QString("0x%1").arg(v, 0, 16);
}

// Collects what does not decode as intended, one entry per sample position.
class FaultLog
{
public:
    FaultLog(PatternSetAnalysis *result, qint64 firstLine)
        : result(result), firstLine(firstLine), faulty(kSamplesPerPage, false)
    {
    }

    qint64 lineOf(int pattern, int sample) const
    {
        return firstLine + qint64(pattern) * kSamplesPerPage + sample;
    }

    void add(int pattern, int sample, const QString &what)
    {
        const qint64 line = lineOf(pattern, sample);
        if (!faulty[size_t(sample)]) {
            faulty[size_t(sample)] = true;
            ++result->faultySamples;
        }
        if (result->firstFault.line == 0 || line < result->firstFault.line)
            result->firstFault = SetFault{line, pattern, sample, what};
    }

private:
    PatternSetAnalysis *result;
    qint64 firstLine;
    std::vector<bool> faulty;
};

// Reads a sample's level and reports values that are not a level.
bool litLevel(int value, int pattern, int sample, FaultLog &log)
{
    if (value != kLevelDark && value != kLevelLit)
        log.add(pattern, sample,
                QString("holds %1, not a level (0x00 or 0xFF)").arg(hexValue(value)));
    return value >= 128;
}

void analyzeGray(const PatternFileValues &file, const ScanTiming &t, qint64 first,
                 PatternSetAnalysis &r, FaultLog &log)
{
    const int m = r.request.bits;
    const int n = 1 << m;
    r.codeStripes = n;
    const SegmentAssignment model = grayCodeSegments(t, m);

    std::vector<int> seen(size_t(n), 0);
    r.monotonic = true;
    int previous = -1;
    int fallSample = -1;
    for (int i = 0; i < kSamplesPerPage; ++i) {
        int code = 0;
        for (int b = 0; b < m; ++b) {
            const int v = file.values[size_t(first + qint64(b) * kSamplesPerPage + i)];
            code = (code << 1) | (litLevel(v, b, i, log) ? 1 : 0);
        }
        const int stripe = grayCodeStripe(code);
        ++seen[size_t(stripe)];
        if (stripe < previous && r.monotonic) {
            r.monotonic = false;
            fallSample = i;
        }
        const int expected = model.segmentOfSample[size_t(i)];
        if (stripe != expected) {
            // Name the first pattern whose digit is wrong.
            const int wrongDigits = code ^ grayCodeWord(expected);
            int b = 0;
            while (b < m - 1 && !((wrongDigits >> (m - 1 - b)) & 1))
                ++b;
            log.add(b, i,
                    QString("decodes to stripe %1 where the model puts stripe %2")
                        .arg(stripe)
                        .arg(expected));
        }
        previous = std::max(previous, stripe);
    }
    r.emptyStripes = int(std::count(seen.begin(), seen.end(), 0));
    const std::vector<int> modelCounts = model.samplesPerSegment();
    r.expectedEmpty = int(std::count(modelCounts.begin(), modelCounts.end(), 0));
    if (!r.monotonic)
        r.problems << QString("the decoded stripe index falls at sample %1 (line %2)")
                          .arg(fallSample)
                          .arg(first + fallSample + 1);
    if (r.emptyStripes > r.expectedEmpty)
        r.problems << QString("%1 stripes hold no sample where the model leaves %2 empty")
                          .arg(r.emptyStripes)
                          .arg(r.expectedEmpty);
}

void analyzeSquare(const PatternFileValues &file, const ScanTiming &t, qint64 first,
                   PatternSetAnalysis &r, FaultLog &log)
{
    const int stripes = r.request.stripes;
    const SegmentAssignment model = squareWaveSegments(t, stripes);
    // Patterns 0 and 1 read as a two-digit Gray code of the segment's place
    // in its period (0, 1, 3, 2 for places 0 … 3); patterns 2 and 3 are their
    // inverses.
    static const int placeOfCode[4] = {0, 1, 3, 2};

    std::vector<std::vector<bool>> lit(4, std::vector<bool>(kSamplesPerPage));
    r.monotonic = true;
    int unwrapped = 0;
    for (int i = 0; i < kSamplesPerPage; ++i) {
        for (int q = 0; q < 4; ++q) {
            const int v = file.values[size_t(first + qint64(q) * kSamplesPerPage + i)];
            lit[size_t(q)][size_t(i)] = litLevel(v, q, i, log);
        }
        const int place = placeOfCode[(lit[0][size_t(i)] ? 2 : 0) | (lit[1][size_t(i)] ? 1 : 0)];
        if (i == 0) {
            unwrapped = place;
        } else {
            const int step = (place - unwrapped % 4 + 4) % 4;
            if (step == 3)
                r.monotonic = false; // a step back; the model never takes one
            else
                unwrapped += step;
        }
        const int expected = model.segmentOfSample[size_t(i)];
        auto matches = [&](int segment) {
            for (int q = 0; q < 4; ++q)
                if (lit[size_t(q)][size_t(i)] != squareWaveLit(segment, q))
                    return false;
            return true;
        };
        if (matches(expected))
            continue;
        int q = 0;
        while (q < 3 && lit[size_t(q)][size_t(i)] == squareWaveLit(expected, q))
            ++q;
        const int partner = (q + 2) % 4;
        if (lit[size_t(q)][size_t(i)] == lit[size_t(partner)][size_t(i)])
            log.add(q, i, QString("is not the inverse of pattern %1").arg(partner + 1));
        else
            log.add(q, i,
                    QString("decodes to quarter %1 of a period where the model puts segment "
                            "%2 (quarter %3)")
                        .arg(place)
                        .arg(expected)
                        .arg(expected % 4));
    }
    r.decodedStripes = unwrapped / 4 + 1;
    if (!r.monotonic)
        r.problems << QString("the decoded square wave steps backwards");
    if (r.decodedStripes != stripes)
        r.problems << QString("decodes to %1 stripes, not %2").arg(r.decodedStripes).arg(stripes);

    // Lit share of every period's projected width, per pattern.
    const std::vector<double> x = sampleCellEdges(t);
    const double left = x.front();
    const double width = (x.back() - left) / stripes;
    r.duty.assign(4, std::vector<double>(size_t(stripes), 0.0));
    for (int i = 0; i < kSamplesPerPage; ++i) {
        const double a = x[size_t(i)];
        const double b = x[size_t(i) + 1];
        const int fromPeriod = std::clamp(int(std::floor((a - left) / width)), 0, stripes - 1);
        const int toPeriod = std::clamp(int(std::floor((b - left) / width)), 0, stripes - 1);
        for (int p = fromPeriod; p <= toPeriod; ++p) {
            const double lo = std::max(a, left + p * width);
            const double hi = std::min(b, left + (p + 1) * width);
            if (hi <= lo)
                continue;
            for (int q = 0; q < 4; ++q)
                if (lit[size_t(q)][size_t(i)])
                    r.duty[size_t(q)][size_t(p)] += (hi - lo) / width;
        }
    }
}

void analyzePhase(const PatternFileValues &file, const ScanTiming &t, qint64 first,
                  PatternSetAnalysis &r)
{
    const int steps = r.request.steps;
    const double stripes = r.request.stripes;
    std::vector<double> shiftSin(steps), shiftCos(steps), shift(steps);
    for (int k = 0; k < steps; ++k) {
        shift[size_t(k)] = 2.0 * kPi * k / steps;
        shiftSin[size_t(k)] = std::sin(shift[size_t(k)]);
        shiftCos[size_t(k)] = std::cos(shift[size_t(k)]);
    }
    const std::vector<double> x = sampleCellEdges(t);
    const double edge = t.edgePosition;
    r.deviationBound = phaseQuantisationBound(steps);
    r.unwrappedPhase.assign(kSamplesPerPage, 0.0);

    // Pattern k is (1 - cos(Phi - phi_k)) x 127.5 with Phi = S pi x / X: the
    // N-step sums of the values give -cos and -sin of Phi times 127.5 N / 2.
    // What is measured here describes the set; whether its values are right
    // is for the comparison with the generator to say.
    double previous = 0.0;
    for (int i = 0; i < kSamplesPerPage; ++i) {
        const double ideal = stripes * kPi * x[size_t(i)] / edge;
        double sumSin = 0.0;
        double sumCos = 0.0;
        for (int k = 0; k < steps; ++k) {
            const int v = file.values[size_t(first + qint64(k) * kSamplesPerPage + i)];
            sumSin += v * shiftSin[size_t(k)];
            sumCos += v * shiftCos[size_t(k)];
        }
        const double wrapped = std::atan2(-sumSin, -sumCos);
        // Unwrap: the turn nearest the previous sample, and for the first
        // sample the one nearest the ideal phase at the window's edge.
        const double reference = i == 0 ? ideal : previous;
        const double phase = wrapped + 2.0 * kPi * std::round((reference - wrapped) / (2.0 * kPi));
        r.unwrappedPhase[size_t(i)] = phase;
        previous = phase;
        const double deviation = std::fabs(phase - ideal);
        if (deviation > r.maxDeviation || i == 0) {
            r.maxDeviation = deviation;
            r.maxDeviationSample = i;
        }
    }
}

// What the generator writes for the set at this scan value.
PatternRun generatorRun(const ScanTiming &t, const PatternSetRequest &s)
{
    switch (s.kind) {
    case PatternSetKind::Gray:
        return grayCodePatterns(t, s.bits);
    case PatternSetKind::Square:
        return squareWavePatterns(t, s.stripes);
    case PatternSetKind::Phase:
        break;
    }
    return phaseShiftPatterns(t, s.steps, s.stripes);
}

// Every value against the generator's, the one judgement of a set; the
// decoders above have already named the samples they could explain, and the
// log keeps the first word said about a line.
void compareWithGenerator(const PatternFileValues &file, const ScanTiming &t, qint64 first,
                          PatternSetAnalysis &r, FaultLog &log)
{
    const PatternRun run = generatorRun(t, r.request);
    const size_t count = size_t(r.request.patternCount()) * kSamplesPerPage;
    if (run.values.size() != count) {
        r.problems << QString("the generator lays out no whole set for this scan value");
        return;
    }
    for (size_t at = 0; at < count; ++at) {
        const int v = file.values[size_t(first) + at];
        const int w = run.values[at];
        if (v != w)
            log.add(int(at / kSamplesPerPage), int(at % kSamplesPerPage),
                    QString("holds %1 where the generator writes %2")
                        .arg(hexValue(v))
                        .arg(hexValue(w)));
    }
}

} // namespace

double phaseQuantisationBound(int steps)
{
    if (steps < 3)
        return 0.0;
    // max_d sum_k |cos(phi_k - d)| for N equally spaced phi_k: N / 2 doubled
    // directions pi / (N / 2) apart for even N, N directions pi / N apart for
    // odd N; M directions pi / M apart sum to at most 1 / sin(pi / (2 M)).
    const double spread =
        steps % 2 == 0 ? 2.0 / std::sin(kPi / steps) : 1.0 / std::sin(kPi / (2.0 * steps));
    const double amplitude = 127.5 * steps / 2.0;
    // A hundredth of a count on top of the half for the generator's
    // single-precision phase steps.
    return std::asin(0.51 * spread / amplitude);
}

PatternSetAnalysis analyzePatternSet(const PatternFileValues &file, const ScanTiming &timing,
                                     const PatternSetRequest &request)
{
    PatternSetAnalysis r;
    r.request = request;
    const qint64 first = qint64(request.page - 1) * kSamplesPerPage;
    const qint64 end = first + qint64(request.patternCount()) * kSamplesPerPage;
    const qint64 available = qint64(file.values.size());
    if (end > kMaxBurnSamples) {
        r.problems << QString("the set needs lines %1 to %2, past the %3 lines a pattern file "
                              "may hold")
                          .arg(first + 1)
                          .arg(end)
                          .arg(kMaxBurnSamples);
        return r;
    }
    if (available < end) {
        r.problems << QString("the file ends at line %1; the set needs lines %2 to %3")
                          .arg(available)
                          .arg(first + 1)
                          .arg(end);
        return r;
    }

    r.decoded = true;
    FaultLog log(&r, first + 1);
    switch (request.kind) {
    case PatternSetKind::Gray:
        analyzeGray(file, timing, first, r, log);
        break;
    case PatternSetKind::Square:
        analyzeSquare(file, timing, first, r, log);
        break;
    case PatternSetKind::Phase:
        analyzePhase(file, timing, first, r);
        break;
    }
    compareWithGenerator(file, timing, first, r, log);
    // A line that is not a number reads as 0; even where 0 fits it is not
    // what any generator writes.
    for (qint64 line = first; line < end; ++line)
        if (size_t(line) < file.unreadable.size() && file.unreadable[size_t(line)])
            log.add(int((line - first) / kSamplesPerPage), int((line - first) % kSamplesPerPage),
                    QString("is not a hexadecimal value"));
    if (r.faultySamples > 0)
        r.problems << QString("%1 of %2 samples do not decode as the generator lays them out; "
                              "first at line %3 (pattern %4, sample %5): %6")
                          .arg(r.faultySamples)
                          .arg(kSamplesPerPage)
                          .arg(r.firstFault.line)
                          .arg(r.firstFault.pattern + 1)
                          .arg(r.firstFault.sample)
                          .arg(r.firstFault.what);
    r.ok = r.problems.isEmpty();
    return r;
}
