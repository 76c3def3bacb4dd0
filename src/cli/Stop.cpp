#include "Stop.h"

#include <chrono>
#include <csignal>

#ifdef _WIN32
#include <windows.h>
#endif

namespace cli
{

namespace
{

std::atomic<int> received{0};
static_assert(std::atomic<int>::is_always_lock_free, "set from a signal handler");

extern "C" void onStopSignal(int signal)
{
    received.store(signal);
}

#ifdef _WIN32
// Ctrl-C and Ctrl-Break come on a thread of their own; the guard stops the
// work as for SIGINT. Closing the console window ends the process after the
// handler whatever it returns, so that is left to the default.
BOOL WINAPI onConsoleControl(DWORD event)
{
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)
        return FALSE;
    received.store(SIGINT);
    return TRUE;
}
#endif

// How often a guard looks for a signal: a handler may do next to nothing, so
// it only records the signal and the guard's thread acts on it.
constexpr auto kSignalPoll = std::chrono::milliseconds(10);

} // namespace

void catchStopSignals()
{
#ifdef _WIN32
    SetConsoleCtrlHandler(onConsoleControl, TRUE);
    std::signal(SIGTERM, onStopSignal);
#else
    struct sigaction sa = {};
    sa.sa_handler = onStopSignal;
    sa.sa_flags = SA_RESETHAND | SA_RESTART;
    sigemptyset(&sa.sa_mask);
    // A closed terminal (SIGHUP) and SIGQUIT end a run as SIGTERM does: a
    // port left in exclusive mode would refuse every later open.
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT})
        ::sigaction(signal, &sa, nullptr);
#endif
}

void releaseStopSignals()
{
#ifdef _WIN32
    SetConsoleCtrlHandler(onConsoleControl, FALSE);
#endif
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
#ifndef _WIN32
    std::signal(SIGHUP, SIG_DFL);
    std::signal(SIGQUIT, SIG_DFL);
#endif
}

int stopSignal()
{
    return received.load();
}

int stopExitCode()
{
    return 128 + received.load();
}

StopGuard::StopGuard(std::function<void()> stop, int deadlineMs) : stop(std::move(stop))
{
    watcher = std::thread(&StopGuard::watch, this, deadlineMs);
}

StopGuard::~StopGuard()
{
    {
        std::lock_guard<std::mutex> locked(lock);
        leaving = true;
    }
    wake.notify_all();
    watcher.join();
}

void StopGuard::watch(int deadlineMs)
{
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(deadlineMs);
    std::unique_lock<std::mutex> locked(lock);
    while (!leaving) {
        if (stopSignal() != 0)
            break;
        if (deadlineMs > 0 && Clock::now() >= deadline) {
            expired.store(true);
            break;
        }
        wake.wait_for(locked, kSignalPoll);
    }
    if (leaving)
        return;
    locked.unlock();
    stop();
}

} // namespace cli
