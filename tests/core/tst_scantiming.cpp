// The scan-timing model: the numbers it must reproduce bit for bit, and the
// segment assignment against the plain in-order test of every segment.
#include "patterns/Generators.h"
#include "patterns/ScanTiming.h"
#include "patterns/SingleMath.h"

#include <QtTest>

#include <cmath>
#include <cstring>
#include <limits>

namespace
{

quint64 bits(double v)
{
    quint64 b;
    std::memcpy(&b, &v, sizeof b);
    return b;
}

quint32 bits(float v)
{
    quint32 b;
    std::memcpy(&b, &v, sizeof b);
    return b;
}

// Every segment tested in order, as the generators have always assigned
// samples; returns the matching segments.
QVector<int> inOrderMatches(const std::vector<float> &e, float s)
{
    QVector<int> matches;
    for (size_t j = 0; j + 1 < e.size(); ++j)
        if (e[j] < s && s <= e[j + 1])
            matches.append(int(j));
    return matches;
}

} // namespace

class TestScanTiming : public QObject
{
    Q_OBJECT

private slots:
    void modelAt8000()
    {
        const ScanTiming t = computeScanTiming(8000.0f);
        // The reciprocal in single precision leaves T off 250000.
        QCOMPARE(bits(t.period), bits(250000.015625f));
        QCOMPARE(bits(t.halfPeriod), bits(125000.0078125f));
        QCOMPARE(bits(t.fullAngle), 0x3F5F66F3u);
        QCOMPARE(bits(t.halfAngle), 0x3EDF66F3u);
        QVERIFY(std::fabs(t.tanHalfAngle - 0.4663077f) < 1e-7f);
        QVERIFY(std::fabs(t.omega * 30720.0 - 0.772078) < 1e-6);
        QVERIFY(std::fabs(t.edgePosition - 0.3141600) < 1e-7);
        const float r = squareEdgeRatio(t);
        QVERIFY(std::fabs(r - 0.6737183f) < 1e-7f);
        QCOMPARE(bits(phaseEdgeRatio(t)), bits(double(r)));
    }

    // The math is the float nearest the exact value on every platform, also
    // where double arctangent returns exactly the midpoint between two
    // floats (so that rounding it is wrong), and at the edges of the domain.
    void singleMathNearestFloat()
    {
        QCOMPARE(bits(singleAtan(0x1.1ad646p-4f)), bits(0x1.1a6386p-4f));
        QCOMPARE(bits(singleAtan(-0.0f)), bits(-0.0f));
        QCOMPARE(bits(singleAtan(-INFINITY)), bits(-0x1.921fb6p0f));
        QCOMPARE(bits(singleAsin(1.0f)), bits(0x1.921fb6p0f));
        QVERIFY(std::isnan(singleAsin(1.0000001f)));
        QVERIFY(std::isnan(singleTan(INFINITY)));
        QCOMPARE(bits(singleTan(computeScanTiming(8000.0f).halfAngle)), 0x3EEEBFE1u);
    }

    void modelAt10000And16276()
    {
        const ScanTiming t = computeScanTiming(10000.0f);
        QCOMPARE(bits(t.period), bits(200000.0f));
        QCOMPARE(bits(t.halfPeriod), bits(100000.0f));
        QVERIFY(std::fabs(squareEdgeRatio(t) - 0.8040433f) < 1e-7f);

        const ScanTiming top = computeScanTiming(16276.0f);
        QCOMPARE(bits(top.period), bits(122880.3125f));
        QVERIFY(top.omega * 30720.0 < std::acos(-1.0) / 2);
        QCOMPARE(bits(phaseEdgeRatio(top)), bits(1.0));
        QCOMPARE(bits(squareEdgeRatio(top)), bits(1.0f));
        QCOMPARE(bits(grayEdgeRatio(top)), bits(1.0f));
    }

    void scanValueRange()
    {
        QVERIFY(!scanValueValid(0.0f));
        QVERIFY(scanValueValid(1.0f));
        QVERIFY(scanValueValid(16276.0f));
        QVERIFY(!scanValueValid(16277.0f));
        QVERIFY(!scanValueValid(65535.0f));
        QVERIFY(!scanValueValid(std::numeric_limits<float>::quiet_NaN()));
    }

    void sampleGrids()
    {
        const ScanTiming t = computeScanTiming(8000.0f);
        // Level grid: whole nanoseconds, one step after the sinusoidal grid.
        QCOMPARE(bits(sampleInstant(t, 0)), bits(94340.0f));
        QCOMPARE(bits(sampleInstant(t, 511)), bits(125000.0f));
        QCOMPARE(bits(sampleInstant(t, 1023)), bits(155720.0f));
        // While T >= 122880 every sinusoidal sample takes the second form,
        // and sign * position is minus the projected position.
        for (float f : {1.0f, 8000.0f, 10000.0f, 16276.0f}) {
            const ScanTiming ft = computeScanTiming(f);
            for (int i : {0, 1, 511, 512, 1023})
                QCOMPARE(phaseSamplePosition(ft, i).sign, -1);
        }
        const PhaseSample first = phaseSamplePosition(t, 0);
        QVERIFY(std::fabs(first.sign * first.position - t.edgePosition) < 1e-6);
        QVERIFY(std::fabs(phaseSamplePosition(t, 512).position) < 1e-6);
    }

