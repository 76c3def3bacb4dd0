// dvkctl generate
#include "Cli.h"

namespace cli {

int cmdGenerate(const QStringList &)
{
    err("dvkctl generate: not available yet");
    return ExitFailed;
}

} // namespace cli
