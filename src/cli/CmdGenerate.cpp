// dvkctl generate: the window's generators from the command line.
#include "Cli.h"

#include "Stop.h"
#include "burnfile/BurnFile.h"
#include "patterns/Generators.h"
#include "patterns/PatternFile.h"
#include "patterns/SamplingCoverage.h"
#include "serial/mySerial.h"

#include <QFileInfo>

namespace cli
{

namespace
{
int run(const Call &call);
} // namespace

const Command generateCommand{
    "generate",
    "write a pattern set (phase, gray, square, dark, light)",
    "Writes a pattern set as the window appends it to its pattern file.",
    {{"scan-value", "The projector's scan value (1 to 16276).", "F"},
     portOptionDeclaration("Ask the projector on PORT for its scan value."),
     {"steps", "phase: number of phase steps (3 to 8).", "N"},
     {"stripes", "phase, square: stripe count (1 to 128).", "S"},
     {"bits", "gray: number of Gray-code bits (1 to 10).", "M"},
     {{"o", "output"}, "Append to FILE instead of writing to standard output.", "FILE"}},
    {{"kind", "phase, gray, square, dark or light.", {}}},
    {},
    run};

namespace
{

const QString kName = generateCommand.tag();

enum class Kind { Phase, Gray, Square, Dark, Light };

// What the command line asks for.
struct GenerateRequest {
    Kind kind = Kind::Dark;
    QString kindName;
    int steps = 0;
    int stripes = 0;
    int bits = 0;
    QString path; // empty: standard output
};

bool needsScanValue(Kind kind)
{
    return kind == Kind::Phase || kind == Kind::Gray || kind == Kind::Square;
}

// The scan value from --scan-value or, with --port, from the projector.
// Returns -1 to go on, or the exit code.
int scanValueFrom(const QCommandLineParser &parser, int *scanValue)
{
    const bool typed = parser.isSet("scan-value");
    const bool port = parser.isSet("port");
    if (typed == port) {
        err(QString("%1: give either --scan-value or --port").arg(kName));
        return ExitUsage;
    }
    if (typed)
        return scanValueOption(parser, kName, scanValue) ? -1 : ExitUsage;
    QString device;
    const int portRc = portOption(kName, parser.value("port"), &device);
    if (portRc >= 0)
        return portRc;
    catchStopSignals();
    mySerial serial;
    const QueryResult answer = askForScanValue(serial, device, true);
    releaseStopSignals();
    if (stopSignal() != 0) {
        err(QString("%1: stopped").arg(kName));
        return stopExitCode();
    }
    if (!answer.ok) {
        err(QString("%1: no scan value from %2: %3").arg(kName, device, answer.error));
        return ExitFailed;
    }
    *scanValue = answer.scanValue;
    // The projector's own answer is not bad usage: the run fails.
    if (*scanValue < kMinScanValue || *scanValue > kMaxScanValue) {
        err(QString("%1: the projector on %2 reports scan value %3, outside %4 to %5")
                .arg(kName, device)
                .arg(*scanValue)
                .arg(kMinScanValue)
                .arg(kMaxScanValue));
        return ExitFailed;
    }
    return -1;
}

// The warning for stripes the samples do not resolve; empty when every
// stripe gets two samples or more.
QString samplingWarning(const SamplingCoverage &coverage, const QString &what)
{
    if (coverage.underSampled() == 0)
        return QString();
    QString text = QString("%1: warning: %2 of %3 %4 receive fewer than two samples")
                       .arg(kName)
                       .arg(coverage.underSampled())
                       .arg(coverage.stripes)
                       .arg(what);
    if (coverage.empty > 0)
        text += QString(", %1 of them none").arg(coverage.empty);
    return text + "; near the centre of the window, where the beam is fastest, the finest "
                  "stripes do not show in full";
}

// The kind and its parameters from the command line. Returns -1 to go on, or
// the exit code.
int requestFrom(const QCommandLineParser &parser, GenerateRequest *r)
{
    const QStringList positional = parser.positionalArguments();
    if (positional.size() != 1) {
        err(QString("%1: give one kind: phase, gray, square, dark or light").arg(kName));
        return ExitUsage;
    }
    r->kindName = positional.first();
    QStringList parameters;
    if (r->kindName == "phase") {
        r->kind = Kind::Phase;
        parameters = QStringList{"steps", "stripes"};
    } else if (r->kindName == "gray") {
        r->kind = Kind::Gray;
        parameters = QStringList{"bits"};
    } else if (r->kindName == "square") {
        r->kind = Kind::Square;
        parameters = QStringList{"stripes"};
    } else if (r->kindName == "dark") {
        r->kind = Kind::Dark;
    } else if (r->kindName == "light") {
        r->kind = Kind::Light;
    } else {
        err(QString("%1: unknown kind '%2' (phase, gray, square, dark, light)")
                .arg(kName, r->kindName));
        return ExitUsage;
    }
    // The fixed patterns need no scan value: neither a typed one nor a port
    // to ask applies to them.
    if (needsScanValue(r->kind))
        parameters << "scan-value"
                   << "port";
    for (const QString &option : QStringList{"scan-value", "port", "steps", "stripes", "bits"}) {
        if (parser.isSet(option) && !parameters.contains(option)) {
            err(QString("%1 %2: --%3 does not apply").arg(kName, r->kindName, option));
            return ExitUsage;
        }
    }
    if (parser.isSet("output") && !outputOption(parser, "o", kName, &r->path))
        return ExitUsage;
    const Kind kind = r->kind;
    if (kind == Kind::Phase &&
        (!rangeOption(parser, kName, "steps", kMinPhaseSteps, kMaxPhaseSteps, &r->steps) ||
         !rangeOption(parser, kName, "stripes", kMinStripes, kMaxStripes, &r->stripes)))
        return ExitUsage;
    if (kind == Kind::Gray &&
        !rangeOption(parser, kName, "bits", kMinGrayBits, kMaxGrayBits, &r->bits))
        return ExitUsage;
    if (kind == Kind::Square &&
        !rangeOption(parser, kName, "stripes", kMinStripes, kMaxStripes, &r->stripes))
        return ExitUsage;
    return -1;
}

// The run asked for, and the warning its sampling calls for (empty if none).
PatternRun runFor(const GenerateRequest &r, int scanValue, QString *warning)
{
    const ScanTiming timing = computeScanTiming(float(scanValue));
    switch (r.kind) {
    case Kind::Phase:
        return phaseShiftPatterns(timing, r.steps, r.stripes);
    case Kind::Gray:
        *warning = samplingWarning(grayCodeCoverage(timing, r.bits), "stripes");
        return grayCodePatterns(timing, r.bits);
    case Kind::Square:
        *warning =
            samplingWarning(squareWaveCoverage(timing, r.stripes), "quarter-period segments");
        return squareWavePatterns(timing, r.stripes);
    case Kind::Light:
        return fixedPattern(255);
    case Kind::Dark:
        break;
    }
    return fixedPattern(0);
}

// Whether the open target is within the size any reader reads; says why not.
// Past that bound no reader looks, so neither does the count of its lines.
bool withinReadersBound(const PatternFileWriter &writer, const QString &path)
{
    const qint64 size = writer.size();
    if (size <= kMaxBurnFileBytes)
        return true;
    err(QString("%1: %2 is larger than any pattern file (%3 bytes, at most %4); nothing written")
            .arg(kName, path)
            .arg(size)
            .arg(kMaxBurnFileBytes));
    return false;
}

// Whether the open target can take `values` more lines; says why not.
bool roomFor(PatternFileWriter &writer, const QString &path, qint64 values)
{
    const qint64 existing = writer.existingLines();
    if (existing < 0) {
        err(QString("%1: cannot read %2").arg(kName, path));
        return false;
    }
    const qint64 total = existing + values;
    if (total > kMaxBurnSamples) {
        err(QString("%1: %2 would hold %3 lines, more than %4; nothing written")
                .arg(kName, path)
                .arg(total)
                .arg(kMaxBurnSamples));
        return false;
    }
    return true;
}

int run(const Call &call)
{
    const QCommandLineParser &parser = call.parser;
    GenerateRequest request;
    const int requestRc = requestFrom(parser, &request);
    if (requestRc >= 0)
        return requestRc;
    const QString &path = request.path;

    // The output first: a target that cannot be written is refused before
    // the projector is asked anything. Opened (and locked against other
    // writers) before the count, so that the count still holds when the run
    // goes in.
    const bool existed = QFileInfo(path).exists() || QFileInfo(path).isSymLink();
    PatternFileWriter writer(path);
    if (!path.isEmpty() && !writer.open()) {
        err(QString("%1: cannot open %2: %3").arg(kName, path, writer.errorString()));
        return writer.lockedOut() ? ExitFailed : ExitUsage;
    }
    // Whatever ends the run without its lines, a file it made goes again.
    auto failed = [&](int code) {
        if (!path.isEmpty() && !existed)
            writer.discardIfEmpty();
        return code;
    };
    if (!path.isEmpty() && !withinReadersBound(writer, path))
        return failed(ExitFailed);

    int scanValue = 0;
    if (needsScanValue(request.kind)) {
        const int scanRc = scanValueFrom(parser, &scanValue);
        if (scanRc >= 0)
            return failed(scanRc);
    }
    QString warning;
    const PatternRun run = runFor(request, scanValue, &warning);
    const QByteArray lines = patternLines(run);

    if (path.isEmpty()) {
        // A failed write is reported once, as for every subcommand, on the
        // way out.
        out(QString::fromLatin1(lines));
        if (standardOutputFailed())
            return ExitFailed;
        if (!warning.isEmpty())
            err(warning);
        return ExitOk;
    }
    if (!roomFor(writer, path, qint64(run.values.size())))
        return failed(ExitFailed);
    if (!writer.append(lines)) {
        err(QString("%1: cannot write %2: %3").arg(kName, path, writer.errorString()));
        return failed(ExitFailed);
    }
    writer.close();
    err(QString("%1: appended %2 lines to %3").arg(kName).arg(writer.linesAppended()).arg(path));
    if (!warning.isEmpty())
        err(warning);
    return ExitOk;
}

} // namespace

} // namespace cli
