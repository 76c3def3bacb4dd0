#ifndef DVK_WORKERTHREAD_H
#define DVK_WORKERTHREAD_H

#include <QThread>

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
