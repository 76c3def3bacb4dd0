#include "serial/OpenFailureText.h"

#include <QStringList>

namespace sp = serialplatform;

namespace
{

QString str(const std::string &s)
{
    return QString::fromStdString(s);
}

} // namespace

OpenFailureCase openFailureCase(const sp::OpenFailure &f)
{
    switch (f.error) {
    case sp::OpenError::None:
        return OpenFailureCase::None;
    case sp::OpenError::NoPort:
        return OpenFailureCase::NoPort;
    case sp::OpenError::NoDevice:
        return OpenFailureCase::NoDevice;
    case sp::OpenError::Busy:
        return f.holders.empty() ? OpenFailureCase::Busy : OpenFailureCase::BusyNamed;
    case sp::OpenError::PermissionDenied:
        if ((f.mode & 0060) != 0060)
            return OpenFailureCase::GroupBitsMissing;
        if (f.groupId == 0)
            return OpenFailureCase::RootOnly;
        if (f.inGroup)
            return OpenFailureCase::Unexplained;
        return f.groupMember ? OpenFailureCase::NotYetInSession : OpenFailureCase::NotInGroup;
    case sp::OpenError::NotSerial:
        return OpenFailureCase::NotSerial;
    case sp::OpenError::SimulatorEnded:
        return OpenFailureCase::SimulatorEnded;
    case sp::OpenError::Other:
        break;
    }
    return OpenFailureCase::Other;
}

QString fileModeText(unsigned mode)
{
    return QString("%1").arg(mode, 4, 8, QChar('0'));
}

QString holderList(const sp::OpenFailure &f, const QString &separator)
{
    QStringList names;
    for (const std::string &h : f.holders)
        names << str(h);
    return names.join(separator);
}

QString openFailureReason(const sp::OpenFailure &f)
{
    const QString user = str(f.user);
    const QString group = str(f.group);
    switch (openFailureCase(f)) {
    case OpenFailureCase::None:
        return QString();
    case OpenFailureCase::NoPort:
        return "no port given";
    case OpenFailureCase::NoDevice:
        return "no such device (is the adapter plugged in? 'dvkctl ports' lists the ports the "
               "system offers)";
    case OpenFailureCase::BusyNamed:
        return QString("busy: another program has it open (%1); close it there and try again")
            .arg(holderList(f, ", "));
    case OpenFailureCase::Busy:
#ifdef _WIN32
        return "busy: another program has it open; close it there and try again";
#else
        return "busy: another program has it open; close it there and try again (just after an "
               "adapter is plugged in, ModemManager may hold it for a few seconds; the udev rule "
               "that comes with this tool keeps ModemManager away)";
#endif
    case OpenFailureCase::GroupBitsMissing:
        return QString("permission denied: the device (owner '%1', group '%2', mode %3) does "
                       "not let its group open it; install the udev rule that comes with this "
                       "tool, or ask the administrator to give the group read and write access")
            .arg(str(f.owner), group, fileModeText(f.mode));
    case OpenFailureCase::RootOnly:
        return QString("permission denied: only root may open the device (owner '%1', group "
                       "'%2', mode %3); install the udev rule that comes with this tool, which "
                       "gives the logged-in user access to USB serial adapters")
            .arg(str(f.owner), group, fileModeText(f.mode));
    case OpenFailureCase::NotInGroup:
        return QString("permission denied: the device belongs to group '%1' and user '%2' is "
                       "not in it; fix: sudo usermod -aG %1 %2, then log out and back in (or "
                       "install the udev rule that comes with this tool, which gives the "
                       "logged-in user access to USB serial adapters)")
            .arg(group, user);
    case OpenFailureCase::NotYetInSession:
        return QString("permission denied: user '%1' is in group '%2', which may use the "
                       "device, but this login session began before that; log out and back "
                       "in (or start a shell with: newgrp %2)")
            .arg(user, group);
    case OpenFailureCase::Unexplained:
        return QString("permission denied by the system (owner '%1', group '%2', mode %3) "
                       "although user '%4' is in the group: %5")
            .arg(str(f.owner), group, fileModeText(f.mode), user, str(f.systemText));
    case OpenFailureCase::NotSerial:
        return "not a serial port (not a terminal device)";
    case OpenFailureCase::SimulatorEnded:
        return "the simulator registered under this name has ended; its pseudo-terminal may "
               "now belong to another program, so it is not opened";
    case OpenFailureCase::Other:
        break;
    }
    return QString("%1 (error %2)").arg(str(f.systemText)).arg(f.systemCode);
}
