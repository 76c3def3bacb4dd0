#include "burn/BurnProtocol.h"

namespace burnprotocol
{

namespace
{

QString hexByte(quint8 b)
{
    return "0x" + QString("%1").arg(b, 2, 16, QChar('0')).toUpper();
}

class Builder
{
public:
    explicit Builder(std::vector<Step> &steps) : steps(steps) {}
    void send(quint8 byte, int valueNumber = 0)
    {
        Step s;
        s.kind = Step::Send;
        s.byte = byte;
        s.valueNumber = valueNumber;
        steps.push_back(s);
    }
    void sendRepeated(quint8 byte, int times)
    {
        for (int i = 0; i < times; ++i)
            send(byte);
    }
    void pause(int ms)
    {
        Step s;
        s.kind = Step::Pause;
        s.pauseMs = ms;
        steps.push_back(s);
    }

private:
    std::vector<Step> &steps;
};

} // namespace

bool isReservedValue(quint8 value)
{
    switch (value) {
    case 0x4F:
    case 0x5F:
    case 0x6F:
    case 0x7F:
    case 0x9F:
    case 0xFF:
        return true;
    default:
        return false;
    }
}

quint8 dataByte(quint8 value)
{
    return isReservedValue(value) ? quint8(value - 1) : value;
}

int blockCount(int count)
{
    return count <= 0 ? 0 : (count + kBlockValues - 1) / kBlockValues;
}

qint64 transferLength(int count)
{
    const int b = blockCount(count);
    return 1 + 15 * qint64(b) + 5 * qint64(b > 0 ? b - 1 : 0) + count + 12;
}

int transferPauseTotalMs(int count)
{
    const int b = blockCount(count);
    if (b == 0)
        return kCommitPauseMs;
    return 4 * kFramePauseMs * b + 3 * kFramePauseMs * (b - 1) + kCommitPauseMs;
}

std::vector<Step> encodeTransfer(const quint8 *values, int count)
{
    std::vector<Step> steps;
    steps.reserve(size_t(transferLength(count)) + 8 * size_t(blockCount(count)) + 1);
    Builder b(steps);

    b.send(kTransferMarker);
    int inBlock = 0;
    int block = 0;
    for (int j = 0; j < count; ++j) {
        if (inBlock == kBlockValues) {
            // End of the block, sent only because another value follows.
            b.sendRepeated(kFillByte, 2);
            b.pause(kFramePauseMs);
            b.sendRepeated(quint8(block), 2);
            b.pause(kFramePauseMs);
            b.send(kBlockMarker);
            b.pause(kFramePauseMs);
            inBlock = 0;
            ++block;
        }
        if (inBlock == 0) {
            b.sendRepeated(kFillByte, kFillRun);
            b.pause(kFramePauseMs);
            b.send(kBlockMarker);
            b.pause(kFramePauseMs);
            b.sendRepeated(quint8(block), 2);
            b.pause(kFramePauseMs);
            b.sendRepeated(kFillByte, 2);
            b.pause(kFramePauseMs);
        }
        ++inBlock;
        b.send(dataByte(values[j]), j + 1);
    }
    b.sendRepeated(kFillByte, kFillRun);
    b.send(kTransferMarker);
    b.pause(kCommitPauseMs);
    b.send(kCommitCommand);
    return steps;
}

QByteArray transferBytes(const std::vector<Step> &steps)
{
    QByteArray bytes;
    bytes.reserve(int(steps.size()));
    for (const Step &s : steps) {
        if (s.kind == Step::Send)
            bytes.append(char(s.byte));
    }
    return bytes;
}

int transferPauseMs(const std::vector<Step> &steps)
{
    int total = 0;
    for (const Step &s : steps) {
        if (s.kind == Step::Pause)
            total += s.pauseMs;
    }
    return total;
}

// --- decoder -----------------------------------------------------------------

void Decoder::errorAt(qint64 at, const QString &message)
{
    if (current.errors.size() >= kMaxErrors) {
        ++suppressed;
        return;
    }
    current.errors.append(FramingError{at, message});
}

void Decoder::error(const QString &message)
{
    errorAt(offset, message);
}

void Decoder::finishTransfer(bool committed)
{
    current.committed = committed;
    if (suppressed > 0)
        current.errors.append(
            FramingError{current.length, QString("and %1 more errors").arg(suppressed)});
    done.append(current);
    current = Transfer();
    state = State::Idle;
    pending.clear();
    block = 0;
    run = 0;
    suppressed = 0;
}

bool Decoder::takeTransfer(Transfer *out)
{
    if (done.isEmpty())
        return false;
    *out = done.takeFirst();
    return true;
}

void Decoder::cutOff()
{
    if (state == State::Idle)
        return;
    if (state == State::Data)
        current.values.append(pending);
    errorAt(current.length,
            QString("transfer cut off after %1 bytes (%2 values), no commit command")
                .arg(current.length)
                .arg(current.values.size()));
    finishTransfer(false);
}

// A 7F or FF inside a block: the end of the transfer or of the block. Neither
// byte can be data.
void Decoder::dataTerminator(quint8 byte)
{
    if (run < 0) {
        // The block overran (already reported): resume at its end.
        pending.clear();
        run = 0;
        if (byte == kTransferMarker) {
            state = State::Commit;
        } else {
            ++block;
            state = State::HeaderFill;
        }
        return;
    }
    const int size = pending.size();
    if (byte == kTransferMarker) {
        int fill = 0;
        while (fill < kFillRun && fill < size && quint8(pending[size - 1 - fill]) == kFillByte)
            ++fill;
        if (fill < kFillRun)
            error(QString("end of transfer after %1 fill bytes, not %2").arg(fill).arg(kFillRun));
        const int values = size - fill;
        // A block is only opened for a value that follows.
        if (values == 0)
            error(QString("block %1 holds no values").arg(block));
        if (values > kBlockValues)
            error(QString("block %1 holds %2 values, more than %3")
                      .arg(block)
                      .arg(values)
                      .arg(kBlockValues));
        current.values.append(pending.left(values));
        pending.clear();
        state = State::Commit;
        return;
    }
    // 0xFF: a block end "EC EC k k FF" belongs after exactly 1024 values.
    const bool framed = size >= 4 && quint8(pending[size - 4]) == kFillByte &&
                        quint8(pending[size - 3]) == kFillByte &&
                        quint8(pending[size - 2]) == quint8(block) &&
                        quint8(pending[size - 1]) == quint8(block);
    if (!framed) {
        error(size >= kBlockValues ? QString("malformed end of block %1").arg(block)
                                   : QString("0xFF inside the data of block %1").arg(block));
        return; // not data either: dropped
    }
    if (size - 4 != kBlockValues)
        error(QString("block %1 ended after %2 values, not %3")
                  .arg(block)
                  .arg(size - 4)
                  .arg(kBlockValues));
    current.values.append(pending.left(size - 4));
    pending.clear();
    ++block;
    run = 0;
    state = State::HeaderFill;
}

bool Decoder::feed(quint8 byte)
{
    if (state == State::Idle) {
        if (byte != kTransferMarker)
            return false;
        current = Transfer();
        offset = 0;
        current.length = 1;
        block = 0;
        run = 0;
        state = State::HeaderFill;
        return true;
    }
    offset = current.length;
    current.length = offset + 1;

    switch (state) {
    case State::Idle:
        break;
    case State::HeaderFill:
        if (byte == kFillByte && run < kFillRun) {
            ++run;
        } else if (byte == kBlockMarker) {
            if (run != kFillRun)
                error(QString("block %1 header after %2 fill bytes, not %3")
                          .arg(block)
                          .arg(run)
                          .arg(kFillRun));
            if (block >= kMaxBlocks)
                error(QString("block %1 is past the last block (%2 at most)")
                          .arg(block)
                          .arg(kMaxBlocks));
            ++current.blocks;
            run = 0;
            state = State::HeaderNumber;
        } else if (byte == kTransferMarker) {
            if (run != kFillRun)
                error(
                    QString("end of transfer after %1 fill bytes, not %2").arg(run).arg(kFillRun));
            if (block > 0)
                error(QString("end of transfer right after the end of block %1").arg(block - 1));
            state = State::Commit;
        } else if (run == kFillRun) {
            error(QString("%1 after the %2 fill bytes before block %3")
                      .arg(hexByte(byte))
                      .arg(kFillRun)
                      .arg(block));
        } else {
            error(QString("%1 where fill byte %2 of %3 before block %4 belongs")
                      .arg(hexByte(byte))
                      .arg(run + 1)
                      .arg(kFillRun)
                      .arg(block));
            ++run;
        }
        break;
    case State::HeaderNumber:
        if (byte != quint8(block))
            error(
                QString("block number %1 in the header of block %2").arg(hexByte(byte)).arg(block));
        if (++run == 2) {
            run = 0;
            state = State::HeaderTail;
        }
        break;
    case State::HeaderTail:
        if (byte != kFillByte)
            error(QString("%1 where the header of block %2 ends with 0xEC")
                      .arg(hexByte(byte))
                      .arg(block));
        if (++run == 2) {
            run = 0;
            pending.clear();
            state = State::Data;
        }
        break;
    case State::Data: {
        if (byte == kTransferMarker || byte == kBlockMarker) {
            dataTerminator(byte);
            break;
        }
        if (run < 0) // the block overran: skip to its end
            break;
        const int at = pending.size();
        if (at >= kBlockValues) {
            // After 1024 values only "EC EC k k FF" or "EC x10 7F" may come.
            const bool ok =
                (at < kBlockValues + 2 && byte == kFillByte) ||
                (at == kBlockValues + 2 && (byte == quint8(block) || byte == kFillByte)) ||
                (at == kBlockValues + 3 && byte == quint8(pending[kBlockValues + 2])) ||
                (at > kBlockValues + 3 && at < kBlockValues + kFillRun && byte == kFillByte &&
                 quint8(pending[kBlockValues + 2]) == kFillByte);
            if (!ok) {
                error(QString("%1 where block %2 of %3 values ends")
                          .arg(hexByte(byte))
                          .arg(block)
                          .arg(kBlockValues));
                current.values.append(pending.left(kBlockValues));
                pending.clear();
                run = -1;
                break;
            }
        } else if (isReservedValue(byte)) {
            error(
                QString("reserved value %1 in the data of block %2").arg(hexByte(byte)).arg(block));
        }
        pending.append(char(byte));
        break;
    }
    case State::Commit:
        if (byte == kCommitCommand) {
            finishTransfer(true);
        } else {
            error(QString("%1 where the commit command 0x6F belongs").arg(hexByte(byte)));
            current.length = offset; // the byte is not part of this transfer
            finishTransfer(false);
            return feed(byte);
        }
        break;
    }
    return true;
}

} // namespace burnprotocol
