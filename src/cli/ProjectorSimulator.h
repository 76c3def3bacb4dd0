#ifndef DVK_PROJECTORSIMULATOR_H
#define DVK_PROJECTORSIMULATOR_H

#include "burn/BurnProtocol.h"

#include <QByteArray>
#include <QJsonArray>
#include <QString>

#include <chrono>

namespace cli
{

// How the simulator behaves: dvkctl simulate's options.
struct SimulatorOptions {
    QString tag;       // how its messages begin
    QByteArray answer; // empty: silent
    long baud = 0;     // 0: read as fast as bytes come
    QString recordDir;
    QString link;
    QString name; // the registration's name
    bool nameGiven = false;
    bool once = false;
};

// Who still uses the simulator's port. A client that ends without closing
// the port its own way (killed, or a signal it does not catch) leaves the
// terminal in exclusive mode, and the simulator keeps the terminal alive:
// every later open by an ordinary user would fail as busy. Each time the
// kernel reports a close of the device, the simulator looks for a client
// still holding a lock on it (as every port opened by this tool does), and
// when there is none it lifts the mode.
class PortClients
{
public:
    // Watches `device` from now on; `keep` is the simulator's own
    // descriptor of it.
    PortClients(const QString &device, int keep);
    ~PortClients();
    PortClients(const PortClients &) = delete;
    PortClients &operator=(const PortClients &) = delete;

    // Readable when the device has been opened or closed; -1 when it
    // cannot be watched.
    int eventFd() const { return notify; }
    // Milliseconds until look() is due again, -1 for none.
    int msToNextLook() const;
    // Takes the events waiting; looks when a close was among them.
    void update();
    // Lifts the mode when no lock is held on the device; while one still
    // is, looks again shortly for a while (a dying client's lock goes just
    // after the kernel reports its close).
    void look();

private:
    bool lockHeld() const;

    using Clock = std::chrono::steady_clock;
    int notify = -1;
    const int keep;
    QString lockKey; // the device as the kernel's lock list names it
    Clock::time_point lookUntil;
    Clock::time_point nextLook;
    bool looking = false;
};

// A stand-in for the projector on the master end of a pseudo-terminal. It
// answers the scan-value query and reads burn transfers with the same
// protocol code the burn uses, reporting each on standard output as one JSON
// line.
class ProjectorSimulator
{
public:
    // `stopFd` becomes readable when the simulator is to end (a signal).
    ProjectorSimulator(const SimulatorOptions &options, int master, int stopFd,
                       PortClients &clients)
        : options(options), master(master), stopFd(stopFd), clients(clients)
    {
    }

    // Runs until stopped, until whoever reads standard output has gone, or
    // after the first committed transfer with `once`.
    void run();

private:
    using Clock = std::chrono::steady_clock;

    void take(quint8 byte, Clock::time_point t);
    void idleByte(quint8 byte);
    void flushStray();
    void answerQuery();
    void report(const burnprotocol::Transfer &transfer);
    QString record(const QByteArray &values);
    // Writes what the line takes now, without waiting; the bytes written.
    QByteArray writeNow(const QByteArray &bytes);
    int pollTimeout(Clock::time_point now) const;
    qint64 quietMs(int baseMs) const;

    const SimulatorOptions &options;
    const int master;
    const int stopFd;
    PortClients &clients;
    burnprotocol::Decoder decoder;
    QByteArray stray; // bytes outside a transfer not yet known to be a query
    Clock::time_point lastByte;
    // The transfer being received: its start, offsets and silences.
    Clock::time_point transferStart;
    qint64 transferOffset = 0;
    QJsonArray gaps;
    int transfersSeen = 0;
    QString nextRecord; // decimal; empty: not yet looked at the record directory
    bool done = false;
    // Line-rate reading: bytes that may be read now.
    double budget = 0.0;
    Clock::time_point budgetTime;
};

} // namespace cli

#endif
