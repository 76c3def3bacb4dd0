#ifndef DVK_SIMULATORPORTS_H
#define DVK_SIMULATORPORTS_H

#include <QByteArray>
#include <QString>
#include <QStringList>

// Where running projector simulators register, so that the window's port
// list offers them: one symbolic link per simulator, named after it, pointing
// at its pseudo-terminal, in a directory only this user can reach:
// $XDG_RUNTIME_DIR/dvk-sp/ports, or /tmp/dvk-sp-<uid>/ports without it.
//
// A registration is alive only while its simulator holds the lock on the
// file of the same name in the locks/ directory beside ports/. The kernel
// drops the lock however the simulator ends (kill -9 included), so a link
// left behind is known dead and never opened: its pseudo-terminal may since
// belong to another program.
namespace simulatorports
{

// The registration directory's path (it may not exist).
QString directory();

// Makes the registration directory where it is missing. Refuses, with the
// reason through *error, a directory on the way that is a link, not a
// directory, or another user's; tightens one of this user's to mode 0700.
bool ensureDirectory(QString *error);

// The live registrations, as absolute link paths in name order. Dead ones
// (no simulator holds them) are removed on the way. Empty when the directory
// is missing or not safely this user's.
QStringList livePorts();

// A registration name is one plain file name.
bool validName(const QString &name);

// Whether `path` names an entry of the registration directory.
bool isRegistration(const QString &path);

// The device a registration's live simulator serves; empty when no simulator
// holds the registration any more (or it is not one).
QString liveDevice(const QString &path);

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

    // Makes `path` a link to `target` where nothing is; anything at `path`,
    // a link to nothing included, is left alone and the call fails with the
    // reason.
    bool make(const QString &path, const QString &target, QString *error);
    // Removes the link if `path` still is the link made; otherwise leaves it.
    void remove();

private:
    QByteArray linkPath;
    QByteArray linkTarget;
    unsigned long long device = 0;
    unsigned long long inode = 0;
    bool made = false;
};

// A running simulator's registration under its name, held for the object's
// life: the lock first, then the link (taking over the link of a simulator
// of that name that has died).
class SimulatorRegistration
{
public:
    SimulatorRegistration() = default;
    ~SimulatorRegistration();
    SimulatorRegistration(const SimulatorRegistration &) = delete;
    SimulatorRegistration &operator=(const SimulatorRegistration &) = delete;

    // Registers `name` for `device`. Fails, with the reason, when a live
    // simulator holds the name (naming its process) or the directory is
    // not safe.
    bool make(const QString &name, const QString &device, QString *error);
    void remove();

private:
    OwnedLink link;
    QByteArray lockPath;
    int lockFd = -1;
};

#endif
