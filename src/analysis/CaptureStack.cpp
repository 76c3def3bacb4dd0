#include "CaptureStack.h"

#include "CaptureImages.h"

#include <QImage>

#include <algorithm>
#include <cstring>

struct CaptureStack::Kept {
    QImage::Format format = QImage::Format_Grayscale8; // or Grayscale16, or floats
    bool floats = false;
    int depth = 1; // bytes per pixel kept
    std::vector<char> memory;
    qint64 offset = -1; // in the scratch file when not in memory
};

CaptureStack::CaptureStack(const QSize &size, const QString &scratchPath, qint64 memoryBound)
    : imageSize(size), scratchPath(scratchPath), memoryBound(memoryBound)
{
}

CaptureStack::~CaptureStack()
{
    if (scratch.isOpen()) {
        scratch.close();
        scratch.remove();
    }
}

bool CaptureStack::add(const QString &path, QString *error, bool *scratchFailed)
{
    if (scratchFailed)
        *scratchFailed = false;
    QImage image;
    if (!readCaptureQImage(path, imageSize, &image, error))
        return false;
    auto k = std::make_unique<Kept>();
    const int w = imageSize.width(), h = imageSize.height();
    if (image.format() == QImage::Format_Grayscale8 ||
        image.format() == QImage::Format_Grayscale16) {
        k->format = image.format();
        k->depth = image.format() == QImage::Format_Grayscale8 ? 1 : 2;
    } else {
        // Colour keeps its grey values, not its channels.
        k->floats = true;
        k->depth = int(sizeof(float));
    }
    const qint64 line = qint64(w) * k->depth;
    const qint64 bytes = line * h;
    std::vector<float> greyLine(k->floats ? size_t(w) : 0);
    auto lineBytes = [&](int y) -> const char * {
        if (!k->floats)
            return reinterpret_cast<const char *>(image.constScanLine(y));
        captureRow(image, y, greyLine.data());
        return reinterpret_cast<const char *>(greyLine.data());
    };
    if (inMemory + bytes <= memoryBound) {
        k->memory.resize(size_t(bytes));
        for (int y = 0; y < h; ++y)
            std::memcpy(k->memory.data() + y * line, lineBytes(y), size_t(line));
        inMemory += bytes;
    } else {
        if (scratchFailed)
            *scratchFailed = true; // until it is written
        if (!scratch.isOpen()) {
            scratch.setFileName(scratchPath);
            if (!scratch.open(QIODevice::ReadWrite | QIODevice::NewOnly)) {
                *error = QString("cannot make the scratch file '%1': %2")
                             .arg(scratchPath, scratch.errorString());
                return false;
            }
        }
        if (!scratch.seek(scratchEnd)) {
            *error = scratch.errorString();
            return false;
        }
        for (int y = 0; y < h; ++y)
            if (scratch.write(lineBytes(y), line) != line) {
                *error = QString("cannot write the scratch file '%1': %2")
                             .arg(scratchPath, scratch.errorString());
                return false;
            }
        if (!scratch.flush()) {
            *error = QString("cannot write the scratch file '%1': %2")
                         .arg(scratchPath, scratch.errorString());
            return false;
        }
        k->offset = scratchEnd;
        scratchEnd += bytes;
        if (scratchFailed)
            *scratchFailed = false;
    }
    kept.push_back(std::move(k));
    return true;
}

bool CaptureStack::rows(int c, int y, int n, float *out, QString *error) const
{
    const Kept &k = *kept[size_t(c)];
    const int w = imageSize.width();
    const qint64 line = qint64(w) * k.depth;
    const qint64 bytes = line * n;
    const char *data = nullptr;
    std::vector<char> read;
    if (k.offset < 0) {
        data = k.memory.data() + qint64(y) * line;
    } else {
        read.resize(size_t(bytes));
        if (!scratch.seek(k.offset + qint64(y) * line) ||
            scratch.read(read.data(), bytes) != bytes) {
            *error = QString("cannot read the scratch file '%1': %2")
                         .arg(scratchPath, scratch.errorString());
            return false;
        }
        data = read.data();
    }
    if (k.floats) {
        std::memcpy(out, data, size_t(bytes));
        return true;
    }
    // The kept rows seen as an image of their own, converted as a whole
    // capture's are.
    const QImage band(reinterpret_cast<const uchar *>(data), w, n, int(line), k.format);
    for (int r = 0; r < n; ++r)
        captureRow(band, r, out + size_t(r) * size_t(w));
    return true;
}

namespace
{

// The captures' rows of one band, as floats, at most this many bytes.
constexpr qint64 kBandBytes = 32 << 20;

int bandRows(int captures, int width, int height)
{
    const qint64 row = qint64(std::max(captures, 1)) * std::max(width, 1) * qint64(sizeof(float));
    return int(std::clamp<qint64>(kBandBytes / row, 1, std::max(height, 1)));
}

} // namespace

