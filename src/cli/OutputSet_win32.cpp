#include "OutputSet.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <windows.h>

namespace cli::outputset
{

bool processRuns(qint64 pid)
{
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, DWORD(pid));
    if (!process)
        return GetLastError() != ERROR_INVALID_PARAMETER;
    const bool running = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
    CloseHandle(process);
    return running;
}

bool isOwnFolder(const QString &path)
{
    const QFileInfo info(path);
    return info.isDir() && !info.isSymLink();
}

bool renameOver(const QString &from, const QString &to, QString *error)
{
    const QString source = QDir::toNativeSeparators(from), target = QDir::toNativeSeparators(to);
    if (MoveFileExW(reinterpret_cast<const wchar_t *>(source.utf16()),
                    reinterpret_cast<const wchar_t *>(target.utf16()), MOVEFILE_REPLACE_EXISTING))
        return true;
    *error = qt_error_string(int(GetLastError()));
    return false;
}

void copyPermissions(const QString &from, const QString &to)
{
    QFile::setPermissions(to, QFile::permissions(from));
}

} // namespace cli::outputset
