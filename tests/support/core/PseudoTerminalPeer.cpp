#include "PseudoTerminalPeer.h"

#include "serial/PseudoTerminal.h"

#include <QSocketNotifier>

#include <cerrno>

#include <unistd.h>

PseudoTerminalPeer::PseudoTerminalPeer()
{
    const int fd = openPseudoTerminal(&devicePath, &keep);
    if (fd < 0)
        return;
    master = fd;
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
