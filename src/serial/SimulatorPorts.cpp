#include "serial/SimulatorPorts.h"

#include <QFile>

namespace simulatorports
{

bool validName(const QString &name)
{
    return !name.isEmpty() && name != "." && name != ".." && !name.contains('/') &&
           !name.contains(QChar(0)) && QFile::encodeName(name).size() <= 255;
}

} // namespace simulatorports

OwnedLink::~OwnedLink()
{
    remove();
}

SimulatorRegistration::~SimulatorRegistration()
{
    remove();
}
