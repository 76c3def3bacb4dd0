#ifndef DVK_WORKERTHREAD_H
#define DVK_WORKERTHREAD_H

#include <QObject>
#include <QThread>

#include <cstddef>
#include <type_traits>

// Runs a worker object on a thread of its own: the thread (a child of
// `owner`) takes the worker, runs `work` when it starts, quits when the
// worker emits `finished` (when given; a worker without one runs until its
// thread is interrupted), and calls `ended(thread)` on the owner's thread once
// it has stopped. Connect the worker's own signals before calling this: the
// thread is running when it returns.
template <typename Worker, typename Finished, typename Ended>
QThread *startWorkerThread(QObject *owner, Worker *worker, void (Worker::*work)(),
                           Finished finished, Ended ended)
{
    auto *thread = new QThread(owner);
    worker->moveToThread(thread);
    QObject::connect(thread, &QThread::started, worker, work);
    if constexpr (!std::is_same_v<Finished, std::nullptr_t>)
        QObject::connect(worker, finished, thread, &QThread::quit);
    QObject::connect(thread, &QThread::finished, owner, [thread, ended]() { ended(thread); });
    thread->start(QThread::InheritPriority);
    return thread;
}

// Stops a worker that runs on its own thread and frees both: the worker is
// asked to stop (it sends or counts nothing more), its thread is ended and
// waited for, so no thread object is destroyed while its thread runs.
// Safe to call again; both pointers are left null.
template <typename Worker> void endWorkerThread(QThread *&thread, Worker *&worker)
{
    if (!thread)
        return;
    worker->cancel();
    thread->quit();
    thread->wait();
    worker->hasEnded();
    delete worker;
    delete thread;
    worker = nullptr;
    thread = nullptr;
}

#endif
