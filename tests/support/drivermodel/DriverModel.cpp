// A model of a USB serial adapter's driver, output side, preloaded
// (LD_PRELOAD) into a program that writes to a pseudo-terminal.
//
// A pseudo-terminal reports an empty output queue at once. A USB adapter's
// driver reports its busy transfer buffers (1280 bytes for a full-speed
// CDC-ACM device) until the USB transfer completes, about 1 ms after the
// write. Here, after each write to a pseudo-terminal's device end
// (/dev/pts/N), TIOCOUTQ reports DVK_MODEL_QUEUE bytes (default 1280) until
// DVK_MODEL_LATENCY_US microseconds (default 1000) have passed, and tcdrain
// blocks until then. Optionally:
//   DVK_MODEL_STALL_AT=N   from the Nth write on the line is stalled: the
//                          queue never empties and tcdrain blocks until a
//                          signal (flushing the output empties the queue
//                          until the next write)
//   DVK_MODEL_HANGUP_AT=N  after the Nth write the adapter is gone: TIOCOUTQ
//                          and every later write fail with EIO
// Writes are counted per open descriptor, from 1. The bytes themselves go
// through to the pseudo-terminal unchanged.
//
// A test that preloads the model into itself changes the settings with
// dvkDriverModelSet (found with dlsym).
#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include <dlfcn.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace
{

constexpr int kMaxFd = 4096;
constexpr long long kNever = 0x7fffffffffffffffLL;
enum Kind : unsigned char { Unknown, Modelled, Plain };

std::atomic<unsigned char> kinds[kMaxFd];
std::atomic<long long> busyUntilNs[kMaxFd];
std::atomic<long> writeCount[kMaxFd];

std::atomic<long> latencyUs{1000};
std::atomic<int> queueBytes{1280};
std::atomic<long> stallAt{0};
std::atomic<long> hangupAt{0};

template <typename F> F real(F &cached, const char *name)
{
    if (!cached)
        cached = reinterpret_cast<F>(::dlsym(RTLD_NEXT, name));
    return cached;
}

using WriteFn = ssize_t (*)(int, const void *, size_t);
using IoctlFn = int (*)(int, unsigned long, ...);
using CloseFn = int (*)(int);
using TcdrainFn = int (*)(int);
using TcflushFn = int (*)(int, int);
WriteFn realWrite = nullptr;
IoctlFn realIoctl = nullptr;
CloseFn realClose = nullptr;
TcdrainFn realTcdrain = nullptr;
TcflushFn realTcflush = nullptr;

long long nowNs()
{
    timespec ts;
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000000000LL + ts.tv_nsec;
}

long envLong(const char *name, long fallback)
{
    const char *text = std::getenv(name);
    return text && *text ? std::strtol(text, nullptr, 10) : fallback;
}

__attribute__((constructor)) void readSettings()
{
    latencyUs = envLong("DVK_MODEL_LATENCY_US", 1000);
    queueBytes = int(envLong("DVK_MODEL_QUEUE", 1280));
    stallAt = envLong("DVK_MODEL_STALL_AT", 0);
    hangupAt = envLong("DVK_MODEL_HANGUP_AT", 0);
}

// The device end of a pseudo-terminal stands for the adapter; every other
// descriptor is left alone. Decided once per open descriptor.
bool modelled(int fd)
{
    if (fd < 0 || fd >= kMaxFd)
        return false;
    unsigned char kind = kinds[fd].load();
    if (kind == Unknown) {
        char link[64];
        char target[64] = {};
        std::snprintf(link, sizeof(link), "/proc/self/fd/%d", fd);
        const ssize_t n = ::readlink(link, target, sizeof(target) - 1);
        kind = n > 9 && std::strncmp(target, "/dev/pts/", 9) == 0 ? Modelled : Plain;
        kinds[fd].store(kind);
    }
    return kind == Modelled;
}

bool hungUp(int fd)
{
    return hangupAt > 0 && writeCount[fd] >= hangupAt;
}

} // namespace

extern "C" {

__attribute__((visibility("default"))) void dvkDriverModelSet(long latency, int queue, long stall,
                                                              long hangup)
{
    latencyUs = latency;
    queueBytes = queue;
    stallAt = stall;
    hangupAt = hangup;
}

ssize_t write(int fd, const void *data, size_t n)
{
    if (!modelled(fd))
        return real(realWrite, "write")(fd, data, n);
    if (hungUp(fd)) {
        errno = EIO;
        return -1;
    }
    const long count = writeCount[fd].fetch_add(1) + 1;
    const ssize_t r = real(realWrite, "write")(fd, data, n);
    if (r > 0) {
        const bool stall = stallAt > 0 && count >= stallAt;
        busyUntilNs[fd] = stall ? kNever : nowNs() + latencyUs * 1000LL;
    }
    return r;
}

int ioctl(int fd, unsigned long request, ...)
{
    va_list args;
    va_start(args, request);
    void *arg = va_arg(args, void *);
    va_end(args);
    if (request == TIOCOUTQ && modelled(fd)) {
        if (hungUp(fd)) {
            errno = EIO;
            return -1;
        }
        *static_cast<int *>(arg) = nowNs() < busyUntilNs[fd] ? queueBytes.load() : 0;
        return 0;
    }
    return real(realIoctl, "ioctl")(fd, request, arg);
}

int tcdrain(int fd)
{
    if (!modelled(fd))
        return real(realTcdrain, "tcdrain")(fd);
    for (;;) {
        if (hungUp(fd)) {
            errno = EIO;
            return -1;
        }
        const long long left = busyUntilNs[fd] - nowNs();
        if (left <= 0)
            return 0;
        // In slices, so that a flush from another thread ends a stalled wait.
        const long long ns = left < 1000000LL ? left : 1000000LL;
        const timespec ts{time_t(ns / 1000000000LL), long(ns % 1000000000LL)};
        // A signal ends the wait, as it ends the real one.
        if (::nanosleep(&ts, nullptr) != 0 && errno == EINTR)
            return -1;
    }
}

int tcflush(int fd, int queue)
{
    if (modelled(fd) && (queue == TCOFLUSH || queue == TCIOFLUSH))
        busyUntilNs[fd] = 0;
    return real(realTcflush, "tcflush")(fd, queue);
}

int close(int fd)
{
    if (fd >= 0 && fd < kMaxFd) {
        kinds[fd] = Unknown;
        writeCount[fd] = 0;
        busyUntilNs[fd] = 0;
    }
    return real(realClose, "close")(fd);
}

} // extern "C"
