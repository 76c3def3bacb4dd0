#include "burn/BurnRecordThread.h"

#include "burn/BurnProtocol.h"
#include "serial/mySerial.h"

#include <QDebug>

#include <chrono>
#include <thread>

BurnRecordThread::BurnRecordThread(mySerial *port, std::vector<quint8> values, const QString &path,
                                   QObject *parent)
    : QObject(parent), port(port), values(std::move(values)), path(path)
{
}

// Sleeps to a deadline in short slices, so that a cancel is seen quickly and
// the slices' overshoot does not add up over a transfer's many pauses.
bool BurnRecordThread::pause(int ms)
{
    using clock = std::chrono::steady_clock;
    const auto deadline = clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        if (cancelled.load())
            return false;
        const auto left = deadline - clock::now();
        if (left <= clock::duration::zero())
            return true;
        std::this_thread::sleep_for(std::min<clock::duration>(left, std::chrono::milliseconds(10)));
    }
}

void BurnRecordThread::BurnRecord()
{
    qDebug() << path;
    const std::vector<burnprotocol::Step> steps =
        burnprotocol::encodeTransfer(values.data(), int(values.size()));
    for (const burnprotocol::Step &step : steps) {
        if (cancelled.load())
            break;
        if (step.kind == burnprotocol::Step::Pause) {
            if (!pause(step.pauseMs))
                break;
            continue;
        }
        const char byte = char(step.byte);
        if (!port->writeData(&byte, 1)) {
            // A write woken by a stop is not a fault to report.
            if (!cancelled.load())
                emit ErrorMessage(StatusWriteFailed);
            emit finished();
            markEnded();
            return;
        }
        if (step.valueNumber > 0)
            emit ErrorMessage(step.valueNumber);
    }
    if (!cancelled.load())
        emit ErrorMessage(StatusTransferComplete);
    emit finished();
    markEnded();
}
