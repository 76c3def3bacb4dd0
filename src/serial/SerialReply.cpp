// The read loop of the projector's reply, built on the platform calls alone so
// that every system (and the Windows test program) runs the same loop.
#include "serial/SerialPlatform.h"

#include <algorithm>

namespace serialplatform
{

int readReply(Port *port, char *buffer, int size, int *count, long settleMs)
{
    int stored = 0; // bytes the loop counts
    int placed = 0; // bytes in the buffer from this call, counted or not
    bool first = true;
    // A two-byte read, bounded by the room left in the buffer.
    auto readPair = [&]() -> long {
        const int room = size - stored;
        if (room <= 0)
            return 0;
        const long timeout = first || settleMs < 0 ? -1 : settleMs;
        return read(port, buffer + stored, std::size_t(std::min(2, room)), timeout);
    };
    long got = readPair();
    while (got > 0) {
        first = false;
        stored += int(got);
        *count = int(got);
        if (stored == size) {
            // Full: whatever else comes is discarded.
            purgeReceive(port);
            break;
        }
        if (got == 2) {
            const long waiting = queued(port);
            if (waiting > 0) {
                // Take what is already queued behind the reply, up to the room
                // left, and end the read there. Bytes that do not fill the
                // buffer stay uncounted.
                const int room = size - stored;
                const long bulk =
                    read(port, buffer + stored, std::size_t(std::min<long>(waiting, room)));
                if (bulk == room) {
                    stored += room;
                    purgeReceive(port);
                } else if (bulk > 0) {
                    placed = stored + int(bulk);
                }
                break;
            }
        }
        got = readPair();
    }
    return std::max(placed, stored);
}

} // namespace serialplatform
