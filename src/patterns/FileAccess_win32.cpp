// The Windows half of FileAccess: names go to the system as UTF-16, devices
// are recognised by name as well as by what opening them gives, and a
// reparse point is never followed.
#include "FileAccess.h"

#include "FileAccessPlatform.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <fcntl.h>
#include <io.h>
#include <windows.h>

namespace
{

std::wstring wide(const QString &path)
{
    return QDir::toNativeSeparators(path).toStdWString();
}

// A device whatever is on disk: the device namespace (\\.\COM3,
// \\.\pipe\name) or a reserved name (NUL, CON, COM3, LPT1, with any
// extension) as the last component.
bool namesDevice(const QString &path)
{
    const QString native = QDir::toNativeSeparators(path);
    if (native.startsWith(QLatin1String("\\\\.\\")))
        return true;
    const QString base = native.section(QLatin1Char('\\'), -1).section(QLatin1Char('.'), 0, 0);
    static const QRegularExpression reserved(
        QStringLiteral("^(CON|PRN|AUX|NUL|COM[1-9]|LPT[1-9]|CONIN\\$|CONOUT\\$) *$"),
        QRegularExpression::CaseInsensitiveOption);
    return reserved.match(base).hasMatch();
}

bool attributesNotRegular(DWORD attributes)
{
    return attributes &
           (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE);
}

// A name of the temporary file beside `path` for this attempt: the target's
// name with ".tmp<pid>-<attempt>" added, cut short where that would pass the
// 255 UTF-16 units a name may have, so that it fits whenever the target's
// name does.
QString temporaryBeside(const QString &path, int attempt)
{
    constexpr int kNameMax = 255;
    const QFileInfo info(path);
    const QString suffix = QStringLiteral(".tmp%1-%2").arg(GetCurrentProcessId()).arg(attempt);
    QString name = info.fileName();
    if (name.size() + suffix.size() > kNameMax) {
        int keep = qMax(kNameMax - suffix.size(), 0);
        if (keep > 0 && name.at(keep).isLowSurrogate())
            --keep; // not between the halves of a character
        name.truncate(keep);
    }
    return info.dir().filePath(name + suffix);
}

} // namespace

bool isNonRegularFile(const QString &path)
{
    if (path.isEmpty())
        return false;
    if (namesDevice(path))
        return true;
    WIN32_FILE_ATTRIBUTE_DATA data;
    return GetFileAttributesExW(wide(path).c_str(), GetFileExInfoStandard, &data) &&
           attributesNotRegular(data.dwFileAttributes);
}

RegularOpen openRegularOnPlatform(QFile &file, const QString &path, QIODevice::OpenMode mode,
                                  QString *error)
{
    // Looked at before it is opened (opening a pipe connects to its server),
    // and what was opened is looked at again; a reparse point is opened as
    // itself, not followed.
    if (isNonRegularFile(path))
        return RegularOpen::NotRegular;
    DWORD access = GENERIC_READ;
    int flags = _O_RDONLY;
    if ((mode & QIODevice::ReadWrite) == QIODevice::ReadWrite) {
        access = GENERIC_READ | GENERIC_WRITE;
        flags = _O_RDWR;
    } else if (mode & QIODevice::WriteOnly) {
        access = GENERIC_WRITE;
        flags = _O_WRONLY;
    }
    if (mode & QIODevice::Append)
        flags |= _O_APPEND;
    const HANDLE h = CreateFileW(wide(path).c_str(), access,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 (mode & QIODevice::WriteOnly) ? OPEN_ALWAYS : OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        *error = qt_error_string(int(GetLastError()));
        return RegularOpen::Failed;
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileType(h) != FILE_TYPE_DISK || !GetFileInformationByHandle(h, &info) ||
        attributesNotRegular(info.dwFileAttributes)) {
        CloseHandle(h);
        return RegularOpen::NotRegular;
    }
    // Binary at this level: QIODevice::Text makes the line ends.
    const int fd = _open_osfhandle(intptr_t(h), flags | _O_BINARY);
    if (fd < 0) {
        *error = qt_error_string(int(GetLastError()));
        CloseHandle(h);
        return RegularOpen::Failed;
    }
    if (!file.open(fd, mode, QFileDevice::AutoCloseHandle)) {
        *error = file.errorString();
        _close(fd);
        return RegularOpen::Failed;
    }
    return RegularOpen::Opened;
}

bool sameExistingFile(const QString &a, const QString &b)
{
    const QFileInfo x(a), y(b);
    return x.exists() && y.exists() && x.canonicalFilePath() == y.canonicalFilePath();
}

bool isRegularFile(const QString &path)
{
    return QFileInfo(path).isFile();
}

bool isForeignLinkInSharedFolder(const QString &path)
{
    // No folder here is shared that way.
    Q_UNUSED(path);
    return false;
}

bool replaceFileWith(const QString &path, const QByteArray &bytes, QString *error, bool *notMade)
{
    if (notMade)
        *notMade = false;
    QFile file;
    QString temporary;
    for (int attempt = 0; attempt < 100 && !file.isOpen(); ++attempt) {
        temporary = temporaryBeside(path, attempt);
        file.setFileName(temporary);
        if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly) && !QFileInfo::exists(temporary))
            break;
    }
    if (!file.isOpen()) {
        *error = file.errorString();
        if (notMade)
            *notMade = true;
        return false;
    }
    auto fail = [&](const QString &why) {
        file.close();
        QFile::remove(temporary);
        *error = why;
        return false;
    };
    // What is on disk is compared with what was meant to be.
    if (file.write(bytes) != bytes.size() || !file.flush() || file.size() != bytes.size())
        return fail(file.error() != QFileDevice::NoError
                        ? file.errorString()
                        : QStringLiteral("the file was cut short"));
    if (!FlushFileBuffers(HANDLE(_get_osfhandle(file.handle()))))
        return fail(qt_error_string(int(GetLastError())));
    file.close();
    if (!MoveFileExW(wide(temporary).c_str(), wide(path).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        *error = qt_error_string(int(GetLastError()));
        QFile::remove(temporary);
        return false;
    }
    return true;
}
