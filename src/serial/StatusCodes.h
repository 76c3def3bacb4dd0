#ifndef DVK_STATUSCODES_H
#define DVK_STATUSCODES_H

// The codes the window's ErrorMessage(int) takes besides progress (j >= 0):
// the burn worker reports -3 (done) and -4 (a write failed), the receive
// thread of the port control -4 (no valid answer) and -6 (ready). -1 and -2
// (a file that does not open, a value out of range) keep their meaning for
// the slot, though the file is checked before a worker is given its values.
// Here, below both, so that each side includes them without reaching into
// the other.
enum BurnStatus {
    StatusFileOpenFailed = -1,
    StatusValueOutOfRange = -2,
    StatusTransferComplete = -3,
    StatusWriteFailed = -4,
    StatusDeviceReady = -6,
};

#endif
