#ifndef DVK_TEST_PTY_H
#define DVK_TEST_PTY_H

#include <QByteArray>
#include <QString>

#include <sys/types.h>

// A pseudo-terminal whose device end (path) a test opens as a serial port;
// the test holds the controller end (master). For a peer served from the
// event loop see PseudoTerminalPeer.
struct Pty {
    enum Option {
        NonBlocking = 1, // reads of the controller end do not wait (see sent())
        Raw = 2,         // no line discipline on the controller end: a full
                         // buffer holds the writer back instead of dropping bytes
        HoldDevice = 4,  // one descriptor of the device end kept open (slave): its
                         // settings and queue can be seen
    };

    explicit Pty(int options = 0);
    ~Pty();
    Pty(const Pty &) = delete;
    Pty &operator=(const Pty &) = delete;

    int master = -1;
    int slave = -1;
    QString path;

    void closeMaster();
    // Writes the bytes to the device end's input (a failed test when not all
    // went).
    void send(const QByteArray &bytes) const;
    // Reads n bytes the device end sent, waiting up to timeoutMs.
    QByteArray receive(int n, int timeoutMs = 2000) const;
    // What the device end has sent so far (NonBlocking).
    QByteArray sent() const;
    // Bytes waiting in the device end's input queue (HoldDevice).
    int inputQueued() const;
    // Gives the device to root and `gid` with `mode`.
    bool setOwnership(gid_t gid, mode_t mode) const;
};

#endif
