#include "burn/Solidification.h"

#include <QThread>

Solidification::Solidification(int count, QObject *parent) : QObject(parent), count(count) {}

void Solidification::TimeOut()
{
    for (int t = 1; t <= count && !cancelled.load(); ++t) {
        emit TimeDisplay(t);
        QThread::msleep(kStepMs);
    }
    emit finished();
    markEnded();
}
