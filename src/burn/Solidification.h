#ifndef DVK_SOLIDIFICATION_H
#define DVK_SOLIDIFICATION_H

#include <QObject>

#include <atomic>

// The commit countdown: while the projector commits the burned data it is
// given 10 ms per value, counted out on a worker thread.
class Solidification : public QObject
{
    Q_OBJECT

public:
    static constexpr int kStepMs = 10;

    // `count` is the number of values the transfer sent: the countdown's length.
    explicit Solidification(int count, QObject *parent = nullptr);

    // Ends a running countdown early (the application is closing); safe from
    // any thread.
    void cancel() { cancelled.store(true); }
    bool wasCancelled() const { return cancelled.load(); }
    // True once the work slot has returned. Read after the thread was waited
    // for, it hands the worker's memory over to the waiting thread in a way
    // ThreadSanitizer sees (QThread::wait synchronises inside Qt).
    bool hasEnded() const { return ended.load(std::memory_order_acquire); }

signals:
    void TimeDisplay(int time);
    void finished();

public slots:
    void TimeOut();

private:
    const int count;
    std::atomic<bool> cancelled{false};
    std::atomic<bool> ended{false};
};

#endif
