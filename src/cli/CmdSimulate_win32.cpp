// dvkctl simulate where there is no pseudo-terminal to serve.
#include "Cli.h"

namespace cli
{

int cmdSimulate(const QStringList &)
{
    err("dvkctl simulate: needs a POSIX pseudo-terminal, not available on this system");
    return ExitFailed;
}

} // namespace cli
