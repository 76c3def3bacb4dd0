// The projector simulator: answers the scan-value query, reads burn
// transfers with the burn's own decoder and reports each as one JSON line.
#include "ProjectorSimulator.h"

#include "Cli.h"

#include "serial/ProjectorQuery.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QStringList>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace cli
{

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

// Recording numbers are kept as decimal text: the next one follows any
// number already in the folder, however large, and never wraps round onto
// an earlier recording.
QString digitsOf(const QString &number)
{
    int zeros = 0;
    while (zeros < number.size() - 1 && number.at(zeros) == '0')
        ++zeros;
    return number.mid(zeros);
}

bool numberBelow(const QString &a, const QString &b)
{
    const QString x = digitsOf(a), y = digitsOf(b);
    return x.size() != y.size() ? x.size() < y.size() : x < y;
}

QString numberAfter(const QString &number)
{
    QString next = digitsOf(number);
    int at = next.size() - 1;
    while (at >= 0 && next.at(at) == '9')
        next[at--] = '0';
    if (at < 0)
        next.prepend('1');
    else
        next[at] = QChar(next.at(at).unicode() + 1);
    return next.rightJustified(3, '0');
}

} // namespace

// After a close, how long and how often to look for a lock that has not gone.
constexpr auto kLookFor = std::chrono::seconds(5);
constexpr auto kLookEvery = std::chrono::milliseconds(100);

PortClients::PortClients(const QString &device, int keep) : keep(keep)
{
    struct stat st;
    if (::fstat(keep, &st) != 0)
        return;
    lockKey = QString("%1:%2:%3")
                  .arg(major(st.st_dev), 2, 16, QChar('0'))
                  .arg(minor(st.st_dev), 2, 16, QChar('0'))
                  .arg(qulonglong(st.st_ino));
    notify = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (notify < 0)
        return;
    const QByteArray name = QFile::encodeName(device);
    if (::inotify_add_watch(notify, name.constData(), IN_CLOSE) < 0) {
        ::close(notify);
        notify = -1;
    }
}

PortClients::~PortClients()
{
    if (notify >= 0)
        ::close(notify);
}

int PortClients::msToNextLook() const
{
    if (!looking)
        return -1;
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(nextLook - Clock::now()).count();
    return int(std::max<qint64>(left, 0));
}

void PortClients::update()
{
    // Only that a close happened matters: the kernel merges events that
    // come in a row, so they are not counted.
    alignas(inotify_event) char buffer[4096];
    bool closed = false;
    ssize_t n;
    while ((n = ::read(notify, buffer, sizeof buffer)) > 0)
        closed = true;
    if (closed) {
        looking = true;
        lookUntil = Clock::now() + kLookFor;
        look();
    }
}

void PortClients::look()
{
    if (!looking || Clock::now() < nextLook)
        return;
    if (!lockHeld()) {
        ::ioctl(keep, TIOCNXCL);
        looking = false;
        return;
    }
    nextLook = Clock::now() + kLookEvery;
    looking = nextLook < lookUntil;
}

bool PortClients::lockHeld() const
{
    QFile locks("/proc/locks");
    if (!locks.open(QIODevice::ReadOnly))
        return false;
    for (const QByteArray &line : locks.readAll().split('\n'))
        if (line.split(' ').contains(lockKey.toLatin1()))
            return true;
    return false;
}

QByteArray ProjectorSimulator::writeNow(const QByteArray &bytes)
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

void ProjectorSimulator::answerQuery()
{
    const QByteArray sent = writeNow(options.answer);
    JsonLine line;
    line.add("event", "query").add("answered", hex(sent));
    if (sent.size() < options.answer.size())
        line.add("unsent", hex(options.answer.mid(sent.size())));
    line.emitLine();
}

void ProjectorSimulator::flushStray()
{
    if (stray.isEmpty())
        return;
    JsonLine().add("event", "unexpected").add("bytes", hex(stray)).emitLine();
    stray.clear();
}

