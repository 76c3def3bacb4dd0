// dvkctl burn
#include "Cli.h"

namespace cli {

int cmdBurn(const QStringList &)
{
    err("dvkctl burn: not available yet");
    return ExitFailed;
}

} // namespace cli
