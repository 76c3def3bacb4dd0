// dvkctl simulate where there is no pseudo-terminal to serve.
#include "Cli.h"

namespace cli
{

int runSimulator(const Call &call)
{
    err(call.tag + ": the projector simulator needs pseudo-terminals, which this system "
                   "does not have; run it on Linux");
    return ExitUsage;
}

} // namespace cli
