#ifndef DVK_PROJECTORQUERY_H
#define DVK_PROJECTORQUERY_H

#include <QByteArray>
#include <QString>
#include <QtGlobal>

// The three bytes that ask the projector for its scan value; it answers with
// the value as two bytes, high byte first.
constexpr unsigned char kProjectorQuery[3] = {0x9F, 0xFC, 0x01};

// Outcome of asking the projector for its scan value.
struct QueryResult {
    bool ok = false;       // a two-byte answer arrived
    quint16 scanValue = 0; // the answer, high byte first
    QByteArray answer;     // every byte received (up to the receive buffer's size)
    QString error;         // why it failed, empty when ok
};

// Opens the device, sends the query 9F FC 01, waits for the two-byte answer
// (up to 3 s), closes the device. Blocks the calling thread.
QueryResult queryProjector(const QString &devicePath);

#endif
