#include "FileAccess.h"

#include "QtCompat.h"

#include <QFileInfo>
#include <QSaveFile>

#ifdef Q_OS_WIN
#include <QDir>
#include <QRegularExpression>

#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace
{

constexpr ushort kEscapeBase = 0xDC00;

// UTF-8 with every byte that is not part of a valid sequence kept as the
// lone surrogate U+DC00 + byte. With `unfinished`, a valid start of a
// sequence that the bytes end in is left for the next piece.
QString decodeKeepingBytes(const char *in, int n, int *unfinished)
{
    if (unfinished)
        *unfinished = 0;
    QString out;
    out.reserve(n);
    int i = 0;
    while (i < n) {
        const uchar b = uchar(in[i]);
        if (b < 0x80) {
            out.append(QChar(b));
            ++i;
            continue;
        }
        int follow = 0;
        uchar low = 0x80, high = 0xBF; // allowed range of the second byte
        if (b >= 0xC2 && b <= 0xDF) {
            follow = 1;
        } else if (b >= 0xE0 && b <= 0xEF) {
            follow = 2;
            if (b == 0xE0)
                low = 0xA0; // no overlong forms
            if (b == 0xED)
                high = 0x9F; // no encoded surrogates
        } else if (b >= 0xF0 && b <= 0xF4) {
            follow = 3;
            if (b == 0xF0)
                low = 0x90;
            if (b == 0xF4)
                high = 0x8F; // nothing above U+10FFFF
        }
        bool valid = follow > 0;
        bool incomplete = false;
        uint code = b & (follow == 1 ? 0x1F : follow == 2 ? 0x0F : 0x07);
        for (int j = 1; valid && j <= follow; ++j) {
            if (i + j >= n) {
                incomplete = true;
                break;
            }
            const uchar c = uchar(in[i + j]);
            if (c < (j == 1 ? low : 0x80) || c > (j == 1 ? high : 0xBF))
                valid = false;
            else
                code = (code << 6) | (c & 0x3F);
        }
        if (valid && incomplete && unfinished) {
            *unfinished = n - i;
            break;
        }
        if (!valid || incomplete) {
            out.append(QChar(ushort(kEscapeBase + b)));
            ++i;
            continue;
        }
        if (code > 0xFFFF) {
            out.append(QChar(QChar::highSurrogate(code)));
            out.append(QChar(QChar::lowSurrogate(code)));
        } else {
            out.append(QChar(ushort(code)));
        }
        i += follow + 1;
    }
    return out;
}

// The inverse: each kept byte written back as itself. A surrogate that
// stands for no byte and no character becomes '?', counted in *invalid.
QByteArray encodeKeepingBytes(const QChar *in, int n, int *invalid)
{
    QByteArray out;
    out.reserve(n);
    auto bad = [&]() {
        out.append('?');
        if (invalid)
            ++*invalid;
    };
    for (int i = 0; i < n; ++i) {
        const ushort u = in[i].unicode();
        if (u < 0x80) {
            out.append(char(u));
        } else if (QChar::isHighSurrogate(u)) {
            if (i + 1 < n && QChar::isLowSurrogate(in[i + 1].unicode())) {
                const uint code = QChar::surrogateToUcs4(u, in[i + 1].unicode());
                out.append(char(0xF0 | (code >> 18)));
                out.append(char(0x80 | ((code >> 12) & 0x3F)));
                out.append(char(0x80 | ((code >> 6) & 0x3F)));
                out.append(char(0x80 | (code & 0x3F)));
                ++i;
            } else {
                bad();
            }
        } else if (QChar::isLowSurrogate(u)) {
            if (u >= kEscapeBase + 0x80 && u <= kEscapeBase + 0xFF)
                out.append(char(u - kEscapeBase));
            else
                bad();
        } else if (u < 0x800) {
            out.append(char(0xC0 | (u >> 6)));
            out.append(char(0x80 | (u & 0x3F)));
        } else {
            out.append(char(0xE0 | (u >> 12)));
            out.append(char(0x80 | ((u >> 6) & 0x3F)));
            out.append(char(0x80 | (u & 0x3F)));
        }
    }
    return out;
}

// Whether Qt's own conversion of names keeps every byte (set at start).
bool qtKeepsNameBytes = false;

#ifdef Q_OS_WIN

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

#endif

} // namespace

void installFileNameCodec()
{
    qtKeepsNameBytes = installQtFileNameConverter(decodeKeepingBytes, encodeKeepingBytes);
}

QByteArray fileNameBytes(const QString &name)
{
    return qtKeepsNameBytes ? QFile::encodeName(name)
                            : encodeKeepingBytes(name.constData(), name.size(), nullptr);
}

QString fileNameFromBytes(const QByteArray &bytes)
{
    return qtKeepsNameBytes ? QFile::decodeName(bytes)
                            : decodeKeepingBytes(bytes.constData(), bytes.size(), nullptr);
}

QStringList fileNameArguments(int argc, char **argv)
{
    QStringList args;
    for (int i = 0; i < argc; ++i)
        args << fileNameFromBytes(QByteArray(argv[i]));
    return args;
}

QString notRegularFileText()
{
    return QStringLiteral("not a regular file");
}

