// dvkctl decode: camera captures of the projected sets into the projected
// position per pixel, and the check that each capture shows its page.
#include "Cli.h"

#include "OutputSet.h"
#include "Stop.h"
#include "analysis/CaptureCheck.h"
#include "analysis/CaptureDecoder.h"
#include "analysis/CaptureImages.h"
#include "analysis/CaptureStack.h"
#include "analysis/PatternAnalysis.h"
#include "patterns/FileAccess.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImageWriter>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtEndian>

#include <cmath>
#include <cstdlib>
#include <functional>
#include <new>

namespace cli
{

namespace
{

const char *kName = "dvkctl decode";

QJsonValue number(double v)
{
    return std::isfinite(v) ? QJsonValue(v) : QJsonValue();
}

// Rounded for the report: four decimals say enough.
double rounded(double v)
{
    return std::round(v * 10000.0) / 10000.0;
}

// The files decode writes into OUTDIR.
const QStringList kOutputs{"position.npy", "position.png", "valid.png", "position-colour.png",
                           "report.json"};

// What a run may allocate: with the program itself, under a gigabyte.
constexpr qint64 kMemoryBudget = qint64(900) << 20;

// A run's inputs as the command line gives them, and what is found of them.
struct Run {
    QString file;
    QString outDir;
    int scanValue = 0;
    bool json = false;
    std::vector<CaptureSetRequest> sets;
    CapturePlan plan;
    QStringList capturePaths;
    std::vector<std::vector<int>> pages; // the file's, for the check
    QSize size;
    qint64 readBytes = 0; // reading the largest capture, at its peak
};

// What decoding found, for the report.
struct Found {
    DecodedPositions decoded;
    CaptureCheckResult check;
    qint64 readMs = 0, decodeMs = 0, checkMs = 0;
};

// A set's pages must hold what the decoder expects of them: a generated set
// that decodes as intended, an all-dark or all-light reference.
bool setMatchesFile(const CaptureSetRequest &set, const PatternFileValues &values,
                    const ScanTiming &timing, QString *why)
{
    if (set.isReference()) {
        const int level = set.kind == CaptureSetKind::Dark ? 0 : 255;
        const qint64 first = qint64(set.page - 1) * kSamplesPerPage;
        for (qint64 line = first; line < first + kSamplesPerPage; ++line)
            if (values.values[size_t(line)] != level) {
                *why = QString("%1: line %2 holds 0x%3, not 0x%4 throughout")
                           .arg(set.text())
                           .arg(line + 1)
                           .arg(values.values[size_t(line)], 0, 16)
                           .arg(level, 2, 16, QChar('0'));
                return false;
            }
        return true;
    }
    const PatternSetAnalysis a = analyzePatternSet(values, timing, set.pattern);
    if (!a.ok) {
        *why = QString("%1 does not decode as the generator lays it out for this scan value "
                       "(dvkctl analyze says more): %2")
                   .arg(set.text(), a.problems.join("; "));
        return false;
    }
    return true;
}

int parseOptions(const QStringList &args, QCommandLineParser &parser, Run *run)
{
    parser.addPositionalArgument("FILE", "The pattern file the projector holds.");
    parser.addPositionalArgument(
        "CAPTURE",
        "The captures, one per page the sets use, in page order; a directory "
        "stands for its image files in natural name order.",
        "CAPTURE...");
    parser.addOption({"scan-value", "The projector's scan value (1 to 16276).", "F"});
    parser.addOption({"set",
                      "A captured set: gray:M@P, phase:NxS@P, square:S@P, or a reference "
                      "dark@P or light@P; its first page is P. May be given more than once.",
                      "SET"});
    parser.addOption({{"o", "output"}, "The directory to write the results to.", "OUTDIR"});
    parser.addOption({"json", "The report as one JSON object on standard output."});
    const int rc = parse(
        parser, args,
        "Decodes camera captures of projected pattern sets into the projected position u "
        "that each camera pixel sees (-1 at the window's negative edge, +1 at its positive "
        "edge), and checks that each capture shows its page. Writes to OUTDIR: position.npy "
        "(float32, NaN where not valid), position.png (16-bit: 1 + round((u + 1) / 2 x 65534), "
        "0 where not valid), valid.png, position-colour.png and report.json.\n"
        "Exit: 0 every capture shows its page, 1 the check found a problem, 2 bad usage or "
        "unreadable input.",
        {"set"});
    if (rc >= 0)
        return rc;
    const QStringList positional = parser.positionalArguments();
    if (positional.isEmpty()) {
        err(QString("%1: no FILE given").arg(kName));
        return ExitUsage;
    }
    run->file = positional.first();
    run->json = parser.isSet("json");
    if (!scanValueOption(parser, kName, &run->scanValue))
        return ExitUsage;
    if (!parser.isSet("output")) {
        err(QString("%1: -o OUTDIR is required").arg(kName));
        return ExitUsage;
    }
    if (!outputOption(parser, "o", kName, &run->outDir))
        return ExitUsage;
    if (QFileInfo(run->outDir).exists() && !QFileInfo(run->outDir).isDir()) {
        err(QString("%1: -o: '%2' is not a directory").arg(kName, run->outDir));
        return ExitUsage;
    }
    return -1;
}

int planSets(const QStringList &setTexts, Run *run)
{
    if (setTexts.isEmpty()) {
        err(QString("%1: give at least one --set").arg(kName));
        return ExitUsage;
    }
    for (const QString &text : setTexts) {
        CaptureSetRequest request;
        QString why;
        if (!parseCaptureSetRequest(text, &request, &why)) {
            err(QString("%1: --set %2").arg(kName, why));
            return ExitUsage;
        }
        run->sets.push_back(request);
    }
    QString why;
    if (!planCaptureDecode(run->sets, &run->plan, &why)) {
        err(QString("%1: %2").arg(kName, why));
        return ExitUsage;
    }
    return -1;
}

// The captures' paths, a directory standing for its images; nothing is
// opened yet.
int gatherCaptures(const QStringList &arguments, Run *run)
{
    for (const QString &arg : arguments) {
        const QFileInfo info(arg);
        if (info.isDir()) {
            QStringList skipped;
            const QStringList inDir = captureFilesIn(arg, &skipped);
            for (const QString &path : skipped)
                err(QString("%1: skipping '%2': %3").arg(kName, path, notRegularFileText()));
            if (inDir.isEmpty()) {
                err(QString("%1: directory '%2' holds no image file").arg(kName, arg));
                return ExitUsage;
            }
            run->capturePaths << inDir;
        } else if (!info.exists()) {
            err(QString("%1: capture '%2' does not exist").arg(kName, arg));
            return ExitUsage;
        } else if (!isRegularFile(arg)) {
            err(QString("%1: capture '%2' is not a regular file").arg(kName, arg));
            return ExitUsage;
        } else {
            run->capturePaths << arg;
        }
    }
    return -1;
}

// No result may replace an input, nor go where another user's link sends
// it; and OUTDIR must take the results (made if missing, writable), all
// before any input is read.
int prepareOutputs(const Run &run, OutputSet &outputs)
{
    const QDir out(run.outDir);
    for (const QString &name : kOutputs) {
        const QString path = out.filePath(name);
        for (const QString &input : QStringList(run.file) + run.capturePaths)
            if (sameExistingFile(path, input)) {
                err(QString("%1: the output '%2' is the input '%3'").arg(kName, path, input));
                return ExitUsage;
            }
        if (isForeignLinkInSharedFolder(path) || isNonRegularFile(path)) {
            err(QString("%1: cannot write '%2': %3")
                    .arg(kName, path,
                         isNonRegularFile(path) ? notRegularFileText()
                                                : "a link owned by another user"));
            return ExitUsage;
        }
    }
    QString why;
    if (!outputs.prepare(&why)) {
        err(QString("%1: -o: cannot write results to '%2': %3").arg(kName, run.outDir, why));
        return ExitUsage;
    }
    return -1;
}

// The pattern file: every page of it, for the check, and each set as the
// generators lay it out.
int readPatternPages(Run *run)
{
    const QFileInfo fileInfo(run->file);
    if (!fileInfo.exists() || !fileInfo.isFile()) {
        err(QString("%1: '%2' is not a regular file").arg(kName, run->file));
        return ExitUsage;
    }
    const PatternFileValues values = readPatternFileValues(run->file, kMaxBurnSamples);
    if (!values.opened) {
        err(QString("%1: cannot open '%2': %3").arg(kName, run->file, values.error));
        return ExitUsage;
    }
    const int filePages = int(values.values.size() / kSamplesPerPage);
    if (run->plan.lastPage() > filePages) {
        err(QString("%1: '%2' holds %3 whole pages; the sets use pages up to %4")
                .arg(kName, run->file)
                .arg(filePages)
                .arg(run->plan.lastPage()));
        return ExitUsage;
    }
    const ScanTiming timing = computeScanTiming(float(run->scanValue));
    for (const CaptureSetRequest &set : run->sets) {
        QString why;
        if (!setMatchesFile(set, values, timing, &why)) {
            err(QString("%1: '%2': %3").arg(kName, run->file, why));
            return ExitUsage;
        }
    }
    run->pages.resize(static_cast<size_t>(filePages));
    for (int p = 0; p < filePages; ++p)
        run->pages[size_t(p)].assign(values.values.begin() + qint64(p) * kSamplesPerPage,
                                     values.values.begin() + qint64(p + 1) * kSamplesPerPage);
    return -1;
}

// Every capture's size from its header first: one too large to be a
// camera's, or not the size of the others, is refused before any is
// decoded; so is a run that would need more memory than it may use.
int sizeCaptures(Run *run, CaptureMemory *memory)
{
    const int needed = int(run->plan.pages.size());
    if (run->capturePaths.size() != needed) {
        err(QString("%1: %2 captures given; the sets use %3 pages, one capture each")
                .arg(kName)
                .arg(run->capturePaths.size())
                .arg(needed));
        return ExitUsage;
    }
    for (int c = 0; c < run->capturePaths.size(); ++c) {
        const QString &path = run->capturePaths[c];
        QSize own;
        qint64 readBytes = 0;
        QString why;
        if (!captureImageSize(path, &own, &why, &readBytes)) {
            err(QString("%1: cannot read capture '%2': %3").arg(kName, path, why));
            return ExitUsage;
        }
        if (c == 0)
            run->size = own;
        if (own != run->size) {
            err(QString("%1: capture '%2' is %3 x %4 pixels; '%5' is %6 x %7")
                    .arg(kName, path)
                    .arg(own.width())
                    .arg(own.height())
                    .arg(run->capturePaths.first())
                    .arg(run->size.width())
                    .arg(run->size.height()));
            return ExitUsage;
        }
        run->readBytes = std::max(run->readBytes, readBytes);
    }
    *memory = captureMemory(run->capturePaths.size(), run->size, run->readBytes, kMemoryBudget);
    if (memory->need > kMemoryBudget) {
        err(QString("%1: decoding %2 captures of %3 x %4 pixels needs about %5 MB of memory; "
                    "it may use %6 MB")
                .arg(kName)
                .arg(run->capturePaths.size())
                .arg(run->size.width())
                .arg(run->size.height())
                .arg((memory->need + (1 << 20) - 1) >> 20)
                .arg(kMemoryBudget >> 20));
        return ExitUsage;
    }
    return -1;
}

// Reads, decodes and checks the captures; they are held no longer than
// that, at their own depth, and beyond the memory bound in a scratch file
// among the staged results.
int decodeCaptures(const Run &run, const CaptureMemory &memory, const OutputSet &outputs,
                   Found *found)
{
    QElapsedTimer timer;
    timer.start();
    const CaptureDecoder decoder(run.plan, computeScanTiming(float(run.scanValue)));
    CaptureGrid grid;
    {
        CaptureStack stack(run.size, outputs.stagedPath("captures.scratch"), memory.keepBound);
        for (const QString &path : run.capturePaths) {
            QString why;
            if (!stack.add(path, &why)) {
                err(QString("%1: cannot read capture '%2': %3").arg(kName, path, why));
                return ExitUsage;
            }
        }
        found->readMs = timer.restart();
        QString why;
        if (!decodeStack(decoder, stack, &found->decoded, &grid, &why)) {
            err(QString("%1: %2").arg(kName, why));
            return ExitFailed;
        }
    }
    found->decodeMs = timer.restart();
    found->check = checkCaptures(decoder, run.pages, grid, found->decoded);
    found->checkMs = timer.restart();
    return -1;
}

QJsonArray setsReport(const Run &run, const DecodedPositions &decoded)
{
    QJsonArray list;
    for (size_t s = 0; s < run.sets.size(); ++s) {
        QJsonObject o;
        o["set"] = run.sets[s].text();
        o["kind"] = run.sets[s].kindName();
        QJsonArray setPages;
        for (int k = 0; k < run.sets[s].patternCount(); ++k)
            setPages.append(run.sets[s].page + k);
        o["pages"] = setPages;
        o["valid_fraction"] = rounded(double(decoded.setValid[s]) /
                                      double(std::max<qint64>(decoded.pixelCount(), 1)));
        list.append(o);
    }
    return list;
}

QJsonObject reportOf(const Run &run, const Found &found)
{
    const DecodedPositions &decoded = found.decoded;
    QJsonObject report;
    report["file"] = run.file;
    report["scan_value"] = run.scanValue;
    report["width"] = decoded.width;
    report["height"] = decoded.height;
    report["valid_fraction"] = rounded(decoded.validFraction());
    report["sets"] = setsReport(run, decoded);
    QJsonArray pageList;
    for (const PageMatch &m : found.check.pages) {
        QJsonObject o;
        o["page"] = m.page;
        o["capture"] = m.capture;
        o["file"] = run.capturePaths[m.capture - 1];
        o["contrast"] = std::isfinite(m.contrast) ? QJsonValue(rounded(m.contrast)) : QJsonValue();
        o["match"] = number(rounded(m.match));
        o["best_page"] = m.bestPage;
        pageList.append(o);
    }
    report["pages"] = pageList;
    report["verdict"] = found.check.consistent ? "consistent" : "problems";
    report["problems"] = QJsonArray::fromStringList(found.check.problems);
    report["run_back_fraction"] = rounded(found.check.runBackShare);
    report["saturated_fraction"] =
        rounded(double(decoded.saturatedCount) / double(std::max<qint64>(decoded.pixelCount(), 1)));
    report["modulation_threshold"] = rounded(decoded.modulationThreshold);
    QJsonObject times;
    times["read_ms"] = found.readMs;
    times["decode_ms"] = found.decodeMs;
    times["check_ms"] = found.checkMs;
    report["timing"] = times;
    return report;
}

// One staged file, written whole or reported; `write` fills the open file.
bool stageFile(const OutputSet &outputs, const QString &name,
               const std::function<bool(QFile &)> &write)
{
    QFile file(outputs.stagedPath(name));
    QString why;
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        why = file.errorString();
    else if (!write(file) || !file.flush() || file.error() != QFileDevice::NoError)
        why = file.error() != QFileDevice::NoError ? file.errorString()
                                                   : QStringLiteral("the file was cut short");
    file.close();
    if (why.isEmpty() && file.error() != QFileDevice::NoError)
        why = file.errorString();
    if (why.isEmpty())
        return true;
    err(QString("%1: cannot write '%2': %3").arg(kName, outputs.targetPath(name), why));
    return false;
}

bool stagePng(const OutputSet &outputs, const QString &name, const std::function<QImage()> &make)
{
    return stageFile(outputs, name, [&](QFile &file) {
        const QImage image = make();
        return !image.isNull() && QImageWriter(&file, "PNG").write(image);
    });
}

// position.npy a band of rows at a time, so that no second copy is made.
bool writeNpy(QFile &file, const DecodedPositions &d)
{
    const QByteArray header = positionNpyHeader(d.width, d.height);
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
int writeOutputs(OutputSet &outputs, const DecodedPositions &decoded, const QByteArray &json)
{
    const bool staged =
        stageFile(outputs, "position.npy", [&](QFile &f) { return writeNpy(f, decoded); }) &&
        stagePng(outputs, "position.png", [&] { return positionImage(decoded); }) &&
        stagePng(outputs, "valid.png", [&] { return validImage(decoded); }) &&
        stagePng(outputs, "position-colour.png", [&] { return positionColourImage(decoded); }) &&
        stageFile(outputs, "report.json", [&](QFile &f) { return f.write(json) == json.size(); });
    if (!staged)
        return ExitFailed;
    QString why;
    if (!outputs.commit(&why)) {
        err(QString("%1: %2").arg(kName, why));
        return ExitFailed;
    }
    return -1;
}

void printSummary(const Run &run, const Found &found)
{
    const DecodedPositions &decoded = found.decoded;
    outLine(QString("%1 x %2 pixels, %3 % valid")
                .arg(decoded.width)
                .arg(decoded.height)
                .arg(100.0 * decoded.validFraction(), 0, 'f', 1));
    for (size_t s = 0; s < run.sets.size(); ++s)
        outLine(QString("  %1: %2 % valid")
                    .arg(run.sets[s].text())
                    .arg(100.0 * double(decoded.setValid[s]) /
                             double(std::max<qint64>(decoded.pixelCount(), 1)),
                         0, 'f', 1));
    for (const PageMatch &m : found.check.pages)
        outLine(QString("  capture %1 (page %2): match %3, best page %4%5")
                    .arg(m.capture)
                    .arg(m.page)
                    .arg(m.match, 0, 'f', 3)
                    .arg(m.bestPage)
                    .arg(std::isfinite(m.contrast)
                             ? QString(", contrast %1").arg(m.contrast, 0, 'f', 2)
                             : QString()));
    outLine(QString("verdict: %1").arg(found.check.consistent ? "consistent" : "problems"));
    for (const QString &problem : found.check.problems)
        outLine("  problem: " + problem);
    outLine(QString("results in %1").arg(QDir::toNativeSeparators(run.outDir)));
}

int decodeRun(const QStringList &args)
{
    QCommandLineParser parser;
    Run run;
    int rc = parseOptions(args, parser, &run);
    if (rc < 0)
        rc = planSets(parser.values("set"), &run);
    if (rc < 0)
        rc = gatherCaptures(parser.positionalArguments().mid(1), &run);
    if (rc >= 0)
        return rc;
    OutputSet outputs("decode", run.outDir, kOutputs);
    // A stop leaves OUTDIR as it was (or, once the results are being put in
    // place, as this run leaves it).
    catchStopSignals();
    StopGuard guard([&outputs] {
        outputs.discard();
        err(QString("%1: stopped").arg(kName));
        std::_Exit(stopExitCode());
    });
    CaptureMemory memory;
    Found found;
    rc = prepareOutputs(run, outputs);
    if (rc < 0)
        rc = readPatternPages(&run);
    if (rc < 0)
        rc = sizeCaptures(&run, &memory);
    if (rc < 0)
        rc = decodeCaptures(run, memory, outputs, &found);
    if (rc >= 0)
        return rc;
    const QJsonObject report = reportOf(run, found);
    rc =
        writeOutputs(outputs, found.decoded, QJsonDocument(report).toJson(QJsonDocument::Indented));
    if (rc >= 0)
        return rc;
    if (run.json)
        outLine(QString::fromUtf8(QJsonDocument(report).toJson(QJsonDocument::Compact)));
    else
        printSummary(run, found);
    // A report that never reached standard output is caught on the way out,
    // as for every subcommand.
    return found.check.consistent ? ExitOk : ExitFailed;
}

} // namespace

int cmdDecode(const QStringList &args)
{
    // Memory that runs out anyway (another program took it) ends the run
    // with OUTDIR as it was, never with an abort.
    try {
        return decodeRun(args);
    } catch (const std::bad_alloc &) {
        err(QString("%1: not enough memory").arg(kName));
        return ExitUsage;
    }
}

} // namespace cli
