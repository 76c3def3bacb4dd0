// dvkctl preview
#include "Cli.h"

namespace cli {

int cmdPreview(const QStringList &)
{
    err("dvkctl preview: not available yet");
    return ExitFailed;
}

} // namespace cli
