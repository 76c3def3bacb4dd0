// Encoder to decoder: any values the burn may send arrive as their data
// bytes, in one clean committed transfer of the computed length, whatever
// stray bytes (a query, line noise without a start marker) come before it.
#include "FuzzSupport.h"

#include "burn/BurnProtocol.h"

namespace bp = burnprotocol;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    // First byte: how many stray bytes precede the transfer (none of them a
    // start marker). Then the values, repeated to reach a few blocks when
    // the input asks for it, so that block ends are exercised cheaply.
    const int strayCount = qMin<int>(data[0] & 0x0F, int(size) - 1);
    const int repeat = 1 + (data[0] >> 4) % 4;
    const QByteArray stray(reinterpret_cast<const char *>(data + 1), strayCount);
    const QByteArray input(reinterpret_cast<const char *>(data + 1 + strayCount),
                           int(size) - 1 - strayCount);
    QByteArray values;
    for (int r = 0; r < repeat; ++r)
        values += input;
    values.truncate(bp::kMaxBlocks * bp::kBlockValues);

    const std::vector<bp::Step> steps = bp::encodeTransfer(values);
    const QByteArray bytes = bp::transferBytes(steps);
    FUZZ_CHECK(bytes.size() == bp::transferLength(values.size()));
    FUZZ_CHECK(bp::transferPauseMs(steps) == bp::transferPauseTotalMs(values.size()));
    int progress = 0;
    for (const bp::Step &s : steps) {
        if (s.valueNumber > 0)
            FUZZ_CHECK(s.valueNumber == ++progress);
    }
    FUZZ_CHECK(progress == values.size());

    bp::Decoder decoder;
    for (char c : stray) {
        if (quint8(c) != bp::kTransferMarker)
            FUZZ_CHECK(!decoder.feed(quint8(c)));
    }
    FUZZ_CHECK(!decoder.inTransfer());
    for (char c : bytes)
        FUZZ_CHECK(decoder.feed(quint8(c)));
    FUZZ_CHECK(!decoder.inTransfer());
    bp::Transfer t;
    FUZZ_CHECK(decoder.takeTransfer(&t));
    FUZZ_CHECK(t.committed);
    FUZZ_CHECK(t.errors.isEmpty());
    FUZZ_CHECK(t.length == bytes.size());
    FUZZ_CHECK(t.blocks == bp::blockCount(values.size()));
    FUZZ_CHECK(t.values.size() == values.size());
    for (int i = 0; i < values.size(); ++i)
        FUZZ_CHECK(quint8(t.values[i]) == bp::dataByte(quint8(values[i])));
    FUZZ_CHECK(!decoder.takeTransfer(&t));
    return 0;
}
