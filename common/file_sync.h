#pragma once
// Pushes what was written to an open file through the system's cache onto the
// disk, so a record survives a power cut as well as a killed process.

class QFileDevice;

// False when the file is not open or the system refuses.
bool syncToDisk(QFileDevice &file);
