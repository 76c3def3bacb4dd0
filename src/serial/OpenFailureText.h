#ifndef DVK_OPENFAILURETEXT_H
#define DVK_OPENFAILURETEXT_H

#include "serial/SerialPlatform.h"

#include <QString>

// Why a port did not open, in plain words, with what to do about it. The
// cases are told apart here, once; dvkctl words them in English below, the
// window in Chinese beside its port control.

// The case of a failed open; each has its own advice.
enum class OpenFailureCase {
    None,
    NoPort,
    NoDevice,
    BusyNamed,        // busy, and the programs holding it were seen
    Busy,             // busy, no holder seen
    GroupBitsMissing, // denied: the group may not open it, joining it would not help
    RootOnly,         // denied: group root, nobody should join it for this
    NotInGroup,       // denied: the usual case, join the group
    NotYetInSession,  // denied: joined, but this login predates it
    Unexplained,      // denied: in the group, bits allow it (an ACL or the like)
    NotSerial,
    SimulatorEnded,
    Other
};
OpenFailureCase openFailureCase(const serialplatform::OpenFailure &failure);

// The device's permission bits as four octal digits, and the programs holding
// a busy device joined with `separator`: the details both wordings name.
QString fileModeText(unsigned mode);
QString holderList(const serialplatform::OpenFailure &failure, const QString &separator);

// English, for dvkctl: meant to follow "cannot open PATH: ", so it does not
// repeat the path.
QString openFailureReason(const serialplatform::OpenFailure &failure);

#endif
