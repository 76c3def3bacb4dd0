#ifndef DVK_SIMULATORPORTS_H
#define DVK_SIMULATORPORTS_H

#include <QByteArray>
#include <QString>
#include <QStringList>

// Where running projector simulators register, so that the window's port
// list offers them: one symbolic link per simulator, named after it, pointing
// at its pseudo-terminal, in a directory only this user can reach:
// $XDG_RUNTIME_DIR/dvk-sp/ports, or /tmp/dvk-sp-<uid>/ports without it.
namespace simulatorports
{

// The registration directory's path (it may not exist).
QString directory();

// Makes the registration directory where it is missing. Refuses, with the
// reason through *error, a directory on the way that is a link, not a
// directory, or another user's; tightens one of this user's to mode 0700.
bool ensureDirectory(QString *error);

// The registered simulators that are still there, as absolute link paths in
// name order; links whose device has gone are left out. Empty when the
// directory is missing or not safely this user's.
QStringList livePorts();

// A registration name is one plain file name.
bool validName(const QString &name);

} // namespace simulatorports

// A symbolic link this process made, removed again only while it is still the
// same link: never replaces or removes anything it did not make.
class OwnedLink
{
public:
    OwnedLink() = default;
    ~OwnedLink();
    OwnedLink(const OwnedLink &) = delete;
    OwnedLink &operator=(const OwnedLink &) = delete;

    // Makes `path` a link to `target` where nothing is, or where a link
    // points at nothing (left by a process that has gone). Anything else at
    // `path` is left alone and the call fails with the reason.
    bool make(const QString &path, const QString &target, QString *error);
    // Removes the link if `path` still is the link made; otherwise leaves it.
    void remove();
    bool isMade() const { return made; }

private:
    QByteArray linkPath;
    QByteArray linkTarget;
    unsigned long long device = 0;
    unsigned long long inode = 0;
    bool made = false;
};

#endif
