#ifndef DVK_MYSERIAL_H
#define DVK_MYSERIAL_H

#include "serial/SerialPlatform.h"

#include <QObject>
#include <QString>

#include <condition_variable>
#include <mutex>

// Drives one serial port with the projector's line settings: 115200 baud,
// 8 data bits, no parity, one stop bit. Every call blocks until the system
// call returns or its time-out runs out.
//
// Thread use: the GUI thread opens and closes, the receive thread reads, the
// burn worker writes. A close wakes a read or write in progress on another
// thread and waits until it has left, so no call ever runs on a released
// handle.
class mySerial : public QObject
{
    Q_OBJECT

public:
    static constexpr int kRxBufferSize = 1024;

    explicit mySerial(QObject *parent = nullptr);
    ~mySerial() override;

    // open true: (re)opens the port numbered portNumber ("\\.\COM<n>" on
    // Windows) and returns 0, or -1 when it cannot be opened. open false:
    // closes the port and returns 0.
    int openPort(bool open, int portNumber);
    // The same for a device given by path, or by a name the port discovery
    // lists ("ttyUSB0" means /dev/ttyUSB0, "COM3" means \\.\COM3).
    int openPort(bool open, const QString &device);

    // Writes the bytes; false when the write failed or timed out (both
    // directions are then purged).
    bool writeData(const char *data, int length);

    // Reads the projector's reply. `out` receives all kRxBufferSize bytes of
    // the receive buffer; *count is set to the size of the last two-byte read
    // that returned data (1 or 2), and keeps the caller's value when nothing
    // came. *received, when given, is the number of bytes this call stored
    // at the start of `out`. Each two-byte read waits up to 3 s; with
    // settleMs >= 0 those after the first with data wait only settleMs.
    // Always returns true.
    bool readData(char *out, int *count, int *received = nullptr, int settleMs = -1);

    bool isOpen() const;

    // For a process that is stopping: closes the port, waking any read or
    // write in progress, and makes every later open fail, including one
    // under way on another thread. Safe from any thread.
    void shutDown();
    bool isShutDown() const;

    // Why the latest open failed (error None after a successful one).
    serialplatform::OpenFailure lastOpenFailure() const;

    // The device a port-box entry or command-line name stands for.
    static QString devicePath(const QString &name);

private:
    int openDevice(const QString &path);
    void closeDevice();
    // Borrows the handle for one read or write; nullptr when closed.
    serialplatform::Port *acquire();
    void release();

    serialplatform::Port *portHandle = nullptr;
    bool portOpen = false;
    serialplatform::OpenFailure openFailure;
    bool shutDownForGood = false;
    // Serialises writes against each other and against configuring an open.
    std::mutex portLock;
    char *rxBuffer = nullptr;

    // Guards portHandle, portOpen, openFailure, shutDownForGood and the
    // number of calls using the handle.
    mutable std::mutex stateLock;
    std::condition_variable handleIdle;
    int handleUsers = 0;
    // One read at a time owns rxBuffer.
    std::mutex readLock;
};

#endif
