// The page reader and the page drawing on arbitrary files and page numbers:
// the first two bytes choose the page (negative and far past the end
// included), the rest is the file.
#include "FuzzSupport.h"

#include "burnfile/BurnFile.h"
#include "burnfile/PreviewRender.h"

#include <QImage>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    static MemoryFile file;
    const qint64 pageIndex = qint64(int16_t(uint16_t(data[0]) << 8 | data[1])) % 200;
    file.set(data + 2, size - 2);

    const BurnFileScan scan = scanBurnFile(file.path());
    const BurnPage page = readBurnPage(file.path(), pageIndex);
    FUZZ_CHECK(scan.opened && page.opened);
    const qint64 first = qMax<qint64>(pageIndex, 0) * kSamplesPerPage;
    const qint64 expected = qBound<qint64>(0, scan.count - first, kSamplesPerPage);
    FUZZ_CHECK(page.values.size() == expected);
    for (int v : page.values)
        FUZZ_CHECK(v >= scan.min && v <= scan.max);

    // Drawn small: the drawing's arithmetic, not its pixels, is under test.
    const WaveRange range = waveRange(scan.min, scan.max);
    const QSize canvas(37, 11);
    const QImage wave = renderWave(page.values, canvas, range);
    const QImage picture = renderPicture(page.values, canvas);
    FUZZ_CHECK(wave.size() == canvas && picture.size() == canvas);
    return 0;
}
