// Serial port on POSIX terminals: termios for the line, poll for the
// time-outs, and a wake-up pipe so that closing the port can end a read or
// write that another thread is blocked in. A failed open says why, with what
// the user needs to fix it: the device's group, or who holds it.
#include "serial/SerialPlatform.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
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
// the line, and a write that cannot go out fails at its time-out.
//
// The queue is looked at every kDrainStepUs whatever it reports: a USB
// adapter's driver reports its whole transfer buffer as queued (1280 bytes
// for a full-speed CDC-ACM device) until the transfer completes about 1 ms
// later, so the count says nothing about how long to wait. tcdrain would wake
// on the completion itself, but nothing bounds it or lets a close end it.
constexpr long kDrainStepUs = 100;

bool drain(Port *port, Clock::time_point deadline)
{
    for (;;) {
        int pending = 0;
        // A port that cannot say (EIO once an adapter has been unplugged)
        // cannot have sent the bytes either.
        if (::ioctl(port->fd, TIOCOUTQ, &pending) != 0)
            return false;
        if (pending <= 0)
            return true;
        if (port->interrupted.load() || Clock::now() >= deadline)
            return false;
        sleepMicroseconds(kDrainStepUs);
    }
}

// --- why an open failed -------------------------------------------------------

std::string systemMessage(int error)
{
    char buffer[256];
    // The GNU form: returns the message, in the buffer or a static string.
    return ::strerror_r(error, buffer, sizeof(buffer));
}

OpenError classify(int error)
{
    switch (error) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
    case EIO: // a ttyS node with no UART behind it
        return OpenError::NoDevice;
    case EBUSY: // held in exclusive mode by another program
        return OpenError::Busy;
    case EACCES:
    case EPERM:
        return OpenError::PermissionDenied;
    default:
        return OpenError::Other;
    }
}

std::string userName(uid_t uid)
{
    std::vector<char> buffer(16384);
    passwd entry;
    passwd *found = nullptr;
    if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found)
        return found->pw_name;
    return std::to_string(uid);
}

// The group's name, and whether `user` (whose primary group is `primary`) is
// listed as a member of it.
std::string groupName(gid_t gid, const std::string &user, gid_t primary, bool *member)
{
    *member = gid == primary;
    std::vector<char> buffer(65536);
    group entry;
    group *found = nullptr;
    if (::getgrgid_r(gid, &entry, buffer.data(), buffer.size(), &found) != 0 || !found)
        return std::to_string(gid);
    for (char **m = found->gr_mem; m && *m; ++m) {
        if (user == *m)
            *member = true;
    }
    return found->gr_name;
}

bool processHasGroup(gid_t gid)
{
    if (::getegid() == gid)
        return true;
    const int n = ::getgroups(0, nullptr);
    if (n <= 0)
        return false;
    std::vector<gid_t> groups(std::size_t(n), 0);
    const int got = ::getgroups(n, groups.data());
    for (int i = 0; i < got; ++i) {
        if (groups[std::size_t(i)] == gid)
            return true;
    }
    return false;
}

// A process's name: the last part of its first argument, else its kernel name.
std::string processName(const std::string &pid)
{
    std::ifstream cmdline("/proc/" + pid + "/cmdline", std::ios::binary);
    std::string argv0;
    if (cmdline && std::getline(cmdline, argv0, '\0') && !argv0.empty()) {
        const std::size_t slash = argv0.rfind('/');
        return slash == std::string::npos ? argv0 : argv0.substr(slash + 1);
    }
    std::ifstream comm("/proc/" + pid + "/comm");
    std::string name;
    std::getline(comm, name);
    return name.empty() ? std::string("?") : name;
}

