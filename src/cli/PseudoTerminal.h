#ifndef DVK_PSEUDOTERMINAL_H
#define DVK_PSEUDOTERMINAL_H

#include <QString>

namespace cli
{

// The device end of a new pseudo-terminal in raw mode; its path through
// *path. The returned master (non-blocking) stays open for the simulator's
// life, and so does one descriptor of the device end (through *keep):
// without it, each time a client closed the port the master would see a
// hang-up. -1 when no pseudo-terminal could be had (errno says why).
int openPseudoTerminal(QString *path, int *keep);

} // namespace cli

#endif
