// Decoding full-size captures (1280 x 1024, 16-bit): the accuracy of the
// quick test at the camera size the tool is made for, and a burn check that
// finds nothing wrong with captures in order.
#include "analysis/CaptureCheck.h"
#include "analysis/CaptureDecoder.h"
#include "support/core/CaptureRenderer.h"

#include <QtTest>

class TestLongDecode : public QObject
{
    Q_OBJECT

private slots:
    void fullSize_data()
    {
        QTest::addColumn<QString>("phase");
        QTest::addColumn<double>("gamma");
        QTest::addColumn<double>("rmsLimit");
        QTest::newRow("4 steps, linear") << "phase:4x32" << 1.0 << 0.15;
        QTest::newRow("4 steps, gamma 2.2") << "phase:4x32" << 2.2 << 0.25;
        QTest::newRow("8 steps, gamma 2.2") << "phase:8x32" << 2.2 << 0.2;
    }
    void fullSize()
    {
        QFETCH(QString, phase);
        QFETCH(double, gamma);
        QFETCH(double, rmsLimit);
        const ScanTiming t = computeScanTiming(10000.0f);
        const GeneratedFile f = generatedFile(t, {"gray:6", phase, "dark", "light"});
        std::vector<CaptureSetRequest> sets;
        for (const QString &text : f.sets) {
            CaptureSetRequest s;
            QString why;
            QVERIFY(parseCaptureSetRequest(text, &s, &why));
            sets.push_back(s);
        }
        CapturePlan plan;
        QString why;
        QVERIFY2(planCaptureDecode(sets, &plan, &why), qPrintable(why));
        CaptureScene scene;
        scene.width = 1280;
        scene.height = 1024;
        scene.supersample = 2;
        scene.bits = 16;
        scene.gamma = gamma;
        const RenderedCaptures r = renderCaptures(scene, t, f.pages);
        const CaptureDecoder decoder(plan, t);
        const DecodedPositions d = decoder.decode(r.planes(), r.width, r.height);
        const CaptureAccuracy a = captureAccuracy(r, d.position, d.valid, 2.0 / 32);
        qInfo("RMS %.3f columns, %.2f %% of the lit pixels valid", a.rmsColumns,
              100.0 * a.validOfLit);
        QVERIFY(a.rmsColumns <= rmsLimit);
        QCOMPARE(a.wholePeriods, qint64(0));
        QVERIFY(a.validOfLit >= 0.99);
        QCOMPARE(a.shadowValid, qint64(0));
        QCOMPARE(a.patchValid, qint64(0));

        const CaptureCheckResult c =
            checkCaptures(decoder, f.pages, r.planes(), r.width, r.height, d);
        QVERIFY2(c.consistent, qPrintable(c.problems.join("; ")));
    }
};

QTEST_GUILESS_MAIN(TestLongDecode)
#include "tst_long_decode.moc"
