// Drawing a page: positions in single precision, the pixels of the waveform
// and the stripe picture at computed places, and sameness with painting
// sample by sample on a pixmap as the window's procedure describes it.
#include "burnfile/PreviewRender.h"

#include <QPainter>
#include <QPixmap>
#include <QRandomGenerator>
#include <QtTest>

#include <climits>
#include <cmath>

namespace
{

const QRgb kRed = qRgba(255, 0, 0, 255);
const QRgb kBlack = qRgba(0, 0, 0, 255);

QVector<int> filled(int n, int v)
{
    return QVector<int>(n, v);
}

QVector<int> randomPage(quint32 seed, int lo, int hi)
{
    QRandomGenerator rng(seed);
    QVector<int> v(1024);
    for (int &x : v)
        x = rng.bounded(lo, hi + 1);
    return v;
}

// Rows of the image that hold any painted pixel.
QList<int> paintedRows(const QImage &image)
{
    QList<int> rows;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (qAlpha(image.pixel(x, y)) != 0) {
                rows << y;
                break;
            }
    return rows;
}

// Columns of row y that are painted.
QList<int> paintedColumns(const QImage &image, int y)
{
    QList<int> cols;
    for (int x = 0; x < image.width(); ++x)
        if (qAlpha(image.pixel(x, y)) != 0)
            cols << x;
    return cols;
}

// The last sample's x, one step short of the right edge.
int lastX(int width)
{
    return int(std::trunc(1023.0 * width / 1024.0));
}

// The window's procedure taken literally: a pixmap, and for each sample the
// painter begun, the pen set, one figure drawn and the painter ended.
QImage literalWave(const QVector<int> &v, const QSize &size, const WaveRange &r)
{
    QPixmap pixmap(size);
    pixmap.fill(Qt::transparent);
    for (int i = 0; i < v.size(); ++i) {
        const int w = size.width(), h = size.height();
        const float px = i == 0 ? 0.0f : (float(i - 1) * (1.0f / 1024.0f)) * float(w);
        const float py =
            float(h) - (float(v[i == 0 ? 0 : i - 1] - r.min) / float(r.max)) * float(h);
        const float x = (float(i) * (1.0f / 1024.0f)) * float(w);
        const float y = float(h) - (float(v[i] - r.min) / float(r.max)) * float(h);
        QPainter painter;
        painter.begin(&pixmap);
        painter.setPen(QPen(Qt::red, 2.0, Qt::SolidLine, Qt::FlatCap, Qt::RoundJoin));
        painter.drawLine(int(px), int(py), int(x), int(y));
        painter.end();
    }
    return pixmap.toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

QImage literalPicture(const QVector<int> &v, const QSize &size)
{
    QPixmap pixmap(size);
    pixmap.fill(Qt::transparent);
    for (int i = 0; i < v.size(); ++i) {
        const float x = float(i) * (float(size.width()) * (1.0f / 1024.0f));
        QPainter painter;
        painter.begin(&pixmap);
        painter.setPen(
            QPen(QColor(v[i], 0, 0, 255), 3.0, Qt::SolidLine, Qt::FlatCap, Qt::RoundJoin));
        painter.drawRect(QRect(int(x), 0, int(x + x), size.height()));
        painter.end();
    }
    return pixmap.toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

} // namespace

class TestPreviewRender : public QObject
{
    Q_OBJECT

private slots:
    void positionsInSinglePrecision()
    {
        QCOMPARE(waveX(0, 1100), 0.0f);
        QCOMPARE(waveX(1, 1100), 1.07421875f);
        QCOMPARE(waveX(1023, 1100), 1098.92578125f);
        QCOMPARE(pictureX(1023, 1100), 1098.92578125f);
        QCOMPARE(pictureX(7, 1100), 7.51953125f);
        // The bottom, top and the 16 … 200 case: 200 sits below the top.
        QCOMPARE(waveY(0, WaveRange{0, 255}, 140), 140.0f);
        QCOMPARE(waveY(255, WaveRange{0, 255}, 140), 0.0f);
        QCOMPARE(waveY(16, WaveRange{16, 200}, 140), 140.0f);
        QCOMPARE(waveY(200, WaveRange{16, 200}, 140), 11.199996948242188f);
        QCOMPARE(canvasCoordinate(waveY(200, WaveRange{16, 200}, 140)), 11);
        QCOMPARE(waveY(128, WaveRange{0, 255}, 140), 69.7254867553710938f);
    }

    void rangeAndFaultyInputs()
    {
        // A flat file scales to 0 … 255; others keep their range.
        QCOMPARE(waveRange(7, 7).min, 0);
        QCOMPARE(waveRange(7, 7).max, 255);
        QCOMPARE(waveRange(16, 200).min, 16);
        QCOMPARE(waveRange(16, 200).max, 200);
        // Divisor 0 (largest value 0, smallest negative): the bottom edge.
        QCOMPARE(waveY(-5, WaveRange{-5, 0}, 140), 140.0f);
        QCOMPARE(waveY(0, WaveRange{-5, 0}, 140), 140.0f);
        // Extreme values neither overflow nor leave the coordinate undefined.
        const float far = waveY(INT_MAX, WaveRange{INT_MIN, 1}, 140);
        QVERIFY(std::isfinite(far));
        QCOMPARE(canvasCoordinate(far), -1000000);
        QCOMPARE(canvasCoordinate(1e30f), 1000000);
        QCOMPARE(canvasCoordinate(std::nanf("")), 0);
        QCOMPARE(canvasCoordinate(-3.7f), -3);
        // Picture levels are clamped.
        QCOMPARE(pictureLevel(-20), 0);
        QCOMPARE(pictureLevel(300), 255);
        QCOMPARE(pictureLevel(0x7f), 0x7f);
    }

    void allDarkAndAllLight_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::newRow("default canvas") << QSize(1100, 140);
        QTest::newRow("odd canvas") << QSize(1237, 97);
    }
    void allDarkAndAllLight()
    {
        QFETCH(QSize, size);
        const int w = size.width(), h = size.height();
        const int last = lastX(w);

        // All dark: the range becomes 0 … 255, the curve lies on the bottom
        // edge (y = H, the 2-pixel pen shows in row H − 1) up to the last
        // sample, and the picture is black everywhere.
        QImage wave = renderWave(filled(1024, 0), size, waveRange(0, 0));
        QCOMPARE(wave.size(), size);
        QCOMPARE(paintedRows(wave), QList<int>{h - 1});
        const QList<int> cols = paintedColumns(wave, h - 1);
        QCOMPARE(cols.first(), 0);
        QCOMPARE(cols.last(), last - 1);
        QCOMPARE(cols.size(), last);
        QCOMPARE(wave.pixel(w / 2, h - 1), kRed);
        QImage picture = renderPicture(filled(1024, 0), size);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                QCOMPARE(picture.pixel(x, y), kBlack);

        // All light: the top edge (row 0) and a pure red picture.
        wave = renderWave(filled(1024, 255), size, waveRange(255, 255));
        QCOMPARE(paintedRows(wave), QList<int>{0});
        QCOMPARE(paintedColumns(wave, 0).size(), last);
        picture = renderPicture(filled(1024, 255), size);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                QCOMPARE(picture.pixel(x, y), kRed);
    }

    void twoLevelsAndTheMaximumAsDivisor()
    {
        const QSize size(1100, 140);
        // 16 … 200: 16 on the bottom edge, 200 at trunc(11.19…) = 11, never
        // at the top.
        QVector<int> v = filled(1024, 16);
        for (int i = 512; i < 1024; ++i)
            v[i] = 200;
        QImage wave = renderWave(v, size, WaveRange{16, 200});
        QCOMPARE(paintedRows(wave).first(), 10);
        QCOMPARE(wave.pixel(300, 139), kRed);
        QCOMPARE(wave.pixel(800, 10), kRed);
        QCOMPARE(wave.pixel(800, 11), kRed);
        QCOMPARE(qAlpha(wave.pixel(800, 12)), 0);
        QCOMPARE(qAlpha(wave.pixel(300, 138)), 0);
        // The step between the halves is a vertical run at x(512) = 550.
        const int step = int(waveX(512, 1100));
        QCOMPARE(step, 550);
        for (int y = 12; y < 139; ++y) {
            bool painted = false;
            for (int x = step - 3; x <= step; ++x)
                painted = painted || qAlpha(wave.pixel(x, y)) != 0;
            QVERIFY(painted);
        }

        // 0 and 255: bottom and top edge, black and pure red stripes.
        QVector<int> alt(1024);
        for (int i = 0; i < 1024; ++i)
            alt[i] = (i / 64) % 2 ? 255 : 0;
        wave = renderWave(alt, size, WaveRange{0, 255});
        QCOMPARE(wave.pixel(int(waveX(32, 1100)), 139), kRed);
        QCOMPARE(wave.pixel(int(waveX(96, 1100)), 0), kRed);
        const QImage picture = renderPicture(alt, size);
        QCOMPARE(picture.pixel(int(pictureX(32, 1100)), 70), kBlack);
        QCOMPARE(picture.pixel(int(pictureX(96, 1100)), 70), kRed);
    }

    void lastSampleOneStepShortOfTheRightEdge()
    {
        for (const int w : {1100, 1237}) {
            const QSize size(w, 140);
            const int last = lastX(w);
            QVector<int> v = filled(1024, 0);
            v[1023] = 255;
            // The rise to the last sample ends at x = last: its pixels lie
            // left of it, and nothing right of it.
            const QImage wave = renderWave(v, size, WaveRange{0, 255});
            const QList<int> mid = paintedColumns(wave, 70);
            QVERIFY(!mid.isEmpty());
            QVERIFY(mid.first() >= last - 2);
            QCOMPARE(mid.last(), last - 1);
            // The picture's last stripe is centred on x = last.
            const QImage picture = renderPicture(v, size);
            QCOMPARE(picture.pixel(last - 2, 70), kBlack);
            for (int x = last - 1; x < w; ++x)
                QCOMPARE(picture.pixel(x, 70), kRed);
        }
    }

    // Each sample i leaves a full-height stripe in its level around
    // trunc(x(i)), covered in part by the next: column c shows the last
    // sample whose 3-pixel outline (trunc(x) − 1 … trunc(x) + 1) reaches it.
    void stripesInOrderOfSamples()
    {
        for (const QSize &size : {QSize(1100, 140), QSize(700, 33), QSize(2048, 20)}) {
            const QVector<int> v = randomPage(7 + quint32(size.width()), 0, 255);
            const QImage picture = renderPicture(v, size);
            int i = 0;
            for (int c = 0; c < size.width(); ++c) {
                while (i + 1 < 1024 && int(pictureX(i + 1, size.width())) <= c + 1)
                    ++i;
                const QRgb want = qRgba(v[i], 0, 0, 255);
                for (int y = 0; y < size.height(); ++y)
                    QCOMPARE(picture.pixel(c, y), want);
            }
        }
    }

    void faultyValuesDrawSoundly()
    {
        const QSize size(1100, 140);
        // Largest value 0, smallest negative: the divisor is 0, so the page
        // goes on the bottom edge.
        QVector<int> v(1024);
        for (int i = 0; i < 1024; ++i)
            v[i] = -(i % 6);
        const QImage wave = renderWave(v, size, WaveRange{-5, 0});
        QCOMPARE(paintedRows(wave), QList<int>{139});
        // Out of range values are clamped in the picture.
        QVector<int> p = filled(1024, 300);
        for (int i = 512; i < 1024; ++i)
            p[i] = -20;
        const QImage picture = renderPicture(p, size);
        QCOMPARE(picture.pixel(200, 50), kRed);
        QCOMPARE(picture.pixel(900, 50), kBlack);
        // Values far outside the range of the scan (a different file typed
        // into the path field) draw without fault.
        const QImage wild =
            renderWave(QVector<int>{INT_MAX, INT_MIN, 0, INT_MAX}, size, WaveRange{0, 255});
        QCOMPARE(wild.size(), size);
        // An empty canvas size gives no image.
        QVERIFY(renderWave(v, QSize(), WaveRange{}).isNull());
        QVERIFY(renderPicture(v, QSize(0, 10)).isNull());
    }

    void shortPageLeavesTheRestTransparent()
    {
        const QSize size(1100, 140);
        const QVector<int> v = randomPage(3, 0, 255).mid(0, 500);
        const QImage wave = renderWave(v, size, WaveRange{0, 255});
        const QImage picture = renderPicture(v, size);
        const int end = int(waveX(499, 1100));
        for (int y = 0; y < 140; ++y) {
            for (int x = end + 2; x < 1100; ++x) {
                QCOMPARE(qAlpha(wave.pixel(x, y)), 0);
                QCOMPARE(qAlpha(picture.pixel(x, y)), 0);
            }
        }
        QCOMPARE(qAlpha(picture.pixel(end, 70)), 255);
        // Up to the last stripe it is what the outlines drawn in order give.
        const QRect drawn(0, 0, end + 2, 140);
        QCOMPARE(picture.copy(drawn), literalPicture(v, size).copy(drawn));
        QCOMPARE(wave, literalWave(v, size, WaveRange{0, 255}));
        // An empty page draws nothing.
        QCOMPARE(paintedRows(renderWave({}, size, WaveRange{})), QList<int>{});
    }

    void sameAsPaintingSampleBySample()
    {
        const QSize size(1100, 140);
        const QVector<int> pages[] = {
            randomPage(11, 0, 255),
            randomPage(12, 16, 200),
            filled(1024, 0),
        };
        const WaveRange ranges[] = {WaveRange{0, 255}, WaveRange{16, 200}, WaveRange{0, 255}};
        for (int k = 0; k < 3; ++k) {
            QCOMPARE(renderWave(pages[k], size, ranges[k]), literalWave(pages[k], size, ranges[k]));
            QCOMPARE(renderPicture(pages[k], size), literalPicture(pages[k], size));
        }
        // A phase-shift-like page, the shape generated files have.
        QVector<int> sine(1024);
        for (int i = 0; i < 1024; ++i)
            sine[i] = int(127.5 + 127.5 * std::sin(i * 0.049));
        QCOMPARE(renderWave(sine, size, WaveRange{0, 255}),
                 literalWave(sine, size, WaveRange{0, 255}));
        QCOMPARE(renderPicture(sine, QSize(1313, 151)), literalPicture(sine, QSize(1313, 151)));
    }

    // Whole pages at many canvas sizes up to the pen's width per step: the
    // outlines drawn in order, and only the columns the last stroke does not
    // reach (from 2049 pixels on) filled in the last sample's level.
    void wholePagesAtManySizes()
    {
        const int widths[] = {1,    7,    64,   100,  333,  700,  1023,
                              1024, 1100, 1237, 1600, 2048, 2500, 3072};
        const int heights[] = {1, 2, 3, 4, 20, 140};
        quint32 seed = 100;
        for (const int w : widths) {
            for (const int h : heights) {
                const QVector<int> v = randomPage(seed++, 0, 255);
                const QImage picture = renderPicture(v, QSize(w, h));
                QImage want = literalPicture(v, QSize(w, h));
                const int stroked = lastX(w) + 2;
                for (int x = stroked; x < w; ++x)
                    for (int y = 0; y < h; ++y)
                        want.setPixel(x, y, qRgba(v[1023], 0, 0, 255));
                QVERIFY2(picture == want, qPrintable(QString("%1x%2").arg(w).arg(h)));
            }
        }
    }

    // A maximised canvas on a wide screen: at every scale, and past the
    // width where the step outgrows the pen, each column shows exactly one
    // sample's level over the full height, nothing stays blank, and a
    // Gray-code page changes colour only where its values do.
    void wideCanvasesShowWholeStripes()
    {
        QVector<int> gray(1024);
        for (int i = 0; i < 1024; ++i)
            gray[i] = ((i * 9 / 1024) % 2) ? 255 : 0;
        const QVector<int> random = randomPage(77, 0, 255);
        for (const qreal ratio : {1.0, 1.5, 2.0}) {
            for (const int device : {3073, 3264, 3800, 4097, 6145, 7000}) {
                const QSize size(qRound(device / ratio), 12);
                const QImage picture = renderPicture(gray, size, ratio);
                const QString where = QString("%1 px at %2").arg(picture.width()).arg(ratio);
                int changes = 0;
                for (int x = 0; x < picture.width(); ++x) {
                    const QRgb top = picture.pixel(x, 0);
                    QVERIFY2(qAlpha(top) == 255, qPrintable(where));
                    for (int y = 1; y < picture.height(); ++y)
                        QVERIFY2(picture.pixel(x, y) == top, qPrintable(where));
                    changes += x > 0 && top != picture.pixel(x - 1, 0);
                }
                QVERIFY2(changes == 8, qPrintable(where + QString(": %1 changes").arg(changes)));
                // Past the pen's width each sample covers its own area.
                if (picture.width() > 1024 * 3 * ratio) {
                    const QImage exact = renderPicture(random, size, ratio);
                    const int w = exact.width();
                    for (int i = 0; i < 1024; i += 37) {
                        const int left = int(pictureX(i, w));
                        const int right = int(pictureX(i + 1, w));
                        QCOMPARE(exact.pixel(left, 6), qRgba(random[i], 0, 0, 255));
                        QCOMPARE(exact.pixel(right - 1, 6), qRgba(random[i], 0, 0, 255));
                    }
                    QCOMPARE(exact.pixel(w - 1, 0), qRgba(random[1023], 0, 0, 255));
                }
            }
        }
    }

    void sheetStacksWaveAbovePictureOnWhite()
    {
        const QSize size(300, 40);
        const QVector<int> v = randomPage(5, 0, 255);
        const QImage sheet = renderPreviewSheet(v, size, WaveRange{0, 255});
        QCOMPARE(sheet.size(), QSize(300, 80));
        const QImage wave = renderWave(v, size, WaveRange{0, 255});
        const QImage picture = renderPicture(v, size);
        for (int y = 0; y < 40; ++y) {
            for (int x = 0; x < 300; ++x) {
                const QRgb top = qAlpha(wave.pixel(x, y)) ? wave.pixel(x, y) : qRgb(255, 255, 255);
                QCOMPARE(sheet.pixel(x, y), top);
                QCOMPARE(sheet.pixel(x, y + 40), picture.pixel(x, y));
            }
        }
    }
};

QTEST_MAIN(TestPreviewRender)
#include "tst_preview_render.moc"
