#include "CaptureImages.h"

#include "patterns/FileAccess.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QtEndian>

#include <algorithm>
#include <cmath>

namespace
{

// Luminance weights of a colour capture (ITU-R BT.601).
constexpr float kRed = 0.299f;
constexpr float kGreen = 0.587f;
constexpr float kBlue = 0.114f;

// The false-colour scale: dark blue through cyan, green and yellow to dark
// red, evenly spaced from u = -1 to u = +1.
const QRgb kScale[] = {qRgb(48, 18, 160),  qRgb(40, 110, 240), qRgb(30, 200, 220),
                       qRgb(60, 225, 120), qRgb(190, 230, 40), qRgb(250, 170, 30),
                       qRgb(230, 70, 20),  qRgb(130, 10, 10)};

QRgb falseColour(float u)
{
    constexpr int last = int(sizeof(kScale) / sizeof(kScale[0])) - 1;
    const float k = std::clamp((u + 1.0f) * 0.5f, 0.0f, 1.0f) * float(last);
    const int i = std::min(int(k), last - 1);
    const float f = k - float(i);
    auto mix = [&](int a, int b) { return int(std::lround(float(a) + f * float(b - a))); };
    return qRgb(mix(qRed(kScale[i]), qRed(kScale[i + 1])),
                mix(qGreen(kScale[i]), qGreen(kScale[i + 1])),
                mix(qBlue(kScale[i]), qBlue(kScale[i + 1])));
}

} // namespace

QImage captureReadyImage(const QImage &source)
{
    switch (source.format()) {
    case QImage::Format_Grayscale8:
    case QImage::Format_Grayscale16:
    case QImage::Format_RGBX64:
    case QImage::Format_RGB32:
        return source;
    default:
        break;
    }
    if (source.depth() > 32)
        return source.convertToFormat(QImage::Format_RGBX64); // 16 bits per channel
    if (source.isGrayscale())
        return source.convertToFormat(QImage::Format_Grayscale8); // a grey palette
    return source.convertToFormat(QImage::Format_RGB32);
}

void captureRow(const QImage &image, int y, float *out)
{
    const int w = image.width();
    switch (image.format()) {
    case QImage::Format_Grayscale8: {
        const uchar *line = image.constScanLine(y);
        for (int x = 0; x < w; ++x)
            out[x] = float(line[x]) / 255.0f;
        return;
    }
    case QImage::Format_Grayscale16: {
        const quint16 *line = reinterpret_cast<const quint16 *>(image.constScanLine(y));
        for (int x = 0; x < w; ++x)
            out[x] = float(line[x]) / 65535.0f;
        return;
    }
    case QImage::Format_RGBX64: {
        const QRgba64 *line = reinterpret_cast<const QRgba64 *>(image.constScanLine(y));
        for (int x = 0; x < w; ++x) {
            const QRgba64 p = line[x];
            const bool clipped = p.red() == 65535 || p.green() == 65535 || p.blue() == 65535;
            out[x] = clipped ? 1.0f
                             : (kRed * float(p.red()) + kGreen * float(p.green()) +
                                kBlue * float(p.blue())) /
                                   65535.0f;
        }
        return;
    }
    default: {
        const QRgb *line = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        for (int x = 0; x < w; ++x) {
            const QRgb p = line[x];
            const bool clipped = qRed(p) == 255 || qGreen(p) == 255 || qBlue(p) == 255;
            out[x] = clipped ? 1.0f
                             : (kRed * float(qRed(p)) + kGreen * float(qGreen(p)) +
                                kBlue * float(qBlue(p))) /
                                   255.0f;
        }
        return;
    }
    }
}

CaptureImage captureFromImage(const QImage &source)
{
    const QImage image = captureReadyImage(source);
    CaptureImage c;
    c.width = image.width();
    c.height = image.height();
    c.bits = image.format() == QImage::Format_Grayscale16 || image.format() == QImage::Format_RGBX64
                 ? 16
                 : 8;
    c.grey.resize(size_t(c.width) * size_t(c.height));
    for (int y = 0; y < c.height; ++y)
        captureRow(image, y, c.grey.data() + size_t(y) * size_t(c.width));
    return c;
}

