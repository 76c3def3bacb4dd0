// dvkctl ports: the serial ports the system offers, and the running
// simulators, as the window lists them.
#include "Cli.h"

#include "serial/SelectSerial.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace cli
{

namespace
{
int run(const Call &call);
} // namespace

const Command portsCommand{"ports",
                           "list the serial ports the system offers",
                           "Lists the serial ports the system offers.",
                           {{"json", "One JSON array on standard output."}},
                           {},
                           {},
                           run};

namespace
{

int run(const Call &call)
{
    const QCommandLineParser &parser = call.parser;
    const bool json = parser.isSet("json");
    if (!noArguments(parser, call.tag))
        return ExitUsage;

    QJsonArray array;
    for (const PortEntry &port : listPorts()) {
        const QString &vid = port.vendorId;
        const QString &pid = port.productId;
        if (json) {
            QJsonObject o;
            o["name"] = port.name;
            o["path"] = port.path;
            o["description"] = port.description;
            o["vid"] = vid.isEmpty() ? QJsonValue() : QJsonValue(vid);
            o["pid"] = pid.isEmpty() ? QJsonValue() : QJsonValue(pid);
            array.append(o);
        } else {
            QString line = port.name + '\t' + port.path + '\t' + port.description;
            if (!vid.isEmpty() || !pid.isEmpty())
                line += '\t' + vid + ':' + pid;
            outLine(line);
        }
    }
    if (json)
        outLine(QString::fromUtf8(QJsonDocument(array).toJson(QJsonDocument::Compact)));
    return ExitOk;
}

} // namespace

} // namespace cli
