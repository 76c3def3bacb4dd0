#include "PatternFile.h"

#include "FileAccess.h"
#include "PatternFilePlatform.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QThread>

#include <cerrno>

QString patternFilePathFor(const QString &directory, const QDateTime &time)
{
    return directory + "/wave_" + time.toString("yyyy_MM_dd_hh_mm_ss") + ".txt";
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

// How long open() waits for another writer's append to end (an append takes
// milliseconds; the window waits on its GUI thread).
constexpr int kLockWaitMs = 5000;

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
    for (int attempt = 0;; ++attempt) {
        if (foreignLink())
            return false;
        // Read access serves the count and the check of the last byte; a
        // file that may only be written is still appended to.
        readable =
            openRegularFile(file, path, mode | QIODevice::ReadWrite, &error, &refusedNotRegular);
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
        // The writer that held the lock may have removed the file (a run that
        // made it and failed): lines appended to it now would be lost.
        if (attempt < 3 && !openFileStillAt(file, path)) {
            close();
            continue;
        }
        return true;
    }
}

bool PatternFileWriter::discardIfEmpty()
{
    bool removed = false;
    if (file.isOpen() && file.size() == 0 && openFileStillAt(file, path))
        removed = removeOpenFile(file, path);
    close();
    return removed;
}

bool PatternFileWriter::lock()
{
    if (locked)
        return true;
    // Polled, with a bound: the window calls this on its GUI thread.
    QElapsedTimer waited;
    waited.start();
    for (;;) {
        switch (tryWriteLock(file)) {
        case WriteLock::Held:
            locked = true;
            return true;
        case WriteLock::Unsupported:
            return true; // a file system without locks is written to as before
        case WriteLock::Busy:
            break;
        }
        if (waited.elapsed() > kLockWaitMs) {
            error = QStringLiteral("another program is still writing to the file");
            busy = true;
            return false;
        }
        QThread::msleep(10);
    }
}

void PatternFileWriter::unlock()
{
    if (!locked)
        return;
    releaseWriteLock(file);
    locked = false;
}

qint64 PatternFileWriter::existingLines()
{
    if (!file.isOpen() || !readable)
        return -1;
    return countOpenFileLines(file, path);
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
    if (readable && lastLineOpen(file, before))
        lineEnd = "\n";
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
        const int endBytes = storedLineEndBytes();
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
