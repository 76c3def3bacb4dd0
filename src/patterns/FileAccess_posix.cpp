// The POSIX half of FileAccess: names are the bytes of fileNameBytes, and
// a file is judged by stat before it is opened and by fstat after.
#include "FileAccess.h"

#include "FileAccessPlatform.h"

#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

// A name of the temporary file beside `target` for this attempt: the
// target's name with ".tmp<pid>-<attempt>" added, the name cut short where
// that would pass the folder's limit on a name's length, so that a temporary
// name fits whenever the target's does.
QByteArray temporaryBeside(const QByteArray &target, int attempt)
{
    const int slash = target.lastIndexOf('/');
    const QByteArray folder = slash < 0 ? QByteArray(".") : target.left(qMax(slash, 1));
    const QByteArray suffix =
        ".tmp" + QByteArray::number(::getpid()) + "-" + QByteArray::number(attempt);
    QByteArray name = target.mid(slash + 1);
    long nameMax = ::pathconf(folder.constData(), _PC_NAME_MAX);
    if (nameMax <= 0)
        nameMax = 255;
    if (name.size() + suffix.size() > nameMax) {
        int keep = int(qMax<long>(nameMax - suffix.size(), 0));
        // Not inside a UTF-8 sequence: the shortened name stays readable.
        while (keep > 0 && (uchar(name[keep]) & 0xC0) == 0x80)
            --keep;
        name.truncate(keep);
    }
    return target.left(slash + 1) + name + suffix;
}

// Writes all of `bytes` to `fd`; false with errno set on a write error.
// A write cut short by a file size limit may report no error of its own:
// *done says how much went.
bool writeAll(int fd, const QByteArray &bytes, qint64 *done)
{
    *done = 0;
    while (*done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + *done, size_t(bytes.size() - *done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            break;
        *done += n;
    }
    return true;
}

} // namespace

bool isNonRegularFile(const QString &path)
{
    struct stat st;
    return !path.isEmpty() && ::stat(fileNameBytes(path).constData(), &st) == 0 &&
           !S_ISREG(st.st_mode);
}

RegularOpen openRegularOnPlatform(QFile &file, const QString &path, QIODevice::OpenMode mode,
                                  QString *error)
{
    // Looked at before it is opened: opening a device can have effects of
    // its own (a serial line's control lines change), and a pipe's open
    // waits for a writer.
    const QByteArray name = fileNameBytes(path);
    struct stat st;
    if (::stat(name.constData(), &st) == 0 && !S_ISREG(st.st_mode))
        return RegularOpen::NotRegular;
    int flags = O_NOCTTY | O_CLOEXEC | O_NONBLOCK;
    if ((mode & QIODevice::ReadWrite) == QIODevice::ReadWrite)
        flags |= O_RDWR | O_CREAT;
    else if (mode & QIODevice::WriteOnly)
        flags |= O_WRONLY | O_CREAT;
    else
        flags |= O_RDONLY;
    if (mode & QIODevice::Append)
        flags |= O_APPEND;
    const int fd = ::open(name.constData(), flags, 0666);
    if (fd < 0) {
        *error = qt_error_string(errno);
        return RegularOpen::Failed;
    }
    // The name may have been replaced since it was looked at.
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return RegularOpen::NotRegular;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    // Some files the system shows as regular (those under /proc) cannot be
    // appended to; Qt would only say "Unknown error".
    if ((mode & QIODevice::Append) && ::lseek(fd, 0, SEEK_END) < 0) {
        *error = QStringLiteral("cannot append to it (%1)").arg(qt_error_string(errno));
        ::close(fd);
        return RegularOpen::Failed;
    }
    if (!file.open(fd, mode, QFileDevice::AutoCloseHandle)) {
        *error = file.errorString();
        ::close(fd);
        return RegularOpen::Failed;
    }
    return RegularOpen::Opened;
}

bool sameExistingFile(const QString &a, const QString &b)
{
    struct stat sa, sb;
    return !a.isEmpty() && !b.isEmpty() && ::stat(fileNameBytes(a).constData(), &sa) == 0 &&
           ::stat(fileNameBytes(b).constData(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

bool isRegularFile(const QString &path)
{
    struct stat st;
    return !path.isEmpty() && ::stat(fileNameBytes(path).constData(), &st) == 0 &&
           S_ISREG(st.st_mode);
}

bool isForeignLinkInSharedFolder(const QString &path)
{
    struct stat link, folder;
    const QByteArray dir = fileNameBytes(QFileInfo(path).absolutePath());
    return !path.isEmpty() && ::lstat(fileNameBytes(path).constData(), &link) == 0 &&
           S_ISLNK(link.st_mode) && link.st_uid != ::geteuid() &&
           ::stat(dir.constData(), &folder) == 0 && (folder.st_mode & S_IWOTH);
}

bool replaceFileWith(const QString &path, const QByteArray &bytes, QString *error, bool *notMade)
{
    if (notMade)
        *notMade = false;
    // By the name's own bytes throughout (Qt's saving file would encode the
    // name itself, and on Qt 6 lose a byte that is not UTF-8).
    const QByteArray target = fileNameBytes(path);
    struct stat st;
    const bool existed = ::stat(target.constData(), &st) == 0;
    QByteArray temporary;
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        temporary = temporaryBeside(target, attempt);
        fd = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd < 0) {
        *error = qt_error_string(errno);
        if (notMade)
            *notMade = true;
        return false;
    }
    auto fail = [&](const QString &why) {
        ::close(fd);
        ::unlink(temporary.constData());
        *error = why;
        return false;
    };
    if (existed && ::fchmod(fd, st.st_mode & 07777) != 0)
        return fail(qt_error_string(errno));
    qint64 done = 0;
    if (!writeAll(fd, bytes, &done))
        return fail(qt_error_string(errno));
    struct stat written;
    if (done != bytes.size() || ::fstat(fd, &written) != 0 || written.st_size != bytes.size())
        return fail(QStringLiteral("the file was cut short"));
    if (::fsync(fd) != 0)
        return fail(qt_error_string(errno));
    if (::close(fd) != 0) {
        ::unlink(temporary.constData());
        *error = qt_error_string(errno);
        return false;
    }
    if (::rename(temporary.constData(), target.constData()) != 0) {
        *error = qt_error_string(errno);
        ::unlink(temporary.constData());
        return false;
    }
    return true;
}
