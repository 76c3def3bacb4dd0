// dvkctl simulate: a stand-in for the projector on a pseudo-terminal. It
// answers the scan-value query and reads burn transfers with the same protocol
// code the burn uses, reporting each as one JSON line.
#include "Cli.h"

#include "burn/BurnProtocol.h"
#include "serial/ProjectorQuery.h"
#include "serial/SimulatorPorts.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#ifndef _WIN32
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#endif

namespace cli
{

#ifdef _WIN32

int cmdSimulate(const QStringList &)
{
    err("dvkctl simulate: needs a POSIX pseudo-terminal, not available on this system");
    return ExitFailed;
}

#else

namespace
{

using Clock = std::chrono::steady_clock;
namespace bp = burnprotocol;

// A silence this long inside a transfer means the sender has stopped; the
// longest pause of the protocol is 300 ms.
constexpr int kCutOffMs = 2000;
// Stray bytes outside a transfer are reported once the line has been quiet
// this long.
constexpr int kStrayFlushMs = 200;
// Silences inside a transfer at least this long are reported as gaps.
constexpr int kGapMs = 50;

int signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t r = ::write(signalPipe[1], &byte, 1);
}

struct Options {
    QByteArray answer; // empty: silent
    long baud = 0;     // 0: read as fast as bytes come
    QString recordDir;
    QString link;
    QString name; // the registration's name
    bool nameGiven = false;
    bool once = false;
};

qint64 msBetween(Clock::time_point a, Clock::time_point b)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(b - a).count();
}

QString hex(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex().toUpper());
}

// One JSON line, its fields in the order given ("event" first reads best).
class JsonLine
{
public:
    JsonLine &add(const QString &key, const QJsonValue &value)
    {
        const QByteArray wrapped = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
        fields.append(
            QString("\"%1\":%2").arg(key, QString::fromUtf8(wrapped.mid(1, wrapped.size() - 2))));
        return *this;
    }
    void emitLine() const { outLine("{" + fields.join(',') + "}"); }

private:
    QStringList fields;
};

class Simulator
{
public:
    Simulator(const Options &options, int master) : options(options), master(master) {}

    // Runs until a signal, or the first committed transfer with --once.
    void run();

private:
    void take(quint8 byte, Clock::time_point t);
    void idleByte(quint8 byte);
    void flushStray();
    void answerQuery();
    void report(const bp::Transfer &transfer);
    QString record(const QByteArray &values);
    // Writes what the line takes now, without waiting; the bytes written.
    QByteArray writeNow(const QByteArray &bytes);
    int pollTimeout(Clock::time_point now) const;

    const Options &options;
    const int master;
    bp::Decoder decoder;
    QByteArray stray; // bytes outside a transfer not yet known to be a query
    Clock::time_point lastByte;
    // The transfer being received: its start, offsets and silences.
    Clock::time_point transferStart;
    qint64 transferOffset = 0;
    QJsonArray gaps;
    int transfersSeen = 0;
    int nextRecord = 0; // 0: not yet looked at the record directory
    bool done = false;
    // Line-rate reading: bytes that may be read now.
    double budget = 0.0;
    Clock::time_point budgetTime;
};

QByteArray Simulator::writeNow(const QByteArray &bytes)
{
    // A client that never reads fills the line; like a real projector's
    // transmitter, the simulator then loses the rest rather than stall the
    // next query.
    int sent = 0;
    while (sent < bytes.size()) {
        const ssize_t r = ::write(master, bytes.constData() + sent, size_t(bytes.size() - sent));
        if (r > 0)
            sent += int(r);
        else if (!(r < 0 && errno == EINTR))
            break;
    }
    return bytes.left(sent);
}

void Simulator::answerQuery()
{
    const QByteArray sent = writeNow(options.answer);
    JsonLine line;
    line.add("event", "query").add("answered", hex(sent));
    if (sent.size() < options.answer.size())
        line.add("unsent", hex(options.answer.mid(sent.size())));
    line.emitLine();
}

void Simulator::flushStray()
{
    if (stray.isEmpty())
        return;
    JsonLine().add("event", "unexpected").add("bytes", hex(stray)).emitLine();
    stray.clear();
}

void Simulator::idleByte(quint8 byte)
{
    stray.append(char(byte));
    const QByteArray query(reinterpret_cast<const char *>(kProjectorQuery), 3);
    if (stray.endsWith(query)) {
        stray.chop(3);
        flushStray();
        answerQuery();
        return;
    }
    // Keep only what could still be the start of a query waiting.
    for (int keep = std::min(2, int(stray.size())); keep >= 0; --keep) {
        if (query.startsWith(stray.right(keep))) {
            if (stray.size() > keep) {
                const QByteArray tail = stray.right(keep);
                stray.chop(keep);
                flushStray();
                stray = tail;
            }
            break;
        }
    }
}

