// The Windows half of the pattern file: the writers' lock is a byte range far
// past any end, and text mode stores a line end as two bytes.
#include "PatternFile.h"

#include "PatternFilePlatform.h"

#include <io.h>
#include <windows.h>

namespace
{

// One byte far past any end: writers exclude each other, readers are not
// held up as they would be by a lock on the data.
OVERLAPPED lockedByte()
{
    OVERLAPPED at = {};
    at.Offset = 0xFFFFFFFE;
    at.OffsetHigh = 0x7FFFFFFF;
    return at;
}

HANDLE handleOf(QFile &file)
{
    return HANDLE(_get_osfhandle(file.handle()));
}

} // namespace

QString patternDialogStart(const QString &lastChosen)
{
    // The system's own dialog takes this as the current folder.
    Q_UNUSED(lastChosen)
    return QStringLiteral(". / ");
}

WriteLock tryWriteLock(QFile &file)
{
    OVERLAPPED at = lockedByte();
    if (LockFileEx(handleOf(file), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                   &at))
        return WriteLock::Held;
    const DWORD failure = GetLastError();
    return failure == ERROR_LOCK_VIOLATION || failure == ERROR_IO_PENDING ? WriteLock::Busy
                                                                          : WriteLock::Unsupported;
}

void releaseWriteLock(QFile &file)
{
    OVERLAPPED at = lockedByte();
    UnlockFileEx(handleOf(file), 0, 1, 0, &at);
}

qint64 countOpenFileLines(QFile &file, const QString &path)
{
    // Read by name: the open handle's position is the append's.
    Q_UNUSED(file);
    return countFileLines(path);
}

bool lastLineOpen(QFile &file, qint64 size)
{
    char last = '\n';
    return size > 0 && file.seek(size - 1) && file.getChar(&last) && last != '\n';
}

int storedLineEndBytes()
{
    return 2; // "\r\n"
}

bool openFileStillAt(QFile &file, const QString &path)
{
    // Removed while open, a file lingers, pending deletion, until its last
    // handle closes.
    Q_UNUSED(path);
    FILE_STANDARD_INFO info;
    if (!GetFileInformationByHandleEx(handleOf(file), FileStandardInfo, &info, sizeof info))
        return true; // nothing better to go on
    return !info.DeletePending;
}
