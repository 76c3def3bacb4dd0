// The Windows half of the serial layer, run for real (under Wine in the test
// stage, against the projector simulator). No Qt: the platform calls and the
// reply's read loop alone. One check per run:
//
//   serial_test_win query PORT VALUE   the projector answers VALUE; the read
//                                      waits out its 3 s after the answer, or
//                                      a short settle time when asked to
//   serial_test_win silent PORT        nothing answers: the read gives up
//                                      after 3 s, the count left as it was
//   serial_test_win burn PORT STEPS    sends a transfer, one write per byte,
//                                      with its pauses ("b HH" / "p MS" lines)
//   serial_test_win stall PORT         nobody reads the line: a write fails at
//                                      its time-out
//
// Prints what it saw; exit 0 when the check holds, 1 when not, 2 on bad use.
#include "serial/SerialPlatform.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace sp = serialplatform;

namespace
{

constexpr int kBufferSize = 1024;
const unsigned char kQuery[3] = {0x9F, 0xFC, 0x01};

sp::Port *openPort(const std::string &name)
{
    sp::OpenFailure failure;
    sp::Port *port = sp::open(sp::devicePathForNumber(std::atoi(name.c_str() + 3)), &failure);
    if (!port) {
        std::printf("FAIL cannot open %s: %s (%d)\n", name.c_str(), failure.systemText.c_str(),
                    failure.systemCode);
        return nullptr;
    }
    sp::configure(port);
    return port;
}

bool check(bool ok, const char *what, long got)
{
    std::printf("%s %s: %ld\n", ok ? "PASS" : "FAIL", what, got);
    return ok;
}

int query(sp::Port *port, long expected)
{
    if (!sp::write(port, kQuery, sizeof(kQuery))) {
        std::printf("FAIL the query could not be written\n");
        return 1;
    }
    char buffer[kBufferSize] = {};
    int count = kBufferSize;
    const DWORD start = GetTickCount();
    const int received = sp::readReply(port, buffer, kBufferSize, &count);
    const long ms = long(GetTickCount() - start);
    const long value =
        (long(static_cast<unsigned char>(buffer[0])) << 8) | static_cast<unsigned char>(buffer[1]);
    bool ok = check(count == 2, "count of the last two-byte read", count);
    ok = check(received == 2, "bytes received", received) && ok;
    ok = check(value == expected, "scan value", value) && ok;
    // Read at once, then the next two-byte read meets 3 s of silence.
    ok = check(ms >= 2900 && ms < 6000, "ms until the read ended", ms) && ok;

    // Asked again with the command-line tool's short settle time (a read
    // time-out of its own for the reads after the answer).
    if (!sp::write(port, kQuery, sizeof(kQuery))) {
        std::printf("FAIL the second query could not be written\n");
        return 1;
    }
    count = kBufferSize;
    const DWORD again = GetTickCount();
    sp::readReply(port, buffer, kBufferSize, &count, 50);
    const long settled = long(GetTickCount() - again);
    ok = check(count == 2, "count, settling after 50 ms", count) && ok;
    ok = check(settled < 1500, "ms until the read ended, settling after 50 ms", settled) && ok;
    return ok ? 0 : 1;
}

int silent(sp::Port *port)
{
    char buffer[kBufferSize] = {};
    int count = kBufferSize;
    const DWORD start = GetTickCount();
    const int received = sp::readReply(port, buffer, kBufferSize, &count);
    const long ms = long(GetTickCount() - start);
    bool ok = check(count == kBufferSize, "count (left as preset)", count);
    ok = check(received == 0, "bytes received", received) && ok;
    ok = check(ms >= 2900 && ms < 6000, "ms until the read gave up", ms) && ok;
    return ok ? 0 : 1;
}

int burn(sp::Port *port, const std::string &stepsFile)
{
    std::ifstream steps(stepsFile);
    if (!steps) {
        std::printf("FAIL cannot read %s\n", stepsFile.c_str());
        return 2;
    }
    char kind = 0;
    std::string value;
    long bytes = 0;
    while (steps >> kind >> value) {
        if (kind == 'p') {
            Sleep(DWORD(std::stol(value)));
            continue;
        }
        const unsigned char byte = static_cast<unsigned char>(std::stoul(value, nullptr, 16));
        if (!sp::write(port, &byte, 1)) {
            std::printf("FAIL write of byte %ld failed\n", bytes);
            return 1;
        }
        ++bytes;
    }
    std::printf("PASS bytes sent: %ld\n", bytes);
    return 0;
}

int stall(sp::Port *port)
{
    // Fill the line's buffer until a write can no longer complete.
    long sent = 0;
    for (;;) {
        const DWORD start = GetTickCount();
        const bool ok = sp::write(port, "x", 1);
        const long ms = long(GetTickCount() - start);
        if (!ok) {
            std::printf("PASS bytes taken before the stall: %ld\n", sent);
            return check(ms >= 5000 && ms < 10000, "ms until the stalled write failed", ms) ? 0 : 1;
        }
        if (ms > 4000) {
            // The time-out ran out and the write still counted as done.
            std::printf("FAIL a write that timed out after %ld ms reported success\n", ms);
            return 1;
        }
        if (++sent > 10 * 1000 * 1000) {
            std::printf("FAIL the line never stalled\n");
            return 1;
        }
    }
}

} // namespace

int main(int argc, char **argv)
{
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    if (argc < 3) {
        std::printf("usage: serial_test_win query|silent|burn|stall PORT [ARG]\n");
        return 2;
    }
    const std::string command = argv[1];
    sp::Port *port = openPort(argv[2]);
    if (!port)
        return 1;
    int rc = 2;
    if (command == "query" && argc == 4)
        rc = query(port, std::atol(argv[3]));
    else if (command == "silent")
        rc = silent(port);
    else if (command == "burn" && argc == 4)
        rc = burn(port, argv[3]);
    else if (command == "stall")
        rc = stall(port);
    sp::close(port);
    return rc;
}
