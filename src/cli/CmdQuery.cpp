// dvkctl query: the projector's scan value.
#include "Cli.h"

#include "Stop.h"
#include "serial/mySerial.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace cli
{

int cmdQuery(const QStringList &args)
{
    QCommandLineParser parser;
    const QCommandLineOption port("port", "The projector's serial port (path or name).", "PORT");
    const QCommandLineOption json("json", "One JSON object on standard output.");
    parser.addOption(port);
    parser.addOption(json);
    const int rc = parse(parser, args,
                         "Opens the port, sends the query and prints the projector's scan value.");
    if (rc >= 0)
        return rc;
    if (!noArguments(parser, "dvkctl query"))
        return ExitUsage;
    if (!parser.isSet(port)) {
        err("dvkctl query: --port PORT is required");
        return ExitUsage;
    }
    QString device;
    const int portRc = portOption("dvkctl query", parser.value(port), &device);
    if (portRc >= 0)
        return portRc;

    catchStopSignals();
    mySerial serial;
    const QueryResult result = askForScanValue(serial, device, true);
    if (stopSignal() != 0) {
        err("dvkctl query: stopped");
        return stopExitCode();
    }
    if (parser.isSet(json)) {
        QJsonObject o;
        o["port"] = device;
        o["scan_value"] = result.ok ? QJsonValue(int(result.scanValue)) : QJsonValue();
        o["answer"] = QString::fromLatin1(result.answer.toHex().toUpper());
        outLine(QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact)));
    } else if (result.ok) {
        outLine(QString::number(result.scanValue));
    }
    if (!result.ok) {
        err("dvkctl query: " + result.error);
        return ExitFailed;
    }
    return ExitOk;
}

} // namespace cli
