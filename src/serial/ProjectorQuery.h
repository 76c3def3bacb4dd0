#ifndef DVK_PROJECTORQUERY_H
#define DVK_PROJECTORQUERY_H

#include <QByteArray>
#include <QString>
#include <QtGlobal>

class mySerial;

// The three bytes that ask the projector for its scan value; it answers with
// the value as two bytes, high byte first.
constexpr unsigned char kProjectorQuery[3] = {0x9F, 0xFC, 0x01};

// What a read of the projector's reply says. Only a read whose last two-byte
// read brought both bytes counts as an answer (count as mySerial::readData
// sets it); the scan value is those bytes, high byte first.
struct ProjectorAnswer {
    bool valid = false;
    quint16 scanValue = 0;
};
ProjectorAnswer projectorAnswer(const char *buffer, int count);

// Outcome of asking the projector for its scan value.
struct QueryResult {
    bool ok = false;       // a two-byte answer arrived
    quint16 scanValue = 0; // the answer, high byte first
    QByteArray answer;     // every byte received (up to the receive buffer's size)
    QString error;         // why it failed, empty when ok
};

// Sends the query 9F FC 01 on the open port and reads the answer with the
// window's read and rule (settleMs as for mySerial::readData). Blocks the
// calling thread.
QueryResult askProjector(mySerial &port, const QString &devicePath, int settleMs = -1);

// Opens the device on `port`, asks, and closes it again.
QueryResult queryProjector(mySerial &port, const QString &devicePath, int settleMs = -1);

#endif
