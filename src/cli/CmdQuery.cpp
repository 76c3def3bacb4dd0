// dvkctl query
#include "Cli.h"

namespace cli {

int cmdQuery(const QStringList &)
{
    err("dvkctl query: not available yet");
    return ExitFailed;
}

} // namespace cli
