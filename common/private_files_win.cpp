#include "private_files.h"

#include <QString>

// Files made in the user's profile inherit its owner-only access lists; there
// is no mode to narrow.
void useOwnerOnlyPermissions() {}

void makeOwnerOnly(const QString &) {}
