#ifndef DVK_SELECTSERIAL_H
#define DVK_SELECTSERIAL_H

#include <QObject>
#include <QStringList>

#include <atomic>

// Port discovery worker: lives in its own thread and reports the system's
// serial ports and the running simulators every two seconds.
class SelectSerial : public QObject
{
    Q_OBJECT

public:
    explicit SelectSerial(QObject *parent = nullptr);

    static constexpr int kPollIntervalMs = 2000;

    // True once the work slot has returned. Read after the thread was waited
    // for, it hands the worker's memory over to the waiting thread in a way
    // ThreadSanitizer sees (QThread::wait synchronises inside Qt).
    bool hasEnded() const { return ended.load(std::memory_order_acquire); }

signals:
    void QStringListSend(QStringList list);

public slots:
    // Polls until its thread is asked to stop (QThread::requestInterruption);
    // the wait between polls is cut into short sleeps so that a stop request
    // is seen within a few tens of milliseconds.
    void Select();

private:
    std::atomic<bool> ended{false};
};

// The names of the serial ports the system offers, in its own order.
QStringList availablePortNames();

// What the port list offers: the system's port names, then the running
// simulators' registrations as absolute paths, in name order.
QStringList discoveredPorts();

#endif
