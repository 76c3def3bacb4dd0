#include "CaptureRun.h"

#include "Cli.h"

#include "analysis/CaptureStack.h"
#include "analysis/PatternAnalysis.h"
#include "patterns/FileAccess.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonArray>

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>

namespace cli
{

namespace
{

QJsonValue number(double v)
{
    return std::isfinite(v) ? QJsonValue(v) : QJsonValue();
}

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

} // namespace

double rounded(double v)
{
    return std::round(v * 10000.0) / 10000.0;
}

QList<QCommandLineOption> captureSetOptions()
{
    return {{"scan-value", "The projector's scan value (1 to 16276).", "F"},
            {"set",
             "A captured set: gray:M@P, phase:NxS@P, square:S@P, or a reference dark@P or "
             "light@P; its first page is P. May be given more than once.",
             "SET"}};
}

QList<QCommandLineOption> resultFolderOptions()
{
    return {{{"o", "output"}, "The directory to write the results to.", "OUTDIR"},
            {"json", "The report as one JSON object on standard output."}};
}

QList<Argument> captureArguments()
{
    return {{"FILE", "The pattern file the projector holds.", {}},
            {"CAPTURE",
             "The captures, one per page the sets use, in page order; a directory stands for its "
             "image files in natural name order.",
             "CAPTURE..."}};
}

int checkRunStart(const QCommandLineParser &parser, const QString &command,
                  const QString &outputName, bool folder, int *scanValue, QString *output)
{
    if (parser.positionalArguments().isEmpty()) {
        err(QString("%1: no FILE given").arg(command));
        return ExitUsage;
    }
    if (!scanValueOption(parser, command, scanValue))
        return ExitUsage;
    if (!parser.isSet("output")) {
        err(QString("%1: -o %2 is required").arg(command, outputName));
        return ExitUsage;
    }
    if (!outputOption(parser, "o", command, output))
        return ExitUsage;
    if (folder && QFileInfo(*output).exists() && !QFileInfo(*output).isDir()) {
        err(QString("%1: -o: '%2' is not a directory").arg(command, *output));
        return ExitUsage;
    }
    return -1;
}

int readPatternSets(const QCommandLineParser &parser, const QString &command, PatternSets *out)
{
    const QStringList positional = parser.positionalArguments();
    if (positional.isEmpty()) {
        err(QString("%1: no FILE given").arg(command));
        return ExitUsage;
    }
    out->file = positional.first();
    if (!scanValueOption(parser, command, &out->scanValue))
        return ExitUsage;
    const QStringList setTexts = parser.values("set");
    if (setTexts.isEmpty()) {
        err(QString("%1: give at least one --set").arg(command));
        return ExitUsage;
    }
    for (const QString &text : setTexts) {
        CaptureSetRequest request;
        QString why;
        if (!parseCaptureSetRequest(text, &request, &why)) {
            err(QString("%1: --set %2").arg(command, why));
            return ExitUsage;
        }
        out->sets.push_back(request);
    }
    QString why;
    if (!planCaptureDecode(out->sets, &out->plan, &why)) {
        err(QString("%1: %2").arg(command, why));
        return ExitUsage;
    }

    // The pattern file: every page of it, for the check.
    const QString &file = out->file;
    const QFileInfo fileInfo(file);
    if (!fileInfo.exists() || !fileInfo.isFile()) {
        err(QString("%1: '%2' is not a regular file").arg(command, file));
        return ExitUsage;
    }
    const PatternFileValues values = readPatternFileValues(file, kMaxBurnSamples);
    if (!values.opened) {
        err(QString("%1: cannot open '%2': %3").arg(command, file, values.error));
        return ExitUsage;
    }
    const int filePages = int(values.values.size() / kSamplesPerPage);
    if (out->plan.lastPage() > filePages) {
        err(QString("%1: '%2' holds %3 whole pages; the sets use pages up to %4")
                .arg(command, file)
                .arg(filePages)
                .arg(out->plan.lastPage()));
        return ExitUsage;
    }
    out->timing = computeScanTiming(float(out->scanValue));
    for (const CaptureSetRequest &set : out->sets) {
        if (!setMatchesFile(set, values, out->timing, &why)) {
            err(QString("%1: '%2': %3").arg(command, file, why));
            return ExitUsage;
        }
    }
    out->pages.assign(static_cast<size_t>(filePages), {});
    for (int p = 0; p < filePages; ++p)
        out->pages[size_t(p)].assign(values.values.begin() + qint64(p) * kSamplesPerPage,
                                     values.values.begin() + qint64(p + 1) * kSamplesPerPage);
    return -1;
}

int captureFiles(const QString &command, const QStringList &args, int needed, QStringList *paths)
{
    QStringList capturePaths;
    for (const QString &arg : args) {
        const QFileInfo info(arg);
        if (info.isDir()) {
            QStringList skipped;
            const QStringList inDir = captureFilesIn(arg, &skipped);
            for (const QString &path : skipped)
                err(QString("%1: skipping '%2': %3").arg(command, path, notRegularFileText()));
            if (inDir.isEmpty()) {
                err(QString("%1: directory '%2' holds no image file").arg(command, arg));
                return ExitUsage;
            }
            capturePaths << inDir;
        } else if (!info.exists()) {
            err(QString("%1: capture '%2' does not exist").arg(command, arg));
            return ExitUsage;
        } else if (!isRegularFile(arg)) {
            err(QString("%1: capture '%2' is not a regular file").arg(command, arg));
            return ExitUsage;
        } else {
            capturePaths << arg;
        }
    }
    if (capturePaths.size() != needed) {
        err(QString("%1: %2 captures given; the sets use %3 pages, one capture each")
                .arg(command)
                .arg(capturePaths.size())
                .arg(needed));
        return ExitUsage;
    }
    *paths = capturePaths;
    return -1;
}

int checkOutputs(const QString &command, const QString &outDir, const QStringList &names,
                 const QStringList &inputs)
{
    // No result may replace an input, nor go where another user's link
    // sends it.
    const QDir out(outDir);
    for (const QString &name : names) {
        const QString path = out.filePath(name);
        for (const QString &input : inputs)
            if (sameExistingFile(path, input)) {
                err(QString("%1: the output '%2' is the input '%3'").arg(command, path, input));
                return ExitUsage;
            }
        if (isForeignLinkInSharedFolder(path) || isNonRegularFile(path)) {
            err(QString("%1: cannot write '%2': %3")
                    .arg(command, path,
                         isNonRegularFile(path) ? notRegularFileText()
                                                : "a link owned by another user"));
            return ExitUsage;
        }
    }
    return -1;
}

int captureSizes(const QString &command, const QStringList &paths, QSize *size, qint64 *readBytes)
{
    // Every capture's size from its header first: one too large to be a
    // camera's, or not the size of the others, is refused before any is
    // decoded.
    *readBytes = 0;
    for (int c = 0; c < paths.size(); ++c) {
        const QString &path = paths[c];
        QSize own;
        qint64 bytes = 0;
        QString why;
        if (!captureImageSize(path, &own, &why, &bytes)) {
            err(QString("%1: cannot read capture '%2': %3").arg(command, path, why));
            return ExitUsage;
        }
        if (c == 0)
            *size = own;
        if (own != *size) {
            err(QString("%1: capture '%2' is %3 x %4 pixels; '%5' is %6 x %7")
                    .arg(command, path)
                    .arg(own.width())
                    .arg(own.height())
                    .arg(paths.first())
                    .arg(size->width())
                    .arg(size->height()));
            return ExitUsage;
        }
        *readBytes = std::max(*readBytes, bytes);
    }
    return -1;
}

int readCaptures(const QString &command, const QStringList &paths, const QSize &size,
                 std::vector<CaptureImage> *images)
{
    images->assign(static_cast<size_t>(paths.size()), CaptureImage());
    for (int c = 0; c < paths.size(); ++c) {
        const QString &path = paths[c];
        QString why;
        if (!readCaptureImage(path, size, &(*images)[size_t(c)], &why)) {
            err(QString("%1: cannot read capture '%2': %3").arg(command, path, why));
            return ExitUsage;
        }
    }
    return -1;
}

std::vector<const float *> DecodeRun::planes() const
{
    std::vector<const float *> list;
    for (const CaptureImage &image : images)
        list.push_back(image.grey.data());
    return list;
}

const float *DecodeRun::light(const CapturePlan &plan) const
{
    if (plan.light < 0)
        return nullptr;
    const int c = plan.captureOfPage(plan.sets[size_t(plan.light)].page);
    return c < 0 ? nullptr : images[size_t(c)].grey.data();
}

int wholeDecodeFits(const QString &command, int captures, const QSize &size, qint64 readBytes,
                    qint64 heldPerPixel)
{
    // With no bound on what may stay in memory, every capture does.
    const qint64 need =
        captureMemory(captures, size, readBytes, std::numeric_limits<qint64>::max()).need +
        heldPerPixel * size.width() * size.height();
    return need <= kDecodeMemory ? -1 : memoryRefused(command, captures, size, need);
}

int unlessMemoryRunsOut(const QString &command, const std::function<int()> &body)
{
    try {
        return body();
    } catch (const std::bad_alloc &) {
        err(QString("%1: not enough memory").arg(command));
        return ExitUsage;
    }
}

int memoryRefused(const QString &command, int captures, const QSize &size, qint64 need)
{
    err(QString("%1: decoding %2 captures of %3 x %4 pixels needs about %5 MB of memory; "
                "it may use %6 MB")
            .arg(command)
            .arg(captures)
            .arg(size.width())
            .arg(size.height())
            .arg((need + (1 << 20) - 1) >> 20)
            .arg(kDecodeMemory >> 20));
    return ExitUsage;
}

int decodeCaptures(const QString &command, const PatternSets &sets, const QStringList &paths,
                   DecodeRun *run, bool check, qint64 heldPerPixel)
{
    QElapsedTimer timer;
    timer.start();
    run->capturePaths = paths;
    QSize size;
    qint64 readBytes = 0;
    int rc = captureSizes(command, paths, &size, &readBytes);
    if (rc >= 0)
        return rc;
    if ((rc = wholeDecodeFits(command, paths.size(), size, readBytes, heldPerPixel)) >= 0)
        return rc;
    if ((rc = readCaptures(command, paths, size, &run->images)) >= 0)
        return rc;
    run->readMs = timer.restart();
    run->width = run->images.front().width;
    run->height = run->images.front().height;
    const std::vector<const float *> planes = run->planes();
    const CaptureDecoder decoder(sets.plan, sets.timing);
    run->decoded = decoder.decode(planes, run->width, run->height);
    run->decodeMs = timer.restart();
    if (!check)
        return -1;
    run->check = checkCaptures(decoder, sets.pages, planes, run->width, run->height, run->decoded);
    run->checkMs = timer.restart();
    return -1;
}

QJsonObject decodeReport(const PatternSets &in, const DecodeRun &run)
{
    const DecodedPositions &decoded = run.decoded;
    const CaptureCheckResult &check = run.check;
    QJsonObject report;
    report["file"] = in.file;
    report["scan_value"] = in.scanValue;
    report["width"] = run.width;
    report["height"] = run.height;
    report["valid_fraction"] = rounded(decoded.validFraction());
    QJsonArray setList;
    for (size_t s = 0; s < in.sets.size(); ++s) {
        QJsonObject o;
        o["set"] = in.sets[s].text();
        o["kind"] = in.sets[s].kindName();
        QJsonArray setPages;
        for (int k = 0; k < in.sets[s].patternCount(); ++k)
            setPages.append(in.sets[s].page + k);
        o["pages"] = setPages;
        o["valid_fraction"] = rounded(double(decoded.setValid[s]) /
                                      double(std::max<qint64>(decoded.pixelCount(), 1)));
        setList.append(o);
    }
    report["sets"] = setList;
    QJsonArray pageList;
    for (const PageMatch &m : check.pages) {
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
    report["verdict"] = check.consistent ? "consistent" : "problems";
    report["problems"] = QJsonArray::fromStringList(check.problems);
    report["run_back_fraction"] = rounded(check.runBackShare);
    report["saturated_fraction"] =
        rounded(double(decoded.saturatedCount) / double(std::max<qint64>(decoded.pixelCount(), 1)));
    report["modulation_threshold"] = rounded(decoded.modulationThreshold);
    QJsonObject times;
    times["read_ms"] = run.readMs;
    times["decode_ms"] = run.decodeMs;
    times["check_ms"] = run.checkMs;
    report["timing"] = times;
    return report;
}

void printDecodeSummary(const PatternSets &in, const DecodeRun &run)
{
    const DecodedPositions &decoded = run.decoded;
    outLine(QString("%1 x %2 pixels, %3 % valid")
                .arg(run.width)
                .arg(run.height)
                .arg(100.0 * decoded.validFraction(), 0, 'f', 1));
    for (size_t s = 0; s < in.sets.size(); ++s)
        outLine(QString("  %1: %2 % valid")
                    .arg(in.sets[s].text())
                    .arg(100.0 * double(decoded.setValid[s]) /
                             double(std::max<qint64>(decoded.pixelCount(), 1)),
                         0, 'f', 1));
    for (const PageMatch &m : run.check.pages)
        outLine(QString("  capture %1 (page %2): match %3, best page %4%5")
                    .arg(m.capture)
                    .arg(m.page)
                    .arg(m.match, 0, 'f', 3)
                    .arg(m.bestPage)
                    .arg(std::isfinite(m.contrast)
                             ? QString(", contrast %1").arg(m.contrast, 0, 'f', 2)
                             : QString()));
    outLine(QString("verdict: %1").arg(run.check.consistent ? "consistent" : "problems"));
    for (const QString &problem : run.check.problems)
        outLine("  problem: " + problem);
}

int writeOutputs(const QString &command, const QString &outDir,
                 const std::vector<std::pair<QString, QByteArray>> &files)
{
    if (!QDir().mkpath(outDir)) {
        err(QString("%1: cannot create the directory '%2'").arg(command, outDir));
        return ExitUsage;
    }
    const QDir out(outDir);
    for (const auto &file : files) {
        const QString path = out.filePath(file.first);
        QString why;
        if (!replaceFileWith(path, file.second, &why)) {
            err(QString("%1: cannot write '%2': %3").arg(command, path, why));
            return ExitFailed;
        }
    }
    return -1;
}

} // namespace cli
