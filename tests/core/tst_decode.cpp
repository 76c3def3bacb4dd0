// Decoding camera captures of projected sets, against the renderer's truth:
// position accuracy, validity where the scene is shadowed or saturated, the
// set combinations refused, and the burn check naming captures that do not
// show their page, and passing good ones however dim or blurred.
#include "analysis/CaptureCheck.h"
#include "analysis/CaptureDecoder.h"
#include "analysis/CaptureStack.h"
#include "support/core/CaptureRenderer.h"

#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <cstring>

namespace
{

const float kScanValue = 10000.0f;

CaptureSetRequest setOf(const QString &text)
{
    CaptureSetRequest r;
    QString why;
    if (!parseCaptureSetRequest(text, &r, &why))
        qFatal("bad set in test: %s", qPrintable(why));
    return r;
}

CapturePlan planOf(const GeneratedFile &f)
{
    std::vector<CaptureSetRequest> sets;
    for (const QString &text : f.sets)
        sets.push_back(setOf(text));
    CapturePlan plan;
    QString why;
    if (!planCaptureDecode(sets, &plan, &why))
        qFatal("sets refused in test: %s", qPrintable(why));
    return plan;
}

// A Gray page with its lit stripe nearest the middle of the window made dark.
std::vector<int> withStripeFlipped(std::vector<int> page)
{
    int bestStart = 0, bestEnd = 0, bestDistance = kSamplesPerPage;
    for (int i = 0; i < kSamplesPerPage;) {
        int j = i;
        while (j < kSamplesPerPage && page[size_t(j)] == page[size_t(i)])
            ++j;
        const int distance = std::abs((i + j) / 2 - kSamplesPerPage / 2);
        if (page[size_t(i)] == 255 && distance < bestDistance) {
            bestDistance = distance;
            bestStart = i;
            bestEnd = j;
        }
        i = j;
    }
    for (int i = bestStart; i < bestEnd; ++i)
        page[size_t(i)] = 0;
    return page;
}

// The same bits: NaN where one has NaN.
bool sameFloats(const float *a, const float *b, size_t count)
{
    return std::memcmp(a, b, count * sizeof(float)) == 0;
}

} // namespace

class TestDecode : public QObject
{
    Q_OBJECT

private slots:
    void setsThatCannotBeDecodedTogether_data()
    {
        QTest::addColumn<QStringList>("sets");
        QTest::addColumn<QString>("why"); // empty: accepted
        QTest::newRow("gray and phase") << QStringList{"gray:6@1", "phase:4x32@7"} << "";
        QTest::newRow("one period alone") << QStringList{"phase:3x1@1"} << "";
        QTest::newRow("square, one period") << QStringList{"square:1@1", "dark@5"} << "";
        QTest::newRow("gray alone") << QStringList{"gray:8@1", "light@9", "dark@10"} << "";
        QTest::newRow("gray numbers square") << QStringList{"gray:5@1", "square:16@6"} << "";
        QTest::newRow("periods unnumbered")
            << QStringList{"phase:4x32@1"} << "give a Gray-code set to number its periods";
        QTest::newRow("one stripe per period")
            << QStringList{"gray:5@1", "phase:4x32@6"} << "fewer than two per period";
        QTest::newRow("periods not whole")
            << QStringList{"gray:7@1", "phase:4x24@8"} << "do not divide into 24 whole periods";
        QTest::newRow("square unnumbered") << QStringList{"square:4@1"} << "number its periods";
        QTest::newRow("two gray sets")
            << QStringList{"gray:4@1", "gray:5@5"} << "give at most one gray set";
        QTest::newRow("page in two sets")
            << QStringList{"gray:6@1", "phase:4x32@6"} << "page 6 is in two sets";
        QTest::newRow("references only")
            << QStringList{"dark@1", "light@2"} << "no set to take positions from";
    }
    void setsThatCannotBeDecodedTogether()
    {
        QFETCH(QStringList, sets);
        QFETCH(QString, why);
        std::vector<CaptureSetRequest> requests;
        for (const QString &text : sets)
            requests.push_back(setOf(text));
        CapturePlan plan;
        QString error;
        QCOMPARE(planCaptureDecode(requests, &plan, &error), why.isEmpty());
        QVERIFY2(error.contains(why), qPrintable(error));
        if (why.isEmpty()) {
            // One capture per page used, pages in increasing order.
            QVERIFY(std::is_sorted(plan.pages.begin(), plan.pages.end()));
            int pages = 0;
            for (const CaptureSetRequest &s : requests)
                pages += s.patternCount();
            QCOMPARE(int(plan.pages.size()), pages);
        }

        CaptureSetRequest r;
        QVERIFY(parseCaptureSetRequest("light@12", &r, &error));
        QCOMPARE(r.kind, CaptureSetKind::Light);
        QCOMPARE(r.text(), QString("light@12"));
        for (const char *bad : {"dark@0", "dark", "grey@3", "light@x", "phase:4@1"})
            QVERIFY2(!parseCaptureSetRequest(bad, &r, &error), bad);
    }