void ProjectorSimulator::idleByte(quint8 byte)
{
    stray.append(char(byte));
    const QByteArray query(reinterpret_cast<const char *>(kProjectorQuery),
                           int(sizeof kProjectorQuery));
    if (stray.endsWith(query)) {
        stray.chop(query.size());
        flushStray();
        answerQuery();
        return;
    }
    // Keep only what could still be the start of a query waiting.
    for (int keep = std::min(query.size() - 1, stray.size()); keep >= 0; --keep) {
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

void ProjectorSimulator::report(const bp::Transfer &transfer)
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
QString ProjectorSimulator::record(const QByteArray &values)
{
    const QDir dir(options.recordDir);
    if (nextRecord.isEmpty()) {
        QString last = "0";
        static const QRegularExpression numbered("^transfer_([0-9]+)\\.txt$");
        for (const QString &name : dir.entryList(QDir::AllEntries | QDir::System | QDir::Hidden)) {
            const auto m = numbered.match(name);
            if (m.hasMatch() && numberBelow(last, m.captured(1)))
                last = m.captured(1);
        }
        nextRecord = numberAfter(last);
    }
    QByteArray text;
    text.reserve(values.size() * 5);
    for (char v : values)
        text += QString::asprintf("0x%02X\n", unsigned(quint8(v))).toLatin1();
    for (int attempt = 0; attempt < 1000; ++attempt) {
        const QString path = dir.filePath(QString("transfer_%1.txt").arg(nextRecord));
        nextRecord = numberAfter(nextRecord);
        const QByteArray name = QFile::encodeName(path);
        // O_EXCL also refuses a link, even one pointing at nothing.
        const int fd =
            ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd < 0 && errno == EEXIST)
            continue;
        if (fd < 0) {
            err(QString("%1: cannot create %2: %3").arg(options.tag, path, strerror(errno)));
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
            err(QString("%1: cannot write %2: %3")
                    .arg(options.tag, path, strerror(writeError ? writeError : errno)));
            ::unlink(name.constData());
            return QString();
        }
        return path;
    }
    err(QString("%1: no free recording name in %2").arg(options.tag, options.recordDir));
    return QString();
}

void ProjectorSimulator::take(quint8 byte, Clock::time_point t)
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

// A quiet spell of baseMs, plus two byte times at a paced line rate: below
// about 50 baud the gap between two bytes of one query is longer than the
// stray flush itself, and the query would be taken apart.
qint64 ProjectorSimulator::quietMs(int baseMs) const
{
    return options.baud > 0 ? baseMs + 2 * 10 * 1000 / options.baud : baseMs;
}

int ProjectorSimulator::pollTimeout(Clock::time_point now) const
{
    qint64 wait = -1;
    auto consider = [&](qint64 ms) {
        ms = std::max<qint64>(ms, 0);
        if (wait < 0 || ms < wait)
            wait = ms;
    };
    if (decoder.inTransfer())
        consider(quietMs(kCutOffMs) - msBetween(lastByte, now));
    if (!stray.isEmpty())
        consider(quietMs(kStrayFlushMs) - msBetween(lastByte, now));
    if (clients.msToNextLook() >= 0)
        consider(clients.msToNextLook());
    return int(wait);
}

void ProjectorSimulator::run()
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
        pollfd fds[4] = {{stopFd, POLLIN, 0},
                         {master, short(allowed >= 1 ? POLLIN : 0), 0},
                         {STDOUT_FILENO, 0, 0},
                         {clients.eventFd(), POLLIN, 0}};
        const int r = ::poll(fds, 4, timeout);
        if (r < 0 && errno != EINTR)
            break;
        if (fds[0].revents != 0 || (fds[2].revents & (POLLERR | POLLHUP)) != 0)
            break;
        if (fds[3].revents != 0)
            clients.update();
        clients.look();
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
        if (decoder.inTransfer() && msBetween(lastByte, t) >= quietMs(kCutOffMs)) {
            decoder.cutOff();
            bp::Transfer finished;
            while (decoder.takeTransfer(&finished))
                report(finished);
        }
        if (!stray.isEmpty() && msBetween(lastByte, t) >= quietMs(kStrayFlushMs))
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

} // namespace cli
