// The POSIX half of the pattern file: the writers' lock is flock(), and the
// open file is read through its descriptor without moving its position.
#include "PatternFile.h"

#include "FileAccess.h"
#include "PatternFilePlatform.h"

#include <QDir>

#include <cerrno>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

QString patternDialogStart(const QString &lastChosen)
{
    return lastChosen.isEmpty() ? QDir::currentPath() : lastChosen;
}

WriteLock tryWriteLock(QFile &file)
{
    if (::flock(file.handle(), LOCK_EX | LOCK_NB) == 0)
        return WriteLock::Held;
    return errno == EWOULDBLOCK || errno == EINTR ? WriteLock::Busy : WriteLock::Unsupported;
}

void releaseWriteLock(QFile &file)
{
    ::flock(file.handle(), LOCK_UN);
}

qint64 countOpenFileLines(QFile &file, const QString &path)
{
    Q_UNUSED(path);
    const int fd = file.handle();
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

bool lastLineOpen(QFile &file, qint64 size)
{
    // Read backwards from the end, past any carriage returns.
    char chunk[4096];
    for (qint64 end = size; end > 0;) {
        const qint64 start = qMax<qint64>(0, end - qint64(sizeof chunk));
        const ssize_t n = ::pread(file.handle(), chunk, size_t(end - start), off_t(start));
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

int storedLineEndBytes()
{
    return 1;
}

bool removeOpenFile(QFile &file, const QString &path)
{
    Q_UNUSED(file);
    return ::unlink(fileNameBytes(path).constData()) == 0;
}

bool openFileStillAt(QFile &file, const QString &path)
{
    struct stat open, named;
    if (::fstat(file.handle(), &open) != 0)
        return true; // nothing better to go on
    return open.st_nlink > 0 && ::stat(fileNameBytes(path).constData(), &named) == 0 &&
           named.st_dev == open.st_dev && named.st_ino == open.st_ino;
}
