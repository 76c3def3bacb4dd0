#include "serial/SelectSerial.h"

#include "serial/SimulatorPorts.h"

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

QStringList discoveredPorts()
{
    return availablePortNames() + simulatorports::livePorts();
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
