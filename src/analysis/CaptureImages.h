#ifndef DVK_CAPTUREIMAGES_H
#define DVK_CAPTUREIMAGES_H

// Camera captures in, decoded positions out: reading images of any format
// Qt reads (PNG, TIFF, JPEG, BMP, ...) as grey levels, and writing the
// decoder's results as NumPy arrays and PNG pictures.

#include "CaptureDecoder.h"

#include <QImage>
#include <QString>
#include <QStringList>

#include <vector>

struct CaptureImage {
    int width = 0;
    int height = 0;
    int bits = 8; // per channel in the file: 8 or 16
    // Row-major grey values as shares of full scale: the luminance of a
    // colour image. A pixel with any channel at full scale reads as full
    // scale, so that it counts as saturated.
    std::vector<float> grey;
};

// More pixels than any camera gives: a file claiming more is refused before
// its pixels are decoded, as it would take gigabytes to hold.
constexpr qint64 kMaxCapturePixels = 100000000;

// The size of a capture as its file's header gives it, without decoding its
// pixels; refuses a file that is not a regular file, whose size cannot be
// told, or that has more than kMaxCapturePixels. On failure says why in
// *error (without the path).
// *readBytes (when given): the memory reading it takes at its peak.
bool captureImageSize(const QString &path, QSize *size, QString *error,
                      qint64 *readBytes = nullptr);
// Reads a capture of the size `expected` (checked from the header before
// decoding); on failure says why in *error (without the path).
bool readCaptureImage(const QString &path, const QSize &expected, CaptureImage *image,
                      QString *error);
CaptureImage captureFromImage(const QImage &image);
// The same read as an image in one of the four formats captureRow takes
// (grey 8 or 16 bits, RGB 8 or 16 bits per channel).
bool readCaptureQImage(const QString &path, const QSize &expected, QImage *image, QString *error);
QImage captureReadyImage(const QImage &source);
// Row y of such an image as grey values (shares of full scale), as
// CaptureImage holds them.
void captureRow(const QImage &image, int y, float *out);

// The image files of a directory (by extension: png, tif, tiff, jpg, jpeg,
// bmp), in natural name order: digit runs compare as numbers, so
// capture2.png comes before capture10.png. Only regular files (after
// following links) are taken; the names of other entries that look like
// images (pipes, devices, links that lead nowhere) go to *skipped.
QStringList captureFilesIn(const QString &directory, QStringList *skipped);
bool naturalLess(const QString &a, const QString &b);

// A float32 height x width array in NumPy's format 1.0.
QByteArray float32Npy(const std::vector<float> &values, int height, int width);
// Its header alone: the little-endian float32 values follow it, row by row.
QByteArray float32NpyHeader(int height, int width);
// position.npy: float32 height x width in NumPy's format 1.0, NaN where not
// valid.
QByteArray positionNpy(const DecodedPositions &d);

// position.png: 16-bit grey, 1 + round((u + 1) / 2 x 65534), 0 where not valid.
QImage positionImage(const DecodedPositions &d);
// valid.png: 8-bit grey, 255 where valid.
QImage validImage(const DecodedPositions &d);
// position-colour.png: u from -1 to +1 in false colour, black where not valid.
QImage positionColourImage(const DecodedPositions &d);

#endif
