#ifndef DVK_PREVIEWRENDER_H
#define DVK_PREVIEWRENDER_H

// Drawing one page of a burn file: the waveform (the values joined by a red
// line) and the stripe picture (one vertical stripe per value, its red level
// the value). The window and dvkctl preview both draw with these; they take
// the page's values, not a file, so any resampled page draws the same way.

#include <QImage>
#include <QPen>
#include <QSize>
#include <QVector>

// The value range the waveform scales to.
struct WaveRange {
    int min = 0;
    int max = 255;
};

// The range the waveform uses for a file whose scan gave min and max: a flat
// file (min equal to max) is drawn over 0 … 255.
WaveRange waveRange(int min, int max);

// Sample positions and heights in single precision, in the order that gives
// the window's exact pixels.
float waveX(int index, int width);
// The divisor is range.max, not the span; a divisor of 0 puts every value on
// the bottom edge.
float waveY(int value, const WaveRange &range, int height);
float pictureX(int index, int width);

// The red level of a value in the picture, 0 … 255.
int pictureLevel(int value);

// Pixel coordinate of a computed position, truncated toward zero. Positions
// far outside the canvas are held at ±1000000 first so that the conversion
// is always defined; what is visible does not change.
int canvasCoordinate(float position);

// Pen widths are 2 and 3 at a scale of 1.
QPen wavePen(qreal scale = 1.0);
QPen picturePen(int value, qreal scale = 1.0);

// The size in device pixels of a canvas of the given size on a screen of
// the given device pixel ratio.
QSize deviceCanvasSize(const QSize &size, qreal ratio);

// The page drawn on a transparent ARGB32 premultiplied image for a canvas of
// the given size (a null image for an empty size). Values past the first 1024
// are ignored. With a device pixel ratio other than 1 it is drawn at the
// canvas's size in device pixels, pens widened by the ratio, and carries that
// ratio: sharp on a high-density screen.
QImage renderWave(const QVector<int> &values, const QSize &size, const WaveRange &range,
                  qreal ratio = 1.0);
QImage renderPicture(const QVector<int> &values, const QSize &size, qreal ratio = 1.0);

// The waveform above the picture, each of the given size, on white as the
// window shows them.
QImage renderPreviewSheet(const QVector<int> &values, const QSize &size, const WaveRange &range);

#endif
