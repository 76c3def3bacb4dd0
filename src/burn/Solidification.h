#ifndef DVK_SOLIDIFICATION_H
#define DVK_SOLIDIFICATION_H

#include "serial/WorkerEnd.h"

#include <QObject>

#include <atomic>

// The commit countdown: while the projector commits the burned data it is
// given 10 ms per value, counted out on a worker thread.
class Solidification : public QObject, public WorkerEnd
{
    Q_OBJECT

public:
    static constexpr int kStepMs = 10;

    // `count` is the number of values the transfer sent: the countdown's length.
    explicit Solidification(int count, QObject *parent = nullptr);

    // Ends a running countdown early (the application is closing); safe from
    // any thread.
    void cancel() { cancelled.store(true); }

signals:
    void TimeDisplay(int time);
    void finished();

public slots:
    void TimeOut();

private:
    const int count;
    std::atomic<bool> cancelled{false};
};

#endif