    // Error in projector columns over the valid pixels away from depth
    // edges, against the renderer's truth (320 x 256, 8-bit, 1 % noise,
    // 1-pixel blur, half a column of laser spot).
    void accuracy_data()
    {
        QTest::addColumn<QStringList>("file");
        QTest::addColumn<double>("gamma");
        QTest::addColumn<double>("viewShare");
        QTest::addColumn<double>("period"); // of the finest set, in u
        QTest::addColumn<double>("rmsLimit");
        QTest::addColumn<double>("withinLimit");
        QTest::addColumn<double>("noise");
        QTest::addColumn<double>("blur");
        const QStringList grayPhase{"gray:6", "phase:4x32", "dark", "light"};
        QTest::newRow("gray 6 + phase 4x32")
            << grayPhase << 1.0 << 0.8 << 2.0 / 32 << 0.15 << 1.0 << 0.01 << 1.0;
        QTest::newRow("threshold from the phase") << QStringList{"gray:6", "phase:4x32"} << 1.0
                                                  << 0.8 << 2.0 / 32 << 0.15 << 1.0 << 0.01 << 1.0;
        QTest::newRow("gamma 2.2, 4 steps")
            << grayPhase << 2.2 << 0.8 << 2.0 / 32 << 0.25 << 1.0 << 0.01 << 1.0;
        QTest::newRow("gamma 2.2, 8 steps") << QStringList{"gray:6", "phase:8x32", "dark", "light"}
                                            << 2.2 << 0.8 << 2.0 / 32 << 0.2 << 1.0 << 0.01 << 1.0;
        QTest::newRow("gray 6 + square 32") << QStringList{"gray:6", "square:32"} << 1.0 << 0.8
                                            << 2.0 / 32 << 0.6 << 1.0 << 0.01 << 1.0;
        // Gray code alone, every stripe some 4 pixels wide: within half a
        // stripe.
        QTest::newRow("gray 8 alone") << QStringList{"gray:8", "dark", "light"} << 1.0 << 0.3
                                      << 2.0 / 256 << 1.0 << 0.99 << 0.01 << 1.0;
        // Noisier and more blurred: the shadow, where noise alone modulates
        // the captures, still does not decode.
        QTest::newRow("2 % noise, 2-pixel blur")
            << grayPhase << 2.2 << 0.8 << 2.0 / 32 << 0.8 << 1.0 << 0.02 << 2.0;
        QTest::newRow("gray 8, no references")
            << QStringList{"gray:8"} << 1.0 << 0.3 << 2.0 / 256 << 1.0 << 0.99 << 0.01 << 1.0;
    }
    void accuracy()
    {
        QFETCH(QStringList, file);
        QFETCH(double, gamma);
        QFETCH(double, viewShare);
        QFETCH(double, period);
        QFETCH(double, rmsLimit);
        QFETCH(double, withinLimit);
        QFETCH(double, noise);
        QFETCH(double, blur);
        const ScanTiming t = computeScanTiming(kScanValue);
        const GeneratedFile f = generatedFile(t, file);
        CaptureScene scene;
        scene.gamma = gamma;
        scene.viewShare = viewShare;
        scene.noise = noise;
        scene.blurPixels = blur;
        const RenderedCaptures r = renderCaptures(scene, t, f.pages);
        const DecodedPositions d =
            CaptureDecoder(planOf(f), t).decode(r.planes(), r.width, r.height);
        const CaptureAccuracy a = captureAccuracy(r, d.position, d.valid, period);
        qInfo("RMS %.3f columns, %.2f %% within half a period, %.2f %% of the lit pixels valid",
              a.rmsColumns, 100.0 * a.withinHalf, 100.0 * a.validOfLit);
        QVERIFY2(a.rmsColumns <= rmsLimit, qPrintable(QString::number(a.rmsColumns)));
        QVERIFY(a.withinHalf >= withinLimit);
        QCOMPARE(a.wholePeriods, qint64(0));
        // With the Gray code alone a pixel within noise of a stripe edge is
        // not resolved: stripes 4 pixels wide lose some 6 %.
        QVERIFY(a.validOfLit >= (period < 2.0 / 64 ? 0.92 : 0.99));
        // Where the projector's light does not reach, or a capture is
        // saturated, nothing decodes (the close view sees neither).
        if (viewShare < 0.5)
            return;
        QVERIFY(a.shadowPixels > 500 && a.patchPixels > 100);
        QCOMPARE(a.shadowValid, qint64(0));
        QCOMPARE(a.patchValid, qint64(0));
        QVERIFY(d.saturatedCount >= a.patchPixels);
    }

