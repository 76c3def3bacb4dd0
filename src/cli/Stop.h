#ifndef DVK_CLI_STOP_H
#define DVK_CLI_STOP_H

#include <QtGlobal>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

// Stopping a command that works on a port, from outside (SIGINT, SIGTERM, and
// on POSIX systems SIGHUP and SIGQUIT) or
// at a deadline, so that it still releases the port: a terminal left in
// exclusive mode refuses every later open.
namespace cli
{

// From now on the first stop signal asks the command to stop instead of
// ending the process; a second one ends it as usual.
void catchStopSignals();

// The stop signals end the process again (once the port is released).
void releaseStopSignals();

// The stop signal received so far, 0 if none.
int stopSignal();

// The exit status for it: 128 + the signal (130 for SIGINT, 143 for SIGTERM,
// 129 for SIGHUP, 131 for SIGQUIT).
int stopExitCode();

// While it lives, runs `stop` once, on a thread of its own, as soon as a stop
// signal has arrived or `deadlineMs` (when > 0) have passed.
class StopGuard
{
public:
    explicit StopGuard(std::function<void()> stop, int deadlineMs = 0);
    ~StopGuard();
    StopGuard(const StopGuard &) = delete;
    StopGuard &operator=(const StopGuard &) = delete;

    // True when the deadline, not a signal, ran `stop`.
    bool timedOut() const { return expired.load(); }

private:
    void watch(int deadlineMs);

    const std::function<void()> stop;
    std::mutex lock;
    std::condition_variable wake;
    bool leaving = false;
    std::atomic<bool> expired{false};
    std::thread watcher;
};

} // namespace cli

#endif
