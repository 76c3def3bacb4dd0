#include "OutputSet.h"

#include "Cli.h"
#include "Stop.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <cstdlib>

namespace cli
{

namespace
{

// Inside the staging folder: the names of the set, and the folder the
// earlier files are moved to while they are replaced; renamed once the new
// set is whole.
const char *const kJournal = ".names";
const char *const kReplaced = ".replaced";
const char *const kWhole = ".whole";

bool present(const QString &path)
{
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

// Puts the folder back as the staging folder's journal says it was, unless
// the new set got whole, and removes the staging folder; keeps it when an
// earlier file could not be put back, rather than lose that file. Returns
// whether the staging folder went.
bool recover(const QString &folder, const QString &staging)
{
    const QDir stage(staging);
    bool restored = true;
    if (QFileInfo(stage.filePath(kReplaced)).isDir()) {
        QFile journal(stage.filePath(kJournal));
        const QStringList names =
            journal.open(QIODevice::ReadOnly)
                ? QString::fromUtf8(journal.readAll()).split('\n', Qt::SkipEmptyParts)
                : QStringList();
        const QDir replaced(stage.filePath(kReplaced));
        QString why;
        for (const QString &name : names) {
            if (name.contains('/') || name.startsWith('.'))
                continue;
            const QString target = QDir(folder).filePath(name);
            if (present(replaced.filePath(name)))
                restored = outputset::renameOver(replaced.filePath(name), target, &why) && restored;
            else if (!present(stage.filePath(name)))
                QFile::remove(target); // new, with no earlier file to put back
        }
    }
    return restored && QDir(staging).removeRecursively();
}

} // namespace

OutputSet::OutputSet(const QString &command, const QString &folder, const QStringList &names)
    : folder(folder), names(names)
{
    staging = QDir(folder).filePath(
        QString(".dvkctl-%1-%2.partial").arg(command).arg(QCoreApplication::applicationPid()));
}

OutputSet::~OutputSet()
{
    discard();
}

bool OutputSet::prepare(QString *error)
{
    std::lock_guard<std::mutex> locked(lock);
    const QFileInfo info(folder);
    if (info.exists() && !info.isDir()) {
        *error = "not a directory";
        return false;
    }
    if (!info.exists()) {
        if (!QDir().mkpath(folder)) {
            *error = "cannot create the directory";
            return false;
        }
        madeFolder = true;
    }
    // Staging folders of runs killed here, this process's id included (an
    // earlier process that had it).
    static const QRegularExpression stale("^\\.dvkctl-[a-z]+-(\\d+)\\.partial$");
    const QStringList entries =
        QDir(folder).entryList(QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot | QDir::System);
    for (const QString &entry : entries) {
        const QRegularExpressionMatch m = stale.match(entry);
        const QString path = QDir(folder).filePath(entry);
        if (!m.hasMatch() || !outputset::isOwnFolder(path))
            continue;
        const qint64 pid = m.captured(1).toLongLong();
        if (pid == QCoreApplication::applicationPid() || !outputset::processRuns(pid))
            recover(folder, path);
    }
    QFile journal(QDir(staging).filePath(kJournal));
    if (!QDir(folder).mkdir(QFileInfo(staging).fileName()) ||
        !journal.open(QIODevice::WriteOnly | QIODevice::NewOnly) ||
        journal.write(names.join('\n').toUtf8()) < 0 || !journal.flush()) {
        const QString why = journal.isOpen()             ? journal.errorString()
                            : QFileInfo(staging).isDir() ? journal.errorString()
                                                         : QStringLiteral("cannot write in it");
        journal.close();
        QDir(staging).removeRecursively();
        if (madeFolder)
            QDir().rmdir(folder);
        madeFolder = false;
        *error = why;
        return false;
    }
    return true;
}

QString OutputSet::stagedPath(const QString &name) const
{
    return QDir(staging).filePath(name);
}

QString OutputSet::targetPath(const QString &name) const
{
    return QDir(folder).filePath(name);
}

bool OutputSet::commit(QString *error)
{
    std::lock_guard<std::mutex> locked(lock);
    const QDir stage(staging), target(folder);
    if (!stage.mkdir(kReplaced)) {
        *error = "cannot write in it";
        return false;
    }
    const QDir replaced(stage.filePath(kReplaced));
    for (const QString &name : names) {
        const QString earlier = target.filePath(name);
        QString why;
        if (present(earlier)) {
            outputset::copyPermissions(earlier, stage.filePath(name));
            if (!outputset::renameOver(earlier, replaced.filePath(name), &why)) {
                *error = QString("cannot replace '%1': %2").arg(earlier, why);
                kept = !recover(folder, staging);
                return false;
            }
        }
        if (!outputset::renameOver(stage.filePath(name), earlier, &why)) {
            *error = QString("cannot put '%1' in place: %2").arg(earlier, why);
            kept = !recover(folder, staging);
            return false;
        }
    }
    // The new set is whole: from here on a run killed leaves it as it is.
    QString why;
    outputset::renameOver(stage.filePath(kReplaced), stage.filePath(kWhole), &why);
    QDir(staging).removeRecursively();
    committed = true;
    return true;
}

void OutputSet::discard()
{
    std::lock_guard<std::mutex> locked(lock);
    if (committed || kept)
        return;
    // A file made in it meanwhile keeps the folder from going: try again.
    for (int attempt = 0; attempt < 10 && QFileInfo::exists(staging); ++attempt)
        QDir(staging).removeRecursively();
    if (madeFolder)
        QDir().rmdir(folder);
    madeFolder = false;
}

// One staged file, written whole or reported; `write` fills the open file.
bool stageFile(const OutputSet &outputs, const QString &command, const QString &name,
               const std::function<bool(QFile &)> &write)
{
    QFile file(outputs.stagedPath(name));
    QString why;
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        why = file.errorString();
    else if (!write(file) || !file.flush() || file.error() != QFileDevice::NoError)
        why = file.error() != QFileDevice::NoError ? file.errorString()
                                                   : QStringLiteral("the file was cut short");
    file.close();
    if (why.isEmpty() && file.error() != QFileDevice::NoError)
        why = file.errorString();
    if (why.isEmpty())
        return true;
    err(QString("%1: cannot write '%2': %3").arg(command, outputs.targetPath(name), why));
    return false;
}

int commitOutputs(OutputSet &outputs, const QString &command)
{
    QString why;
    if (outputs.commit(&why))
        return -1;
    err(QString("%1: %2").arg(command, why));
    return ExitFailed;
}

int prepareOutputs(OutputSet &outputs, const QString &command, const QString &folder,
                   std::unique_ptr<StopGuard> *guard)
{
    catchStopSignals();
    *guard = std::make_unique<StopGuard>([&outputs, command] {
        outputs.discard();
        err(QString("%1: stopped").arg(command));
        std::_Exit(stopExitCode());
    });
    QString why;
    if (!outputs.prepare(&why)) {
        err(QString("%1: -o: cannot write results to '%2': %3").arg(command, folder, why));
        return ExitUsage;
    }
    return -1;
}

} // namespace cli
