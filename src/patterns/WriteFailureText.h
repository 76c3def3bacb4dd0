#ifndef DVK_WRITEFAILURETEXT_H
#define DVK_WRITEFAILURETEXT_H

#include <QString>

// Why a write failed, in Chinese, for the system error `systemError` (an
// errno value). The common causes (disk full, no permission, read-only file
// system, device gone) have their own words; any other error is given in the
// system's text, and an unknown one (0) as `fallback`.
QString writeFailureReasonChinese(int systemError, const QString &fallback);

#endif
