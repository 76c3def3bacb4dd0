// dvkctl inspect
#include "Cli.h"

namespace cli {

int cmdInspect(const QStringList &)
{
    err("dvkctl inspect: not available yet");
    return ExitFailed;
}

} // namespace cli
