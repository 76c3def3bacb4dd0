// The Windows half of the pattern file: the writers' lock is a byte range far
// past any end, and text mode stores a line end as two bytes.
#include "PatternFile.h"

#include "PatternFilePlatform.h"

#include <QDir>

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

std::wstring wide(const QString &path)
{
    return QDir::toNativeSeparators(path).toStdWString();
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
    BY_HANDLE_FILE_INFORMATION open;
    if (!GetFileInformationByHandle(handleOf(file), &open))
        return true; // nothing better to go on
    // Opened by name again (a name removed while open refuses that) and
    // compared by volume and file index.
    const HANDLE named = CreateFileW(wide(path).c_str(), FILE_READ_ATTRIBUTES,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (named == INVALID_HANDLE_VALUE)
        return false;
    BY_HANDLE_FILE_INFORMATION there;
    const bool same = GetFileInformationByHandle(named, &there) &&
                      there.dwVolumeSerialNumber == open.dwVolumeSerialNumber &&
                      there.nFileIndexHigh == open.nFileIndexHigh &&
                      there.nFileIndexLow == open.nFileIndexLow;
    CloseHandle(named);
    return same;
}

bool removeOpenFile(QFile &file, const QString &path)
{
    // A file removed while other handles hold it keeps its name until the
    // last one closes, and a waiting writer would take it for its own: it
    // is moved aside first, then removed.
    Q_UNUSED(file);
    const std::wstring aside = wide(path + QStringLiteral(".removed%1").arg(GetCurrentProcessId()));
    if (!MoveFileExW(wide(path).c_str(), aside.c_str(), 0))
        return false;
    DeleteFileW(aside.c_str());
    return true;
}
