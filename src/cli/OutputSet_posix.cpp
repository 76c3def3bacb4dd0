#include "OutputSet.h"

#include "patterns/FileAccess.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

namespace cli::outputset
{

bool processRuns(qint64 pid)
{
    return ::kill(pid_t(pid), 0) == 0 || errno != ESRCH;
}

bool isOwnFolder(const QString &path)
{
    struct stat st;
    return ::lstat(fileNameBytes(path).constData(), &st) == 0 && S_ISDIR(st.st_mode) &&
           st.st_uid == ::geteuid();
}

bool renameOver(const QString &from, const QString &to, QString *error)
{
    if (::rename(fileNameBytes(from).constData(), fileNameBytes(to).constData()) == 0)
        return true;
    *error = qt_error_string(errno);
    return false;
}

void copyPermissions(const QString &from, const QString &to)
{
    struct stat st;
    if (::stat(fileNameBytes(from).constData(), &st) == 0 && S_ISREG(st.st_mode))
        ::chmod(fileNameBytes(to).constData(), st.st_mode & 07777);
}

} // namespace cli::outputset
