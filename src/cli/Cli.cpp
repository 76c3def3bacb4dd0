#include "Cli.h"

#include "Stop.h"

#include "patterns/ScanTiming.h"
#include "serial/mySerial.h"

#include <cstdio>
#include <unistd.h>

namespace cli
{

void out(const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fflush(stdout);
}

void outLine(const QString &text)
{
    out(text + '\n');
}

void err(const QString &text)
{
    const QByteArray bytes = (text + '\n').toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);
}

bool stderrIsTerminal()
{
    return isatty(fileno(stderr)) != 0;
}

int parse(QCommandLineParser &parser, const QStringList &args, const QString &description)
{
    parser.setApplicationDescription(description);
    const QCommandLineOption help(QStringList{"h", "help"}, "Show this help.");
    parser.addOption(help);
    QStringList argv = args;
    argv[0] = "dvkctl " + args.first();
    if (!parser.parse(argv)) {
        err(QString("dvkctl %1: %2").arg(args.first(), parser.errorText()));
        return ExitUsage;
    }
    if (parser.isSet(help)) {
        // The parser names the program by its path; the usage line names
        // the subcommand as it is typed.
        QString help = parser.helpText();
        const int end = help.indexOf(QLatin1String(" [options]"));
        if (help.startsWith(QLatin1String("Usage: ")) && end > 0)
            help.replace(7, end - 7, "dvkctl " + args.first());
        out(help);
        return ExitOk;
    }
    return -1;
}

bool intOption(const QCommandLineParser &parser, const QString &name, int *value)
{
    const QString text = parser.value(name);
    bool ok = false;
    const int v = text.trimmed().toInt(&ok, 10);
    if (!ok) {
        err(QString("dvkctl: --%1: bad number '%2'").arg(name, text));
        return false;
    }
    *value = v;
    return true;
}

bool scanValueOption(const QCommandLineParser &parser, const QString &command, int *value)
{
    if (!parser.isSet("scan-value")) {
        err(QString("%1: --scan-value is required").arg(command));
        return false;
    }
    if (!intOption(parser, "scan-value", value))
        return false;
    if (*value < kMinScanValue || *value > kMaxScanValue) {
        err(QString("%1: --scan-value %2 is out of range (%3 to %4)")
                .arg(command)
                .arg(*value)
                .arg(kMinScanValue)
                .arg(kMaxScanValue));
        return false;
    }
    return true;
}

QString portDevicePath(const QString &port)
{
    return mySerial::devicePath(port);
}

QueryResult askForScanValue(mySerial &serial, const QString &device, bool open)
{
    QueryResult result;
    bool late = false;
    {
        // A deadline or a signal shuts the port down, which wakes the read.
        StopGuard guard([&serial] { serial.shutDown(); }, kQueryDeadlineMs);
        result = open ? queryProjector(serial, device, kAnswerSettleMs)
                      : askProjector(serial, device, kAnswerSettleMs);
        late = guard.timedOut();
    }
    if (late) {
        result.ok = false;
        result.error =
            QString("no valid answer from %1 within %2 s").arg(device).arg(kQueryDeadlineMs / 1000);
    }
    return result;
}

} // namespace cli