void Simulator::report(const bp::Transfer &transfer)
{
    ++transfersSeen;
    JsonLine line;
    line.add("event", "transfer")
        .add("values", transfer.values.size())
        .add("blocks", transfer.blocks)
        .add("committed", transfer.committed);
    QJsonArray errors;
    for (const bp::FramingError &e : transfer.errors) {
        QJsonObject eo;
        eo["offset"] = double(e.offset);
        eo["message"] = e.message;
        errors.append(eo);
    }
    line.add("errors", errors)
        .add("bytes", double(transfer.length))
        .add("duration_ms", double(msBetween(transferStart, lastByte)))
        .add("gaps", gaps);
    if (!options.recordDir.isEmpty()) {
        const QString path = record(transfer.values);
        if (!path.isEmpty())
            line.add("record", path);
    }
    line.emitLine();
    if (options.once && transfer.committed)
        done = true;
}

// Writes the values as a new pattern file in the record directory, numbered
// after the recordings already there; never through a link and never over an
// existing file. Returns its path, or empty when it could not be written.
QString Simulator::record(const QByteArray &values)
{
    const QDir dir(options.recordDir);
    if (nextRecord == 0) {
        nextRecord = 1;
        static const QRegularExpression numbered("^transfer_(\\d+)\\.txt$");
        for (const QString &name : dir.entryList(QDir::AllEntries | QDir::System | QDir::Hidden)) {
            const auto m = numbered.match(name);
            if (m.hasMatch())
                nextRecord = std::max(nextRecord, m.captured(1).toInt() + 1);
        }
    }
    QByteArray text;
    text.reserve(values.size() * 5);
    for (char v : values)
        text += QString::asprintf("0x%02X\n", unsigned(quint8(v))).toLatin1();
    for (int attempt = 0; attempt < 1000; ++attempt) {
        const QString path =
            dir.filePath(QString("transfer_%1.txt").arg(nextRecord++, 3, 10, QChar('0')));
        const QByteArray name = QFile::encodeName(path);
        // O_EXCL also refuses a link, even one pointing at nothing.
        const int fd =
            ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd < 0 && errno == EEXIST)
            continue;
        if (fd < 0) {
            err(QString("dvkctl simulate: cannot create %1: %2").arg(path, strerror(errno)));
            return QString();
        }
        qint64 done = 0;
        while (done < text.size()) {
            const ssize_t n = ::write(fd, text.constData() + done, size_t(text.size() - done));
            if (n > 0)
                done += n;
            else if (!(n < 0 && errno == EINTR))
                break;
        }
        const int writeError = done < text.size() ? errno : 0;
        if (::close(fd) != 0 || done < text.size()) {
            err(QString("dvkctl simulate: cannot write %1: %2")
                    .arg(path, strerror(writeError ? writeError : errno)));
            ::unlink(name.constData());
            return QString();
        }
        return path;
    }
    err(QString("dvkctl simulate: no free recording name in %1").arg(options.recordDir));
    return QString();
}

void Simulator::take(quint8 byte, Clock::time_point t)
{
    const bool wasInTransfer = decoder.inTransfer();
    if (wasInTransfer && msBetween(lastByte, t) >= kGapMs) {
        QJsonObject g;
        g["offset"] = double(transferOffset);
        g["ms"] = double(msBetween(lastByte, t));
        gaps.append(g);
    }
    lastByte = t;
    const bool consumed = decoder.feed(byte);
    bool ended = false;
    bp::Transfer finished;
    while (decoder.takeTransfer(&finished)) {
        report(finished);
        ended = true;
    }
    if (consumed && decoder.inTransfer() && (!wasInTransfer || ended)) {
        // A start marker: a new transfer.
        flushStray();
        transferStart = t;
        transferOffset = 0;
        gaps = QJsonArray();
    }
    if (consumed)
        ++transferOffset;
    else
        idleByte(byte);
}

int Simulator::pollTimeout(Clock::time_point now) const
{
    qint64 wait = -1;
    auto consider = [&](qint64 ms) {
        ms = std::max<qint64>(ms, 0);
        if (wait < 0 || ms < wait)
            wait = ms;
    };
    if (decoder.inTransfer())
        consider(kCutOffMs - msBetween(lastByte, now));
    if (!stray.isEmpty())
        consider(kStrayFlushMs - msBetween(lastByte, now));
    return int(wait);
}