    void boundariesShape()
    {
        const ScanTiming t = computeScanTiming(10000.0f);
        for (int n : {2, 4, 8, 512, 1024}) {
            const std::vector<float> e = segmentBoundaries(t, n, grayEdgeRatio(t));
            QCOMPARE(int(e.size()), n + 1);
            QCOMPARE(bits(e[size_t(n / 2)]), bits(t.halfPeriod));
            QVERIFY(std::fabs(e.front() - (t.halfPeriod - 30720.0f)) < 1.0f);
            QVERIFY(std::fabs(e.back() - (t.halfPeriod + 30720.0f)) < 1.0f);
        }
    }

    // The binary search relies on non-decreasing boundaries: check every scan
    // value the generators accept, at the finest segmentation of each level
    // kind. (At very low values h is so large that single precision makes
    // neighbouring boundaries equal.)
    void boundariesOrderedForEveryScanValue()
    {
        for (int f = kMinScanValue; f <= kMaxScanValue; ++f) {
            const ScanTiming t = computeScanTiming(float(f));
            const std::vector<float> gray = segmentBoundaries(t, 1024, grayEdgeRatio(t));
            const std::vector<float> square = segmentBoundaries(t, 512, squareEdgeRatio(t));
            for (const auto *e : {&gray, &square}) {
                for (size_t j = 0; j + 1 < e->size(); ++j) {
                    if (!((*e)[j] <= (*e)[j + 1]))
                        QFAIL(qPrintable(
                            QString("F=%1: E[%2] above E[%3]").arg(f).arg(j).arg(j + 1)));
                }
            }
        }
    }

    // At 16275 and 16276 the outermost arcsine argument rounds above 1 for
    // some stripe counts; the edge boundaries must stay numbers.
    void outerBoundaryAtTurningPoints()
    {
        for (float f : {16275.0f, 16276.0f}) {
            const ScanTiming t = computeScanTiming(f);
            for (int s = kMinStripes; s <= kMaxStripes; ++s) {
                const std::vector<float> e = segmentBoundaries(t, 4 * s, squareEdgeRatio(t));
                QVERIFY(!std::isnan(e.front()) && !std::isnan(e.back()));
                QVERIFY(e.front() < e[1] && e[e.size() - 2] < e.back());
            }
        }
    }

    // The assignment equals the in-order test wherever that test finds a
    // segment, and only samples beyond the outer boundaries are moved to the
    // edge segments.
    void assignmentMatchesInOrderRule()
    {
        int clampedRuns = 0;
        for (int f = 1; f <= kMaxScanValue; f += 97) {
            for (float scan : {float(f), 10000.0f, 16276.0f}) {
                const ScanTiming t = computeScanTiming(scan);
                const auto instants = sampleInstants(t);
                for (int n : {2, 4, 8, 12, 64, 100, 256, 512, 1024}) {
                    const std::vector<float> e = segmentBoundaries(t, n, squareEdgeRatio(t));
                    const SegmentAssignment a = assignSegments(e, instants);
                    int clamped = 0;
                    for (int i = 0; i < kSamplesPerPage; ++i) {
                        const QVector<int> m = inOrderMatches(e, instants[size_t(i)]);
                        QVERIFY(m.size() <= 1);
                        if (m.size() == 1) {
                            QCOMPARE(a.segmentOfSample[size_t(i)], m.first());
                        } else {
                            ++clamped;
                            QCOMPARE(a.segmentOfSample[size_t(i)],
                                     instants[size_t(i)] <= e.front() ? 0 : n - 1);
                        }
                    }
                    QCOMPARE(a.clampedSamples, clamped);
                    clampedRuns += clamped > 0;
                }
            }
        }
        // The edge rule is not an academic case.
        QVERIFY(clampedRuns > 0);
    }

    void edgeRuleOnHandMadeBoundaries()
    {
        std::array<float, kSamplesPerPage> s;
        for (int i = 0; i < kSamplesPerPage; ++i)
            s[size_t(i)] = float(i);
        // Instants 0..1023 against (10, 500], (500, 1000]: 0..10 clamp to 0,
        // 500 closes segment 0, 1001.. clamp to 1.
        const SegmentAssignment a = assignSegments({10.0f, 500.0f, 1000.0f}, s);
        QCOMPARE(a.segmentCount, 2);
        QCOMPARE(a.segmentOfSample[0], 0);
        QCOMPARE(a.segmentOfSample[10], 0);
        QCOMPARE(a.segmentOfSample[500], 0);
        QCOMPARE(a.segmentOfSample[501], 1);
        QCOMPARE(a.segmentOfSample[1000], 1);
        QCOMPARE(a.segmentOfSample[1023], 1);
        QCOMPARE(a.clampedSamples, 11 + 23);
        QCOMPARE(a.samplesPerSegment(), (std::vector<int>{501, 523}));

        // Unordered boundaries take the in-order first match.
        const SegmentAssignment u = assignSegments({0.5f, 600.0f, 300.0f, 1100.0f}, s);
        QCOMPARE(u.segmentOfSample[100], 0);
        QCOMPARE(u.segmentOfSample[700], 2);
        QCOMPARE(u.segmentOfSample[0], 0);

        // Not-a-number boundaries leave samples unassigned rather than
        // inventing a segment.
        const float nan = std::numeric_limits<float>::quiet_NaN();
        const SegmentAssignment bad = assignSegments({nan, 500.0f, nan}, s);
        QCOMPARE(bad.segmentOfSample[100], -1);
    }
};

QTEST_GUILESS_MAIN(TestScanTiming)
#include "tst_scantiming.moc"
