#include "PatternFile.h"

#include "FileAccess.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QThread>

#include <algorithm>
#include <cerrno>

#ifndef Q_OS_WIN
#include <sys/file.h>
#include <unistd.h>
#else
#include <io.h>
#include <windows.h>
#endif

QString patternFilePathFor(const QString &directory, const QDateTime &time)
{
    return directory + "/wave_" + time.toString("yyyy_MM_dd_hh_mm_ss") + ".txt";
}

QString patternDialogStart(const QString &lastChosen)
{
#ifdef _WIN32
    Q_UNUSED(lastChosen)
    return QStringLiteral(". / ");
#else
    return lastChosen.isEmpty() ? QDir::currentPath() : lastChosen;
#endif
}

QByteArray computedLine(int value)
{
    return "0x" + QByteArray::number(value, 16);
}

QByteArray levelLine(int value)
{
    return value == 255 ? QByteArrayLiteral("0xFF") : QByteArrayLiteral("0x00");
}

QByteArray patternLines(const PatternRun &run)
{
    QByteArray text;
    text.reserve(int(run.values.size()) * 5);
    for (quint8 v : run.values) {
        text += run.form == LineForm::Computed ? computedLine(v) : levelLine(v);
        text += '\n';
    }
    return text;
}

bool patternLimitExceeded(qint64 valueCount, qint64 patterns)
{
    return valueCount / kSamplesPerPage + patterns > kMaxBurnPatterns;
}

namespace
{

// Counts lines as a reader does: line feeds, plus a last line without one.
// Readers drop carriage returns, so only the last other byte tells whether
// the last line is open.
struct LineCounter {
    qint64 lineFeeds = 0;
    char last = '\n'; // the last byte other than a carriage return

