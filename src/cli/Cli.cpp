#include "Cli.h"

#include "Stop.h"

#include "patterns/ScanTiming.h"
#include "serial/SelectSerial.h"
#include "serial/mySerial.h"

#include <QFileInfo>

#include <cstdio>
#include <unistd.h>

namespace cli
{

namespace
{

bool outputLost = false;

} // namespace

QString printable(const QString &text)
{
    const auto escaped = [](uint byte) {
        return "\\x" + QString::number(byte, 16).toUpper().rightJustified(2, '0');
    };
    QString shown;
    shown.reserve(text.size());
    for (const QChar c : text) {
        const ushort u = c.unicode();
        if (u == '\n')
            shown += "\\n";
        else if (u == '\r')
            shown += "\\r";
        else if ((u < 0x20 && u != '\t') || (u >= 0x7F && u < 0xA0))
            shown += escaped(u);
        else if (u >= 0xDC80 && u <= 0xDCFF) // a byte that is not UTF-8, kept by the name codec
            shown += escaped(u - 0xDC00u);
        else
            shown += c;
    }
    return shown;
}

void out(const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    if (std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout) != size_t(bytes.size()) ||
        std::fflush(stdout) != 0)
        outputLost = true;
}

bool standardOutputFailed()
{
    return std::fflush(stdout) != 0 || std::ferror(stdout) != 0 || outputLost;
}

void outLine(const QString &text)
{
    out(printable(text) + '\n');
}

void err(const QString &text)
{
    const QByteArray bytes = (printable(text) + '\n').toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);
}

bool stderrIsTerminal()
{
    return isatty(fileno(stderr)) != 0;
}

bool noArguments(const QCommandLineParser &parser, const QString &command)
{
    if (parser.positionalArguments().isEmpty())
        return true;
    err(QString("%1: unexpected argument '%2'").arg(command, parser.positionalArguments().first()));
    return false;
}

bool oneFile(const QCommandLineParser &parser, const QString &command, QString *file)
{
    const QStringList files = parser.positionalArguments();
    if (files.size() == 1) {
        *file = files.first();
        return true;
    }
    err(files.isEmpty() ? QString("%1: no FILE given").arg(command)
                        : QString("%1: unexpected argument '%2'").arg(command, files.at(1)));
    return false;
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

bool rangeOption(const QCommandLineParser &parser, const QString &command, const QString &name,
                 int low, int high, int *value)
{
    if (!parser.isSet(name)) {
        err(QString("%1: --%2 is required").arg(command, name));
        return false;
    }
    if (!intOption(parser, name, value))
        return false;
    if (*value < low || *value > high) {
        err(QString("%1: --%2 %3 is out of range (%4 to %5)")
                .arg(command, name)
                .arg(*value)
                .arg(low)
                .arg(high));
        return false;
    }
    return true;
}

bool scanValueOption(const QCommandLineParser &parser, const QString &command, int *value)
{
    return rangeOption(parser, command, "scan-value", kMinScanValue, kMaxScanValue, value);
}

QString portDevicePath(const QString &port)
{
    // A bare name means what `dvkctl ports` lists under it, in its order:
    // the system's ports, then the simulators. A name it does not list is
    // still tried as a device (a port the system does not enumerate).
    if (!port.isEmpty() && !port.contains('/')) {
        for (const PortEntry &entry : listPorts())
            if (entry.name == port)
                return entry.path;
    }
    return mySerial::devicePath(port);
}

int portOption(const QString &command, const QString &port, QString *device)
{
    if (port.isEmpty()) {
        err(QString("%1: --port: no port given").arg(command));
        return ExitUsage;
    }
    *device = portDevicePath(port);
#ifndef _WIN32
    if (!QFileInfo::exists(*device)) {
        err(QString("%1: no such port '%2'").arg(command, *device));
        return ExitUsage;
    }
#endif
    return -1;
}

QCommandLineOption portOptionDeclaration(const QString &description)
{
    return QCommandLineOption("port", description, "PORT");
}

int requiredPort(const Call &call, QString *device)
{
    if (!call.parser.isSet("port")) {
        err(call.tag + ": --port PORT is required");
        return ExitUsage;
    }
    return portOption(call.tag, call.parser.value("port"), device);
}

bool outputOption(const QCommandLineParser &parser, const QString &name, const QString &command,
                  QString *path)
{
    *path = parser.value(name);
    if (path->isEmpty()) {
        err(QString("%1: -%2: empty file name").arg(command, name));
        return false;
    }
    return true;
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
