// The burn-file readers on arbitrary file contents: the line conversion, the
// scan the loader runs and the check the burn runs. They read the same lines
// the same way, so they must agree with each other and with the page reader.
#include "FuzzSupport.h"

#include "burnfile/BurnFile.h"

#include <QByteArray>
#include <QList>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static MemoryFile file;
    file.set(data, size);

    const BurnFileScan scan = scanBurnFile(file.path());
    const BurnFileCheck check = checkBurnFile(file.path());
    FUZZ_CHECK(scan.opened && check.scan.opened);
    FUZZ_CHECK(scan.count == check.scan.count);
    FUZZ_CHECK(scan.min == check.scan.min && scan.max == check.scan.max);
    FUZZ_CHECK(scan.min <= 255 && scan.max >= 0);
    FUZZ_CHECK(scan.count <= qint64(size) + 1);

    switch (check.status) {
    case BurnFileStatus::Burnable:
        FUZZ_CHECK(scan.count >= kSamplesPerPage && scan.count <= kMaxBurnSamples);
        FUZZ_CHECK(qint64(check.values.size()) == scan.count);
        FUZZ_CHECK(scan.min >= 0 && scan.max <= 255);
        FUZZ_CHECK(check.reason.isEmpty() && check.badLine == 0);
        break;
    case BurnFileStatus::CannotOpen:
        FUZZ_CHECK(false);
        break;
    case BurnFileStatus::NoWholePage:
        FUZZ_CHECK(scan.count < kSamplesPerPage && check.values.empty());
        break;
    case BurnFileStatus::TooManyValues:
        FUZZ_CHECK(scan.count > kMaxBurnSamples && check.values.empty());
        break;
    case BurnFileStatus::ValueOutOfRange:
        FUZZ_CHECK(check.badLine >= 1 && check.badLine <= scan.count);
        FUZZ_CHECK(check.badValue < 0 || check.badValue > 255);
        FUZZ_CHECK(check.badText.size() <= 40);
        FUZZ_CHECK(check.values.empty() && !check.reason.isEmpty());
        break;
    case BurnFileStatus::NotANumber:
        FUZZ_CHECK(check.badLine >= 1 && check.badLine <= scan.count);
        FUZZ_CHECK(check.badValue == 0);
        FUZZ_CHECK(check.badText.size() <= 40);
        FUZZ_CHECK(check.values.empty() && !check.reason.isEmpty());
        break;
    }

    // The page reader gives the same values, page after page.
    if (check.burnable()) {
        size_t at = 0;
        for (qint64 p = 0; p <= scan.pages(); ++p) {
            const BurnPage page = readBurnPage(file.path(), p);
            FUZZ_CHECK(page.opened);
            for (int v : page.values) {
                FUZZ_CHECK(at < check.values.size());
                FUZZ_CHECK(v == int(check.values[at]));
                ++at;
            }
        }
        FUZZ_CHECK(at == check.values.size());
    }

    // The conversion itself, on the input's lines: a number written back
    // reads as itself.
    for (const QByteArray &line :
         QByteArray::fromRawData(reinterpret_cast<const char *>(data), int(size)).split('\n')) {
        const int v = convertBurnLine(QString::fromUtf8(line));
        if (v >= 0) {
            FUZZ_CHECK(convertBurnLine(QString::number(v, 16)) == v);
            FUZZ_CHECK(convertBurnLine("0x" + QString::number(v, 16).toUpper()) == v);
        }
    }
    return 0;
}
