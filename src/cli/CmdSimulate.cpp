// dvkctl simulate
#include "Cli.h"

namespace cli {

int cmdSimulate(const QStringList &)
{
    err("dvkctl simulate: not available yet");
    return ExitFailed;
}

} // namespace cli
