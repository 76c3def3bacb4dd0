// dvkctl simulate: its options are the same everywhere; only POSIX systems
// have the pseudo-terminals it serves (CmdSimulate_posix/_win32).
#include "Cli.h"

namespace cli
{

int runSimulator(const Call &call);

const Command simulateCommand{
    "simulate",
    "run the projector simulator on a pseudo-terminal",
    "Runs the projector simulator on a pseudo-terminal. The device path is the first line of "
    "standard output; then one JSON line per query and per transfer.\n"
    "Exit: 0 when it ends, on SIGINT, SIGTERM, SIGHUP or SIGQUIT too (a signal is its normal "
    "end, not a stopped command); 1 it could not start; 2 bad usage.",
    {{"scan-value", "Answer queries with this scan value (default 10000).", "F"},
     {"answer", "Answer queries with exactly these bytes.", "HEX"},
     {"silent", "Answer no query."},
     {"baud", "Read no faster than RATE / 10 bytes per second.", "RATE"},
     {"record", "Write each transfer's data bytes to DIR.", "DIR"},
     {"link", "Also make a symbolic link PATH to the device.", "PATH"},
     {"name", "Name in the window's port list (default simulator-<pid>).", "NAME"},
     {"once", "End after the first transfer with a commit command."}},
    {},
    {},
    runSimulator};

} // namespace cli