    // A band of rows at a time, from captures kept in a scratch file, the
    // decoder gives the whole view's result to the bit.
    void bandsDecodeAsTheWhole_data()
    {
        QTest::addColumn<QStringList>("file");
        QTest::addColumn<int>("bits");
        QTest::addColumn<QSize>("size");
        const QSize small(320, 256);
        QTest::newRow("gray + phase + references")
            << QStringList{"gray:6", "phase:4x32", "dark", "light"} << 8 << small;
        QTest::newRow("gray alone, 16 bits") << QStringList{"gray:8"} << 16 << small;
        QTest::newRow("gray + square") << QStringList{"gray:6", "square:32"} << 8 << small;
        // Enough pixels that the whole is decoded on two threads, each
        // band on one.
        QTest::newRow("two threads")
            << QStringList{"gray:6", "phase:4x32", "dark", "light"} << 8 << QSize(1024, 512);
    }
    void bandsDecodeAsTheWhole()
    {
        QFETCH(QStringList, file);
        QFETCH(int, bits);
        QFETCH(QSize, size);
        const ScanTiming t = computeScanTiming(kScanValue);
        const GeneratedFile f = generatedFile(t, file);
        CaptureScene scene;
        scene.bits = bits;
        scene.width = size.width();
        scene.height = size.height();
        const RenderedCaptures r = renderCaptures(scene, t, f.pages);
        const CaptureDecoder decoder(planOf(f), t);
        const DecodedPositions whole = decoder.decode(r.planes(), r.width, r.height);
        const size_t w = size_t(r.width);

        const std::vector<int> sampledRows = CaptureDecoder::sampleRows(r.width, r.height);
        std::vector<std::vector<float>> sampled(r.grey.size());
        std::vector<const float *> pointers;
        for (size_t c = 0; c < r.grey.size(); ++c) {
            for (int y : sampledRows)
                sampled[c].insert(sampled[c].end(), r.grey[c].begin() + qint64(y * w),
                                  r.grey[c].begin() + qint64((y + 1) * w));
            pointers.push_back(sampled[c].data());
        }
        const DecodeLimits limits =
            decoder.measureLimits(pointers, r.width, int(sampledRows.size()));
        qint64 valid = 0;
        for (int y = 0; y < r.height; y += 37) {
            const int rows = std::min(37, r.height - y);
            std::vector<const float *> band;
            for (const std::vector<float> &plane : r.grey)
                band.push_back(plane.data() + size_t(y) * w);
            DecodedPositions part;
            decoder.decodeBand(band, r.width, rows, limits, &part);
            QVERIFY(sameFloats(part.position.data(), whole.position.data() + size_t(y) * w,
                               part.position.size()));
            valid += part.validCount;
        }
        QCOMPARE(valid, whole.validCount);

        QTemporaryDir dir;
        CaptureStack stack(QSize(r.width, r.height), dir.filePath("scratch"), 0);
        for (size_t p = 0; p < r.grey.size(); ++p) {
            const QString path = dir.filePath(QString("%1.png").arg(p));
            QString why;
            QVERIFY(r.image(int(p)).save(path));
            QVERIFY2(stack.add(path, &why), qPrintable(why));
        }
        DecodedPositions viaStack;
        CaptureGrid grid;
        QString why;
        // With the modulation kept, as a point cloud without a light
        // reference takes its intensity from it.
        QVERIFY2(decodeStack(decoder, stack, &viaStack, &grid, &why, true), qPrintable(why));
        QVERIFY(sameFloats(viaStack.position.data(), whole.position.data(), whole.position.size()));
        QVERIFY(sameFloats(viaStack.modulation.data(), whole.modulation.data(),
                           whole.modulation.size()));
        QVERIFY(viaStack.valid == whole.valid);
        QVERIFY(viaStack.setValid == whole.setValid);
        QCOMPARE(viaStack.saturatedCount, whole.saturatedCount);
        QCOMPARE(viaStack.modulationThreshold, whole.modulationThreshold);
        // The check on the grid taken while decoding finds what it finds on
        // the captures whole.
        const CaptureCheckResult onGrid = checkCaptures(decoder, f.pages, grid, viaStack);
        const CaptureCheckResult onWhole =
            checkCaptures(decoder, f.pages, r.planes(), r.width, r.height, whole);
        QCOMPARE(onGrid.problems, onWhole.problems);
        for (size_t c = 0; c < onGrid.pages.size(); ++c)
            QCOMPARE(onGrid.pages[c].match, onWhole.pages[c].match);
    }