bool isNonRegularFile(const QString &path)
{
#ifdef Q_OS_WIN
    if (path.isEmpty())
        return false;
    if (namesDevice(path))
        return true;
    WIN32_FILE_ATTRIBUTE_DATA data;
    return GetFileAttributesExW(wide(path).c_str(), GetFileExInfoStandard, &data) &&
           attributesNotRegular(data.dwFileAttributes);
#else
    struct stat st;
    return !path.isEmpty() && ::stat(fileNameBytes(path).constData(), &st) == 0 &&
           !S_ISREG(st.st_mode);
#endif
}

bool openRegularFile(QFile &file, const QString &path, QIODevice::OpenMode mode, QString *error,
                     bool *notRegular)
{
    if (notRegular)
        *notRegular = false;
    auto refuse = [&]() {
        if (notRegular)
            *notRegular = true;
        *error = notRegularFileText();
        return false;
    };
    if (path.isEmpty()) {
        *error = QStringLiteral("no file name given");
        return false;
    }
#ifdef Q_OS_WIN
    // Looked at before it is opened (opening a pipe connects to its server),
    // and what was opened is looked at again; a reparse point is opened as
    // itself, not followed.
    if (isNonRegularFile(path))
        return refuse();
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
        return false;
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileType(h) != FILE_TYPE_DISK || !GetFileInformationByHandle(h, &info) ||
        attributesNotRegular(info.dwFileAttributes)) {
        CloseHandle(h);
        return refuse();
    }
    // Binary at this level: QIODevice::Text makes the line ends.
    const int fd = _open_osfhandle(intptr_t(h), flags | _O_BINARY);
    if (fd < 0) {
        *error = qt_error_string(int(GetLastError()));
        CloseHandle(h);
        return false;
    }
    if (!file.open(fd, mode, QFileDevice::AutoCloseHandle)) {
        *error = file.errorString();
        _close(fd);
        return false;
    }
    return true;
#else
    // Looked at before it is opened: opening a device can have effects of
    // its own (a serial line's control lines change), and a pipe's open
    // waits for a writer.
    const QByteArray name = fileNameBytes(path);
    struct stat st;
    if (::stat(name.constData(), &st) == 0 && !S_ISREG(st.st_mode))
        return refuse();
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
        return false;
    }
    // The name may have been replaced since it was looked at.
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return refuse();
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    // Some files the system shows as regular (those under /proc) cannot be
    // appended to; Qt would only say "Unknown error".
    if ((mode & QIODevice::Append) && ::lseek(fd, 0, SEEK_END) < 0) {
        *error = QStringLiteral("cannot append to it (%1)").arg(qt_error_string(errno));
        ::close(fd);
        return false;
    }
    if (!file.open(fd, mode, QFileDevice::AutoCloseHandle)) {
        *error = file.errorString();
        ::close(fd);
        return false;
    }
    return true;
#endif
}

bool sameExistingFile(const QString &a, const QString &b)
{
#ifdef Q_OS_WIN
    const QFileInfo x(a), y(b);
    return x.exists() && y.exists() && x.canonicalFilePath() == y.canonicalFilePath();
#else
    struct stat sa, sb;
    return !a.isEmpty() && !b.isEmpty() && ::stat(fileNameBytes(a).constData(), &sa) == 0 &&
           ::stat(fileNameBytes(b).constData(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
#endif
}

bool isRegularFile(const QString &path)
{
#ifdef Q_OS_WIN
    return QFileInfo(path).isFile();
#else
    struct stat st;
    return !path.isEmpty() && ::stat(fileNameBytes(path).constData(), &st) == 0 &&
           S_ISREG(st.st_mode);
#endif
}

bool isForeignLinkInSharedFolder(const QString &path)
{
#ifdef Q_OS_WIN
    Q_UNUSED(path);
    return false;
#else
    struct stat link, folder;
    const QByteArray dir = fileNameBytes(QFileInfo(path).absolutePath());
    return !path.isEmpty() && ::lstat(fileNameBytes(path).constData(), &link) == 0 &&
           S_ISLNK(link.st_mode) && link.st_uid != ::geteuid() &&
           ::stat(dir.constData(), &folder) == 0 && (folder.st_mode & S_IWOTH);
#endif
}

bool replaceFileWith(const QString &path, const QByteArray &bytes, QString *error, bool *notMade)
{
    if (notMade)
        *notMade = false;
#ifdef Q_OS_WIN
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        *error = file.errorString();
        if (notMade)
            *notMade = true;
        return false;
    }
    if (file.write(bytes) != bytes.size() || !file.flush() || file.size() != bytes.size() ||
        !file.commit()) {
        *error = file.error() != QFileDevice::NoError ? file.errorString()
                                                      : QStringLiteral("the file was cut short");
        file.cancelWriting();
        return false;
    }
    return true;
#else
    // By the name's own bytes throughout (Qt's saving file would encode the
    // name itself, and on Qt 6 lose a byte that is not UTF-8).
    const QByteArray target = fileNameBytes(path);
    struct stat st;
    const bool existed = ::stat(target.constData(), &st) == 0;
    QByteArray temporary;
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        temporary =
            target + ".tmp" + QByteArray::number(::getpid()) + "-" + QByteArray::number(attempt);
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
    // A write cut short by a file size limit may report no error of its own:
    // what is on disk is compared with what was meant to be.
    qint64 done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return fail(qt_error_string(errno));
        if (n == 0)
            break;
        done += n;
    }
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
#endif
}