// The processes that have the device open, among those whose descriptors
// this process may look at. The descriptors' links are read, never followed:
// following one to a file on a stalled network mount would hang here.
std::vector<std::string> holdersOf(const std::string &device)
{
    std::vector<std::string> holders;
    DIR *proc = ::opendir("/proc");
    if (!proc)
        return holders;
    std::vector<char> target(device.size() + 2);
    while (const dirent *e = ::readdir(proc)) {
        const std::string pid = e->d_name;
        if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos)
            continue;
        const std::string fdDir = "/proc/" + pid + "/fd";
        DIR *fds = ::opendir(fdDir.c_str());
        if (!fds)
            continue; // another user's process, or gone
        bool holds = false;
        while (const dirent *f = ::readdir(fds)) {
            if (f->d_name[0] == '.')
                continue;
            const ssize_t n =
                ::readlink((fdDir + "/" + f->d_name).c_str(), target.data(), target.size());
            if (n == ssize_t(device.size()) &&
                device.compare(0, device.size(), target.data(), std::size_t(n)) == 0) {
                holds = true;
                break;
            }
        }
        ::closedir(fds);
        if (holds)
            holders.push_back(processName(pid) + " (pid " + pid + ")");
    }
    ::closedir(proc);
    return holders;
}

OpenFailure describeFailure(const std::string &path, int error, OpenError kind)
{
    OpenFailure f;
    f.error = kind;
    f.path = path;
    f.systemCode = error;
    if (error != 0)
        f.systemText = systemMessage(error);
    if (kind == OpenError::Busy) {
        // The descriptors name the device by its real path, however it was
        // opened (a /dev/serial/by-id link, say).
        if (char *real = ::realpath(path.c_str(), nullptr)) {
            f.holders = holdersOf(real);
            std::free(real);
        }
    } else if (kind == OpenError::PermissionDenied) {
        // The kernel checks the effective ids and the current group list.
        const uid_t uid = ::geteuid();
        f.user = userName(uid);
        std::vector<char> buffer(16384);
        passwd entry;
        passwd *account = nullptr;
        ::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &account);
        const gid_t primary = account ? account->pw_gid : gid_t(-1);
        struct stat st;
        if (::stat(path.c_str(), &st) == 0) {
            f.owner = userName(st.st_uid);
            f.group = groupName(st.st_gid, f.user, primary, &f.groupMember);
            f.groupId = unsigned(st.st_gid);
            f.mode = unsigned(st.st_mode & 07777);
            f.inGroup = processHasGroup(st.st_gid);
        }
    }
    return f;
}

} // namespace

Port *open(const std::string &path, OpenFailure *failure)
{
    if (path.empty()) {
        if (failure)
            *failure = describeFailure(path, 0, OpenError::NoPort);
        return nullptr;
    }
    // O_NONBLOCK: an open must not wait for a carrier; every wait below is
    // a poll with its own time-out.
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        // Something that is there but no device (a socket gives ENXIO) is
        // not a port, whatever the error says.
        struct stat st;
        const bool there = ::stat(path.c_str(), &st) == 0;
        const OpenError kind =
            there && !S_ISCHR(st.st_mode) ? OpenError::NotSerial : classify(error);
        if (failure)
            *failure = describeFailure(path, error, kind);
        return nullptr;
    }
    // Only a terminal device is a serial port.
    if (!::isatty(fd)) {
        ::close(fd);
        if (failure)
            *failure = describeFailure(path, ENOTTY, OpenError::NotSerial);
        return nullptr;
    }
    // TIOCEXCL keeps other users' opens out, but the superuser ignores it;
    // the advisory lock makes a second open by any cooperating program fail.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(fd);
        if (failure)
            *failure = describeFailure(path, error,
                                       error == EWOULDBLOCK ? OpenError::Busy : OpenError::Other);
        return nullptr;
    }
    ::ioctl(fd, TIOCEXCL);

    int wake[2];
    if (::pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) {
        const int error = errno;
        ::ioctl(fd, TIOCNXCL);
        ::close(fd);
        if (failure)
            *failure = describeFailure(path, error, OpenError::Other);
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

long read(Port *port, void *buffer, std::size_t n, long timeoutMs)
{
    if (n == 0)
        return 0;
    const auto deadline =
        Clock::now() + std::chrono::milliseconds(
                           timeoutMs >= 0 ? timeoutMs : long(kReadMsPerByte * n + kReadConstantMs));
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
