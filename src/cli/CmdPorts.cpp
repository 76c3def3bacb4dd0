// dvkctl ports: the serial ports the system offers, and the running
// simulators, as the window lists them.
#include "Cli.h"

#include "serial/SelectSerial.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace cli
{

int cmdPorts(const QStringList &args)
{
    QCommandLineParser parser;
    const QCommandLineOption json("json", "One JSON array on standard output.");
    parser.addOption(json);
    const int rc = parse(parser, args, "Lists the serial ports the system offers.");
    if (rc >= 0)
        return rc;
    if (!noArguments(parser, "dvkctl ports"))
        return ExitUsage;

    QJsonArray array;
    for (const PortEntry &port : listPorts()) {
        const QString &vid = port.vendorId;
        const QString &pid = port.productId;
        if (parser.isSet(json)) {
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
    if (parser.isSet(json))
        outLine(QString::fromUtf8(QJsonDocument(array).toJson(QJsonDocument::Compact)));
    return ExitOk;
}

} // namespace cli
