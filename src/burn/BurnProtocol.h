#ifndef DVK_BURNPROTOCOL_H
#define DVK_BURNPROTOCOL_H

// The burn stream, in one place: the bytes and pauses that program the
// projector (encoder) and the reading of that stream on the projector's side
// (decoder, used by the simulator).
//
// A transfer of N values in B blocks of up to 1024:
//   7F
//   per block k:  EC x10 [100] FF [100] k k [100] EC EC [100]  data...
//   between blocks: EC EC [100] k k [100] FF [100]
//   EC x10 7F [300] 6F
// 1 + 15B + 5(B-1) + N + 12 bytes; the pauses add up to 700 ms per block.

#include "patterns/PatternConstants.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QtGlobal>

#include <vector>

namespace burnprotocol
{

constexpr quint8 kTransferMarker = 0x7F; // first byte; next to last of the end
constexpr quint8 kFillByte = 0xEC;       // runs of 10 and pairs in the framing
constexpr quint8 kBlockMarker = 0xFF;    // one per block header and block end
constexpr quint8 kCommitCommand = 0x6F;  // last byte: commit what was received
constexpr int kFillRun = 10;
constexpr int kBlockValues = kSamplesPerPage;
constexpr int kMaxBlocks = kMaxBurnPatterns;
constexpr int kFramePauseMs = 100; // after each piece of a header or block end
constexpr int kCommitPauseMs = 300;

// The byte a value (0x00 ... 0xFF) goes out as: the reserved values 0x4F,
// 0x5F, 0x6F, 0x7F, 0x9F and 0xFF become the value one below, so that data
// never look like a marker, the commit command or the start of the query.
quint8 dataByte(quint8 value);
bool isReservedValue(quint8 value);

// One step of a transfer: send a byte, or pause.
struct Step {
    enum Kind : quint8 { Send, Pause };
    Kind kind = Send;
    quint8 byte = 0;     // Send: the byte
    int pauseMs = 0;     // Pause: how long
    int valueNumber = 0; // Send of a data value: 1 ... N, the progress after it; else 0
};

// The exact transfer for these values (each 0x00 ... 0xFF, at most
// kMaxBlocks * kBlockValues of them; the caller has checked both).
std::vector<Step> encodeTransfer(const quint8 *values, int count);
inline std::vector<Step> encodeTransfer(const QByteArray &values)
{
    return encodeTransfer(reinterpret_cast<const quint8 *>(values.constData()), values.size());
}

// The bytes of a transfer without its pauses, and the sum of its pauses.
QByteArray transferBytes(const std::vector<Step> &steps);
int transferPauseMs(const std::vector<Step> &steps);

// Length in bytes and total pause of a transfer of `count` values.
int blockCount(int count);
qint64 transferLength(int count);
int transferPauseTotalMs(int count);

// What the projector's side made of one transfer.
struct FramingError {
    qint64 offset = 0; // byte position in the transfer, 0 = the start marker
    QString message;
};

struct Transfer {
    QByteArray values; // the data bytes received, in order
    int blocks = 0;    // block headers received
    bool committed = false;
    qint64 length = 0; // bytes of the transfer, start marker to last byte taken
    QList<FramingError> errors;
};

// Reads a byte stream as the projector would, one byte at a time. Between
// transfers it takes nothing but the start marker (other bytes are left to the
// caller: the query, line noise). Errors are recorded with their offsets and
// the decoder carries on, so that one fault does not hide the next.
class Decoder
{
public:
    static constexpr int kMaxErrors = 50; // more are counted in one last entry

    // True between a start marker and the end of its transfer.
    bool inTransfer() const { return state != State::Idle; }

    // Takes one byte. Returns false, taking nothing, when no transfer is
    // running and the byte is not a start marker.
    bool feed(quint8 byte);

    // A transfer that has ended (commit command, or a byte where the commit
    // command belonged); false when none is waiting.
    bool takeTransfer(Transfer *out);

    // Ends the running transfer as it stands (the sender went quiet or away):
    // it is reported with an error saying where it was cut off.
    void cutOff();

private:
    enum class State {
        Idle,
        HeaderFill,   // EC x10 and FF before a block, or EC x10 7F at the end
        HeaderNumber, // k k
        HeaderTail,   // EC EC
        Data,         // values, then a block end or the end sequence
        Commit,       // 6F after the final 7F
    };

    void error(const QString &message);
    void errorAt(qint64 offset, const QString &message);
    void finishTransfer(bool committed);
    void dataTerminator(quint8 byte);

    State state = State::Idle;
    Transfer current;
    QList<Transfer> done;
    qint64 offset = 0;  // offset of the byte being fed
    int block = 0;      // number of the block being received
    int run = 0;        // bytes of the current framing piece seen so far;
                        // -1 in a block that overran, until its end
    QByteArray pending; // bytes of the current block not yet known to be data
    int suppressed = 0; // errors beyond kMaxErrors
};

} // namespace burnprotocol

#endif