void Simulator::run()
{
    char chunk[4096];
    budgetTime = Clock::now();
    while (!done) {
        const auto now = Clock::now();
        // Line-rate reading: wait for the budget of one byte before reading.
        int allowed = int(sizeof(chunk));
        int timeout = pollTimeout(now);
        if (options.baud > 0) {
            const double rate = double(options.baud) / 10.0; // bytes per second
            budget += rate * std::chrono::duration<double>(now - budgetTime).count();
            budgetTime = now;
            budget = std::min(budget, std::max(1.0, rate / 100.0)); // bursts of 10 ms at most
            allowed = std::min(allowed, int(budget));
            if (allowed < 1) {
                const int untilByte = int((1.0 - budget) / rate * 1000.0) + 1;
                timeout = timeout < 0 ? untilByte : std::min(timeout, untilByte);
            }
        }
        // Standard output is watched too: when whoever reads the JSON lines
        // has gone, the simulator ends rather than linger.
        pollfd fds[3] = {{signalPipe[0], POLLIN, 0},
                         {master, short(allowed >= 1 ? POLLIN : 0), 0},
                         {STDOUT_FILENO, 0, 0}};
        const int r = ::poll(fds, 3, timeout);
        if (r < 0 && errno != EINTR)
            break;
        if (fds[0].revents != 0 || (fds[2].revents & (POLLERR | POLLHUP)) != 0)
            break;
        const auto t = Clock::now();
        if (r > 0 && (fds[1].revents & POLLIN)) {
            const ssize_t n = ::read(master, chunk, size_t(allowed));
            if (n > 0) {
                if (options.baud > 0)
                    budget -= double(n);
                for (ssize_t i = 0; i < n && !done; ++i)
                    take(quint8(chunk[i]), t);
                continue;
            }
        }
        // Quiet line: end a transfer whose sender has stopped, report strays.
        if (decoder.inTransfer() && msBetween(lastByte, t) >= kCutOffMs) {
            decoder.cutOff();
            bp::Transfer finished;
            while (decoder.takeTransfer(&finished))
                report(finished);
        }
        if (!stray.isEmpty() && msBetween(lastByte, t) >= kStrayFlushMs)
            flushStray();
    }
    // Ended by a signal in the middle of a transfer: report what came.
    if (decoder.inTransfer()) {
        decoder.cutOff();
        bp::Transfer finished;
        while (decoder.takeTransfer(&finished))
            report(finished);
    }
    flushStray();
}

bool parseOptions(const QCommandLineParser &parser, Options *o)
{
    const int answerForms =
        int(parser.isSet("scan-value")) + int(parser.isSet("answer")) + int(parser.isSet("silent"));
    if (answerForms > 1) {
        err("dvkctl simulate: give at most one of --scan-value, --answer, --silent");
        return false;
    }
    int scan = 10000;
    if (parser.isSet("scan-value")) {
        if (!intOption(parser, "scan-value", &scan))
            return false;
        if (scan < 0 || scan > 65535) {
            err(QString("dvkctl simulate: --scan-value: '%1' is not in 0 ... 65535")
                    .arg(parser.value("scan-value")));
            return false;
        }
    }
    o->answer = QByteArray();
    o->answer.append(char(scan >> 8));
    o->answer.append(char(scan & 0xFF));
    if (parser.isSet("answer")) {
        const QString text = parser.value("answer");
        static const QRegularExpression hexBytes("^([0-9A-Fa-f]{2})+$");
        if (!hexBytes.match(text).hasMatch()) {
            err(QString("dvkctl simulate: --answer: '%1' is not hexadecimal bytes").arg(text));
            return false;
        }
        o->answer = QByteArray::fromHex(text.toLatin1());
    }
    if (parser.isSet("silent"))
        o->answer.clear();
    if (parser.isSet("baud")) {
        int baud = 0;
        if (!intOption(parser, "baud", &baud))
            return false;
        if (baud <= 0) {
            err(QString("dvkctl simulate: --baud: '%1' is not a positive rate")
                    .arg(parser.value("baud")));
            return false;
        }
        o->baud = baud;
    }
    if (parser.isSet("record")) {
        o->recordDir = parser.value("record");
        if (!QDir().mkpath(o->recordDir)) {
            err(QString("dvkctl simulate: --record: cannot create '%1'").arg(o->recordDir));
            return false;
        }
    }
    o->link = parser.value("link");
    if (parser.isSet("link") && o->link.isEmpty()) {
        err("dvkctl simulate: --link: the path is empty");
        return false;
    }
    o->nameGiven = parser.isSet("name");
    o->name =
        o->nameGiven ? parser.value("name") : QString("simulator-%1").arg(qlonglong(::getpid()));
    if (!simulatorports::validName(o->name)) {
        err(QString("dvkctl simulate: --name: '%1' is not a plain file name").arg(o->name));
        return false;
    }
    o->once = parser.isSet("once");
    return true;
}

