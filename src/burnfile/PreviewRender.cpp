#include "PreviewRender.h"

#include "BurnFile.h"

#include <QColor>
#include <QLine>
#include <QPainter>
#include <QRect>

#include <cmath>

namespace
{

constexpr float kStepFactor = 1.0f / 1024.0f;
constexpr float kCoordinateLimit = 1000000.0f;

QImage transparentCanvas(const QSize &size)
{
    if (size.isEmpty())
        return QImage();
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
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

QPen wavePen()
{
    return QPen(QBrush(Qt::red), 2.0, Qt::SolidLine, Qt::FlatCap, Qt::RoundJoin);
}

QPen picturePen(int value)
{
    return QPen(QBrush(QColor(pictureLevel(value), 0, 0, 255)), 3.0, Qt::SolidLine, Qt::FlatCap,
                Qt::RoundJoin);
}

QImage renderWave(const QVector<int> &values, const QSize &size, const WaveRange &range)
{
    QImage image = transparentCanvas(size);
    const int n = sampleCount(values);
    if (image.isNull() || n == 0)
        return image;
    const int w = size.width();
    const int h = size.height();
    QPainter painter(&image);
    painter.setPen(wavePen());
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
    return image;
}

QImage renderPicture(const QVector<int> &values, const QSize &size)
{
    QImage image = transparentCanvas(size);
    const int n = sampleCount(values);
    if (image.isNull() || n == 0)
        return image;
    const int w = size.width();
    const int h = size.height();
    QPainter painter(&image);
    // A short page ends at its last sample's stripe: past it the outlines'
    // top, bottom and right sides, which the later samples of a whole page
    // cover, would show as stray stripes.
    if (n < kSamplesPerPage) {
        const int end = canvasCoordinate(pictureX(n - 1, w)) + 2;
        painter.setClipRect(QRect(0, 0, qMax(end, 0), h));
    }
    // The outline of each sample's rectangle, in order. The 3-pixel pen is
    // wider than the step, so each later left side covers what the earlier
    // rectangles drew there: what stays is a row of full-height stripes.
    for (int i = 0; i < n; ++i) {
        const float x = pictureX(i, w);
        painter.setPen(picturePen(values[i]));
        painter.drawRect(QRect(canvasCoordinate(x), 0, canvasCoordinate(x + x), h));
    }
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