    // The Gray code alone as real captures show it: stripes 40 pixels wide,
    // shot noise, a dark object, defocus. Good captures are consistent,
    // few valid pixels carry a wrong stripe, and a swap is still named.
    void grayOnRealCaptures_data()
    {
        QTest::addColumn<QStringList>("file");
        QTest::addColumn<double>("darkAlbedo");
        QTest::addColumn<double>("blur");
        QTest::addColumn<double>("wrongLimit");
        QTest::addColumn<bool>("swapped");
        const QStringList five{"gray:5", "dark", "light"};
        QTest::newRow("wide stripes") << five << 1.0 << 1.0 << 0.002 << false;
        QTest::newRow("no references") << QStringList{"gray:5"} << 1.0 << 1.0 << 0.002 << false;
        QTest::newRow("dark object") << five << 0.03 << 1.0 << 0.01 << false;
        QTest::newRow("defocus") << QStringList{"gray:8", "dark", "light"} << 1.0 << 6.0 << 0.01
                                 << false;
        QTest::newRow("two captures swapped") << five << 1.0 << 1.0 << 1.0 << true;
    }
    void grayOnRealCaptures()
    {
        QFETCH(QStringList, file);
        QFETCH(double, darkAlbedo);
        QFETCH(double, blur);
        QFETCH(double, wrongLimit);
        QFETCH(bool, swapped);
        const ScanTiming t = computeScanTiming(kScanValue);
        const GeneratedFile f = generatedFile(t, file);
        std::vector<std::vector<int>> shown = f.pages;
        if (swapped)
            std::swap(shown[2], shown[3]);
        CaptureScene scene;
        scene.viewShare = 0.25;
        scene.noise = 0.003;
        scene.shotNoise = 0.0003;
        scene.blurPixels = blur;
        scene.darkAlbedo = darkAlbedo;
        scene.darkU = 0.02;
        const RenderedCaptures r = renderCaptures(scene, t, shown);
        const CaptureDecoder decoder(planOf(f), t);
        const DecodedPositions d = decoder.decode(r.planes(), r.width, r.height);
        const std::vector<std::vector<int>> gray(f.pages.begin(),
                                                 f.pages.begin() + file[0].section(':', 1).toInt());
        const double wrong = wrongStripeShare(r, t, gray, d.position, d.valid);
        const CaptureAccuracy a = captureAccuracy(r, d.position, d.valid, 2.0 / 32);
        const CaptureCheckResult c =
            checkCaptures(decoder, f.pages, r.planes(), r.width, r.height, d);
        qInfo("%.2f %% valid, %.3f %% of them on a wrong stripe, %.1f %% of the lit valid, run "
              "back %.2f %%",
              100.0 * d.validFraction(), 100.0 * wrong, 100.0 * a.validOfLit,
              100.0 * c.runBackShare);
        QCOMPARE(c.consistent, !swapped);
        if (swapped)
            return;
        QVERIFY2(wrong <= wrongLimit, qPrintable(QString::number(wrong)));
        // What is lost is the dark object and the bits the blur hides.
        if (blur < 2.0)
            QVERIFY(a.validOfLit >= (darkAlbedo < 1.0 ? 0.5 : 0.97));
    }

