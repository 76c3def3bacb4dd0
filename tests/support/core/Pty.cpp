#include "Pty.h"

#include <QElapsedTimer>
#include <QFile>
#include <QtTest>

#include <cstdlib>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

Pty::Pty(int options)
{
    master = ::posix_openpt(O_RDWR | O_NOCTTY | ((options & NonBlocking) ? O_NONBLOCK : 0));
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0)
        return;
    if (options & Raw) {
        termios t;
        if (::tcgetattr(master, &t) == 0) {
            ::cfmakeraw(&t);
            ::tcsetattr(master, TCSANOW, &t);
        }
    }
    path = QString::fromLocal8Bit(::ptsname(master));
    if (options & HoldDevice)
        slave = ::open(::ptsname(master), O_RDWR | O_NOCTTY);
}

Pty::~Pty()
{
    closeMaster();
    if (slave >= 0)
        ::close(slave);
}

void Pty::closeMaster()
{
    if (master >= 0)
        ::close(master);
    master = -1;
}

void Pty::send(const QByteArray &bytes) const
{
    QCOMPARE(::write(master, bytes.constData(), size_t(bytes.size())), ssize_t(bytes.size()));
}

QByteArray Pty::receive(int n, int timeoutMs) const
{
    QByteArray got;
    QElapsedTimer clock;
    clock.start();
    while (got.size() < n && clock.elapsed() < timeoutMs) {
        char buf[4096];
        const ssize_t r = ::read(master, buf, size_t(qMin(n - got.size(), 4096)));
        if (r > 0)
            got.append(buf, int(r));
    }
    return got;
}

QByteArray Pty::sent() const
{
    QByteArray bytes;
    char buf[4096];
    ssize_t n;
    while ((n = ::read(master, buf, sizeof(buf))) > 0)
        bytes.append(buf, int(n));
    return bytes;
}

int Pty::inputQueued() const
{
    int n = -1;
    ::ioctl(slave, FIONREAD, &n);
    return n;
}

bool Pty::setOwnership(gid_t gid, mode_t mode) const
{
    const QByteArray p = QFile::encodeName(path);
    return ::chown(p.constData(), 0, gid) == 0 && ::chmod(p.constData(), mode) == 0;
}
