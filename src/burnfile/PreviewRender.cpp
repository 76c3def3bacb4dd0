#include "PreviewRender.h"

#include "BurnFile.h"

#include <QColor>
#include <QLine>
#include <QPainter>
#include <QRect>
#include <QtMath>

#include <cmath>

namespace
{

constexpr float kStepFactor = 1.0f / 1024.0f;
constexpr float kCoordinateLimit = 1000000.0f;

QImage transparentCanvas(const QSize &size, qreal ratio)
{
    const QSize pixels = deviceCanvasSize(size, ratio);
    if (pixels.isEmpty())
        return QImage();
    QImage image(pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

int sampleCount(const QVector<int> &values)
{
    return qMin(values.size(), kSamplesPerPage);
}

} // namespace

WaveRange waveRange(int min, int max)
{
    if (min == max)
        return WaveRange{0, 255};
    return WaveRange{min, max};
}

float waveX(int index, int width)
{
    return (float(index) * kStepFactor) * float(width);
}

float waveY(int value, const WaveRange &range, int height)
{
    if (range.max == 0)
        return float(height);
    // The difference in 64 bits: the same number as in 32 where that does
    // not overflow, and no overflow for values far from the range.
    const qint64 difference = qint64(value) - qint64(range.min);
    return float(height) - (float(difference) / float(range.max)) * float(height);
}

float pictureX(int index, int width)
{
    return float(index) * (float(width) * kStepFactor);
}

int pictureLevel(int value)
{
    return qBound(0, value, 255);
}

int canvasCoordinate(float position)
{
    if (std::isnan(position))
        return 0;
    return int(qBound(-kCoordinateLimit, position, kCoordinateLimit));
}

QPen wavePen(qreal scale)
{
    return QPen(QBrush(Qt::red), 2.0 * scale, Qt::SolidLine, Qt::FlatCap, Qt::RoundJoin);
}

QPen picturePen(int value, qreal scale)
{
    return QPen(QBrush(QColor(pictureLevel(value), 0, 0, 255)), 3.0 * scale, Qt::SolidLine,
                Qt::FlatCap, Qt::RoundJoin);
}

QSize deviceCanvasSize(const QSize &size, qreal ratio)
{
    // The label paints a pixmap of exactly this size one to one.
    return ratio == 1.0 ? size : QSize(qRound(size.width() * ratio), qRound(size.height() * ratio));
}

QImage renderWave(const QVector<int> &values, const QSize &size, const WaveRange &range,
                  qreal ratio)
{
    QImage image = transparentCanvas(size, ratio);
    const int n = sampleCount(values);
    if (image.isNull() || n == 0)
        return image;
    // Positions in device pixels; the painter is not scaled, so each
    // coordinate is a whole device pixel.
    const int w = image.width();
    const int h = image.height();
    QPainter painter(&image);
    painter.setPen(wavePen(ratio));
    // One segment per sample from the previous point; the first has length
    // zero, from (0, y(v0)).
    float previousX = 0.0f;
    float previousY = waveY(values[0], range, h);
    for (int i = 0; i < n; ++i) {
        const float x = waveX(i, w);
        const float y = waveY(values[i], range, h);
        painter.drawLine(QLine(canvasCoordinate(previousX), canvasCoordinate(previousY),
                               canvasCoordinate(x), canvasCoordinate(y)));
        previousX = x;
        previousY = y;
    }
    painter.end();
    image.setDevicePixelRatio(ratio);
    return image;
}

namespace
{

// How many pixels one stroke of the picture pen covers across a vertical
// line: aliased strokes round a fractional width either way.
int strokeCoverage(qreal ratio)
{
    QImage probe(64, 1, QImage::Format_ARGB32_Premultiplied);
    probe.fill(Qt::transparent);
    QPainter painter(&probe);
    painter.setPen(picturePen(255, ratio));
    painter.drawLine(32, -4, 32, 4);
    painter.end();
    int covered = 0;
    for (int x = 0; x < probe.width(); ++x)
        covered += qAlpha(probe.pixel(x, 0)) != 0;
    return covered;
}

// True while the strokes at consecutive samples touch, so the outlines leave
// no gap: truncated positions step by at most ceil(width / 1024).
bool outlinesCoverEveryStep(int width, qreal ratio)
{
    return std::ceil(width / 1024.0) <= strokeCoverage(ratio);
}

// The outline of each sample's rectangle, in order. The pen is at least as
// wide as the step, so each later left side covers what the earlier
// rectangles drew there: what stays is a row of full-height stripes.
void drawOutlinedStripes(QPainter &painter, const QVector<int> &values, int n, int w, int h,
                         qreal ratio)
{
    const int last = canvasCoordinate(pictureX(n - 1, w));
    // A short page ends at its last sample's stripe: past it the outlines'
    // top, bottom and right sides, which the later samples of a whole page
    // cover, would show as stray stripes.
    if (n < kSamplesPerPage) {
        // A pen p pixels wide reaches ceil(p / 2) pixels right of its line.
        const int end = last + qCeil(1.5 * ratio);
        painter.setClipRect(QRect(0, 0, qMax(end, 0), h));
    }
    for (int i = 0; i < n; ++i) {
        const float x = pictureX(i, w);
        painter.setPen(picturePen(values[i], ratio));
        painter.drawRect(QRect(canvasCoordinate(x), 0, canvasCoordinate(x + x), h));
    }
    // The last stroke can end a column or more short of the right edge; the
    // last sample's area runs to the edge.
    if (n == kSamplesPerPage)
        painter.fillRect(QRect(last, 0, w - last, h), picturePen(values[n - 1]).color());
}

} // namespace

QImage renderPicture(const QVector<int> &values, const QSize &size, qreal ratio)
{
    QImage image = transparentCanvas(size, ratio);
    const int n = sampleCount(values);
    if (image.isNull() || n == 0)
        return image;
    const int w = image.width();
    const int h = image.height();
    QPainter painter(&image);
    if (outlinesCoverEveryStep(w, ratio)) {
        drawOutlinedStripes(painter, values, n, w, h, ratio);
    } else {
        // Steps wider than a stroke would leave gaps between the outlines:
        // each sample fills its own area up to where the next one starts.
        for (int i = 0; i < n; ++i) {
            const int left = canvasCoordinate(pictureX(i, w));
            const int right = canvasCoordinate(pictureX(i + 1, w));
            painter.fillRect(QRect(left, 0, right - left, h), picturePen(values[i]).color());
        }
    }
    painter.end();
    image.setDevicePixelRatio(ratio);
    return image;
}

QImage renderPreviewSheet(const QVector<int> &values, const QSize &size, const WaveRange &range)
{
    if (size.isEmpty())
        return QImage();
    QImage sheet(size.width(), size.height() * 2, QImage::Format_ARGB32_Premultiplied);
    sheet.fill(Qt::white);
    QPainter painter(&sheet);
    painter.drawImage(0, 0, renderWave(values, size, range));
    painter.drawImage(0, size.height(), renderPicture(values, size));
    return sheet;
}
