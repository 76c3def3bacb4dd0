#ifndef DVK_SERIALPLATFORM_H
#define DVK_SERIALPLATFORM_H

// The operating system's side of the serial port, kept free of Qt so that
// the Windows half builds with a plain cross compiler. mySerial is the only
// caller; it serialises the calls and never lets one run on a closed handle.

#include <cstddef>
#include <string>
#include <vector>

namespace serialplatform
{

// The projector's line and its time-outs.
constexpr unsigned kBaudRate = 115200;
constexpr unsigned kQueueSize = 1024;       // driver input and output queues
constexpr unsigned kReadMsPerByte = 1000;   // a read of n bytes gives up after
constexpr unsigned kReadConstantMs = 1000;  //   n * 1000 + 1000 ms
constexpr unsigned kReadIntervalMs = 65535; // never ends a read first
constexpr unsigned kWriteMsPerByte = 500;   // a write of n bytes gives up after
constexpr unsigned kWriteConstantMs = 5000; //   n * 500 + 5000 ms

struct Port;

// Why a port could not be opened, in terms the user can act on.
enum class OpenError {
    None,
    NoPort,           // no device named at all
    NoDevice,         // nothing there: no such file, or no hardware behind it
    Busy,             // another program has it open
    PermissionDenied, // this user may not open it
    NotSerial,        // it opened, but it is not a serial port
    SimulatorEnded,   // a simulator's registration that no simulator holds
    Other             // anything else; systemText says what
};

struct OpenFailure {
    OpenError error = OpenError::None;
    std::string path;
    int systemCode = 0;     // errno, or GetLastError() on Windows
    std::string systemText; // the system's own wording of systemCode

    // PermissionDenied on POSIX: who may open the device and who asked.
    std::string user;  // the process's (effective) user
    std::string owner; // the device file's owner and group
    std::string group;
    unsigned groupId = 0;
    unsigned mode = 0;        // the device file's permission bits
    bool inGroup = false;     // this process has the device's group now
    bool groupMember = false; // the account is in that group, perhaps only
                              // since after this login session began

    // Busy: the programs seen holding the device, as "name (pid N)". Empty
    // when none could be seen (another user's processes are hidden).
    std::vector<std::string> holders;
};

// Opens the device for exclusive use; nullptr when it cannot be opened
// (missing, busy, refused, or not a serial device), with the reason in
// *failure when given.
Port *open(const std::string &path, OpenFailure *failure = nullptr);

// Line settings 115200 8N1, raw bytes, everything else (flow control
// included) as the system has it; queue sizes, both queues purged,
// time-outs. Failures here are not reported: the port counts as open.
void configure(Port *port);

// Writes all bytes within the write time-out. On failure both directions are
// purged and false is returned.
bool write(Port *port, const void *data, std::size_t length);

// Reads up to n bytes; returns when n bytes have arrived or the time-out has
// passed (timeoutMs; by default the projector's n * 1000 + 1000 ms), with the
// count received (possibly 0). -1 when the read failed or the port was
// interrupted and nothing had arrived.
long read(Port *port, void *buffer, std::size_t n, long timeoutMs = -1);

// Bytes waiting in the driver's input queue (clears a pending line error on
// Windows); -1 on failure.
long queued(Port *port);

// Aborts and discards what waits on the receive side.
void purgeReceive(Port *port);

// Makes a pending or later read or write on this port return at once with a
// failure. Safe to call from any thread while another thread uses the port.
void interrupt(Port *port);

// Releases the device. No other call on this port may be in progress.
void close(Port *port);

// The projector's reply, read the same way on every system: two-byte reads
// until one fails, meets silence, or has bytes queued behind it (those are
// taken, and the read ends). Everything goes into `buffer` (`size` bytes),
// never past its end; once it is full, whatever else waits is discarded.
// *count becomes the size of the last two-byte read that returned data (1 or
// 2) and keeps its value when none did. Returns how many bytes this call put
// at the start of `buffer`, counted or not.
//
// Each two-byte read waits up to 3 s. With settleMs >= 0, those after the
// first that returned data wait only settleMs: the reply is over once the
// line has been quiet that long.
int readReply(Port *port, char *buffer, int size, int *count, long settleMs = -1);

// The device that port number n names: "\\.\COM<n>" on Windows, the n-th
// on-board UART (COM1 = /dev/ttyS0) elsewhere; empty when n names none.
std::string devicePathForNumber(int n);

} // namespace serialplatform

#endif
