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
int run(const Call &call);
} // namespace

const Command previewCommand{
    "preview",
    "render a page of a pattern file to PNG",
    "Renders page P of a pattern file as the window draws it: the waveform above the stripe "
    "picture, on white. With --projected the page is drawn as it lands on the scene, at even "
    "steps in projected position.\n"
    "Exit: 0 written, 1 the PNG could not be written in full, 2 bad usage, unreadable file or an "
    "output that cannot be made.",
    {{"page", "Page to draw, from 1 (default 1).", "P", "1"},
     {{"o", "output"}, "The PNG file to write.", "OUT.png"},
     {"size", "Size of each drawing (default 1100x140); the PNG is W x 2H.", "WxH", "1100x140"},
     {"projected", "Draw the page as it lands on the scene: resampled to even steps in projected "
                   "position (needs --scan-value)."},
     {"scan-value", "The projector's scan value for --projected (1 to 16276).", "F"}},
    {{"FILE", "The pattern file.", {}}},
    {},
    run};

namespace
{

const QString kName = previewCommand.tag();

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
int outputFrom(const QCommandLineParser &parser, const QString &input, QString *outPath)
{
    if (!parser.isSet("output")) {
        err(kName + ": no output given (-o OUT.png)");
        return ExitUsage;
    }
    if (!outputOption(parser, "o", kName, outPath))
        return ExitUsage;
    // Written in place of the input, the pattern file would be lost.
    if (sameExistingFile(*outPath, input)) {
        err(QString(kName + ": the output '%1' is the input file").arg(*outPath));
        return ExitUsage;
    }
    if (isForeignLinkInSharedFolder(*outPath)) {
        err(QString(kName + ": cannot write '%1': a link owned by another user").arg(*outPath));
        return ExitUsage;
    }
    // Written through a new file renamed into place: a write that fails
    // leaves any file already there as it was. A device or pipe is no place
    // for it.
    if (isNonRegularFile(*outPath)) {
        err(QString(kName + ": cannot write '%1': %2").arg(*outPath, notRegularFileText()));
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
        err(QString(kName + ": cannot open '%1': %2").arg(file, scan.error));
        return ExitUsage;
    }
    // A file shorter than one page still shows its lines on page 1.
    const qint64 pages = qMax<qint64>(scan.pages(), 1);
    if (page < 1 || page > pages) {
        err(QString(kName + ": --page: %1 is not a page of '%2' (1 to %3)")
                .arg(page)
                .arg(file)
                .arg(pages));
        return ExitUsage;
    }
    const BurnPage values = readBurnPage(file, page - 1);
    if (!values.opened) {
        err(QString(kName + ": cannot open '%1': %2").arg(file, values.error));
        return ExitUsage;
    }
    const QVector<int> drawn =
        scanValue > 0 ? projectedPage(values.values, computeScanTiming(float(scanValue)))
                      : values.values;
    const QImage sheet = renderPreviewSheet(drawn, size, waveRange(scan.min, scan.max));
    QByteArray png;
    QBuffer encoded(&png);
    if (!encoded.open(QIODevice::WriteOnly) || !sheet.save(&encoded, "PNG")) {
        err(QString(kName + ": cannot encode the picture for '%1'").arg(outPath));
        return ExitFailed;
    }
    QString why;
    bool notMade = false;
    if (!replaceFileWith(outPath, png, &why, &notMade)) {
        err(QString(kName + ": cannot write '%1': %2").arg(outPath, why));
        // Never made: the target is as it was, and the fault is the name's.
        return notMade ? ExitUsage : ExitFailed;
    }
    return ExitOk;
}

int run(const Call &call)
{
    const QCommandLineParser &parser = call.parser;
    QString file;
    if (!oneFile(parser, kName, &file))
        return ExitUsage;
    QString outPath;
    const int outputRc = outputFrom(parser, file, &outPath);
    if (outputRc >= 0)
        return outputRc;
    QSize size;
    if (!parseSize(parser.value("size"), &size)) {
        err(QString(kName + ": --size: bad size '%1' (WxH, each 1 to %2)")
                .arg(parser.value("size"))
                .arg(kMaxCanvasSide));
        return ExitUsage;
    }
    int page = 1;
    if (!intOption(parser, "page", &page))
        return ExitUsage;
    int scanValue = 0; // none: the page as it is sampled
    if (parser.isSet("projected")) {
        if (!scanValueOption(parser, kName + " --projected", &scanValue))
            return ExitUsage;
    } else if (parser.isSet("scan-value")) {
        err(kName + ": --scan-value applies only with --projected");
        return ExitUsage;
    }
    return writePreview(file, page, size, scanValue, outPath);
}

} // namespace

} // namespace cli
