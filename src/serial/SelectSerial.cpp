#include "serial/SelectSerial.h"

#include "serial/SimulatorPorts.h"

#include <QFileInfo>
#include <QSerialPortInfo>
#include <QThread>

namespace
{
constexpr int kStopCheckMs = 20;
}

SelectSerial::SelectSerial(QObject *parent) : QObject(parent) {}

QStringList availablePortNames()
{
    QStringList names;
    const auto ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : ports)
        names.append(info.portName());
    return names;
}

QList<PortEntry> listPorts()
{
    QList<PortEntry> entries;
    const auto hex = [](bool known, quint16 id) {
        return known ? QString("%1").arg(id, 4, 16, QChar('0')) : QString();
    };
    const auto ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : ports)
        entries.append({info.portName(), info.systemLocation(), info.description(),
                        hex(info.hasVendorIdentifier(), info.vendorIdentifier()),
                        hex(info.hasProductIdentifier(), info.productIdentifier()), false});
    for (const QString &path : simulatorports::livePorts())
        entries.append(
            {QFileInfo(path).fileName(), path, "projector simulator", QString(), QString(), true});
    return entries;
}

QStringList discoveredPorts()
{
    QStringList names;
    for (const PortEntry &entry : listPorts())
        names.append(entry.simulator ? entry.path : entry.name);
    return names;
}

int portEntryAfterRefill(const QStringList &ports, const QString &selected, const QString &opened)
{
    if (!selected.isEmpty() && ports.contains(selected))
        return ports.indexOf(selected);
    if (!opened.isEmpty())
        return ports.indexOf(opened);
    return ports.isEmpty() ? -1 : 0;
}

void SelectSerial::Select()
{
    QThread *self = QThread::currentThread();
    while (!self->isInterruptionRequested()) {
        emit QStringListSend(discoveredPorts());
        for (int waited = 0; waited < kPollIntervalMs && !self->isInterruptionRequested();
             waited += kStopCheckMs)
            QThread::msleep(kStopCheckMs);
    }
    markEnded();
}
