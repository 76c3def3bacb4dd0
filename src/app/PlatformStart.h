#ifndef DVK_PLATFORMSTART_H
#define DVK_PLATFORMSTART_H

// While it lives, Qt's messages are held back, so that a start without a
// window system ends with one plain line and exit status 1 instead of Qt's
// plugin report and an abort with a core dump. Constructed just before the
// QApplication and destroyed right after it: then the held messages, if any,
// are written as Qt would have written them.
class PlatformStartGuard
{
public:
    PlatformStartGuard();
    ~PlatformStartGuard();
    PlatformStartGuard(const PlatformStartGuard &) = delete;
    PlatformStartGuard &operator=(const PlatformStartGuard &) = delete;
};

#endif
