#include "serial/ProjectorQuery.h"

#include "serial/OpenFailureText.h"
#include "serial/mySerial.h"

ProjectorAnswer projectorAnswer(const char *buffer, int count)
{
    ProjectorAnswer answer;
    if (count == 2) {
        answer.valid = true;
        answer.scanValue = quint16((quint8(buffer[0]) << 8) | quint8(buffer[1]));
    }
    return answer;
}

QueryResult askProjector(mySerial &port, const QString &devicePath, int settleMs)
{
    QueryResult result;
    if (!port.writeData(reinterpret_cast<const char *>(kProjectorQuery),
                        int(sizeof kProjectorQuery))) {
        result.error = QString("cannot write the query to %1").arg(devicePath);
        return result;
    }
    // The same read and the same rule as the window's receive thread.
    char buffer[mySerial::kRxBufferSize];
    int count = mySerial::kRxBufferSize;
    int received = 0;
    port.readData(buffer, &count, &received, settleMs);

    result.answer = QByteArray(buffer, received);
    const ProjectorAnswer answer = projectorAnswer(buffer, count);
    if (answer.valid) {
        result.ok = true;
        result.scanValue = answer.scanValue;
    } else if (received == 0) {
        result.error = QString("no answer from %1").arg(devicePath);
    } else {
        result.error = QString("no valid answer from %1 (received %2)")
                           .arg(devicePath, QString::fromLatin1(result.answer.toHex().toUpper()));
    }
    return result;
}

QueryResult queryProjector(mySerial &port, const QString &devicePath, int settleMs)
{
    if (port.openPort(true, devicePath) != 0) {
        QueryResult result;
        result.error = QString("cannot open %1: %2")
                           .arg(devicePath, openFailureReason(port.lastOpenFailure()));
        return result;
    }
    QueryResult result = askProjector(port, devicePath, settleMs);
    port.openPort(false, 0);
    return result;
}
