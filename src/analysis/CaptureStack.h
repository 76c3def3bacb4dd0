#ifndef DVK_CAPTURESTACK_H
#define DVK_CAPTURESTACK_H

// The captures of a run, each read once and kept at its file's own depth
// (grey values as 8 or 16 bits, colour as its grey floats): in memory up to
// a bound, beyond it in a scratch file. Decoding then takes them a band of
// rows at a time, so that a large view never needs every capture whole as
// floats.

#include "CaptureCheck.h"
#include "CaptureDecoder.h"

#include <QFile>
#include <QSize>
#include <QString>

#include <memory>
#include <vector>

class CaptureStack
{
public:
    // Captures of `size`; up to memoryBound bytes of them kept in memory,
    // the rest in a new file at scratchPath (made when first needed,
    // removed with the stack).
    CaptureStack(const QSize &size, const QString &scratchPath, qint64 memoryBound);
    ~CaptureStack();
    CaptureStack(const CaptureStack &) = delete;
    CaptureStack &operator=(const CaptureStack &) = delete;

    // Reads the capture at `path` (of the stack's size) and keeps it; on
    // failure says why in *error (without the path), and *scratchFailed
    // tells a scratch file that could not be written (a full disk) from a
    // capture that could not be read.
    bool add(const QString &path, QString *error, bool *scratchFailed = nullptr);

    int count() const { return int(kept.size()); }
    QSize size() const { return imageSize; }
    qint64 memoryBytes() const { return inMemory; }

    // Rows y .. y + n - 1 of capture c as grey values (shares of full scale),
    // n x width floats into out: the values readCaptureImage gives.
    bool rows(int c, int y, int n, float *out, QString *error) const;

private:
    struct Kept;
    QSize imageSize;
    QString scratchPath;
    qint64 memoryBound;
    qint64 inMemory = 0;
    qint64 scratchEnd = 0;
    mutable QFile scratch;
    std::vector<std::unique_ptr<Kept>> kept;
};

// Memory for decoding `captures` captures of `size`, reading the largest
// taking readBytes at its peak: what the run needs in all, and how much of
// the captures may stay in memory (the rest goes to the scratch file).
// The run fits when need <= budget.
struct CaptureMemory {
    qint64 need = 0;
    qint64 keepBound = 0;
};
// keptPerPixel: bytes a pixel the caller keeps from decoding on (the
// modulation, say); afterPerPixel: bytes a pixel it needs once the captures
// are gone.
CaptureMemory captureMemory(int captures, const QSize &size, qint64 readBytes, qint64 budget,
                            qint64 keptPerPixel = 0, qint64 afterPerPixel = 0);

// Decodes the stack band by band into *out (positions and validity of the
// whole view; modulation left empty) and gathers the check's grid of the
// captures; the positions are those CaptureDecoder::decode gives for the
// same captures whole, and so is the modulation when `modulation` asks for
// it. On failure (the scratch file unreadable) says why.
bool decodeStack(const CaptureDecoder &decoder, const CaptureStack &stack, DecodedPositions *out,
                 CaptureGrid *grid, QString *error, bool modulation = false);

#endif