// The device end of a new pseudo-terminal in raw mode; its path through
// *path. The returned master stays open for the simulator's life, and so does
// one descriptor of the device end (through *keep): without it, each time a
// client closed the port the master would see a hang-up.
int openPseudoTerminal(QString *path, int *keep)
{
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0)
        return -1;
    char name[256];
    if (::grantpt(master) != 0 || ::unlockpt(master) != 0 ||
        ::ptsname_r(master, name, sizeof(name)) != 0) {
        ::close(master);
        return -1;
    }
    const int slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave < 0) {
        ::close(master);
        return -1;
    }
    // Raw from the start: no echo of what the simulator answers, no
    // translation, whatever the client sets later.
    termios t;
    if (::tcgetattr(slave, &t) == 0) {
        ::cfmakeraw(&t);
        ::cfsetispeed(&t, B115200);
        ::cfsetospeed(&t, B115200);
        ::tcsetattr(slave, TCSANOW, &t);
    }
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    *path = QString::fromLocal8Bit(name);
    *keep = slave;
    return master;
}

} // namespace

int cmdSimulate(const QStringList &args)
{
    QCommandLineParser parser;
    parser.addOption({"scan-value", "Answer queries with this scan value (default 10000).", "F"});
    parser.addOption({"answer", "Answer queries with exactly these bytes.", "HEX"});
    parser.addOption({"silent", "Answer no query."});
    parser.addOption({"baud", "Read no faster than RATE / 10 bytes per second.", "RATE"});
    parser.addOption({"record", "Write each transfer's data bytes to DIR.", "DIR"});
    parser.addOption({"link", "Also make a symbolic link PATH to the device.", "PATH"});
    parser.addOption({"name", "Name in the window's port list (default simulator-<pid>).", "NAME"});
    parser.addOption({"once", "End after the first transfer with a commit command."});
    const int rc = parse(parser, args,
                         "Runs the projector simulator on a pseudo-terminal. The device path is "
                         "the first line of standard output; then one JSON line per query and "
                         "per transfer.");
    if (rc >= 0)
        return rc;
    if (!parser.positionalArguments().isEmpty()) {
        err(QString("dvkctl simulate: unexpected argument '%1'")
                .arg(parser.positionalArguments().first()));
        return ExitUsage;
    }
    Options options;
    if (!parseOptions(parser, &options))
        return ExitUsage;

    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        err("dvkctl simulate: cannot create a pipe");
        return ExitFailed;
    }
    QString path;
    int keep = -1;
    const int master = openPseudoTerminal(&path, &keep);
    if (master < 0) {
        err(QString("dvkctl simulate: cannot open a pseudo-terminal: %1").arg(strerror(errno)));
        return ExitFailed;
    }
    // From here on a signal ends the run through the loop, which removes the
    // links made below.
    struct sigaction sa = {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    ::sigaction(SIGINT, &sa, nullptr);
    ::sigaction(SIGTERM, &sa, nullptr);
    ::signal(SIGPIPE, SIG_IGN);

    // Both links are made only where nothing is (or a link to nothing was
    // left behind), and removed at the end only while they are still ours.
    OwnedLink link;
    if (!options.link.isEmpty()) {
        QString why;
        if (!link.make(options.link, path, &why)) {
            err("dvkctl simulate: --link: " + why);
            return ExitFailed;
        }
    }
    // Listed in the window's port list while it runs. Without --name a
    // failure only costs that listing.
    OwnedLink registration;
    {
        QString why;
        if (!simulatorports::ensureDirectory(&why) ||
            !registration.make(simulatorports::directory() + "/" + options.name, path, &why)) {
            err("dvkctl simulate: not listed in the window's port list: " + why);
            if (options.nameGiven)
                return ExitFailed;
        }
    }

    outLine(path);

    Simulator simulator(options, master);
    simulator.run();

    registration.remove();
    link.remove();
    ::close(master);
    ::close(keep);
    return ExitOk;
}

#endif

} // namespace cli
