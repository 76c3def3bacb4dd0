#ifndef DVK_OPENFAILURETEXT_H
#define DVK_OPENFAILURETEXT_H

#include "serial/SerialPlatform.h"

#include <QString>

// Why a port did not open, in plain words, with what to do about it.
//
// Chinese, for the window: the informative text under "串口打开失败!"; it
// names the device, since the box does not.
QString openFailureReasonChinese(const serialplatform::OpenFailure &failure);

// English, for dvkctl: meant to follow "cannot open PATH: ", so it does not
// repeat the path.
QString openFailureReason(const serialplatform::OpenFailure &failure);

#endif