namespace
{

// Opens a capture for reading, refusing anything but a regular file without
// blocking on it (a pipe's open waits for a writer).
bool openCapture(QFile &file, QImageReader &reader, const QString &path, QSize *size,
                 QString *error)
{
    if (!openRegularFile(file, path, QIODevice::ReadOnly, error))
        return false;
    reader.setDevice(&file);
    *size = reader.size();
    if (!size->isValid()) {
        *error = reader.canRead() ? QStringLiteral("its size cannot be read from its header")
                                  : reader.errorString();
        return false;
    }
    if (qint64(size->width()) * size->height() > kMaxCapturePixels) {
        *error = QString("it claims %1 x %2 pixels, more than the %3 a camera gives")
                     .arg(size->width())
                     .arg(size->height())
                     .arg(kMaxCapturePixels);
        return false;
    }
    return true;
}

// What reading a capture of `format` takes at its peak: the decoded image,
// and its copy where it needs converting. A format the header does not tell
// is taken at the widest, 16 bits per channel with alpha.
qint64 readingBytes(QImage::Format format, const QSize &size)
{
    const qint64 pixels = qint64(size.width()) * size.height();
    const int bits =
        format == QImage::Format_Invalid ? 64 : int(QImage::toPixelFormat(format).bitsPerPixel());
    qint64 bytes = pixels * std::max(bits, 8) / 8;
    const QImage::Format ready =
        format == QImage::Format_Invalid || bits > 32 ? QImage::Format_RGBX64 : format;
    if (ready != QImage::Format_Grayscale8 && ready != QImage::Format_Grayscale16 &&
        ready != QImage::Format_RGBX64 && ready != QImage::Format_RGB32)
        bytes += pixels * 4;
    else if (format == QImage::Format_Invalid || (bits > 32 && format != QImage::Format_RGBX64))
        bytes += pixels * 8;
    return bytes;
}

} // namespace

bool captureImageSize(const QString &path, QSize *size, QString *error, qint64 *readBytes)
{
    QFile file;
    QImageReader reader;
    if (!openCapture(file, reader, path, size, error))
        return false;
    if (readBytes)
        *readBytes = readingBytes(reader.imageFormat(), *size);
    return true;
}

bool readCaptureQImage(const QString &path, const QSize &expected, QImage *image, QString *error)
{
    QFile file;
    QImageReader reader;
    QSize size;
    if (!openCapture(file, reader, path, &size, error))
        return false;
    if (size != expected) {
        *error = QString("it is %1 x %2 pixels, not %3 x %4")
                     .arg(size.width())
                     .arg(size.height())
                     .arg(expected.width())
                     .arg(expected.height());
        return false;
    }
    const QImage img = reader.read();
    if (img.isNull()) {
        *error = reader.errorString();
        return false;
    }
    if (img.size() != expected) {
        *error = QStringLiteral("its pixels do not match the size its header gives");
        return false;
    }
    *image = captureReadyImage(img);
    return true;
}

bool readCaptureImage(const QString &path, const QSize &expected, CaptureImage *image,
                      QString *error)
{
    QImage img;
    if (!readCaptureQImage(path, expected, &img, error))
        return false;
    *image = captureFromImage(img);
    return true;
}

bool naturalLess(const QString &a, const QString &b)
{
    int i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (a[i].isDigit() && b[j].isDigit()) {
            int ei = i, ej = j;
            while (ei < a.size() && a[ei].isDigit())
                ++ei;
            while (ej < b.size() && b[ej].isDigit())
                ++ej;
            // Compare the numbers without their leading zeros: the longer is
            // larger, equal lengths compare digit by digit.
            int si = i, sj = j;
            while (si < ei - 1 && a[si] == '0')
                ++si;
            while (sj < ej - 1 && b[sj] == '0')
                ++sj;
            if (ei - si != ej - sj)
                return ei - si < ej - sj;
            const int c = QStringView(a).mid(si, ei - si).compare(QStringView(b).mid(sj, ej - sj));
            if (c != 0)
                return c < 0;
            // 007 after 7
            if (ei - i != ej - j)
                return ei - i < ej - j;
            i = ei;
            j = ej;
        } else {
            const QChar ca = a[i].toLower(), cb = b[j].toLower();
            if (ca != cb)
                return ca < cb;
            ++i;
            ++j;
        }
    }
    if ((a.size() - i) != (b.size() - j))
        return a.size() - i < b.size() - j;
    return a < b;
}

