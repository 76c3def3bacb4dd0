// dvkctl analyze: decodes the pattern sets of a file with the scan-timing
// model and says whether each decodes as the generator intends.
#include "Cli.h"

#include "analysis/PatternAnalysis.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cmath>
#include <numeric>

namespace cli
{

namespace
{
int run(const Call &call);
} // namespace

const Command analyzeCommand{
    "analyze",
    "decode pattern sets of a file and check them",
    "Checks pattern sets of a file: a set decodes as intended when every sample is what the "
    "generator writes for the scan value. Each set is also decoded with the scan-timing model, to "
    "say how it departs and what it projects. Gray code: the stripe index per sample, whether it "
    "rises monotonically, stripes without a sample. Square wave: stripe count and duty per period "
    "in projected position. Phase shift: the N-step phase, unwrapped, and its largest deviation "
    "from the ideal linear phase beside the bound of 8-bit quantisation.\n"
    "Exit: 0 every set decodes as intended, 1 one does not, 2 bad usage or unreadable file.",
    {{"scan-value", "The scan value the sets were made for (1 to 16276).", "F"},
     {"set",
      "A set to check, KIND:PARAMS@PAGE: gray:M@P, phase:NxS@P or square:S@P, its first pattern "
      "on page P. May be given more than once.",
      "SET"},
     {"json", "One JSON object on standard output."}},
    {{"FILE", "The pattern file.", {}}},
    {"set"},
    run};

namespace
{

const QString kName = analyzeCommand.tag();

const double kTwoPi = 2.0 * std::acos(-1.0);

QString number(double v, int precision = 4)
{
    return QString::number(v, 'g', precision);
}

struct DutySummary {
    double min = 0.0;
    double max = 0.0;
    double mean = 0.0;
};

DutySummary summarize(const std::vector<double> &duty)
{
    DutySummary s;
    if (duty.empty())
        return s;
    const auto [lo, hi] = std::minmax_element(duty.begin(), duty.end());
    s.min = *lo;
    s.max = *hi;
    s.mean = std::accumulate(duty.begin(), duty.end(), 0.0) / double(duty.size());
    return s;
}

QJsonObject toJson(const PatternSetAnalysis &r)
{
    QJsonObject o;
    const PatternSetRequest &s = r.request;
    o["set"] = s.text();
    o["kind"] = patternSetKindName(s.kind);
    o["page"] = s.page;
    o["patterns"] = s.patternCount();
    o["ok"] = r.ok;
    o["problems"] = QJsonArray::fromStringList(r.problems);
    if (!r.decoded)
        return o;
    o["faulty_samples"] = r.faultySamples;
    if (r.faultySamples > 0) {
        QJsonObject f;
        f["line"] = r.firstFault.line;
        f["pattern"] = r.firstFault.pattern + 1;
        f["sample"] = r.firstFault.sample;
        f["what"] = r.firstFault.what;
        o["first_fault"] = f;
    } else {
        o["first_fault"] = QJsonValue();
    }
    switch (s.kind) {
    case PatternSetKind::Gray:
        o["bits"] = s.bits;
        o["monotonic"] = r.monotonic;
        o["stripes"] = r.codeStripes;
        o["empty_stripes"] = r.emptyStripes;
        o["model_empty_stripes"] = r.expectedEmpty;
        break;
    case PatternSetKind::Square: {
        o["stripes"] = s.stripes;
        o["decoded_stripes"] = r.decodedStripes;
        QJsonArray duty;
        for (const std::vector<double> &pattern : r.duty) {
            QJsonArray periods;
            for (double d : pattern)
                periods.append(d);
            duty.append(periods);
        }
        o["duty"] = duty;
        break;
    }
    case PatternSetKind::Phase:
        o["steps"] = s.steps;
        o["stripes"] = s.stripes;
        o["max_deviation_rad"] = r.maxDeviation;
        o["max_deviation_periods"] = r.maxDeviation / kTwoPi;
        o["max_deviation_sample"] = r.maxDeviationSample;
        o["bound_rad"] = r.deviationBound;
        o["bound_periods"] = r.deviationBound / kTwoPi;
        break;
    }
    return o;
}

void printText(const PatternSetAnalysis &r)
{
    const PatternSetRequest &s = r.request;
    const int last = s.page + s.patternCount() - 1;
    outLine(QString("%1: %2 (pages %3 to %4)")
                .arg(s.text(), r.ok ? "decodes as intended" : "FAILS")
                .arg(s.page)
                .arg(last));
    if (r.decoded) {
        switch (s.kind) {
        case PatternSetKind::Gray:
            outLine(
                QString("  stripe index rises monotonically: %1").arg(r.monotonic ? "yes" : "no"));
            outLine(QString("  stripes without a sample: %1 of %2 (the model leaves %3)")
                        .arg(r.emptyStripes)
                        .arg(r.codeStripes)
                        .arg(r.expectedEmpty));
            break;
        case PatternSetKind::Square:
            outLine(QString("  stripes: %1").arg(r.decodedStripes));
            for (size_t q = 0; q < r.duty.size(); ++q) {
                const DutySummary d = summarize(r.duty[q]);
                outLine(QString("  pattern %1: duty per period %2 to %3 (mean %4)")
                            .arg(q + 1)
                            .arg(number(d.min))
                            .arg(number(d.max))
                            .arg(number(d.mean)));
            }
            break;
        case PatternSetKind::Phase:
            outLine(QString("  largest phase deviation: %1 rad, %2 of a period, at sample %3")
                        .arg(number(r.maxDeviation))
                        .arg(number(r.maxDeviation / kTwoPi))
                        .arg(r.maxDeviationSample));
            outLine(QString("  8-bit quantisation bound: %1 rad, %2 of a period")
                        .arg(number(r.deviationBound))
                        .arg(number(r.deviationBound / kTwoPi)));
            break;
        }
    }
    for (const QString &problem : r.problems)
        outLine("  problem: " + problem);
}

// The sets of --set, and the lines the file must hold for all of them.
// Returns -1 to go on, or the exit code.
int setsFrom(const QCommandLineParser &parser, std::vector<PatternSetRequest> *sets,
             qint64 *linesNeeded)
{
    const QStringList setTexts = parser.values("set");
    if (setTexts.isEmpty()) {
        err(QString("%1: give at least one --set").arg(kName));
        return ExitUsage;
    }
    *linesNeeded = 0;
    for (const QString &text : setTexts) {
        PatternSetRequest request;
        QString why;
        if (!parsePatternSetRequest(text, &request, &why)) {
            err(QString("%1: --set %2").arg(kName, why));
            return ExitUsage;
        }
        sets->push_back(request);
        *linesNeeded = std::max(*linesNeeded, qint64(request.page - 1 + request.patternCount()) *
                                                  qint64(kSamplesPerPage));
    }
    return -1;
}

// A set the file has no pages for is bad input, as for decode. Says which.
bool pagesPresent(const QString &file, const PatternFileValues &values,
                  const std::vector<PatternSetRequest> &sets)
{
    const qint64 filePages = qint64(values.values.size()) / kSamplesPerPage;
    for (const PatternSetRequest &request : sets) {
        const int last = request.page + request.patternCount() - 1;
        if (last <= filePages)
            continue;
        // Past the bound nothing more is read: say so, or the page count
        // would seem to be all the file holds.
        const qint64 size = QFileInfo(file).size();
        const QString bound =
            size > kMaxBurnFileBytes
                ? QString(" read (larger than any pattern file: %1 bytes, at most %2)")
                      .arg(size)
                      .arg(kMaxBurnFileBytes)
                : QString();
        err(QString("%1: --set %2 uses pages %3 to %4; '%5' holds %6 whole pages%7")
                .arg(kName, request.text())
                .arg(request.page)
                .arg(last)
                .arg(file)
                .arg(filePages)
                .arg(bound));
        return false;
    }
    return true;
}

void printResults(const QString &file, int scanValue,
                  const std::vector<PatternSetAnalysis> &results, bool allOk, bool json)
{
    if (json) {
        QJsonObject o;
        o["file"] = file;
        o["scan_value"] = scanValue;
        o["ok"] = allOk;
        QJsonArray list;
        for (const PatternSetAnalysis &r : results)
            list.append(toJson(r));
        o["sets"] = list;
        outLine(QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact)));
        return;
    }
    outLine("file: " + file);
    outLine(QString("scan value: %1").arg(scanValue));
    for (const PatternSetAnalysis &r : results)
        printText(r);
}

