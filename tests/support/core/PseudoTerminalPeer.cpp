#include "PseudoTerminalPeer.h"

#include <QSocketNotifier>

#include <cerrno>
#include <cstdlib>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

PseudoTerminalPeer::PseudoTerminalPeer()
{
    const int fd = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return;
    char name[256];
    if (::grantpt(fd) != 0 || ::unlockpt(fd) != 0 || ::ptsname_r(fd, name, sizeof(name)) != 0) {
        ::close(fd);
        return;
    }
    keep = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (keep < 0) {
        ::close(fd);
        return;
    }
    // Raw from the start: nothing sent is echoed back or translated.
    termios t;
    if (::tcgetattr(keep, &t) == 0) {
        ::cfmakeraw(&t);
        ::tcsetattr(keep, TCSANOW, &t);
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    master = fd;
    devicePath = QString::fromLocal8Bit(name);
    notifier = std::make_unique<QSocketNotifier>(master, QSocketNotifier::Read);
    QObject::connect(notifier.get(), &QSocketNotifier::activated, [this] { readAvailable(); });
}

PseudoTerminalPeer::~PseudoTerminalPeer()
{
    notifier.reset();
    if (master >= 0)
        ::close(master);
    if (keep >= 0)
        ::close(keep);
}

void PseudoTerminalPeer::readAvailable()
{
    char chunk[256];
    const int before = input.size();
    for (;;) {
        const ssize_t n = ::read(master, chunk, sizeof(chunk));
        if (n > 0)
            input.append(chunk, int(n));
        else if (!(n < 0 && errno == EINTR))
            break;
    }
    if (input.size() > before && receivedHandler)
        receivedHandler();
}

bool PseudoTerminalPeer::send(const QByteArray &bytes)
{
    return master >= 0 && ::write(master, bytes.constData(), size_t(bytes.size())) == bytes.size();
}
