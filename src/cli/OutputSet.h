#ifndef DVK_CLI_OUTPUTSET_H
#define DVK_CLI_OUTPUTSET_H

// A command's results written into a folder as one set: the folder holds
// either the whole earlier set or the whole new one, whatever ends the run.
// The new files are written into a staging folder inside the target folder
// (.dvkctl-NAME-PID.partial); once all are complete each replaces its
// namesake, the earlier file moved aside first so that a failure part-way
// can put it back. A stop signal during the writing removes the staging
// folder; during the replacing it waits for the set to be whole. A run
// killed outright leaves its staging folder, which the next run in that
// folder rolls back (or forward, when the new set was whole) and removes.

#include <QFile>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <mutex>

namespace cli
{

class OutputSet
{
public:
    // `command` names the staging folder; `names` are the files of the set.
    OutputSet(const QString &command, const QString &folder, const QStringList &names);
    ~OutputSet(); // discards the staging folder unless committed
    OutputSet(const OutputSet &) = delete;
    OutputSet &operator=(const OutputSet &) = delete;

    // Makes the folder if missing and the staging folder in it, tidying up
    // after earlier runs killed there. Failing, the folder cannot take the
    // set (not creatable, not a folder, not writable): *error says why.
    bool prepare(QString *error);

    // Where to write the file `name` of the set, or any scratch file that
    // must go when the run ends.
    QString stagedPath(const QString &name) const;
    // Where the file `name` of the set ends up.
    QString targetPath(const QString &name) const;

    // Puts the staged files in place of the earlier set. Failing, the folder
    // holds the earlier set as it was, and *error says why.
    bool commit(QString *error);

    // Removes the staging folder (and the folder, if this run made it and
    // it is empty). Safe from any thread, at any time: waits for a commit
    // under way.
    void discard();

private:
    const QString folder;
    const QStringList names;
    QString staging;
    bool madeFolder = false;
    bool committed = false;
    bool kept = false; // an earlier file is still in the staging folder
    std::mutex lock;
};

// One file of the set staged, written whole or reported on standard error
// as `command`'s; `write` fills the open file.
bool stageFile(const OutputSet &outputs, const QString &command, const QString &name,
               const std::function<bool(QFile &)> &write);

// The staged set put in place: -1 to go on, or exit 1 with the reason
// reported as `command`'s.
int commitOutputs(OutputSet &outputs, const QString &command);

class StopGuard;
// A command's set prepared before it reads any input, and its staging
// folder discarded when a stop signal ends the run (*guard holds that until
// the run ends). Returns -1 to go on, or the exit code (reported).
int prepareOutputs(OutputSet &outputs, const QString &command, const QString &folder,
                   std::unique_ptr<StopGuard> *guard);

// Platform halves.
namespace outputset
{
// Whether the process with this id still runs (true when that cannot be told).
bool processRuns(qint64 pid);
// Whether `path` is a folder of our own, not reached through a link.
bool isOwnFolder(const QString &path);
// Renames `from` to `to`, replacing a file there; never follows a link at
// either name. On failure says why in *error.
bool renameOver(const QString &from, const QString &to, QString *error);
// Gives `to` the permissions of `from`.
void copyPermissions(const QString &from, const QString &to);
} // namespace outputset

} // namespace cli

#endif
