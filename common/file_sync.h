#pragma once
// Pushes what was written to an open file through the system's cache onto the
// disk, so a record survives a power cut as well as a killed process.

class QFileDevice;
class QString;

// False when the file is not open or the system refuses.
bool syncToDisk(QFileDevice &file);
// Pushes the folder entry of a file made since the folder was last synced;
// true where the system keeps folder entries safe by itself.
bool syncFolderOf(const QString &filePath);
