#pragma once
// The device-change notifications the console reacts to, by their Windows numbers.

enum DeviceChange { DeviceArrival = 0x8000, DeviceRemoveComplete = 0x8004, DeviceNodesChanged = 7 };
