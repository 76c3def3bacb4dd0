#include "serial/mySerial.h"

mySerial::mySerial(QObject *parent) : QObject(parent) {}
mySerial::~mySerial() = default;

int mySerial::openPort(bool, int)
{
    return -1;
}

bool mySerial::writeData(const char *, int)
{
    return false;
}

bool mySerial::readData(char *, int *)
{
    return true;
}

bool mySerial::isOpen() const
{
    return portOpen;
}
