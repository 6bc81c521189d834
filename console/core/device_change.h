#pragma once
// The device-change notifications the console reacts to. The values are the
// wParam values of the Windows device-change message, so the Windows hook and
// the Linux device monitor hand the same numbers to one handler.

enum DeviceChange {
    DeviceArrival = 0x8000,
    DeviceRemoveComplete = 0x8004,
    DeviceNodesChanged = 7,
};
