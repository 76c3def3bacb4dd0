#ifndef DVK_STATUSCODES_H
#define DVK_STATUSCODES_H

// The codes the window's ErrorMessage(int) takes besides progress (j >= 0):
// the burn worker reports -1 … -4, the receive thread of the port control -4
// (no valid answer) and -6 (ready). Here, below both, so that each side
// includes them without reaching into the other.
enum BurnStatus {
    StatusFileOpenFailed = -1,
    StatusValueOutOfRange = -2,
    StatusTransferComplete = -3,
    StatusWriteFailed = -4,
    StatusDeviceReady = -6,
};

#endif