CaptureMemory captureMemory(int captures, const QSize &size, qint64 readBytes, qint64 budget,
                            qint64 keptPerPixel, qint64 afterPerPixel)
{
    const qint64 pixels = qint64(size.width()) * size.height();
    const int rows = bandRows(captures, size.width(), size.height());
    // Held whole: the positions (float) and validity (a byte); the band's
    // captures as floats and its results; the sample the limits come from.
    const qint64 band = qint64(captures) * size.width() * rows * 4 +
                        qint64(size.width()) * rows * 9 + qint64(captures) * 4 * 131072;
    const qint64 decoding = pixels * (5 + keptPerPixel) + band;
    // Once decoded, the captures go; the check and the pictures written one
    // at a time need the positions, the validity and four bytes a pixel.
    const qint64 writing = pixels * (9 + keptPerPixel + afterPerPixel);
    const qint64 whole = qint64(captures) * pixels * 4;
    CaptureMemory m;
    m.keepBound = std::clamp<qint64>(budget - std::max(readBytes, decoding), 0, whole);
    m.need = std::max(m.keepBound + std::max(readBytes, decoding), writing);
    return m;
}

bool decodeStack(const CaptureDecoder &decoder, const CaptureStack &stack, DecodedPositions *out,
                 CaptureGrid *grid, QString *error, bool modulation)
{
    const int w = stack.size().width(), h = stack.size().height(), count = stack.count();
    const std::vector<int> sampled = CaptureDecoder::sampleRows(w, h);
    std::vector<std::vector<float>> planes(static_cast<size_t>(count));
    std::vector<const float *> pointers(static_cast<size_t>(count));
    for (int c = 0; c < count; ++c) {
        std::vector<float> &plane = planes[size_t(c)];
        plane.resize(sampled.size() * size_t(w));
        for (size_t k = 0; k < sampled.size(); ++k)
            if (!stack.rows(c, sampled[k], 1, plane.data() + k * size_t(w), error))
                return false;
        pointers[size_t(c)] = plane.data();
    }
    const DecodeLimits limits = decoder.measureLimits(pointers, w, int(sampled.size()));

    *out = DecodedPositions();
    out->width = w;
    out->height = h;
    out->setValid.assign(decoder.plan().sets.size(), 0);
    out->modulationThreshold = limits.modulation;
    out->noise = limits.noise;
    out->resolution = limits.resolution;
    out->position.resize(size_t(w) * size_t(h));
    out->valid.resize(size_t(w) * size_t(h));
    if (modulation)
        out->modulation.resize(size_t(w) * size_t(h));
    const int rows = bandRows(count, w, h);
    DecodedPositions band;
    for (int y = 0; y < h; y += rows) {
        const int n = std::min(rows, h - y);
        for (int c = 0; c < count; ++c) {
            planes[size_t(c)].resize(size_t(n) * size_t(w));
            if (!stack.rows(c, y, n, planes[size_t(c)].data(), error))
                return false;
            pointers[size_t(c)] = planes[size_t(c)].data();
        }
        decoder.decodeBand(pointers, w, n, limits, &band);
        std::copy(band.position.begin(), band.position.end(),
                  out->position.begin() + qint64(y) * w);
        std::copy(band.valid.begin(), band.valid.end(), out->valid.begin() + qint64(y) * w);
        if (modulation)
            std::copy(band.modulation.begin(), band.modulation.end(),
                      out->modulation.begin() + qint64(y) * w);
        out->validCount += band.validCount;
        out->saturatedCount += band.saturatedCount;
        out->disagreeCount += band.disagreeCount;
        for (size_t s = 0; s < band.setValid.size(); ++s)
            out->setValid[s] += band.setValid[s];
    }

    // The check's grid: every stride-th pixel of every stride-th row.
    *grid = CaptureGrid();
    grid->stride = captureGridStride(w, h);
    grid->width = (w + grid->stride - 1) / grid->stride;
    grid->height = (h + grid->stride - 1) / grid->stride;
    std::vector<float> line(static_cast<size_t>(w));
    for (int c = 0; c < count; ++c) {
        std::vector<float> plane(size_t(grid->width) * size_t(grid->height));
        for (int gy = 0; gy < grid->height; ++gy) {
            if (!stack.rows(c, gy * grid->stride, 1, line.data(), error))
                return false;
            for (int gx = 0; gx < grid->width; ++gx)
                plane[size_t(gy) * size_t(grid->width) + size_t(gx)] =
                    line[size_t(gx) * size_t(grid->stride)];
        }
        grid->planes.push_back(std::move(plane));
    }
    return true;
}
