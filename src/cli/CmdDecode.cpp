// dvkctl decode: camera captures of the projected sets into the projected
// position per pixel, and the check that each capture shows its page.
#include "Cli.h"

#include "analysis/CaptureCheck.h"
#include "analysis/CaptureDecoder.h"
#include "analysis/CaptureImages.h"
#include "analysis/PatternAnalysis.h"
#include "patterns/FileAccess.h"

#include <QBuffer>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>

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
    {{"scan-value", "The projector's scan value (1 to 16276).", "F"},
     {"set",
      "A captured set: gray:M@P, phase:NxS@P, square:S@P, or a reference dark@P or light@P; its "
      "first page is P. May be given more than once.",
      "SET"},
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

const QString kName = "dvkctl " + decodeCommand.name;

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
const char *const kOutputs[] = {"position.npy", "position.png", "valid.png", "position-colour.png",
                                "report.json"};

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

int run(const Call &call)
{
    const QCommandLineParser &parser = call.parser;

    const QStringList positional = parser.positionalArguments();
    if (positional.isEmpty()) {
        err(QString("%1: no FILE given").arg(kName));
        return ExitUsage;
    }
    const QString file = positional.first();
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
    const QStringList setTexts = parser.values("set");
    if (setTexts.isEmpty()) {
        err(QString("%1: give at least one --set").arg(kName));
        return ExitUsage;
    }
    std::vector<CaptureSetRequest> sets;
    for (const QString &text : setTexts) {
        CaptureSetRequest request;
        QString why;
        if (!parseCaptureSetRequest(text, &request, &why)) {
            err(QString("%1: --set %2").arg(kName, why));
            return ExitUsage;
        }
        sets.push_back(request);
    }
    CapturePlan plan;
    QString why;
    if (!planCaptureDecode(sets, &plan, &why)) {
        err(QString("%1: %2").arg(kName, why));
        return ExitUsage;
    }

    // The pattern file: every page of it, for the check.
    const QFileInfo fileInfo(file);
    if (!fileInfo.exists() || !fileInfo.isFile()) {
        err(QString("%1: '%2' is not a regular file").arg(kName, file));
        return ExitUsage;
    }
    const PatternFileValues values = readPatternFileValues(file, kMaxBurnSamples);
    if (!values.opened) {
        err(QString("%1: cannot open '%2': %3").arg(kName, file, values.error));
        return ExitUsage;
    }
    const int filePages = int(values.values.size() / kSamplesPerPage);
    if (plan.lastPage() > filePages) {
        err(QString("%1: '%2' holds %3 whole pages; the sets use pages up to %4")
                .arg(kName, file)
                .arg(filePages)
                .arg(plan.lastPage()));
        return ExitUsage;
    }
    const ScanTiming timing = computeScanTiming(float(scanValue));
    for (const CaptureSetRequest &set : sets) {
        if (!setMatchesFile(set, values, timing, &why)) {
            err(QString("%1: '%2': %3").arg(kName, file, why));
            return ExitUsage;
        }
    }
    std::vector<std::vector<int>> pages(static_cast<size_t>(filePages));
    for (int p = 0; p < filePages; ++p)
        pages[size_t(p)].assign(values.values.begin() + qint64(p) * kSamplesPerPage,
                                values.values.begin() + qint64(p + 1) * kSamplesPerPage);

    // The captures.
    QStringList capturePaths;
    for (const QString &arg : positional.mid(1)) {
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
            capturePaths << inDir;
        } else if (!info.exists()) {
            err(QString("%1: capture '%2' does not exist").arg(kName, arg));
            return ExitUsage;
        } else if (!isRegularFile(arg)) {
            err(QString("%1: capture '%2' is not a regular file").arg(kName, arg));
            return ExitUsage;
        } else {
            capturePaths << arg;
        }
    }
    const int needed = int(plan.pages.size());
    if (capturePaths.size() != needed) {
        err(QString("%1: %2 captures given; the sets use %3 pages, one capture each")
                .arg(kName)
                .arg(capturePaths.size())
                .arg(needed));
        return ExitUsage;
    }

    // No result may replace an input, nor go where another user's link
    // sends it.
    const QDir out(outDir);
    for (const char *name : kOutputs) {
        const QString path = out.filePath(name);
        for (const QString &input : QStringList(file) + capturePaths)
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

    // Every capture's size from its header first: one too large to be a
    // camera's, or not the size of the others, is refused before any is
    // decoded.
    QElapsedTimer timer;
    timer.start();
    QSize size;
    for (int c = 0; c < needed; ++c) {
        const QString &path = capturePaths[c];
        QSize own;
        if (!captureImageSize(path, &own, &why)) {
            err(QString("%1: cannot read capture '%2': %3").arg(kName, path, why));
            return ExitUsage;
        }
        if (c == 0)
            size = own;
        if (own != size) {
            err(QString("%1: capture '%2' is %3 x %4 pixels; '%5' is %6 x %7")
                    .arg(kName, path)
                    .arg(own.width())
                    .arg(own.height())
                    .arg(capturePaths.first())
                    .arg(size.width())
                    .arg(size.height()));
            return ExitUsage;
        }
    }
    std::vector<CaptureImage> images(static_cast<size_t>(needed));
    for (int c = 0; c < needed; ++c) {
        const QString &path = capturePaths[c];
        if (!readCaptureImage(path, size, &images[size_t(c)], &why)) {
            err(QString("%1: cannot read capture '%2': %3").arg(kName, path, why));
            return ExitUsage;
        }
    }
    const qint64 readMs = timer.restart();
    const int width = images.front().width, height = images.front().height;
    std::vector<const float *> planes;
    for (const CaptureImage &image : images)
        planes.push_back(image.grey.data());

    const CaptureDecoder decoder(plan, timing);
    const DecodedPositions decoded = decoder.decode(planes, width, height);
    const qint64 decodeMs = timer.restart();
    const CaptureCheckResult check = checkCaptures(decoder, pages, planes, width, height, decoded);
    const qint64 checkMs = timer.restart();

    // The report.
    QJsonObject report;
    report["file"] = file;
    report["scan_value"] = scanValue;
    report["width"] = width;
    report["height"] = height;
    report["valid_fraction"] = rounded(decoded.validFraction());
    QJsonArray setList;
    for (size_t s = 0; s < sets.size(); ++s) {
        QJsonObject o;
        o["set"] = sets[s].text();
        o["kind"] = sets[s].kindName();
        QJsonArray setPages;
        for (int k = 0; k < sets[s].patternCount(); ++k)
            setPages.append(sets[s].page + k);
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
        o["file"] = capturePaths[m.capture - 1];
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
    times["read_ms"] = readMs;
    times["decode_ms"] = decodeMs;
    times["check_ms"] = checkMs;
    report["timing"] = times;
    const QByteArray json = QJsonDocument(report).toJson(QJsonDocument::Indented);

    if (!QDir().mkpath(outDir)) {
        err(QString("%1: cannot create the directory '%2'").arg(kName, outDir));
        return ExitUsage;
    }
    auto save = [&](const QString &name, const QByteArray &bytes) {
        const QString path = out.filePath(name);
        if (!replaceFileWith(path, bytes, &why)) {
            err(QString("%1: cannot write '%2': %3").arg(kName, path, why));
            return false;
        }
        return true;
    };
    auto png = [](const QImage &image) {
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, "PNG");
        return bytes;
    };
    if (!save("position.npy", positionNpy(decoded)) ||
        !save("position.png", png(positionImage(decoded))) ||
        !save("valid.png", png(validImage(decoded))) ||
        !save("position-colour.png", png(positionColourImage(decoded))) ||
        !save("report.json", json))
        return ExitFailed;

    if (parser.isSet("json")) {
        outLine(QString::fromUtf8(QJsonDocument(report).toJson(QJsonDocument::Compact)));
    } else {
        outLine(QString("%1 x %2 pixels, %3 % valid")
                    .arg(width)
                    .arg(height)
                    .arg(100.0 * decoded.validFraction(), 0, 'f', 1));
        for (size_t s = 0; s < sets.size(); ++s)
            outLine(QString("  %1: %2 % valid")
                        .arg(sets[s].text())
                        .arg(100.0 * double(decoded.setValid[s]) /
                                 double(std::max<qint64>(decoded.pixelCount(), 1)),
                             0, 'f', 1));
        for (const PageMatch &m : check.pages)
            outLine(QString("  capture %1 (page %2): match %3, best page %4%5")
                        .arg(m.capture)
                        .arg(m.page)
                        .arg(m.match, 0, 'f', 3)
                        .arg(m.bestPage)
                        .arg(std::isfinite(m.contrast)
                                 ? QString(", contrast %1").arg(m.contrast, 0, 'f', 2)
                                 : QString()));
        outLine(QString("verdict: %1").arg(check.consistent ? "consistent" : "problems"));
        for (const QString &problem : check.problems)
            outLine("  problem: " + problem);
        outLine(QString("results in %1").arg(QDir::toNativeSeparators(outDir)));
    }
    // A report that never reached standard output is caught on the way out,
    // as for every subcommand.
    return check.consistent ? ExitOk : ExitFailed;
}

} // namespace

} // namespace cli