int run(const Call &call)
{
    const QCommandLineParser &parser = call.parser;
    QString file;
    if (!oneFile(parser, kName, &file))
        return ExitUsage;
    int scanValue = 0;
    if (!scanValueOption(parser, kName, &scanValue))
        return ExitUsage;
    std::vector<PatternSetRequest> sets;
    qint64 linesNeeded = 0;
    const int setsRc = setsFrom(parser, &sets, &linesNeeded);
    if (setsRc >= 0)
        return setsRc;

    const PatternFileValues values = readPatternFileValues(file, linesNeeded);
    if (!values.opened) {
        err(QString("%1: cannot open '%2': %3").arg(kName, file, values.error));
        return ExitUsage;
    }
    if (!pagesPresent(file, values, sets))
        return ExitUsage;
    const ScanTiming timing = computeScanTiming(float(scanValue));
    std::vector<PatternSetAnalysis> results;
    for (const PatternSetRequest &request : sets)
        results.push_back(analyzePatternSet(values, timing, request));
    const bool allOk = std::all_of(results.begin(), results.end(),
                                   [](const PatternSetAnalysis &r) { return r.ok; });
    printResults(file, scanValue, results, allOk, parser.isSet("json"));
    return allOk ? ExitOk : ExitFailed;
}

} // namespace

} // namespace cli
