// Which Modbus read replies the window is waiting for. A query raises its
// flag before it writes; the reply decoder lowers it when a reply serves it.
#pragma once

struct PendingReplies {
    int waitNoise = 0;
    int waitDeviceAddr = 0;
    int waitCalibrate = 0;
    int waitSN = 0;
    int waitVersion = 0;
    int waitOrigin = 0;
    int waitCaliParam = 0;
};

// The one set of flags the window shares between its command slots and its
// poll tick. 0 at start; lives as long as the process.
extern PendingReplies pendingReplies;
