#include "serial/SimulatorPorts.h"

#include <QFile>

#include <algorithm>

#ifndef _WIN32
#include <cerrno>
#include <cstring>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace simulatorports
{

bool validName(const QString &name)
{
    return !name.isEmpty() && name != "." && name != ".." && !name.contains('/') &&
           !name.contains(QChar(0)) && QFile::encodeName(name).size() <= 255;
}

#ifdef _WIN32

QString directory()
{
    return QString();
}

bool ensureDirectory(QString *error)
{
    if (error)
        *error = "no simulator registrations on this system";
    return false;
}

QStringList livePorts()
{
    return QStringList();
}

#else

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

} // namespace

QString directory()
{
    return QFile::decodeName(ownDirectory() + "/ports");
}

bool ensureDirectory(QString *error)
{
    return safeDirectories(true, error);
}

QStringList livePorts()
{
    if (!safeDirectories(false, nullptr))
        return QStringList();
    const QByteArray dir = ownDirectory() + "/ports";
    DIR *d = ::opendir(dir.constData());
    if (!d)
        return QStringList();
    QList<QByteArray> names;
    while (const dirent *entry = ::readdir(d)) {
        const QByteArray name(entry->d_name);
        if (name == "." || name == "..")
            continue;
        const QByteArray path = dir + "/" + name;
        struct stat link, target;
        // Only links to a device that is still there: a simulator that died
        // without removing its link leaves one pointing at nothing.
        if (::lstat(path.constData(), &link) == 0 && S_ISLNK(link.st_mode) &&
            ::stat(path.constData(), &target) == 0 && S_ISCHR(target.st_mode))
            names.append(name);
    }
    ::closedir(d);
    std::sort(names.begin(), names.end());
    QStringList ports;
    for (const QByteArray &name : names)
        ports.append(QFile::decodeName(dir + "/" + name));
    return ports;
}

#endif

} // namespace simulatorports

OwnedLink::~OwnedLink()
{
    remove();
}

#ifdef _WIN32

bool OwnedLink::make(const QString &, const QString &, QString *error)
{
    if (error)
        *error = "symbolic links are not made on this system";
    return false;
}

void OwnedLink::remove() {}

#else

bool OwnedLink::make(const QString &path, const QString &target, QString *error)
{
    remove();
    const QByteArray at = QFile::encodeName(path);
    const QByteArray to = QFile::encodeName(target);
    struct stat st;
    if (::lstat(at.constData(), &st) == 0) {
        // Only a link to nothing may go: its maker has gone.
        struct stat pointed;
        const bool dangling =
            S_ISLNK(st.st_mode) && ::stat(at.constData(), &pointed) != 0 && errno == ENOENT;
        if (!dangling) {
            if (error)
                *error = S_ISLNK(st.st_mode) ? QString("'%1' is another link in use").arg(path)
                                             : QString("'%1' exists").arg(path);
            return false;
        }
        ::unlink(at.constData());
    }
    // symlink() itself never replaces: whatever appeared meanwhile stays.
    if (::symlink(to.constData(), at.constData()) != 0) {
        if (error)
            *error = QString("cannot create '%1': %2")
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

#endif
