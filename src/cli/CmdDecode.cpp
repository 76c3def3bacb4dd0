// dvkctl decode: camera captures of the projected sets into the projected
// position per pixel, and the check that each capture shows its page.
#include "CaptureRun.h"
#include "Cli.h"
#include "OutputSet.h"
#include "Stop.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageWriter>
#include <QJsonDocument>
#include <QtEndian>

#include <cstdlib>
#include <functional>
#include <memory>

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
    captureSetOptions() + resultFolderOptions(),
    captureArguments(),
    {"set"},
    run};

namespace
{

const QString kName = decodeCommand.tag();

// The files decode writes into OUTDIR.
const QStringList kOutputs{"position.npy", "position.png", "valid.png", "position-colour.png",
                           "report.json"};

bool stagePng(const OutputSet &outputs, const QString &name, const std::function<QImage()> &make)
{
    return stageFile(outputs, kName, name, [&](QFile &file) {
        const QImage image = make();
        return !image.isNull() && QImageWriter(&file, "PNG").write(image);
    });
}

// position.npy a chunk at a time, so that no second copy is made.
bool writeNpy(QFile &file, const DecodedPositions &d)
{
    const QByteArray header = float32NpyHeader(d.height, d.width);
    if (file.write(header) != header.size())
        return false;
    const size_t chunk = size_t(1) << 20;
    std::vector<float> little(std::min(chunk, d.position.size()));
    for (size_t at = 0; at < d.position.size(); at += chunk) {
        const size_t n = std::min(chunk, d.position.size() - at);
        qToLittleEndian<float>(d.position.data() + at, qsizetype(n), little.data());
        const qint64 bytes = qint64(n * sizeof(float));
        if (file.write(reinterpret_cast<const char *>(little.data()), bytes) != bytes)
            return false;
    }
    return true;
}

// Every result staged, then all put in place at once.
int writeResults(OutputSet &outputs, const DecodedPositions &decoded, const QByteArray &json)
{
    const bool staged =
        stageFile(outputs, kName, "position.npy", [&](QFile &f) { return writeNpy(f, decoded); }) &&
        stagePng(outputs, "position.png", [&] { return positionImage(decoded); }) &&
        stagePng(outputs, "valid.png", [&] { return validImage(decoded); }) &&
        stagePng(outputs, "position-colour.png", [&] { return positionColourImage(decoded); }) &&
        stageFile(outputs, kName, "report.json",
                  [&](QFile &f) { return f.write(json) == json.size(); });
    if (!staged)
        return ExitFailed;
    return commitOutputs(outputs, kName);
}

int decodeRun(const QCommandLineParser &parser)
{
    QString outDir;
    int scanValue = 0;
    int rc = checkRunStart(parser, kName, "OUTDIR", true, &scanValue, &outDir);
    if (rc >= 0)
        return rc;
    // OUTDIR must take the results before any input is read. A stop then
    // leaves it as it was (or, once the results are being put in place, as
    // this run leaves it).
    OutputSet outputs("decode", outDir, kOutputs);
    std::unique_ptr<StopGuard> guard;
    if ((rc = prepareOutputs(outputs, kName, outDir, &guard)) >= 0)
        return rc;
    PatternSets sets;
    QStringList capturePaths;
    rc = readPatternSets(parser, kName, &sets);
    if (rc < 0)
        rc = captureFiles(kName, parser.positionalArguments().mid(1), int(sets.plan.pages.size()),
                          &capturePaths);
    if (rc < 0)
        rc = checkOutputs(kName, outDir, kOutputs, QStringList(sets.file) + capturePaths);
    if (rc >= 0)
        return rc;
    DecodeRun run;
    if ((rc = decodeCaptureStack(kName, sets, capturePaths, outputs.stagedPath("captures.scratch"),
                                 &run)) >= 0)
        return rc;
    const QJsonObject report = decodeReport(sets, run);
    if ((rc = writeResults(outputs, run.decoded,
                           QJsonDocument(report).toJson(QJsonDocument::Indented))) >= 0)
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

int run(const Call &call)
{
    // OUTDIR stays as it was when memory runs out.
    return unlessMemoryRunsOut(kName, [&call] { return decodeRun(call.parser); });
}

} // namespace

} // namespace cli
