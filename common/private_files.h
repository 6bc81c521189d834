#pragma once
// The history, settings and logs name a factory's products, images and
// stations: what the programs create is for the user who runs them only.

class QString;

// From now on, folders the process creates are owner-only (0700) and files
// owner-read-write (0600), whatever the inherited umask; processes it starts
// inherit the same. Call first thing in main.
void useOwnerOnlyPermissions();

// Narrows an existing file or folder, made before, to its owner.
void makeOwnerOnly(const QString &path);
