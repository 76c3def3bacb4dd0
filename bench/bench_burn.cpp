// A burn of a 10-pattern file to the projector simulator, timed against the
// protocol's own pauses: how much the transfer adds on top of them, as fast
// as the pseudo-terminal takes bytes and at the line rate of 115200 baud.
//
//   build/bin/bench_burn
#include "burn/BurnProtocol.h"
#include "burn/BurnRecordThread.h"
#include "serial/mySerial.h"

#include <QCoreApplication>
#include <QProcess>

#include <chrono>
#include <cstdio>
#include <vector>

namespace
{

constexpr int kPatterns = 10;

double burnOnce(const QStringList &simOptions, const std::vector<quint8> &values)
{
    QProcess sim;
    sim.start(DVKCTL_PATH, QStringList{"simulate"} + simOptions);
    if (!sim.waitForStarted() || !sim.waitForReadyRead(5000)) {
        std::fprintf(stderr, "simulator did not start\n");
        return -1;
    }
    const QString path = QString::fromUtf8(sim.readLine()).trimmed();
    mySerial port;
    if (port.openPort(true, path) != 0) {
        std::fprintf(stderr, "cannot open %s\n", qPrintable(path));
        return -1;
    }
    BurnRecordThread worker(&port, values);
    int last = 0;
    QObject::connect(&worker, &BurnRecordThread::ErrorMessage, [&](int code) { last = code; });
    const auto start = std::chrono::steady_clock::now();
    worker.BurnRecord();
    // The simulator may still be reading what the pty buffered: wait for its
    // report of the transfer before stopping the clock.
    while (!sim.canReadLine() && sim.waitForReadyRead(10000)) {
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    port.openPort(false, 0);
    sim.terminate();
    sim.waitForFinished();
    if (last != StatusTransferComplete) {
        std::fprintf(stderr, "transfer did not complete (last code %d)\n", last);
        return -1;
    }
    return seconds;
}

} // namespace

int main(int argc, char *argv[])
{
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &msg) {
        if (type != QtDebugMsg)
            std::fprintf(stderr, "%s\n", qPrintable(msg));
    });
    QCoreApplication app(argc, argv);
    std::vector<quint8> values(kPatterns * burnprotocol::kBlockValues);
    for (size_t i = 0; i < values.size(); ++i)
        values[i] = quint8(i * 7);
    const double pauses = burnprotocol::transferPauseTotalMs(int(values.size())) / 1000.0;
    const qint64 bytes = burnprotocol::transferLength(int(values.size()));
    std::printf("transfer: %d values, %lld bytes, pauses %.3f s\n", int(values.size()),
                (long long)bytes, pauses);

    const double fast = burnOnce({}, values);
    std::printf("simulator unthrottled: %.3f s, overhead over the pauses %.2f %%\n", fast,
                100.0 * (fast - pauses) / pauses);

    const double line = bytes * 10.0 / 115200.0;
    const double slow = burnOnce({"--baud", "115200"}, values);
    std::printf("simulator at 115200 baud: %.3f s, pauses + line time %.3f s, difference %.2f %%\n",
                slow, pauses + line, 100.0 * (slow - (pauses + line)) / (pauses + line));
    return fast < 0 || slow < 0 ? 1 : 0;
}
