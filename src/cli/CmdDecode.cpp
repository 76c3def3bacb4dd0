// dvkctl decode: camera captures of the projected sets into the projected
// position per pixel, and the check that each capture shows its page.
#include "CaptureRun.h"
#include "Cli.h"

#include <QBuffer>
#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>

namespace cli
{

namespace
{
int run(const Call &call);
} // namespace

const Command decodeCommand{
    "decode",
    "decode camera captures of projected sets, check the burn",
    "Decodes camera captures of projected pattern sets into the projected position u that each "
    "camera pixel sees (-1 at the window's negative edge, +1 at its positive edge), and checks "
    "that each capture shows its page. Writes to OUTDIR: position.npy (float32, NaN where not "
    "valid), position.png (16-bit: 1 + round((u + 1) / 2 x 65534), 0 where not valid), "
    "valid.png, position-colour.png and report.json.\n"
    "Exit: 0 every capture shows its page, 1 the check found a problem, 2 bad usage or "
    "unreadable input.",
    captureSetOptions() +
        QList<QCommandLineOption>{
            {{"o", "output"}, "The directory to write the results to.", "OUTDIR"},
            {"json", "The report as one JSON object on standard output."}},
    {{"FILE", "The pattern file the projector holds.", {}},
     {"CAPTURE",
      "The captures, one per page the sets use, in page order; a directory stands for its image "
      "files in natural name order.",
      "CAPTURE..."}},
    {"set"},
    run};

namespace
{

const QString kName = decodeCommand.tag();

QByteArray png(const QImage &image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

int run(const Call &call)
{
    const QCommandLineParser &parser = call.parser;
    int rc = -1;

    if (parser.positionalArguments().isEmpty()) {
        err(QString("%1: no FILE given").arg(kName));
        return ExitUsage;
    }
    int scanValue = 0;
    if (!scanValueOption(parser, kName, &scanValue))
        return ExitUsage;
    if (!parser.isSet("output")) {
        err(QString("%1: -o OUTDIR is required").arg(kName));
        return ExitUsage;
    }
    QString outDir;
    if (!outputOption(parser, "o", kName, &outDir))
        return ExitUsage;
    if (QFileInfo(outDir).exists() && !QFileInfo(outDir).isDir()) {
        err(QString("%1: -o: '%2' is not a directory").arg(kName, outDir));
        return ExitUsage;
    }
    PatternSets sets;
    if ((rc = readPatternSets(parser, kName, &sets)) >= 0)
        return rc;
    QStringList capturePaths;
    if ((rc = captureFiles(kName, parser.positionalArguments().mid(1), int(sets.plan.pages.size()),
                           &capturePaths)) >= 0)
        return rc;
    const QStringList outputs = {"position.npy", "position.png", "valid.png", "position-colour.png",
                                 "report.json"};
    if ((rc = checkOutputs(kName, outDir, outputs, QStringList(sets.file) + capturePaths)) >= 0)
        return rc;

    DecodeRun run;
    if ((rc = decodeCaptures(kName, sets, capturePaths, &run)) >= 0)
        return rc;
    const QJsonObject report = decodeReport(sets, run);
    const DecodedPositions &decoded = run.decoded;
    if ((rc = writeOutputs(
             kName, outDir,
             {{"position.npy", positionNpy(decoded)},
              {"position.png", png(positionImage(decoded))},
              {"valid.png", png(validImage(decoded))},
              {"position-colour.png", png(positionColourImage(decoded))},
              {"report.json", QJsonDocument(report).toJson(QJsonDocument::Indented)}})) >= 0)
        return rc;

    if (parser.isSet("json")) {
        outLine(QString::fromUtf8(QJsonDocument(report).toJson(QJsonDocument::Compact)));
    } else {
        printDecodeSummary(sets, run);
        outLine(QString("results in %1").arg(QDir::toNativeSeparators(outDir)));
    }
    // A report that never reached standard output is caught on the way out,
    // as for every subcommand.
    return run.check.consistent ? ExitOk : ExitFailed;
}

} // namespace

} // namespace cli
