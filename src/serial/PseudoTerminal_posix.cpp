// The pseudo-terminal a stand-in for the projector serves.
#include "serial/PseudoTerminal.h"

#include <cstdlib>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

int openPseudoTerminal(QString *path, int *keep)
{
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0)
        return -1;
    char name[256];
    if (::grantpt(master) != 0 || ::unlockpt(master) != 0 ||
        ::ptsname_r(master, name, sizeof(name)) != 0) {
        ::close(master);
        return -1;
    }
    const int slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave < 0) {
        ::close(master);
        return -1;
    }
    // Raw from the start: no echo of what the simulator answers, no
    // translation, whatever the client sets later.
    termios t;
    if (::tcgetattr(slave, &t) == 0) {
        ::cfmakeraw(&t);
        ::cfsetispeed(&t, B115200);
        ::cfsetospeed(&t, B115200);
        ::tcsetattr(slave, TCSANOW, &t);
    }
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    *path = QString::fromLocal8Bit(name);
    *keep = slave;
    return master;
}
