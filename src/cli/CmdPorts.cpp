// dvkctl ports: the serial ports the system offers.
#include "Cli.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSerialPortInfo>

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

    const auto ports = QSerialPortInfo::availablePorts();
    QJsonArray array;
    for (const QSerialPortInfo &info : ports) {
        const QString vid = info.hasVendorIdentifier()
                                ? QString("%1").arg(info.vendorIdentifier(), 4, 16, QChar('0'))
                                : QString();
        const QString pid = info.hasProductIdentifier()
                                ? QString("%1").arg(info.productIdentifier(), 4, 16, QChar('0'))
                                : QString();
        if (parser.isSet(json)) {
            QJsonObject o;
            o["name"] = info.portName();
            o["path"] = info.systemLocation();
            o["description"] = info.description();
            o["vid"] = vid.isEmpty() ? QJsonValue() : QJsonValue(vid);
            o["pid"] = pid.isEmpty() ? QJsonValue() : QJsonValue(pid);
            array.append(o);
        } else {
            QString line =
                info.portName() + '\t' + info.systemLocation() + '\t' + info.description();
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
