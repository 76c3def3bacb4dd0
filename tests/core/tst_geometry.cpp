// The light-sheet fit on its own: points of known projected position.
#include "geometry/SheetFit.h"
#include "patterns/ScanTiming.h"

#include <QtTest>

#include <cmath>
#include <random>

Q_DECLARE_METATYPE(Vec3)

class TestGeometry : public QObject
{
    Q_OBJECT

private slots:
    // The sheet fit from its closed-form start, whatever way the projector
    // is mounted: beside the camera sweeping either way, or above it turned
    // a quarter, its sheets then lying across the image's rows.
    void fitsSheetsOfAnyMounting_data()
    {
        QTest::addColumn<Vec3>("point");
        QTest::addColumn<Vec3>("axis");
        QTest::newRow("beside") << Vec3{200.0, 5.0, -10.0} << Vec3{0.02, 1.0, 0.01};
        QTest::newRow("beside, sweeping back") << Vec3{200.0, 5.0, -10.0} << Vec3{0.0, -1.0, 0.03};
        QTest::newRow("above, turned") << Vec3{3.0, -200.0, 0.0} << Vec3{1.0, 0.01, 0.02};
    }
    void fitsSheetsOfAnyMounting()
    {
        QFETCH(Vec3, point);
        QFETCH(Vec3, axis);
        SheetModel truth;
        truth.edgePosition = computeScanTiming(10000.0f).edgePosition;
        truth.axisDirection = normalized(axis);
        truth.axisPoint = point - dot(point, truth.axisDirection) * truth.axisDirection;
        truth.amplitude = 0.985;
        // Aimed at the middle of the scene, and a little off.
        const Vec3 aim = Vec3{0.0, 0.0, 675.0} - truth.axisPoint;
        truth.zero = std::atan2(dot(aim, truth.sideways()), dot(aim, truth.reference())) + 0.01;
        std::mt19937 random(3);
        std::uniform_real_distribution<double> across(-150.0, 150.0), depth(550.0, 800.0);
        std::normal_distribution<double> noise(0.0, 2e-5);
        std::vector<SheetSample> samples;
        while (samples.size() < 300) {
            const Vec3 p{across(random), across(random), depth(random)};
            const double u = truth.positionOf(p);
            if (std::fabs(u) < 0.95)
                samples.push_back({p, u + noise(random), int(samples.size() % 6)});
        }
        const SheetFitResult fit = fitSheets(samples, truth.edgePosition);
        QVERIFY2(fit.ok, qPrintable(fit.error));
        QVERIFY(fit.rmsU < 4e-5);
        for (const SheetSample &s : samples)
            QVERIFY(std::fabs(fit.model.positionOf(s.point) - truth.positionOf(s.point)) < 2e-4);
    }
};

QTEST_GUILESS_MAIN(TestGeometry)
#include "tst_geometry.moc"