    void burnCheck_data()
    {
        QTest::addColumn<int>("fault");
        QTest::addColumn<QStringList>("named"); // problems expected, in order
        QTest::addColumn<bool>("runsBack");
        QTest::newRow("in order") << 0 << QStringList() << false;
        // Camera on the projector's other side and a deep step down: depth
        // edges put some positions out of order, and nothing is wrong.
        QTest::newRow("in order, deep step") << 6 << QStringList() << false;
        QTest::newRow("phase steps swapped")
            << 1 << QStringList{"capture 8 shows page 9", "capture 9 shows page 8"} << false;
        QTest::newRow("gray and phase swapped")
            << 2 << QStringList{"capture 3 shows page 8", "capture 8 shows page 3"} << true;
        // No pixel on its own sees this: only the order of the positions.
        QTest::newRow("two gray captures swapped")
            << 3 << QStringList{"capture 4 shows page 5", "capture 5 shows page 4"} << true;
        QTest::newRow("a stripe flipped, finest gray page")
            << 4 << QStringList{"capture 6 differs from page 6"} << false;
        QTest::newRow("a stripe flipped, middle gray page")
            << 5 << QStringList{"capture 4 "} << true;
    }
    void burnCheck()
    {
        QFETCH(int, fault);
        QFETCH(QStringList, named);
        QFETCH(bool, runsBack);
        const ScanTiming t = computeScanTiming(kScanValue);
        const GeneratedFile f = generatedFile(t, {"gray:6", "phase:4x32", "dark", "light"});
        std::vector<std::vector<int>> shown = f.pages;
        switch (fault) {
        case 1:
            std::swap(shown[7], shown[8]);
            break;
        case 2:
            std::swap(shown[2], shown[7]);
            break;
        case 3:
            std::swap(shown[3], shown[4]);
            break;
        case 4:
            shown[5] = withStripeFlipped(shown[5]);
            break;
        case 5:
            shown[3] = withStripeFlipped(shown[3]);
            break;
        }
        const CaptureDecoder decoder(planOf(f), t);
        CaptureScene scene;
        if (fault == 6) {
            scene.baseline = -0.25;
            scene.stepHeight = -0.15;
        }
        const RenderedCaptures r = renderCaptures(scene, t, shown);
        const DecodedPositions d = decoder.decode(r.planes(), r.width, r.height);
        const CaptureCheckResult c =
            checkCaptures(decoder, f.pages, r.planes(), r.width, r.height, d);
        const QByteArray problems = c.problems.join(" | ").toUtf8();
        QCOMPARE(c.consistent, named.isEmpty());
        QCOMPARE(int(c.pages.size()), 12);
        QCOMPARE(c.runBackShare > kMaxRunBackShare, runsBack);
        // Exactly the captures at fault are named, nothing else but the
        // positions running back.
        int k = 0;
        for (const QString &problem : c.problems) {
            if (problem.startsWith("decoded positions run back"))
                continue;
            QVERIFY2(k < named.size() && problem.startsWith(named[k]), problems.constData());
            ++k;
        }
        QVERIFY2(k == named.size(), problems.constData());
        for (const PageMatch &m : c.pages) {
            QCOMPARE(m.page, m.capture);
            const bool accused = problems.contains(QString("capture %1 ").arg(m.capture).toUtf8());
            if (!accused) {
                QVERIFY2(m.match >= kMinPageMatch, problems.constData());
                QCOMPARE(m.bestPage, m.page);
            }
        }
        if (fault == 0) {
            // Contrast of every pattern capture, none for the references.
            for (int p = 0; p < 10; ++p)
                QVERIFY(c.pages[size_t(p)].contrast > 0.5);
            QVERIFY(std::isnan(c.pages[10].contrast) && std::isnan(c.pages[11].contrast));
            QVERIFY(c.runBackShare < 0.1 * kSuspectRunBackShare);
        }
        if (fault == 3)
            QVERIFY(c.runBackShare > 2 * kMaxRunBackShare);
    }

