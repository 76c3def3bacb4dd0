#ifndef DVK_PSEUDOTERMINAL_H
#define DVK_PSEUDOTERMINAL_H

#include <QString>

// A new pseudo-terminal for a stand-in of the projector (the simulator, or a
// test's peer), its device end in raw mode at 115200 baud; the device's path
// through *path. The returned master (non-blocking) stays open for the
// stand-in's life, and so does one descriptor of the device end (through
// *keep): without it, each time a client closed the port the master would
// see a hang-up. -1 when no pseudo-terminal could be had (errno says why).
int openPseudoTerminal(QString *path, int *keep);

#endif
