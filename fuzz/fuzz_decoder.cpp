// The projector-side stream decoder (the simulator's) on arbitrary bytes: it
// must take any stream without crashing, account for every byte it takes,
// keep its error lists bounded, and call a transfer clean only when it is
// byte for byte what the encoder sends for those values.
#include "FuzzSupport.h"

#include "burn/BurnProtocol.h"

namespace bp = burnprotocol;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    bp::Decoder decoder;
    QByteArray taken; // the bytes the decoder took, in order
    qint64 reported = 0;
    auto drain = [&]() {
        bp::Transfer t;
        while (decoder.takeTransfer(&t)) {
            FUZZ_CHECK(t.length >= 1 && reported + t.length <= taken.size());
            const QByteArray bytes = taken.mid(int(reported), int(t.length));
            FUZZ_CHECK(quint8(bytes[0]) == bp::kTransferMarker);
            FUZZ_CHECK(t.values.size() < t.length);
            FUZZ_CHECK(t.errors.size() <= bp::Decoder::kMaxErrors + 1);
            for (const bp::FramingError &e : t.errors)
                FUZZ_CHECK(e.offset >= 0 && e.offset <= t.length && !e.message.isEmpty());
            if (t.committed && t.errors.isEmpty()) {
                FUZZ_CHECK(t.values.size() <= bp::kMaxBlocks * bp::kBlockValues);
                FUZZ_CHECK(t.blocks == bp::blockCount(t.values.size()));
                FUZZ_CHECK(bp::transferBytes(bp::encodeTransfer(t.values)) == bytes);
            }
            reported += t.length;
        }
    };
    for (size_t i = 0; i < size; ++i) {
        const bool wasIdle = !decoder.inTransfer();
        const qint64 before = reported;
        const bool consumed = decoder.feed(data[i]);
        if (consumed)
            taken.append(char(data[i]));
        drain();
        if (wasIdle)
            FUZZ_CHECK(consumed == (data[i] == bp::kTransferMarker));
        else if (!consumed)
            // Only the byte that ends a transfer where the commit command
            // belonged is left to the caller.
            FUZZ_CHECK(reported > before && !decoder.inTransfer());
    }
    decoder.cutOff();
    FUZZ_CHECK(!decoder.inTransfer());
    drain();
    // Every byte taken belongs to exactly one reported transfer.
    FUZZ_CHECK(reported == taken.size());
    return 0;
}
