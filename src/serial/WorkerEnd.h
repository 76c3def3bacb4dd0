#ifndef DVK_WORKEREND_H
#define DVK_WORKEREND_H

#include <atomic>

// The mark a worker object that runs on a thread of its own sets as its work
// slot returns; the workers derive from it beside QObject.
class WorkerEnd
{
public:
    // True once the work slot has returned. Read after the thread was waited
    // for, it hands the worker's memory over to the waiting thread in a way
    // ThreadSanitizer sees (QThread::wait synchronises inside Qt).
    bool hasEnded() const { return ended.load(std::memory_order_acquire); }

protected:
    // The work slot's last act.
    void markEnded() { ended.store(true, std::memory_order_release); }

private:
    std::atomic<bool> ended{false};
};

#endif