QStringList captureFilesIn(const QString &directory, QStringList *skipped)
{
    const QDir dir(directory);
    // Every kind of entry, so that those not taken can be named.
    QStringList names = dir.entryList({"*.png", "*.tif", "*.tiff", "*.jpg", "*.jpeg", "*.bmp",
                                       "*.PNG", "*.TIF", "*.TIFF", "*.JPG", "*.JPEG", "*.BMP"},
                                      QDir::Files | QDir::System | QDir::Dirs | QDir::Hidden |
                                          QDir::NoDotAndDotDot);
    names.removeDuplicates();
    std::sort(names.begin(), names.end(), naturalLess);
    QStringList paths;
    for (const QString &name : names) {
        const QString path = dir.filePath(name);
        if (isRegularFile(path))
            paths << path;
        else
            *skipped << path;
    }
    return paths;
}

QByteArray float32Npy(const std::vector<float> &values, int height, int width)
{
    QByteArray bytes = float32NpyHeader(height, width);
    const size_t count = values.size();
    const int start = bytes.size();
    bytes.resize(start + int(count * sizeof(float)));
    qToLittleEndian<float>(values.data(), qsizetype(count), bytes.data() + start);
    return bytes;
}

QByteArray float32NpyHeader(int height, int width)
{
    QByteArray header = QString("{'descr': '<f4', 'fortran_order': False, 'shape': (%1, %2), }")
                            .arg(height)
                            .arg(width)
                            .toLatin1();
    // Magic, version 1.0, header length, header: padded with spaces and
    // ended by a line feed so that the data start on a multiple of 64.
    const int prefix = 10;
    const int total = ((prefix + header.size() + 1 + 63) / 64) * 64;
    header.append(QByteArray(total - prefix - header.size() - 1, ' '));
    header.append('\n');
    QByteArray bytes("\x93NUMPY\x01\x00", 8);
    const quint16 length = qToLittleEndian(quint16(header.size()));
    bytes.append(reinterpret_cast<const char *>(&length), 2);
    bytes.append(header);
    return bytes;
}

QByteArray positionNpy(const DecodedPositions &d)
{
    return float32Npy(d.position, d.height, d.width);
}

QImage positionImage(const DecodedPositions &d)
{
    QImage img(d.width, d.height, QImage::Format_Grayscale16);
    for (int y = 0; y < d.height; ++y) {
        quint16 *line = reinterpret_cast<quint16 *>(img.scanLine(y));
        for (int x = 0; x < d.width; ++x) {
            const size_t i = size_t(y) * size_t(d.width) + size_t(x);
            const float u = d.position[i];
            if (!d.valid[i] || std::isnan(u)) {
                line[x] = 0;
                continue;
            }
            const double level = 1.0 + std::round((double(u) + 1.0) / 2.0 * 65534.0);
            line[x] = quint16(std::clamp(level, 1.0, 65535.0));
        }
    }
    return img;
}

QImage validImage(const DecodedPositions &d)
{
    QImage img(d.width, d.height, QImage::Format_Grayscale8);
    for (int y = 0; y < d.height; ++y) {
        uchar *line = img.scanLine(y);
        for (int x = 0; x < d.width; ++x)
            line[x] = d.valid[size_t(y) * size_t(d.width) + size_t(x)] ? 255 : 0;
    }
    return img;
}

QImage positionColourImage(const DecodedPositions &d)
{
    QImage img(d.width, d.height, QImage::Format_RGB32);
    for (int y = 0; y < d.height; ++y) {
        QRgb *line = reinterpret_cast<QRgb *>(img.scanLine(y));
        for (int x = 0; x < d.width; ++x) {
            const size_t i = size_t(y) * size_t(d.width) + size_t(x);
            line[x] = d.valid[i] ? falseColour(d.position[i]) : qRgb(0, 0, 0);
        }
    }
    return img;
}
