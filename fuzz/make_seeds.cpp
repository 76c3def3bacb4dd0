// Writes the seed corpus of every fuzz target from the system's own output:
// pattern files from the generators (as the window and dvkctl write them),
// burn streams from the encoder, and a few damaged variants of each.
//   make_seeds OUTDIR   ->  OUTDIR/NAME/ for the fuzzer fuzz_NAME
#include "burn/BurnProtocol.h"
#include "patterns/Generators.h"
#include "patterns/PatternFile.h"
#include "patterns/ScanTiming.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QList>

#include <cstdio>

namespace
{

int written = 0;

bool writeSeed(const QString &dir, const QString &name, const QByteArray &bytes)
{
    QDir().mkpath(dir);
    QFile f(dir + "/" + name);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size()) {
        std::fprintf(stderr, "make_seeds: cannot write %s\n", qPrintable(f.fileName()));
        return false;
    }
    ++written;
    return true;
}

QByteArray pageIndex(int page)
{
    QByteArray b;
    b.append(char((page >> 8) & 0xFF));
    b.append(char(page & 0xFF));
    return b;
}

// The data bytes of a pattern file's values, as the burn would send them.
QByteArray valuesOf(const PatternRun &run)
{
    return QByteArray(reinterpret_cast<const char *>(run.values.data()), int(run.values.size()));
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_seeds OUTDIR\n");
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    const ScanTiming timing = computeScanTiming(10000.0f);

    // Pattern files as the generators write them.
    QList<QPair<QString, PatternRun>> runs = {
        {"phase3x4", phaseShiftPatterns(timing, 3, 4)},
        {"gray2", grayCodePatterns(timing, 2)},
        {"square1", squareWavePatterns(timing, 1)},
        {"dark", fixedPattern(0)},
        {"light", fixedPattern(255)},
    };
    QList<QPair<QString, QByteArray>> files;
    for (const auto &r : runs)
        files.append({r.first, patternLines(r.second)});

    // Damaged and unusual files: CRLF line ends, no final line feed, values
    // out of range, text that does not convert, a short file, white space.
    const QByteArray dark = patternLines(fixedPattern(0));
    QByteArray crlf = dark;
    crlf.replace("\n", "\r\n");
    files.append({"dark_crlf", crlf});
    files.append({"dark_no_final_lf", dark.left(dark.size() - 1)});
    QByteArray bad = dark;
    bad.replace(0, 4, "0x100");
    files.append({"dark_value_0x100", bad});
    QByteArray mixed = patternLines(fixedPattern(255));
    mixed.replace(0, 4, " -0x1\n+7f\nzz\n\n0X7F \n  ff\n0xffffffff\n0x7fffffff");
    files.append({"light_mixed_lines", mixed});
    files.append({"short", dark.left(500 * 5)});

    for (const auto &f : files) {
        if (!writeSeed(out + "/burnfile", f.first, f.second))
            return 1;
        for (int page : {0, 1, 2, -1, 60}) {
            if (!writeSeed(out + "/pagereader", QString("%1_page%2").arg(f.first).arg(page),
                           pageIndex(page) + f.second))
                return 1;
        }
    }

    // Burn streams, whole and cut off, with the query in front of one.
    const QByteArray query = QByteArray::fromHex("9FFC01");
    for (const auto &r : runs) {
        const QByteArray values = valuesOf(r.second);
        const QByteArray stream = burnprotocol::transferBytes(burnprotocol::encodeTransfer(values));
        if (!writeSeed(out + "/decoder", r.first, stream) ||
            !writeSeed(out + "/decoder", r.first + "_cut", stream.left(stream.size() / 2)) ||
            !writeSeed(out + "/decoder", r.first + "_after_query", query + stream))
            return 1;
        // Round trip: header byte (stray count, repeat) then values; the
        // repeat reaches past a block end.
        if (!writeSeed(out + "/roundtrip", r.first, QByteArray(1, char(0x30)) + values.left(700)))
            return 1;
    }
    const QByteArray two = burnprotocol::transferBytes(
        burnprotocol::encodeTransfer(valuesOf(runs[1].second).left(1500)));
    if (!writeSeed(out + "/decoder", "two_blocks_twice", two + two) ||
        !writeSeed(out + "/roundtrip", "reserved",
                   QByteArray::fromHex("234F5F6F7F9FFF") + QByteArray::fromHex("4F5F6F7F9FFF00EC")))
        return 1;

    std::printf("make_seeds: %d seeds in %s\n", written, qPrintable(out));
    return 0;
}
