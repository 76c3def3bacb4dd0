// Simulator registrations on POSIX systems: links in a private runtime
// folder, each held by a lock while its simulator runs.
#include "serial/SimulatorPorts.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

namespace simulatorports
{

namespace
{

QString systemText(int error)
{
    return QString::fromLocal8Bit(strerror(error));
}

// The directory that holds dvk-sp/ (the user's runtime directory), and
// whether it is shared with other users (then dvk-sp-<uid> is used in it).
QByteArray baseDirectory(bool *shared)
{
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    *shared = runtime.isEmpty() || !runtime.startsWith('/');
    return *shared ? QByteArray("/tmp") : runtime;
}

QByteArray ownDirectory()
{
    bool shared = false;
    const QByteArray base = baseDirectory(&shared);
    if (shared)
        return base + "/dvk-sp-" + QByteArray::number(qulonglong(::geteuid()));
    return base + "/dvk-sp";
}

// Checks (and with `create` makes) one private directory: a real directory,
// not a link, owned by this user, closed to everyone else.
bool privateDirectory(const QByteArray &path, bool create, QString *error)
{
    if (create && ::mkdir(path.constData(), 0700) != 0 && errno != EEXIST) {
        if (error)
            *error =
                QString("cannot create '%1': %2").arg(QFile::decodeName(path), systemText(errno));
        return false;
    }
    struct stat st;
    if (::lstat(path.constData(), &st) != 0) {
        if (error)
            *error = QString("'%1': %2").arg(QFile::decodeName(path), systemText(errno));
        return false;
    }
    QString problem;
    if (S_ISLNK(st.st_mode))
        problem = "is a symbolic link";
    else if (!S_ISDIR(st.st_mode))
        problem = "is not a directory";
    else if (st.st_uid != ::geteuid())
        problem = "belongs to another user";
    if (!problem.isEmpty()) {
        if (error)
            *error = QString("refusing '%1': it %2").arg(QFile::decodeName(path), problem);
        return false;
    }
    if ((st.st_mode & 07777) != 0700 && create && ::chmod(path.constData(), 0700) != 0) {
        if (error)
            *error =
                QString("cannot restrict '%1': %2").arg(QFile::decodeName(path), systemText(errno));
        return false;
    }
    // Read only: a directory others can write to may hold links they planted.
    if (!create && (st.st_mode & 022) != 0) {
        if (error)
            *error = QString("refusing '%1': others can write to it").arg(QFile::decodeName(path));
        return false;
    }
    return true;
}

bool safeDirectories(bool create, QString *error)
{
    const QByteArray own = ownDirectory();
    return privateDirectory(own, create, error) && privateDirectory(own + "/ports", create, error);
}

QByteArray portsDirectory()
{
    return ownDirectory() + "/ports";
}

QByteArray locksDirectory()
{
    return ownDirectory() + "/locks";
}

// Locks are open-file-description locks: held per open file, so that another
// descriptor of the same process sees them too, and dropped by the kernel
// when the holder's last descriptor closes, however it ends.
bool setLock(int fd, short type)
{
    struct flock lock = {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    return ::fcntl(fd, F_OFD_SETLK, &lock) == 0;
}

bool lockedElsewhere(int fd)
{
    struct flock lock = {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    return ::fcntl(fd, F_OFD_GETLK, &lock) == 0 && lock.l_type != F_UNLCK;
}

// Whether the descriptor still is the file at `path` (not one removed
// meanwhile).
bool isFileAt(int fd, const QByteArray &path)
{
    struct stat open, named;
    return ::fstat(fd, &open) == 0 && ::lstat(path.constData(), &named) == 0 &&
           open.st_dev == named.st_dev && open.st_ino == named.st_ino;
}

// The process a lock file names (its holder writes its id there), or 0.
long long holderOf(int fd)
{
    char text[32] = {};
    const ssize_t n = ::pread(fd, text, sizeof(text) - 1, 0);
    return n > 0 ? std::atoll(text) : 0;
}

bool processRuns(long long pid)
{
    return pid > 0 && (::kill(pid_t(pid), 0) == 0 || errno == EPERM);
}

// Whether a simulator holds the registration `name`. One nobody holds is
// removed, under its lock, so that a simulator starting meanwhile cannot
// have its fresh link taken away.
bool aliveOrReaped(const QByteArray &name)
{
    const QByteArray lockPath = locksDirectory() + "/" + name;
    const int fd = ::open(lockPath.constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    bool alive = lockedElsewhere(fd) || !setLock(fd, F_WRLCK);
    if (!alive && isFileAt(fd, lockPath)) {
        struct stat st;
        const QByteArray link = portsDirectory() + "/" + name;
        if (::lstat(link.constData(), &st) == 0 && S_ISLNK(st.st_mode))
            ::unlink(link.constData());
        ::unlink(lockPath.constData());
    }
    ::close(fd);
    return alive;
}

} // namespace

QString directory()
{
    return QFile::decodeName(portsDirectory());
}

bool ensureDirectory(QString *error)
{
    return safeDirectories(true, error) && privateDirectory(locksDirectory(), true, error);
}

QStringList livePorts()
{
    if (!safeDirectories(false, nullptr))
        return QStringList();
    const QByteArray dir = portsDirectory();
    DIR *d = ::opendir(dir.constData());
    if (!d)
        return QStringList();
    QList<QByteArray> links;
    while (const dirent *entry = ::readdir(d)) {
        const QByteArray name(entry->d_name);
        struct stat st;
        if (name != "." && name != ".." && ::lstat((dir + "/" + name).constData(), &st) == 0 &&
            S_ISLNK(st.st_mode))
            links.append(name);
    }
    ::closedir(d);
    std::sort(links.begin(), links.end());
    QStringList ports;
    if (!links.isEmpty() && !privateDirectory(locksDirectory(), true, nullptr))
        return ports;
    for (const QByteArray &name : qAsConst(links)) {
        const QByteArray path = dir + "/" + name;
        struct stat target;
        if (aliveOrReaped(name) && ::stat(path.constData(), &target) == 0 &&
            S_ISCHR(target.st_mode))
            ports.append(QFile::decodeName(path));
    }
    return ports;
}

bool isRegistration(const QString &path)
{
    const QString dir = QFileInfo(directory()).canonicalFilePath();
    return !dir.isEmpty() && QFileInfo(QFileInfo(path).absolutePath()).canonicalFilePath() == dir;
}

QString liveDevice(const QString &path)
{
    if (!isRegistration(path) || !safeDirectories(false, nullptr))
        return QString();
    const QByteArray name = QFile::encodeName(QFileInfo(path).fileName());
    const int fd =
        ::open((locksDirectory() + "/" + name).constData(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return QString();
    const bool alive = lockedElsewhere(fd);
    ::close(fd);
    if (!alive)
        return QString();
    char target[4096];
    const ssize_t n =
        ::readlink((portsDirectory() + "/" + name).constData(), target, sizeof(target));
    return n > 0 && n < ssize_t(sizeof(target)) ? QFile::decodeName(QByteArray(target, int(n)))
                                                : QString();
}

} // namespace simulatorports

bool OwnedLink::make(const QString &path, const QString &target, QString *error)
{
    remove();
    const QByteArray at = QFile::encodeName(path);
    const QByteArray to = QFile::encodeName(target);
    struct stat st;
    // symlink() itself never replaces: whatever is there stays.
    if (::symlink(to.constData(), at.constData()) != 0) {
        if (error)
            *error = errno == EEXIST ? QString("'%1' exists").arg(path)
                                     : QString("cannot create '%1': %2")
                                           .arg(path, QString::fromLocal8Bit(strerror(errno)));
        return false;
    }
    if (::lstat(at.constData(), &st) != 0) {
        if (error)
            *error = QString("'%1' vanished").arg(path);
        return false;
    }
    linkPath = at;
    linkTarget = to;
    device = st.st_dev;
    inode = st.st_ino;
    made = true;
    return true;
}

void OwnedLink::remove()
{
    if (!made)
        return;
    made = false;
    // Still the very link made (same file, same target), not one another
    // process put in its place.
    struct stat st;
    if (::lstat(linkPath.constData(), &st) != 0 || !S_ISLNK(st.st_mode) ||
        st.st_dev != dev_t(device) || st.st_ino != ino_t(inode))
        return;
    QByteArray target(linkTarget.size() + 1, '\0');
    const ssize_t n = ::readlink(linkPath.constData(), target.data(), size_t(target.size()));
    if (n != linkTarget.size() || target.left(int(n)) != linkTarget)
        return;
    ::unlink(linkPath.constData());
}

bool SimulatorRegistration::make(const QString &name, const QString &device, QString *error)
{
    remove();
    if (!simulatorports::ensureDirectory(error))
        return false;
    const QByteArray file = QFile::encodeName(name);
    const QByteArray path = simulatorports::locksDirectory() + "/" + file;
    // A simulator that has just died, or a port list reaping a dead entry,
    // holds the lock only for a moment: try for a while before giving up.
    for (int attempt = 0; attempt < 50 && lockFd < 0; ++attempt) {
        const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0) {
            if (error)
                *error = QString("cannot create '%1': %2")
                             .arg(QFile::decodeName(path), QString::fromLocal8Bit(strerror(errno)));
            return false;
        }
        if (simulatorports::setLock(fd, F_WRLCK)) {
            if (simulatorports::isFileAt(fd, path))
                lockFd = fd;
            else
                ::close(fd); // reaped meanwhile: lock its successor
            continue;
        }
        const long long holder = simulatorports::holderOf(fd);
        ::close(fd);
        if (simulatorports::processRuns(holder) || attempt == 49) {
            if (error)
                *error = QString("another simulator named '%1' is running (process %2)")
                             .arg(name, holder > 0 ? QString::number(holder) : "unknown");
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (lockFd < 0) {
        if (error)
            *error = QString("cannot lock '%1'").arg(QFile::decodeName(path));
        return false;
    }
    lockPath = path;
    const QByteArray pid = QByteArray::number(qlonglong(::getpid())) + "\n";
    if (::ftruncate(lockFd, 0) != 0 ||
        ::pwrite(lockFd, pid.constData(), size_t(pid.size()), 0) != ssize_t(pid.size())) {
        if (error)
            *error = QString("cannot write '%1'").arg(QFile::decodeName(path));
        remove();
        return false;
    }
    // Holding the lock, a link of this name is a dead simulator's: take it over.
    const QByteArray at = simulatorports::portsDirectory() + "/" + file;
    struct stat st;
    if (::lstat(at.constData(), &st) == 0 && S_ISLNK(st.st_mode))
        ::unlink(at.constData());
    if (!link.make(QFile::decodeName(at), device, error)) {
        remove();
        return false;
    }
    return true;
}

void SimulatorRegistration::remove()
{
    link.remove();
    if (lockFd < 0)
        return;
    if (simulatorports::isFileAt(lockFd, lockPath))
        ::unlink(lockPath.constData());
    ::close(lockFd);
    lockFd = -1;
}
