// Serial port on POSIX terminals: termios for the line, poll for the
// time-outs, and a wake-up pipe so that closing the port can end a read or
// write that another thread is blocked in.
#include "serial/SerialPlatform.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <string>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

namespace serialplatform
{

struct Port {
    int fd = -1;
    int wakeRead = -1;
    int wakeWrite = -1;
    std::atomic<bool> interrupted{false};
};

namespace
{

using Clock = std::chrono::steady_clock;

int msUntil(Clock::time_point deadline)
{
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0)
        return 0;
    // Round up so that poll never returns a hair before the deadline.
    return int(left) + 1;
}

// Waits until the port is ready for `events`. Returns the port's poll
// events (non-zero) when it is ready or hung up, 0 on time-out, -1 when
// interrupted or on error.
int waitFor(Port *port, short events, Clock::time_point deadline)
{
    for (;;) {
        if (port->interrupted.load())
            return -1;
        const int timeout = msUntil(deadline);
        if (timeout == 0)
            return 0;
        pollfd fds[2] = {{port->fd, events, 0}, {port->wakeRead, POLLIN, 0}};
        const int r = ::poll(fds, 2, timeout);
        if (r < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        if (fds[1].revents != 0)
            return -1;
        if (fds[0].revents & (events | POLLHUP | POLLERR | POLLNVAL))
            return fds[0].revents;
        // r == 0: the loop re-checks the deadline
    }
}

void sleepMicroseconds(long us)
{
    timespec ts{us / 1000000, (us % 1000000) * 1000};
    while (::nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

// A write on Windows completes once the bytes have gone out; a POSIX write
// only queues them. Waiting here keeps the pauses between writes real gaps on
// the line. Pseudo-terminals report an empty queue at once.
bool drain(Port *port, Clock::time_point deadline)
{
    for (;;) {
        int pending = 0;
        if (::ioctl(port->fd, TIOCOUTQ, &pending) != 0)
            return true; // the driver cannot tell: nothing to wait for
        if (pending <= 0)
            return true;
        if (port->interrupted.load() || Clock::now() >= deadline)
            return false;
        // One byte takes 10 bit times: about 87 us at 115200 baud.
        const long us = 1000000L * 10 * pending / long(kBaudRate);
        sleepMicroseconds(us < 50 ? 50 : (us > 20000 ? 20000 : us));
    }
}

} // namespace

Port *open(const std::string &path)
{
    if (path.empty())
        return nullptr;
    // O_NONBLOCK: an open must not wait for a carrier; every wait below is
    // a poll with its own time-out.
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    // Only a terminal device is a serial port.
    if (!::isatty(fd)) {
        ::close(fd);
        return nullptr;
    }
    // TIOCEXCL keeps other users' opens out, but the superuser ignores it;
    // the advisory lock makes a second open by any cooperating program fail.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return nullptr;
    }
    ::ioctl(fd, TIOCEXCL);

    int wake[2];
    if (::pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) {
        ::ioctl(fd, TIOCNXCL);
        ::close(fd);
        return nullptr;
    }
    Port *port = new Port;
    port->fd = fd;
    port->wakeRead = wake[0];
    port->wakeWrite = wake[1];
    return port;
}

void configure(Port *port)
{
    termios t;
    if (::tcgetattr(port->fd, &t) == 0) {
        // Raw bytes: no line editing, echo, signals, break handling, case or
        // CR/LF translation, and no in-band XON/XOFF (it would swallow or
        // inject 0x11 and 0x13, which are ordinary data here). Hardware flow
        // control and the modem lines stay as the system has them.
        t.c_iflag &= ~tcflag_t(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON |
                               IXOFF | IXANY | INPCK);
#ifdef IUCLC
        t.c_iflag &= ~tcflag_t(IUCLC);
#endif
        t.c_oflag &= ~tcflag_t(OPOST);
        t.c_lflag &= ~tcflag_t(ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN);
        t.c_cflag &= ~tcflag_t(CSIZE | PARENB | CSTOPB);
        t.c_cflag |= tcflag_t(CS8 | CLOCAL | CREAD);
        t.c_cc[VMIN] = 1;
        t.c_cc[VTIME] = 0;
        ::cfsetispeed(&t, B115200);
        ::cfsetospeed(&t, B115200);
        ::tcsetattr(port->fd, TCSANOW, &t);
    }
    ::tcflush(port->fd, TCIOFLUSH);
}

bool write(Port *port, const void *data, std::size_t length)
{
    const auto deadline =
        Clock::now() + std::chrono::milliseconds(kWriteMsPerByte * length + kWriteConstantMs);
    const char *p = static_cast<const char *>(data);
    std::size_t left = length;
    bool ok = !port->interrupted.load();
    while (ok && left > 0) {
        const ssize_t r = ::write(port->fd, p, left);
        if (r > 0) {
            p += r;
            left -= std::size_t(r);
            continue;
        }
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0 && errno != EAGAIN) {
            ok = false;
            break;
        }
        ok = waitFor(port, POLLOUT, deadline) > 0;
    }
    if (ok)
        ok = drain(port, deadline);
    if (!ok)
        ::tcflush(port->fd, TCIOFLUSH);
    return ok;
}

long read(Port *port, void *buffer, std::size_t n)
{
    if (n == 0)
        return 0;
    const auto deadline =
        Clock::now() + std::chrono::milliseconds(kReadMsPerByte * n + kReadConstantMs);
    char *p = static_cast<char *>(buffer);
    std::size_t got = 0;
    bool hungUp = false;
    while (got < n && !port->interrupted.load()) {
        const ssize_t r = ::read(port->fd, p + got, n - got);
        if (r > 0) {
            got += std::size_t(r);
            continue;
        }
        if (r < 0 && errno == EINTR)
            continue;
        // End of file, an error, or nothing to read after a hang-up: the
        // read is over.
        if (r == 0 || errno != EAGAIN || hungUp)
            break;
        const int ready = waitFor(port, POLLIN, deadline);
        if (ready == 0)
            return long(got); // time-out: whatever arrived
        if (ready < 0)
            break;
        hungUp = (ready & POLLIN) == 0;
    }
    if (got == n)
        return long(got);
    return got > 0 ? long(got) : -1;
}

long queued(Port *port)
{
    int n = 0;
    if (::ioctl(port->fd, FIONREAD, &n) != 0)
        return -1;
    return n;
}

void purgeReceive(Port *port)
{
    ::tcflush(port->fd, TCIFLUSH);
}

void interrupt(Port *port)
{
    port->interrupted.store(true);
    const char byte = 1;
    // The pipe stays readable from now on, so every later wait ends at once.
    [[maybe_unused]] const ssize_t r = ::write(port->wakeWrite, &byte, 1);
}

void close(Port *port)
{
    if (!port)
        return;
    // Lift the exclusive mode: the terminal may outlive this open (another
    // process holding its other end open), and the next open must succeed.
    ::ioctl(port->fd, TIOCNXCL);
    ::close(port->fd);
    ::close(port->wakeRead);
    ::close(port->wakeWrite);
    delete port;
}

std::string devicePathForNumber(int n)
{
    if (n < 1)
        return std::string();
    return "/dev/ttyS" + std::to_string(n - 1);
}

} // namespace serialplatform
