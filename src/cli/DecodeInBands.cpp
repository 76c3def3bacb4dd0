// decode's way through captures of any size the headers allow: kept at
// their own depth and decoded a band of rows at a time.
#include "CaptureRun.h"

#include "Cli.h"

#include "analysis/CaptureStack.h"

#include <QElapsedTimer>

namespace cli
{

int decodeCaptureStack(const QString &command, const PatternSets &sets, const QStringList &paths,
                       const QString &scratchPath, DecodeRun *run, bool intensity,
                       qint64 afterPerPixel)
{
    QSize size;
    qint64 readBytes = 0;
    const int rc = captureSizes(command, paths, &size, &readBytes);
    if (rc >= 0)
        return rc;
    // The intensity, light reference or modulation, is a float a pixel.
    const CaptureMemory memory = captureMemory(paths.size(), size, readBytes, kDecodeMemory,
                                               intensity ? 4 : 0, afterPerPixel);
    if (memory.need > kDecodeMemory)
        return memoryRefused(command, paths.size(), size, memory.need);
    QElapsedTimer timer;
    timer.start();
    run->capturePaths = paths;
    run->width = size.width();
    run->height = size.height();
    const CaptureDecoder decoder(sets.plan, sets.timing);
    CaptureGrid grid;
    {
        CaptureStack stack(size, scratchPath, memory.keepBound);
        for (const QString &path : paths) {
            QString why;
            bool scratchFailed = false;
            if (!stack.add(path, &why, &scratchFailed)) {
                if (scratchFailed) {
                    err(QString("%1: %2").arg(command, why));
                    return ExitFailed;
                }
                err(QString("%1: cannot read capture '%2': %3").arg(command, path, why));
                return ExitUsage;
            }
        }
        run->readMs = timer.restart();
        QString why;
        const int light =
            sets.plan.light < 0
                ? -1
                : sets.plan.captureOfPage(sets.plan.sets[size_t(sets.plan.light)].page);
        if (!decodeStack(decoder, stack, &run->decoded, &grid, &why, intensity && light < 0)) {
            err(QString("%1: %2").arg(command, why));
            return ExitFailed;
        }
        if (intensity && light >= 0) {
            run->images.assign(size_t(paths.size()), CaptureImage());
            CaptureImage &image = run->images[size_t(light)];
            image.width = size.width();
            image.height = size.height();
            image.grey.resize(size_t(size.width()) * size_t(size.height()));
            if (!stack.rows(light, 0, size.height(), image.grey.data(), &why)) {
                err(QString("%1: %2").arg(command, why));
                return ExitFailed;
            }
        }
    }
    run->decodeMs = timer.restart();
    run->check = checkCaptures(decoder, sets.pages, grid, run->decoded);
    run->checkMs = timer.restart();
    return -1;
}

} // namespace cli
