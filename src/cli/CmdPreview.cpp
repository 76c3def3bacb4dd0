// dvkctl preview: renders one page of a pattern file as the window draws it.
#include "Cli.h"

#include "burnfile/BurnFile.h"
#include "burnfile/PreviewRender.h"
#include "burnfile/ProjectedPreview.h"

#include "patterns/FileAccess.h"

#include <QBuffer>
#include <QImage>
#include <QRegularExpression>

namespace cli
{

namespace
{

// Larger canvases are refused rather than allocated: the sheet alone is
// W x 2H pixels of four bytes.
constexpr int kMaxCanvasSide = 8192;

bool parseSize(const QString &text, QSize *size)
{
    static const QRegularExpression form("^(\\d{1,6})[xX](\\d{1,6})$");
    const QRegularExpressionMatch m = form.match(text.trimmed());
    if (!m.hasMatch())
        return false;
    const int w = m.captured(1).toInt();
    const int h = m.captured(2).toInt();
    if (w < 1 || h < 1 || w > kMaxCanvasSide || h > kMaxCanvasSide)
        return false;
    *size = QSize(w, h);
    return true;
}

// The output: named, not the input, and a place a file can be renamed into.
// Returns -1 to go on, or the exit code.
int outputFrom(const QCommandLineParser &parser, const QCommandLineOption &output,
               const QString &input, QString *outPath)
{
    if (!parser.isSet(output)) {
        err("dvkctl preview: no output given (-o OUT.png)");
        return ExitUsage;
    }
    if (!outputOption(parser, "o", "dvkctl preview", outPath))
        return ExitUsage;
    // Written in place of the input, the pattern file would be lost.
    if (sameExistingFile(*outPath, input)) {
        err(QString("dvkctl preview: the output '%1' is the input file").arg(*outPath));
        return ExitUsage;
    }
    if (isForeignLinkInSharedFolder(*outPath)) {
        err(QString("dvkctl preview: cannot write '%1': a link owned by another user")
                .arg(*outPath));
        return ExitUsage;
    }
    // Written through a new file renamed into place: a write that fails
    // leaves any file already there as it was. A device or pipe is no place
    // for it.
    if (isNonRegularFile(*outPath)) {
        err(QString("dvkctl preview: cannot write '%1': %2").arg(*outPath, notRegularFileText()));
        return ExitUsage;
    }
    return -1;
}

// Draws page `page` (from 1) of `file` and writes the PNG. Returns the exit
// code.
int writePreview(const QString &file, int page, const QSize &size, int scanValue,
                 const QString &outPath)
{
    // The waveform scales to the whole file's range, as after a load.
    const BurnFileScan scan = scanBurnFile(file);
    if (!scan.opened) {
        err(QString("dvkctl preview: cannot open '%1': %2").arg(file, scan.error));
        return ExitUsage;
    }
    // A file shorter than one page still shows its lines on page 1.
    const qint64 pages = qMax<qint64>(scan.pages(), 1);
    if (page < 1 || page > pages) {
        err(QString("dvkctl preview: --page: %1 is not a page of '%2' (1 to %3)")
                .arg(page)
                .arg(file)
                .arg(pages));
        return ExitUsage;
    }
    const BurnPage values = readBurnPage(file, page - 1);
    if (!values.opened) {
        err(QString("dvkctl preview: cannot open '%1': %2").arg(file, values.error));
        return ExitUsage;
    }
    const QVector<int> drawn =
        scanValue > 0 ? projectedPage(values.values, computeScanTiming(float(scanValue)))
                      : values.values;
    const QImage sheet = renderPreviewSheet(drawn, size, waveRange(scan.min, scan.max));
    QByteArray png;
    QBuffer encoded(&png);
    if (!encoded.open(QIODevice::WriteOnly) || !sheet.save(&encoded, "PNG")) {
        err(QString("dvkctl preview: cannot encode the picture for '%1'").arg(outPath));
        return ExitFailed;
    }
    QString why;
    bool notMade = false;
    if (!replaceFileWith(outPath, png, &why, &notMade)) {
        err(QString("dvkctl preview: cannot write '%1': %2").arg(outPath, why));
        // Never made: the target is as it was, and the fault is the name's.
        return notMade ? ExitUsage : ExitFailed;
    }
    return ExitOk;
}

} // namespace

int cmdPreview(const QStringList &args)
{
    QCommandLineParser parser;
    const QCommandLineOption pageOption("page", "Page to draw, from 1 (default 1).", "P", "1");
    const QCommandLineOption output(QStringList{"o", "output"}, "The PNG file to write.",
                                    "OUT.png");
    const QCommandLineOption sizeOption(
        "size", "Size of each drawing (default 1100x140); the PNG is W x 2H.", "WxH", "1100x140");
    parser.addOption(pageOption);
    parser.addOption(output);
    parser.addOption(sizeOption);
    const QCommandLineOption projected(
        "projected", "Draw the page as it lands on the scene: resampled to even steps in "
                     "projected position (needs --scan-value).");
    const QCommandLineOption scanValueOpt(
        "scan-value", "The projector's scan value for --projected (1 to 16276).", "F");
    parser.addOption(projected);
    parser.addOption(scanValueOpt);
    parser.addPositionalArgument("FILE", "The pattern file.");
    const int rc = parse(parser, args,
                         "Renders page P of a pattern file as the window draws it: the waveform "
                         "above the stripe picture, on white. With --projected the page is "
                         "drawn as it lands on the scene, at even steps in projected position.\n"
                         "Exit: 0 written, 1 the PNG could not be written in full, 2 bad usage, "
                         "unreadable file or an output that cannot be made.");
    if (rc >= 0)
        return rc;
    QString file;
    if (!oneFile(parser, "dvkctl preview", &file))
        return ExitUsage;
    QString outPath;
    const int outputRc = outputFrom(parser, output, file, &outPath);
    if (outputRc >= 0)
        return outputRc;
    QSize size;
    if (!parseSize(parser.value(sizeOption), &size)) {
        err(QString("dvkctl preview: --size: bad size '%1' (WxH, each 1 to %2)")
                .arg(parser.value(sizeOption))
                .arg(kMaxCanvasSide));
        return ExitUsage;
    }
    int page = 1;
    if (!intOption(parser, "page", &page))
        return ExitUsage;
    int scanValue = 0; // none: the page as it is sampled
    if (parser.isSet(projected)) {
        if (!scanValueOption(parser, "dvkctl preview --projected", &scanValue))
            return ExitUsage;
    } else if (parser.isSet(scanValueOpt)) {
        err("dvkctl preview: --scan-value applies only with --projected");
        return ExitUsage;
    }
    return writePreview(file, page, size, scanValue, outPath);
}

} // namespace cli