    // Good captures the check must not fail: a far board whose light
    // reference reads some 12 DN, where noise alone keeps the references
    // from matching their pages to 0.9; and captures blurred over some ten
    // pixel footprints, which the check's blur must follow. A swap in the
    // dim set is still named.
    void checkFollowsNoiseAndBlur_data()
    {
        QTest::addColumn<QStringList>("file");
        QTest::addColumn<double>("exposure");
        QTest::addColumn<double>("blur");
        QTest::addColumn<bool>("swapped"); // the first two phase captures
        QTest::addColumn<double>("leastMatch");
        const QStringList board{"gray:7", "phase:4x64", "dark", "light"};
        QTest::newRow("dim board") << board << 12.0 / 255 << 1.0 << false << 0.8;
        QTest::newRow("dim board, swapped") << board << 12.0 / 255 << 1.0 << true << 0.0;
        QTest::newRow("blurred") << QStringList{"gray:4", "phase:4x8", "dark", "light"} << 0.85
                                 << 10.0 << false << 0.95;
    }
    void checkFollowsNoiseAndBlur()
    {
        QFETCH(QStringList, file);
        QFETCH(double, exposure);
        QFETCH(double, blur);
        QFETCH(bool, swapped);
        QFETCH(double, leastMatch);
        const ScanTiming t = computeScanTiming(kScanValue);
        const GeneratedFile f = generatedFile(t, file);
        const int phase = file[0].section(':', 1).toInt(); // its first page, 0-based
        std::vector<std::vector<int>> shown = f.pages;
        if (swapped)
            std::swap(shown[size_t(phase)], shown[size_t(phase) + 1]);
        CaptureScene scene;
        scene.blurPixels = blur;
        if (exposure < 0.1) {
            scene.exposure = exposure;
            scene.ambient = 0.004;
            scene.noise = 0.002;
            scene.shotNoise = 0.0002;
        }
        const RenderedCaptures r = renderCaptures(scene, t, shown);
        const CaptureDecoder decoder(planOf(f), t);
        const DecodedPositions d = decoder.decode(r.planes(), r.width, r.height);
        const CaptureCheckResult c =
            checkCaptures(decoder, f.pages, r.planes(), r.width, r.height, d);
        const QByteArray problems = c.problems.join(" | ").toUtf8();
        QVERIFY2(c.consistent != swapped, problems.constData());
        if (swapped) {
            QVERIFY2(c.problems.first().startsWith(
                         QString("capture %1 shows page %2").arg(phase + 1).arg(phase + 2)),
                     problems.constData());
            return;
        }
        for (const PageMatch &m : c.pages)
            QVERIFY2(m.match >= leastMatch, qPrintable(QString::number(m.match)));
        // The dim light reference is below the plain threshold: the row
        // tests what it should.
        if (exposure < 0.1)
            QVERIFY(c.pages.back().match < kMinPageMatch);
    }
};

QTEST_GUILESS_MAIN(TestDecode)
#include "tst_decode.moc"
