#include "serial/mySerial.h"

#include "serial/SerialPlatform.h"
#include "serial/SimulatorPorts.h"

#include <QFile>

#include <chrono>
#include <cstring>

namespace sp = serialplatform;

mySerial::mySerial(QObject *parent) : QObject(parent), rxBuffer(new char[kRxBufferSize])
{
    std::memset(rxBuffer, 0, kRxBufferSize);
}

mySerial::~mySerial()
{
    closeDevice();
    delete[] rxBuffer;
}

QString mySerial::devicePath(const QString &name)
{
#ifdef _WIN32
    if (name.isEmpty() || name.startsWith("\\\\.\\"))
        return name;
    return "\\\\.\\" + name;
#else
    // A name with a slash is a path as given (./projector stays relative to
    // the current directory); only a bare name means a device under /dev.
    if (name.isEmpty() || name.contains('/'))
        return name;
    return "/dev/" + name;
#endif
}

int mySerial::openPort(bool open, int portNumber)
{
    if (!open) {
        closeDevice();
        return 0;
    }
    return openDevice(QString::fromStdString(sp::devicePathForNumber(portNumber)));
}

int mySerial::openPort(bool open, const QString &device)
{
    if (!open) {
        closeDevice();
        return 0;
    }
    return openDevice(devicePath(device));
}

int mySerial::openDevice(const QString &path)
{
    // An open on an open port reopens it.
    closeDevice();
    sp::OpenFailure failure;
    if (isShutDown())
        return -1;
#ifdef _WIN32
    sp::Port *port = sp::open(path.toStdString(), &failure);
#else
    // The name's own bytes, whether or not they are valid UTF-8.
    const std::string name = QFile::encodeName(path).toStdString();
    sp::Port *port = nullptr;
    if (simulatorports::isRegistration(path)) {
        // Opened only while its simulator holds it, and checked again once
        // open: a dead one's pseudo-terminal may by now be another program's.
        const QString device = simulatorports::liveDevice(path);
        if (!device.isEmpty())
            port = sp::open(QFile::encodeName(device).toStdString(), &failure);
        failure.path = name;
        if (port && simulatorports::liveDevice(path) != device) {
            sp::close(port);
            port = nullptr;
        }
        if (!port && (device.isEmpty() || failure.error == sp::OpenError::None)) {
            failure = sp::OpenFailure();
            failure.error = sp::OpenError::SimulatorEnded;
            failure.path = name;
        }
    } else {
        port = sp::open(name, &failure);
    }
#endif
    if (!port) {
        std::lock_guard<std::mutex> state(stateLock);
        openFailure = failure;
        return -1;
    }
    {
        std::lock_guard<std::mutex> configuring(portLock);
        sp::configure(port);
    }
    std::unique_lock<std::mutex> state(stateLock);
    if (shutDownForGood) {
        // Shut down while this open was under way.
        state.unlock();
        sp::close(port);
        return -1;
    }
    portHandle = port;
    portOpen = true;
    openFailure = sp::OpenFailure();
    return 0;
}

void mySerial::shutDown()
{
    {
        std::lock_guard<std::mutex> state(stateLock);
        shutDownForGood = true;
        openFailure = sp::OpenFailure();
        openFailure.error = sp::OpenError::Other;
        openFailure.systemText = "the program is stopping";
    }
    closeDevice();
}

void mySerial::closeDevice()
{
    std::unique_lock<std::mutex> state(stateLock);
    portOpen = false;
    sp::Port *port = portHandle;
    if (!port)
        return;
    // New calls see a closed port from here on; calls already running are
    // woken and waited for before the handle goes.
    portHandle = nullptr;
    sp::interrupt(port);
    while (handleUsers > 0) {
        if (!handleIdle.wait_for(state, std::chrono::milliseconds(50),
                                 [this] { return handleUsers == 0; }))
            sp::interrupt(port);
    }
    sp::close(port);
}

sp::Port *mySerial::acquire()
{
    std::lock_guard<std::mutex> state(stateLock);
    if (portHandle)
        ++handleUsers;
    return portHandle;
}

void mySerial::release()
{
    std::lock_guard<std::mutex> state(stateLock);
    --handleUsers;
    if (handleUsers == 0)
        handleIdle.notify_all();
}

bool mySerial::writeData(const char *data, int length)
{
    if (length < 0)
        return false;
    sp::Port *port = acquire();
    if (!port)
        return false;
    bool ok;
    {
        std::lock_guard<std::mutex> writing(portLock);
        ok = sp::write(port, data, std::size_t(length));
    }
    release();
    return ok;
}

bool mySerial::readData(char *out, int *count, int *received, int settleMs)
{
    std::lock_guard<std::mutex> reading(readLock);
    int placed = 0;
    if (sp::Port *port = acquire()) {
        placed = sp::readReply(port, rxBuffer, kRxBufferSize, count, settleMs);
        release();
    }
    if (received)
        *received = placed;
    std::memcpy(out, rxBuffer, kRxBufferSize);
    return true;
}

bool mySerial::isShutDown() const
{
    std::lock_guard<std::mutex> state(stateLock);
    return shutDownForGood;
}

bool mySerial::isOpen() const
{
    std::lock_guard<std::mutex> state(stateLock);
    return portOpen;
}

sp::OpenFailure mySerial::lastOpenFailure() const
{
    std::lock_guard<std::mutex> state(stateLock);
    return openFailure;
}
