// decode's way through captures of any size the headers allow: kept at
// their own depth and decoded a band of rows at a time.
#include "CaptureRun.h"

#include "Cli.h"

#include "analysis/CaptureStack.h"

#include <QElapsedTimer>

namespace cli
{

int decodeCaptureStack(const QString &command, const PatternSets &sets, const QStringList &paths,
                       const QString &scratchPath, DecodeRun *run)
{
    QSize size;
    qint64 readBytes = 0;
    const int rc = captureSizes(command, paths, &size, &readBytes);
    if (rc >= 0)
        return rc;
    const CaptureMemory memory = captureMemory(paths.size(), size, readBytes, kDecodeMemory);
    if (memory.need > kDecodeMemory) {
        err(QString("%1: decoding %2 captures of %3 x %4 pixels needs about %5 MB of memory; "
                    "it may use %6 MB")
                .arg(command)
                .arg(paths.size())
                .arg(size.width())
                .arg(size.height())
                .arg((memory.need + (1 << 20) - 1) >> 20)
                .arg(kDecodeMemory >> 20));
        return ExitUsage;
    }
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
        if (!decodeStack(decoder, stack, &run->decoded, &grid, &why)) {
            err(QString("%1: %2").arg(command, why));
            return ExitFailed;
        }
    }
    run->decodeMs = timer.restart();
    run->check = checkCaptures(decoder, sets.pages, grid, run->decoded);
    run->checkMs = timer.restart();
    return -1;
}

} // namespace cli
