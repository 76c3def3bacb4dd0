// dvkctl query: the projector's scan value.
#include "Cli.h"

#include "Stop.h"
#include "serial/mySerial.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace cli
{

namespace
{
int run(const Call &call);
} // namespace

const Command queryCommand{
    "query",
    "ask the projector for its scan value",
    "Opens the port, sends the query and prints the projector's scan value.",
    {portOptionDeclaration(), {"json", "One JSON object on standard output."}},
    {},
    {},
    run};

namespace
{

int run(const Call &call)
{
    if (!noArguments(call.parser, call.tag))
        return ExitUsage;
    QString device;
    const int portRc = requiredPort(call, &device);
    if (portRc >= 0)
        return portRc;

    catchStopSignals();
    mySerial serial;
    const QueryResult result = askForScanValue(serial, device, true);
    if (stopSignal() != 0) {
        err(call.tag + ": stopped");
        return stopExitCode();
    }
    if (call.parser.isSet("json")) {
        QJsonObject o;
        o["port"] = device;
        o["scan_value"] = result.ok ? QJsonValue(int(result.scanValue)) : QJsonValue();
        o["answer"] = QString::fromLatin1(result.answer.toHex().toUpper());
        outLine(QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact)));
    } else if (result.ok) {
        outLine(QString::number(result.scanValue));
    }
    if (!result.ok) {
        err(call.tag + ": " + result.error);
        return ExitFailed;
    }
    return ExitOk;
}

} // namespace

} // namespace cli
