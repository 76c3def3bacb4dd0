#ifndef DVK_BURNRECORDTHREAD_H
#define DVK_BURNRECORDTHREAD_H

#include "serial/StatusCodes.h"
#include "serial/WorkerEnd.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <vector>

class mySerial;

// Streams checked burn values to the projector on a worker thread: one write
// per byte, the framing and pauses of the burn protocol, a progress code after
// each value. Reports through ErrorMessage(int): 1 … N progress, then −3 when
// the whole stream including the commit command went out, or −4 once when a
// write failed — the transfer then stops and nothing more is sent, so a
// projector never receives a commit for data that did not arrive.
class BurnRecordThread : public QObject, public WorkerEnd
{
    Q_OBJECT

public:
    BurnRecordThread(mySerial *port, std::vector<quint8> values, const QString &path = QString(),
                     QObject *parent = nullptr);

    // Stops a running transfer before its next byte or inside a pause; safe
    // from any thread. Nothing more is sent and no final code is emitted. A
    // write already waiting on the line ends at its time-out, or at once when
    // whoever stops the transfer also closes the port.
    void cancel() { cancelled.store(true); }

signals:
    void ErrorMessage(int err);
    void finished();

public slots:
    void BurnRecord();

private:
    bool pause(int ms);

    mySerial *const port;
    const std::vector<quint8> values;
    const QString path;
    std::atomic<bool> cancelled{false};
};

#endif
