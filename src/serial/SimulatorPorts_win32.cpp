// Simulator registrations where there is no simulator: nothing is listed
// and nothing can be made.
#include "serial/SimulatorPorts.h"

namespace simulatorports
{

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

bool isRegistration(const QString &)
{
    return false;
}

QString liveDevice(const QString &)
{
    return QString();
}

} // namespace simulatorports

bool OwnedLink::make(const QString &, const QString &, QString *error)
{
    if (error)
        *error = "symbolic links are not made on this system";
    return false;
}

void OwnedLink::remove() {}

bool SimulatorRegistration::make(const QString &, const QString &, QString *error)
{
    if (error)
        *error = "no simulator registrations on this system";
    return false;
}

void SimulatorRegistration::remove() {}
