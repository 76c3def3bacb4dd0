#ifndef DVK_SELECTSERIAL_H
#define DVK_SELECTSERIAL_H

#include "serial/WorkerEnd.h"

#include <QList>
#include <QObject>
#include <QStringList>

// Port discovery worker: lives in its own thread and reports the system's
// serial ports and the running simulators every two seconds.
class SelectSerial : public QObject, public WorkerEnd
{
    Q_OBJECT

public:
    explicit SelectSerial(QObject *parent = nullptr);

    static constexpr int kPollIntervalMs = 2000;

signals:
    void QStringListSend(QStringList list);

public slots:
    // Polls until its thread is asked to stop (QThread::requestInterruption);
    // the wait between polls is cut into short sleeps so that a stop request
    // is seen within a few tens of milliseconds.
    void Select();
};

// One port as the listings show it. A simulator's registration is named by
// its registration name and opened by its path; USB ids are four hex digits,
// empty where unknown.
struct PortEntry {
    QString name;
    QString path;
    QString description;
    QString vendorId;
    QString productId;
    bool simulator = false;
};

// Every port on offer: the system's serial ports in its own order, then the
// live simulators in name order (dead registrations are removed on the way).
// The window's discovery and dvkctl's listing both show this.
QList<PortEntry> listPorts();

// The names of the serial ports the system offers, in its own order.
QStringList availablePortNames();

// What the port list offers: the system's port names, then the running
// simulators' registrations as absolute paths, in name order.
QStringList discoveredPorts();

// The entry of a refilled port list to select: the one that was selected, if
// it is still listed; else, while a port is open (`opened` names it), that
// port's entry, or none (-1) when it is gone too, so that the box never shows
// another device beside an open port; else the first entry (-1 if none).
int portEntryAfterRefill(const QStringList &ports, const QString &selected, const QString &opened);

#endif