    void add(const char *data, qint64 size)
    {
        lineFeeds += std::count(data, data + size, '\n');
        for (qint64 i = size - 1; i >= 0; --i) {
            if (data[i] != '\r') {
                last = data[i];
                break;
            }
        }
    }
    qint64 lines() const { return lineFeeds + (last != '\n' ? 1 : 0); }
};

#ifndef Q_OS_WIN
// Reads a whole open file through its descriptor, without moving its
// position; -1 on a read error.
qint64 countLinesOf(int fd)
{
    QByteArray chunk(1 << 16, Qt::Uninitialized);
    qint64 offset = 0;
    LineCounter counter;
    for (;;) {
        const ssize_t n = ::pread(fd, chunk.data(), size_t(chunk.size()), off_t(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        counter.add(chunk.constData(), n);
        offset += n;
    }
    return counter.lines();
}

// Whether the last line of an open file lacks its line feed (carriage
// returns aside), read backwards from its end.
bool lastLineOpen(int fd, qint64 size)
{
    char chunk[4096];
    for (qint64 end = size; end > 0;) {
        const qint64 start = qMax<qint64>(0, end - qint64(sizeof chunk));
        const ssize_t n = ::pread(fd, chunk, size_t(end - start), off_t(start));
        if (n <= 0)
            return false;
        for (ssize_t i = n - 1; i >= 0; --i) {
            if (chunk[i] != '\r')
                return chunk[i] != '\n';
        }
        end = start;
    }
    return false;
}
#endif

// How long open() waits for another writer's append to end (an append takes
// milliseconds; the window waits on its GUI thread).
constexpr int kLockWaitMs = 5000;
#ifdef Q_OS_WIN
constexpr DWORD kLockOffsetLow = 0xFFFFFFFE;
constexpr DWORD kLockOffsetHigh = 0x7FFFFFFF;
#endif

} // namespace

PatternFileWriter::PatternFileWriter(const QString &path) : path(path) {}

PatternFileWriter::~PatternFileWriter()
{
    close();
}

bool PatternFileWriter::open()
{
    // Unbuffered: a failed write is seen at once and nothing of it lingers in
    // a buffer that would stop the partial output from being cut off again.
    const QIODevice::OpenMode mode = QIODevice::Append | QIODevice::Text | QIODevice::Unbuffered;
    // Another user's link in a shared folder would take the lines wherever
    // they chose; looked at again once open, in case it was planted between.
    auto foreignLink = [&]() {
        if (!isForeignLinkInSharedFolder(path))
            return false;
        error = QStringLiteral("a link owned by another user in a folder anyone may write to");
        refusedNotRegular = true;
        return true;
    };
    if (foreignLink())
        return false;
    // Read access serves the count and the check of the last byte; a file
    // that may only be written is still appended to.
    readable = openRegularFile(file, path, mode | QIODevice::ReadWrite, &error, &refusedNotRegular);
    if (!readable && !refusedNotRegular &&
        !openRegularFile(file, path, mode | QIODevice::WriteOnly, &error, &refusedNotRegular))
        return false;
    if (refusedNotRegular)
        return false;
    if (foreignLink()) {
        file.close();
        return false;
    }
    if (!lock()) {
        file.close();
        return false;
    }
    return true;
}

bool PatternFileWriter::lock()
{
    if (locked)
        return true;
#ifndef Q_OS_WIN
    // Polled, with a bound: the window calls this on its GUI thread.
    QElapsedTimer waited;
    waited.start();
    while (::flock(file.handle(), LOCK_EX | LOCK_NB) != 0) {
        // A file system without locks is written to as before.
        if (errno != EWOULDBLOCK && errno != EINTR)
            return true;
        if (waited.elapsed() > kLockWaitMs) {
            error = QStringLiteral("another program is still writing to the file");
            busy = true;
            return false;
        }
        QThread::msleep(10);
    }
#else
    // One byte far past any end: writers exclude each other, readers are
    // not held up as they would be by a lock on the data.
    const HANDLE h = HANDLE(_get_osfhandle(file.handle()));
    QElapsedTimer waited;
    waited.start();
    OVERLAPPED at = {};
    at.Offset = kLockOffsetLow;
    at.OffsetHigh = kLockOffsetHigh;
    while (!LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
        // A file system without locks is written to as before.
        if (GetLastError() != ERROR_LOCK_VIOLATION && GetLastError() != ERROR_IO_PENDING)
            return true;
        if (waited.elapsed() > kLockWaitMs) {
            error = QStringLiteral("another program is still writing to the file");
            return false;
        }
        QThread::msleep(10);
    }
#endif
    locked = true;
    return true;
}

void PatternFileWriter::unlock()
{
    if (!locked)
        return;
#ifndef Q_OS_WIN
    ::flock(file.handle(), LOCK_UN);
#else
    OVERLAPPED at = {};
    at.Offset = kLockOffsetLow;
    at.OffsetHigh = kLockOffsetHigh;
    UnlockFileEx(HANDLE(_get_osfhandle(file.handle())), 0, 1, 0, &at);
#endif
    locked = false;
}

qint64 PatternFileWriter::existingLines()
{
    if (!file.isOpen() || !readable)
        return -1;
#ifdef Q_OS_WIN
    return countFileLines(path);
#else
    return countLinesOf(file.handle());
#endif
}

bool PatternFileWriter::append(const QByteArray &text)
{
    if (!file.isOpen()) {
        error = QStringLiteral("file not open");
        return false;
    }
    if (!lock()) {
        return false;
    }
    file.unsetError();
    const qint64 before = file.size();
    // A last line without its line feed would run into the first line of
    // the run.
    QByteArray lineEnd;
#ifndef Q_OS_WIN
    if (readable && lastLineOpen(file.handle(), before))
        lineEnd = "\n";
#else
    if (readable && before > 0 && file.seek(before - 1)) {
        char last = '\n';
        if (file.getChar(&last) && last != '\n')
            lineEnd = "\n";
    }
#endif
    const QByteArray bytes = lineEnd + text;
    errno = 0;
    const qint64 written = file.write(bytes);
    // Taken at once: the clean-up below makes system calls of its own.
    const int failure = errno;
    if (written == bytes.size() && file.error() == QFileDevice::NoError) {
        lines += text.count('\n');
        unlock();
        return true;
    }
    // Qt reports a full disk as a resource error.
    writeErrno = failure != 0 ? failure : file.error() == QFileDevice::ResourceError ? ENOSPC : 0;
    error = file.error() != QFileDevice::NoError
                ? file.errorString()
                : QStringLiteral("only %1 of %2 bytes were written").arg(written).arg(bytes.size());
    // Cut the partial run off; if that fails too, count the complete lines
    // that did reach the file.
    if (!file.resize(before)) {
        const qint64 grown = file.size() - before;
#ifdef Q_OS_WIN
        const int endBytes = 2; // text mode stores "\r\n"
#else
        const int endBytes = 1;
#endif
        qint64 used = lineEnd.isEmpty() ? 0 : endBytes;
        int start = 0;
        for (int nl = text.indexOf('\n'); nl >= 0; nl = text.indexOf('\n', start)) {
            used += (nl - start) + endBytes;
            if (used > grown)
                break;
            ++lines;
            start = nl + 1;
        }
    }
    unlock();
    return false;
}

void PatternFileWriter::close()
{
    unlock();
    file.close();
}

qint64 countFileLines(const QString &path)
{
    // Devices and pipes hold no lines to count (and some never end); a
    // directory cannot be read.
    const QFileInfo info(path);
    if (!info.exists() || (!info.isFile() && !info.isDir()))
        return 0;
    QFile f;
    QString error;
    if (!openRegularFile(f, path, QIODevice::ReadOnly, &error))
        return -1;
    LineCounter counter;
    for (;;) {
        const QByteArray chunk = f.read(1 << 16);
        if (chunk.isEmpty())
            break;
        counter.add(chunk.constData(), chunk.size());
    }
    if (f.error() != QFileDevice::NoError)
        return -1;
    return counter.lines();
}
